#pragma once
// The two puyos of a move: element 0 is the child, element 1 the axis.
#include <array>
#include <string>

#include "puyotype.hpp"

namespace tavik {

struct Pair {
    std::array<PuyoType, 2> colors{PuyoType::RED, PuyoType::RED};

    constexpr Pair() = default;
    constexpr Pair(PuyoType child, PuyoType axis) : colors{child, axis} {}

    constexpr PuyoType child() const { return colors[0]; }
    constexpr PuyoType axis() const { return colors[1]; }
    std::string debug() const { return "Pair { colors: [" + colors[0].debug() + ", " + colors[1].debug() + "] }"; }
    constexpr bool operator==(const Pair& o) const { return colors[0] == o.colors[0] && colors[1] == o.colors[1]; }
};

}  // namespace tavik
