// Deterministic pseudo-random numbers for the level generator: the same seed gives the same level on every
// platform, which the standard library's distributions do not promise.
#pragma once

#include <cstdint>

struct GenRandom {
    uint64_t state = 0;

    explicit GenRandom(uint64_t seed) : state(seed) {}

    // Next 64 random bits (splitmix64).
    uint64_t Next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // Uniform in [0, 1).
    double Uniform() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }

    // Uniform in [lo, hi).
    double Range(double lo, double hi) { return lo + (hi - lo) * Uniform(); }

    // Uniform integer in [0, n); n must be positive.
    uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
};
