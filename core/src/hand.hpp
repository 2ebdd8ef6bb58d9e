#pragma once
// Where a pair goes: the grid column of its axis and the side of its child.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "rotation.hpp"

namespace tavik {

struct Hand {
    std::uint64_t x = 1;
    Rotation rotation = Rotation::TOP;

    std::string display() const { return std::to_string(x) + "-" + std::string(rotation.display()); }
    std::string debug() const { return "Hand { x: " + std::to_string(x) + ", rotation: " + rotation.debug() + " }"; }
    constexpr bool operator==(const Hand& o) const { return x == o.x && rotation == o.rotation; }

    // The number of hands, and so of actions a learning agent chooses from.
    static constexpr std::size_t COUNT = 22;
    // The hands: TOP at 1..6, LEFT at 2..6, BOTTOM at 1..6, RIGHT at 1..5.
    static const std::array<Hand, COUNT>& enumerate();
};

inline const std::array<Hand, Hand::COUNT>& Hand::enumerate() {
    static constexpr std::array<Hand, COUNT> hands = [] {
        std::array<Hand, COUNT> out{};
        std::size_t i = 0;
        for (std::uint64_t x = 1; x <= 6; ++x) out[i++] = {x, Rotation::TOP};
        for (std::uint64_t x = 2; x <= 6; ++x) out[i++] = {x, Rotation::LEFT};
        for (std::uint64_t x = 1; x <= 6; ++x) out[i++] = {x, Rotation::BOTTOM};
        for (std::uint64_t x = 1; x <= 5; ++x) out[i++] = {x, Rotation::RIGHT};
        return out;
    }();
    return hands;
}

}  // namespace tavik
