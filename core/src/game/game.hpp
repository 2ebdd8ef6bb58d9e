#pragma once
// One player's endless game: a field, a pair sequence and the running score.
// A plain value: copy it to branch a search.
#include <cstdint>
#include <optional>
#include <utility>

#include "field/bit_field.hpp"
#include "game/pair_sequence.hpp"
#include "game/rules.hpp"
#include "hand.hpp"

namespace tavik {

struct Move {
    std::uint64_t chain = 0;
    std::uint64_t score = 0;
    bool all_clear = false;
    bool over = false;
    bool operator==(const Move&) const = default;
};

class Game {
public:
    // The most pairs a game shows ahead; its callers refuse more.
    static constexpr unsigned MAX_VISIBLE = 64;

    explicit Game(std::uint64_t seed = 0, unsigned colours = 4, unsigned visible = 3,
                  std::uint64_t all_clear_bonus = rules::ALL_CLEAR_BONUS)
        : sequence_(seed, colours), visible_(visible), all_clear_bonus_(all_clear_bonus) {}
    // A game on any sequence: balanced, or an explicit list of pairs.
    Game(PairSequence sequence, unsigned visible, std::uint64_t all_clear_bonus = rules::ALL_CLEAR_BONUS)
        : sequence_(std::move(sequence)), visible_(visible), all_clear_bonus_(all_clear_bonus) {}

    // Plays the current pair; nullopt (game unchanged) when the game is over
    // or the hand is not legal on the field.
    std::optional<Move> play(const Hand& hand);
    // For callers that checked legal_mask() already (batch stepping): the
    // check is not repeated, so the game must not be over and the hand legal.
    Move play_legal(const Hand& hand);

    std::uint32_t legal_mask() const { return over_ ? 0 : rules::legal_mask(field_); }
    Pair pair(std::uint64_t k = 0) const { return sequence_.at(turn_ + k); }  // k-th pair from now

    const BitField& field() const { return field_; }
    const PairSequence& sequence() const { return sequence_; }
    unsigned visible() const { return visible_; }
    std::uint64_t turn() const { return turn_; }
    std::uint64_t score() const { return score_; }
    std::uint64_t max_chain() const { return max_chain_; }
    bool over() const { return over_; }
    std::uint64_t pending_bonus() const { return pending_bonus_; }
    std::uint64_t all_clear_bonus() const { return all_clear_bonus_; }

    // Rebuilds a game from its parts (unpickling); the caller checks they fit.
    static Game from_parts(PairSequence sequence, unsigned visible, std::uint64_t all_clear_bonus,
                           const BitField& field, std::uint64_t turn, std::uint64_t score, std::uint64_t max_chain,
                           bool over, std::uint64_t pending_bonus);

    bool operator==(const Game&) const = default;

private:
    BitField field_;
    PairSequence sequence_;
    unsigned visible_;
    std::uint64_t all_clear_bonus_;
    std::uint64_t turn_ = 0;
    std::uint64_t score_ = 0;
    std::uint64_t max_chain_ = 0;
    std::uint64_t pending_bonus_ = 0;
    bool over_ = false;
};

}  // namespace tavik
