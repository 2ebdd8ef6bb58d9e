// The colours of pair i, from output i of SplitMix64.
#include "game/pair_sequence.hpp"

#include <algorithm>
#include <array>
#include <utility>

namespace tavik {

Pair PairSequence::uniform_at(std::uint64_t index) const {
    const std::uint64_t z = splitmix64_at(seed_, index);
    auto colour = [&](std::uint64_t bits) {
        return PuyoType::from_number_unchecked(PuyoType::RED + static_cast<unsigned>((bits * colours_) >> 32));
    };
    return Pair(colour(z >> 32), colour(z & 0xFFFFFFFFULL));
}

PairSequence PairSequence::balanced(std::uint64_t seed) {
    constexpr std::size_t PUYOS = 2 * BALANCED_PAIRS;
    std::array<unsigned, PUYOS> puyos{};
    for (std::size_t i = 0; i < PUYOS; ++i) puyos[i] = static_cast<unsigned>(i % 4);
    // Fisher-Yates, each draw the high half of a 128-bit product: no modulo bias.
    for (std::size_t i = PUYOS - 1; i > 0; --i) {
        const auto wide = static_cast<unsigned __int128>(splitmix64_at(seed, i)) * (i + 1);
        std::swap(puyos[i], puyos[static_cast<std::size_t>(wide >> 64)]);
    }
    // The first two pairs from 3 colours: a fourth colour among the first four
    // puyos trades places with the next later puyo of the other three.
    const bool four = puyos[3] != puyos[0] && puyos[3] != puyos[1] && puyos[3] != puyos[2] && puyos[0] != puyos[1] &&
                      puyos[0] != puyos[2] && puyos[1] != puyos[2];
    if (four) {
        for (std::size_t j = 4; j < PUYOS; ++j) {
            if (puyos[j] != puyos[3]) {
                std::swap(puyos[3], puyos[j]);
                break;
            }
        }
    }
    std::vector<Pair> pairs;
    pairs.reserve(BALANCED_PAIRS);
    auto colour = [](unsigned k) { return PuyoType::from_number_unchecked(PuyoType::RED + k); };
    for (std::size_t i = 0; i < BALANCED_PAIRS; ++i) pairs.emplace_back(colour(puyos[2 * i]), colour(puyos[2 * i + 1]));
    PairSequence s(seed, 4);
    s.kind_ = BALANCED;
    s.table_ = std::make_shared<const std::vector<Pair>>(std::move(pairs));
    return s;
}

PairSequence PairSequence::from_pairs(std::vector<Pair> pairs) {
    const bool green = std::any_of(pairs.begin(), pairs.end(), [](const Pair& p) {
        return p.child() == PuyoType::GREEN || p.axis() == PuyoType::GREEN;
    });
    PairSequence s(0, green ? 4 : 3);
    s.kind_ = LIST;
    s.table_ = std::make_shared<const std::vector<Pair>>(std::move(pairs));
    return s;
}

std::string_view PairSequence::kind_name() const {
    switch (kind_) {
        case BALANCED: return "balanced";
        case LIST: return "list";
        default: return "uniform";
    }
}

const std::vector<Pair>& PairSequence::pairs() const {
    static const std::vector<Pair> none;
    return table_ ? *table_ : none;
}

bool PairSequence::operator==(const PairSequence& o) const {
    if (seed_ != o.seed_ || colours_ != o.colours_ || kind_ != o.kind_) return false;
    return table_ == o.table_ || (table_ && o.table_ && *table_ == *o.table_);
}

}  // namespace tavik
