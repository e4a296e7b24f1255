#include "h2mon/win32/log_file.h"

std::FILE* open_shared_log(const char* path) {
    // Linux files are shared and have no text mode: plain append.
    return std::fopen(path, "a");
}
