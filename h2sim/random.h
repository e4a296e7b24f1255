// Deterministic pseudo-random numbers. Every draw is keyed by the seed and by
// what it is for (poll number, purpose, index), so a given seed yields the same
// frames and the same faults whatever the timing of the run.
#pragma once

#include <cstdint>

// The splitmix64 finaliser: spreads every input bit over the whole result.
inline std::uint64_t mix64(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

inline std::uint64_t hash_key(std::uint64_t seed, std::uint64_t a, std::uint64_t b = 0,
                              std::uint64_t c = 0) {
    return mix64(mix64(mix64(mix64(seed) ^ a) ^ b) ^ c);
}

// A small generator started from a key; successive draws are independent.
class Random {
public:
    explicit Random(std::uint64_t key) : state_(key) {}

    std::uint64_t next() { return mix64(state_++); }
    // Uniform in [0, 1).
    double uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
    // Uniform over the integers lo..hi inclusive (lo <= hi).
    long range(long lo, long hi) {
        return lo + static_cast<long>(next() % static_cast<std::uint64_t>(hi - lo + 1));
    }

private:
    std::uint64_t state_;
};
