#pragma once
#include <cstdint>
#include <string>

namespace tavik {

// A cell in grid coordinates: column 0..7 from the left, row 0..15 from the top.
struct Position {
    std::uint64_t x = 0;
    std::uint64_t y = 0;

    std::string debug() const { return "Position { x: " + std::to_string(x) + ", y: " + std::to_string(y) + " }"; }
    constexpr bool operator==(const Position&) const = default;
};

}  // namespace tavik
