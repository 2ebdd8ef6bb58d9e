#pragma once
// Ojama: how many a score sends, and dropping them on a field.
#include <cstdint>
#include <utility>

#include "field/bit_field.hpp"

namespace tavik {

inline constexpr std::uint64_t OJAMA_RATE = 70;  // points per ojama
inline constexpr std::uint64_t MAX_OJAMA_DROP = 30;

// (ojama, carry): (score + carry) / target ojama, the rest carried to the next
// score. target must be positive.
std::pair<std::uint64_t, std::uint64_t> ojama_from_score(std::uint64_t score, std::uint64_t carry = 0,
                                                         std::uint64_t target = OJAMA_RATE);

// Drops min(count, 30) ojama: count / 6 full rows first, then the remainder in
// distinct columns chosen from SplitMix64(seed) (partial Fisher-Yates over
// columns 1..6). They fall as puyos fall; those finding a full column are
// lost. Returns how many were dropped.
std::uint64_t drop_ojama(BitField& field, std::uint64_t count, std::uint64_t seed);

}  // namespace tavik
