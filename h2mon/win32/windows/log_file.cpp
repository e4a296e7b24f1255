#include "h2mon/win32/log_file.h"

#include <share.h>

std::FILE* open_shared_log(const char* path) {
    return _fsopen(path, "at", _SH_DENYNO);
}
