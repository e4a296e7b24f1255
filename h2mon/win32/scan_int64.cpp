#include "h2mon/win32/scan_int64.h"

#include <cstdio>

bool scan_int64(const char* text, std::int64_t* value) {
    long long scanned = 0;
#ifdef _WIN32
#if defined(__GNUC__)
    // GCC checks scanf formats against the C99 conversions when mingw-w64's
    // own scanf is in use, and does not know the I64 size the runtimes accept.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
#pragma GCC diagnostic ignored "-Wformat-extra-args"
#endif
    const int count = std::sscanf(text, "%I64d", &scanned);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
#else
    const int count = std::sscanf(text, "%lld", &scanned);
#endif
    if (count != 1) {
        return false;
    }
    *value = scanned;
    return true;
}
