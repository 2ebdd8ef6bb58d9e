#pragma once
// The rules of one player's game around the bit field: where a pair may go,
// when the game is lost, and what a move scores.
//
// Grid coordinates (the core's): columns 1..6, rows 1..14 with row 1 the top
// fuzzy row (Python row 0), row 3 the top visible row (Python row 2) and row
// 14 the bottom (Python row 13).
//
//      col  1 2 3 4 5 6
//   row 1   . . . . . .   top fuzzy row: a puyo resting here is removed
//   row 2   . . . . . .   second fuzzy row
//   row 3   . . X . . .   X: spawn cell; occupied after a move = game over
//   ...
//   row 14  . . . . . .   bottom
#include <cstdint>

#include "field/bit_field.hpp"
#include "hand.hpp"
#include "pair.hpp"

namespace tavik::rules {

inline constexpr std::uint64_t SPAWN_X = 3;        // grid column of the spawn (Python column 2)
inline constexpr std::uint64_t TOP_VISIBLE_Y = 3;  // grid row of the top visible cell (Python row 2)
inline constexpr std::uint64_t TOP_FUZZY_Y = 1;    // grid row removed after a placement (Python row 0)
inline constexpr std::uint64_t ALL_CLEAR_BONUS = 2100;

// Columns a pair may travel through: bit x-1 set for grid column x.
//
//   A pair spawns over column 3 and slides sideways; a column whose top
//   visible cell is occupied is a wall it cannot pass:
//
//        1 2 3 4 5 6
//        . . v . . .     v: spawn
//        . # . . # .     #: row 3 occupied
//   reachable columns: 3 and 4 (2 and 5 block the way and are not entered)
//
// A richer rule (climbing over a column filled to row 2) replaces only this.
std::uint32_t reachable_columns(const BitField& field);

// Bit i set when Hand::enumerate()[i] is legal: its axis column and, for a
// sideways hand, its child's column are both reachable.
std::uint32_t legal_mask(const BitField& field);

inline bool is_legal(const BitField& field, const Hand& hand);

// The game is lost when the spawn cell is occupied after a move has settled.
bool is_dead(const BitField& field);

// Places the pair and removes whatever came to rest in the top fuzzy row. The
// hand must be legal; returns false (field unchanged) when it is not.
bool place(BitField& field, const Hand& hand, Pair pair);
// The same for a hand the caller knows is legal (from legal_mask()).
void place_legal(BitField& field, const Hand& hand, Pair pair);

// Index of the hand in Hand::enumerate(), or -1.
int hand_index(const Hand& hand);

struct MoveResult {
    std::uint64_t chain = 0;
    std::uint64_t score = 0;  // including an all-clear bonus paid by this move
    bool all_clear = false;   // the chain left the field empty
};

// a + b, or the largest value where that would wrap: scores and turns stop
// there, so a game unpickled near the top never counts backwards.
inline std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

// Fires the chain of a placed field and scores it. `pending_bonus` is the
// all-clear bonus owed by an earlier move: paid (and reset) by the next move
// that fires a chain, and set to `bonus` by a chain that clears the field.
MoveResult settle(BitField& field, std::uint64_t& pending_bonus, std::uint64_t bonus = ALL_CLEAR_BONUS);

inline bool is_legal(const BitField& field, const Hand& hand) {
    const int i = hand_index(hand);
    return i >= 0 && (legal_mask(field) >> i & 1);
}

}  // namespace tavik::rules
