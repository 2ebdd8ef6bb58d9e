// Ojama from a score, and a drop onto the field.
#include "game/garbage.hpp"

#include <algorithm>
#include <array>

#include "game/splitmix64.hpp"

namespace tavik {

std::pair<std::uint64_t, std::uint64_t> ojama_from_score(std::uint64_t score, std::uint64_t carry,
                                                         std::uint64_t target) {
    const std::uint64_t total = score + carry;
    return {total / target, total % target};
}

std::uint64_t drop_ojama(BitField& field, std::uint64_t count, std::uint64_t seed) {
    count = std::min(count, MAX_OJAMA_DROP);
    std::uint64_t dropped = 0;
    for (std::uint64_t row = 0; row < count / 6; ++row)
        for (std::uint64_t x = 1; x <= 6; ++x) dropped += field.put(x, PuyoType::OJAMA) ? 1 : 0;
    std::array<std::uint64_t, 6> cols{1, 2, 3, 4, 5, 6};
    const std::uint64_t rest = count % 6;
    for (std::uint64_t i = 0; i < rest; ++i) {
        const std::uint64_t z = splitmix64_at(seed, i);
        const std::uint64_t j = i + (((z >> 32) * (6 - i)) >> 32);
        std::swap(cols[i], cols[j]);
        dropped += field.put(cols[i], PuyoType::OJAMA) ? 1 : 0;
    }
    return dropped;
}

}  // namespace tavik
