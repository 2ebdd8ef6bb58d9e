#pragma once
// An endless, seeded sequence of pairs, the same on every platform.
//
// Uniform (the default): pair i comes from output z = splitmix64_at(seed, i)
// (game/splitmix64.hpp). The child's colour is RED + ((z >> 32) * colours >> 32) and the axis colour
// RED + ((z & 0xFFFFFFFF) * colours >> 32), colours 3 (RED, BLUE, YELLOW) or
// 4 (and GREEN). Any pair is reached in constant time, so a sequence is two
// numbers and a game copies cheaply.
//
// Balanced (the arcade machines' kind): 128 pairs holding 64 puyos of each of
// the 4 colours, shuffled from the seed, the first two pairs drawn from 3
// colours, repeating. A list: the pairs given, repeating. Both keep their
// table behind a shared pointer, so copies stay cheap.
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "game/splitmix64.hpp"
#include "pair.hpp"

namespace tavik {

class PairSequence {
public:
    enum Kind : std::uint8_t { UNIFORM, BALANCED, LIST };

    // colours must be 3 or 4; callers check (the Python side raises).
    explicit PairSequence(std::uint64_t seed = 0, unsigned colours = 4) : seed_(seed), colours_(colours) {}

    static constexpr std::size_t BALANCED_PAIRS = 128;
    // Four colours always.
    static PairSequence balanced(std::uint64_t seed);
    // pairs must not be empty and hold colours only (callers check);
    // colours() is 4 when one is GREEN, else 3.
    static PairSequence from_pairs(std::vector<Pair> pairs);

    Pair at(std::uint64_t index) const { return table_ ? (*table_)[index % table_->size()] : uniform_at(index); }
    std::uint64_t seed() const { return seed_; }
    unsigned colours() const { return colours_; }
    Kind kind() const { return kind_; }
    std::string_view kind_name() const;
    // The repeating pairs of a balanced sequence or a list; empty for uniform.
    const std::vector<Pair>& pairs() const;

    bool operator==(const PairSequence& o) const;

private:
    Pair uniform_at(std::uint64_t index) const;

    std::uint64_t seed_;
    unsigned colours_;
    Kind kind_ = UNIFORM;
    std::shared_ptr<const std::vector<Pair>> table_;
};

}  // namespace tavik
