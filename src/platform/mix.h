// A bijection of 64-bit words that spreads neighbouring values apart, for
// hash tables and filters over keys that are often consecutive numbers.
// Distinct inputs never give the same output.
#pragma once

#include <cstdint>

namespace kevra {

inline uint64_t MixBits(uint64_t x) {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    x ^= x >> 31;
    return x;
}

}  // namespace kevra
