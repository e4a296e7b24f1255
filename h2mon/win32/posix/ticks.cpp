#include "h2mon/win32/posix/time.h"

#include <cerrno>
#include <ctime>

void Sleep(DWORD milliseconds) {
    timespec remaining{static_cast<time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000) * 1000000L};
    // A signal handler must not cut the sleep short: sleep out the remainder.
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

DWORD timeGetTime() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const unsigned long long ms =
        static_cast<unsigned long long>(now.tv_sec) * 1000ULL + now.tv_nsec / 1000000;
    return static_cast<DWORD>(ms); // wraps at 2^32, as the Windows count does
}
