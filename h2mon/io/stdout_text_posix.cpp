#include "h2mon/io/stdout_text.h"

// The system's texts and a terminal share the locale's character set.
std::string stdout_text(const char* text) {
    return text;
}
