#include "platform/scan_int64.h"

#include <cstdio>

bool scan_int64(const char* text, std::int64_t* value) {
    long long scanned = 0;
#ifdef _WIN32
    const int count = std::sscanf(text, "%I64d", &scanned);
#else
    const int count = std::sscanf(text, "%lld", &scanned);
#endif
    if (count != 1) {
        return false;
    }
    *value = scanned;
    return true;
}
