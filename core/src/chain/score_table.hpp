#pragma once
// The game's scoring bonuses.
#include <array>
#include <cstdint>

namespace tavik::score_table {

inline constexpr std::array<std::uint64_t, 20> CHAIN_BONUS = {0,   0,   8,   16,  32,  64,  96,  128, 160, 192,
                                                              224, 256, 288, 320, 352, 384, 416, 448, 480, 512};
inline constexpr std::array<std::uint64_t, 12> CONNECTION_BONUS = {0, 0, 0, 0, 0, 2, 3, 4, 5, 6, 7, 10};
inline constexpr std::array<std::uint64_t, 6> COLOR_BONUS = {0, 0, 3, 6, 12, 24};

}  // namespace tavik::score_table
