// The colours of pair i, from output i of SplitMix64.
#include "game/pair_sequence.hpp"

namespace tavik {

Pair PairSequence::at(std::uint64_t index) const {
    const std::uint64_t z = splitmix64_at(seed_, index);
    auto colour = [&](std::uint64_t bits) {
        return PuyoType::from_number_unchecked(PuyoType::RED + static_cast<unsigned>((bits * colours_) >> 32));
    };
    return Pair(colour(z >> 32), colour(z & 0xFFFFFFFFULL));
}

}  // namespace tavik
