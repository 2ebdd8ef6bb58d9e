#include "game/game.hpp"

#include <algorithm>

namespace tavik {

std::optional<Move> Game::play(const Hand& hand) {
    if (over_ || !rules::is_legal(field_, hand)) return std::nullopt;
    return play_legal(hand);
}

Move Game::play_legal(const Hand& hand) {
    rules::place_legal(field_, hand, pair());
    const rules::MoveResult r = rules::settle(field_, pending_bonus_, all_clear_bonus_);
    turn_ = rules::saturating_add(turn_, 1);
    score_ = rules::saturating_add(score_, r.score);
    max_chain_ = std::max(max_chain_, r.chain);
    over_ = rules::is_dead(field_);
    return Move{r.chain, r.score, r.all_clear, over_};
}

Game Game::from_parts(PairSequence sequence, unsigned visible, std::uint64_t all_clear_bonus, const BitField& field,
                      std::uint64_t turn, std::uint64_t score, std::uint64_t max_chain, bool over,
                      std::uint64_t pending_bonus) {
    Game g(std::move(sequence), visible, all_clear_bonus);
    g.field_ = field;
    g.turn_ = turn;
    g.score_ = score;
    g.max_chain_ = max_chain;
    g.over_ = over;
    g.pending_bonus_ = pending_bonus;
    return g;
}

}  // namespace tavik
