#pragma once
// The corpus of settled fields the benchmarks time and the backend test
// compares: 1,200 fields from one fixed seed, a third each of played (a field
// right after a hand of a random game, before its chain), heaps (columns of
// random colours stacked to random heights) and ojama (the same, one cell in
// five OJAMA).
#include <cstdint>
#include <random>
#include <vector>

#include "field/bit_field.hpp"
#include "hand.hpp"
#include "pair.hpp"

namespace tavik::bench {

namespace corpus_detail {

constexpr std::uint64_t SEED = 20261210;
constexpr int FIELDS_PER_KIND = 400;

inline PuyoType colour(std::mt19937_64& rng) { return PuyoType::from_number_unchecked(PuyoType::RED + rng() % 4); }

inline bool is_high(const BitField& f) {
    for (std::uint64_t x = 1; x <= 6; ++x)
        if (f.get_height(x) >= 11) return true;
    return false;
}

// Games of random hands; each field is taken after a hand, before its chain.
inline void add_played(std::vector<BitField>& out, std::mt19937_64& rng) {
    const std::size_t goal = out.size() + FIELDS_PER_KIND;
    while (out.size() < goal) {
        BitField f;
        while (out.size() < goal && !is_high(f)) {
            const Hand& hand = Hand::enumerate()[rng() % Hand::enumerate().size()];
            const Pair pair(colour(rng), colour(rng));
            (void)f.put_hand(hand, pair);
            out.push_back(f);
            (void)f.chain();
        }
    }
}

// Every column stacked from the floor to a random height (0..12).
inline void add_heaps(std::vector<BitField>& out, std::mt19937_64& rng, unsigned ojama_in_five) {
    for (int i = 0; i < FIELDS_PER_KIND; ++i) {
        BitField f;
        for (std::uint64_t x = 1; x <= 6; ++x)
            for (std::uint64_t h = rng() % 13; h > 0; --h)
                f.put(x, rng() % 5 < ojama_in_five ? PuyoType(PuyoType::OJAMA) : colour(rng));
        out.push_back(f);
    }
}

}  // namespace corpus_detail

inline const std::vector<BitField>& corpus() {
    using namespace corpus_detail;
    static const std::vector<BitField> fields = [] {
        std::mt19937_64 rng(SEED);
        std::vector<BitField> out;
        add_played(out, rng);
        add_heaps(out, rng, 0);
        add_heaps(out, rng, 1);
        return out;
    }();
    return fields;
}

}  // namespace tavik::bench
