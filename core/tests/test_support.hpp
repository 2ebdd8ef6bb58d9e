#pragma once
// Helpers shared by the core tests.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "field/bit_field.hpp"
#include "game/game.hpp"
#include "game/rules.hpp"
#include "panic.hpp"

namespace tavik::testing_support {

// The failure text of the panic `fn` raises, or "<no panic>".
template <class Fn>
std::string panic_text(Fn&& fn) {
    try {
        fn();
    } catch (const Panic& p) {
        return p.text();
    }
    return "<no panic>";
}

inline BitField field(std::initializer_list<std::string_view> rows) { return unwrap(BitField::from_str_array(rows)); }

// A fresh game of `seed` with its field replaced.
inline Game game_on(const BitField& f, std::uint64_t seed = 1) {
    Game g(seed);
    return Game::from_parts(g.sequence(), g.visible(), g.all_clear_bonus(), f, 0, 0, 0, rules::is_dead(f), 0);
}

// `count` puyos of `t` stacked in column x from the floor.
inline BitField stacked(BitField f, std::uint64_t x, std::uint64_t count, PuyoType t = PuyoType::OJAMA) {
    for (std::uint64_t i = 0; i < count; ++i) (void)f.put(x, t);
    return f;
}

}  // namespace tavik::testing_support
