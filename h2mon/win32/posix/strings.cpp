#include "h2mon/win32/posix/strings.h"

namespace {

unsigned char fold_ascii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

} // namespace

int _stricmp(const char* a, const char* b) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* q = reinterpret_cast<const unsigned char*>(b);
    while (*p != 0 && fold_ascii(*p) == fold_ascii(*q)) {
        ++p;
        ++q;
    }
    return static_cast<int>(fold_ascii(*p)) - static_cast<int>(fold_ascii(*q));
}
