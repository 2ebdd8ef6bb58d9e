#pragma once
// An endless, seeded sequence of pairs, the same on every platform.
//
// Pair i comes from output i (counting from 0) of SplitMix64 started at
// `seed`: z = mix(seed + (i + 1) * 0x9E3779B97F4A7C15), where mix is
//   z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
//   z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
//   z =  z ^ (z >> 31);
// The child's colour is RED + ((z >> 32) * colours >> 32) and the axis colour
// RED + ((z & 0xFFFFFFFF) * colours >> 32), colours 3 (RED, BLUE, YELLOW) or
// 4 (and GREEN). Any pair is reached in constant time, so a sequence is two
// numbers and a game copies cheaply.
#include <cstdint>

#include "pair.hpp"

namespace tavik {

std::uint64_t splitmix64_at(std::uint64_t seed, std::uint64_t index);

class PairSequence {
public:
    // colours must be 3 or 4; callers check (the Python side raises).
    explicit PairSequence(std::uint64_t seed = 0, unsigned colours = 4) : seed_(seed), colours_(colours) {}

    Pair at(std::uint64_t index) const;
    std::uint64_t seed() const { return seed_; }
    unsigned colours() const { return colours_; }
    bool operator==(const PairSequence&) const = default;

private:
    std::uint64_t seed_;
    unsigned colours_;
};

}  // namespace tavik
