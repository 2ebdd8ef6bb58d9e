#pragma once
// An endless, seeded sequence of pairs, the same on every platform.
//
// Pair i comes from output z = splitmix64_at(seed, i) (game/splitmix64.hpp).
// The child's colour is RED + ((z >> 32) * colours >> 32) and the axis colour
// RED + ((z & 0xFFFFFFFF) * colours >> 32), colours 3 (RED, BLUE, YELLOW) or
// 4 (and GREEN). Any pair is reached in constant time, so a sequence is two
// numbers and a game copies cheaply.
#include <cstdint>

#include "game/splitmix64.hpp"
#include "pair.hpp"

namespace tavik {

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
