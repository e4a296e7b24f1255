// Monotonic time in nanoseconds, the one time base of the simulator.
#pragma once

#include <cstdint>
#include <ctime>

using Nanos = std::int64_t;

constexpr Nanos kNanosPerMs = 1000000;
constexpr Nanos kNanosPerSecond = 1000000000;

inline Nanos monotonic_now() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<Nanos>(now.tv_sec) * kNanosPerSecond + now.tv_nsec;
}

inline Nanos from_ms(long ms) {
    return static_cast<Nanos>(ms) * kNanosPerMs;
}
