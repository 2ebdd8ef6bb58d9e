#include "game/pair_sequence.hpp"

namespace tavik {

std::uint64_t splitmix64_at(std::uint64_t seed, std::uint64_t index) {
    std::uint64_t z = seed + (index + 1) * 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

Pair PairSequence::at(std::uint64_t index) const {
    const std::uint64_t z = splitmix64_at(seed_, index);
    auto colour = [&](std::uint64_t bits) {
        return PuyoType::from_number_unchecked(PuyoType::RED + static_cast<unsigned>((bits * colours_) >> 32));
    };
    return Pair(colour(z >> 32), colour(z & 0xFFFFFFFFULL));
}

}  // namespace tavik
