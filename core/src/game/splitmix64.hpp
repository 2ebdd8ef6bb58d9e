#pragma once
// SplitMix64, the one generator of the game layer: pairs, garbage columns,
// self-play choices and the seed chains of batched games all draw from it.
// Output i of the generator started at `seed` (counting from 0) is
// mix(seed + (i + 1) * 0x9E3779B97F4A7C15), where mix is
//   z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
//   z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
//   z =  z ^ (z >> 31);
// Any output is reached in constant time, so a stream is two numbers.
#include <cstdint>

namespace tavik {

constexpr std::uint64_t splitmix64_at(std::uint64_t seed, std::uint64_t index) {
    std::uint64_t z = seed + (index + 1) * 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

}  // namespace tavik
