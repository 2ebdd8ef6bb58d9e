#include "game/selfplay.hpp"

#include <bit>
#include <optional>

#include "chain/chain_finder.hpp"
#include "game/beam_bot.hpp"
#include "game/game.hpp"
#include "game/observation.hpp"

namespace tavik::selfplay {

namespace {

constexpr std::uint64_t BOT_STREAM = 0x6A09E667F3BCC909ULL;  // keeps the bot's stream off the pairs'

Hand nth_legal(std::uint32_t mask, std::uint64_t n) {
    for (; n > 0; --n) mask &= mask - 1;
    return Hand::enumerate()[static_cast<std::size_t>(std::countr_zero(mask))];
}

}  // namespace

Hand choose_random(const Game& game, Rng& rng) {
    const std::uint32_t mask = game.legal_mask();
    return nth_legal(mask, rng.below(static_cast<std::uint64_t>(std::popcount(mask))));
}

Hand choose_greedy(const Game& game, Rng& rng) {
    const std::uint32_t mask = game.legal_mask();
    std::uint32_t best_mask = 0;
    bool best_alive = false;
    std::uint64_t best_score = 0;
    for (std::uint32_t m = mask; m; m &= m - 1) {
        const int i = std::countr_zero(m);
        Game trial = game;
        const Move move = trial.play_legal(Hand::enumerate()[static_cast<std::size_t>(i)]);
        const bool alive = !move.over;
        if (best_mask == 0 || alive > best_alive || (alive == best_alive && move.score > best_score)) {
            best_mask = 0;
            best_alive = alive;
            best_score = move.score;
        }
        if (alive == best_alive && move.score == best_score) best_mask |= std::uint32_t{1} << i;
    }
    return nth_legal(best_mask, rng.below(static_cast<std::uint64_t>(std::popcount(best_mask))));
}

Label label(const BitField& field, std::uint64_t depth) {
    Label best;
    for (const auto& f : ChainFinder::find_by_extend_recursive(field, depth)) {
        if (f.score > best.score || (f.score == best.score && f.chain > best.chain)) best = {f.score, f.chain};
    }
    return best;
}

std::uint64_t game_seed(std::uint64_t seed, std::uint64_t game) { return splitmix64_at(seed, game); }

Columns play_games(const Options& options) {
    // One thread: the batches themselves are what runs in parallel.
    const std::optional<BeamBot> beam =
        options.bot == BotKind::BEAM ? std::optional<BeamBot>(std::in_place, options.beam_width, options.visible, 1u)
                                     : std::nullopt;
    Columns c;
    for (std::uint64_t g = options.first_game; g < options.first_game + options.games; ++g) {
        const std::uint64_t seed = game_seed(options.seed, g);
        Game game(seed, options.colours, options.visible);
        Rng rng(seed ^ BOT_STREAM);
        while (!game.over() && game.turn() < options.max_turns) {
            c.game.push_back(static_cast<std::int64_t>(g));
            c.turn.push_back(static_cast<std::int32_t>(game.turn()));
            const std::size_t at = c.field.size();
            c.field.resize(at + FIELD_CELLS);
            observation::write_types(game.field(), c.field.data() + at);
            for (unsigned k = 0; k < options.visible; ++k) {
                const Pair p = game.pair(k);
                c.pairs.push_back(p.child().number());
                c.pairs.push_back(p.axis().number());
            }
            const Label l = label(game.field(), options.label_depth);
            c.label_score.push_back(static_cast<std::int64_t>(l.score));
            c.label_chain.push_back(static_cast<std::int32_t>(l.chain));
            const Hand hand = beam                             ? beam->choose(game)
                              : options.bot == BotKind::GREEDY ? choose_greedy(game, rng)
                                                               : choose_random(game, rng);
            c.hand.push_back(static_cast<std::int8_t>(rules::hand_index(hand)));
            const Move move = game.play_legal(hand);
            c.move_chain.push_back(static_cast<std::int32_t>(move.chain));
            c.move_score.push_back(static_cast<std::int64_t>(move.score));
        }
        c.game_score.resize(c.positions(), static_cast<std::int64_t>(game.score()));
        c.game_turns.resize(c.positions(), static_cast<std::int32_t>(game.turn()));
    }
    return c;
}

}  // namespace tavik::selfplay
