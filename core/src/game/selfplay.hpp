#pragma once
// Self-play for training data: a batch of games played by one bot, each
// position recorded with the label of its field (the best chain a search finds
// on it). Kept as columns, so the binding copies each into one array.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "field/bit_field.hpp"
#include "game/game.hpp"
#include "game/pair_sequence.hpp"
#include "hand.hpp"

namespace tavik::selfplay {

// The best (score, chain) among find_by_extend_recursive(depth) on the
// field, compared score first; (0, 0) when nothing fires.
struct Label {
    std::uint64_t score = 0;
    std::uint64_t chain = 0;
    bool operator==(const Label&) const = default;
};
Label label(const BitField& field, std::uint64_t depth);

// The bots' own random stream, apart from the pair sequence's so the pairs a
// game deals never depend on the bot that plays it.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : seed_(seed) {}
    // Uniform in [0, n) for n < 2^32, the same way the pair colours are drawn.
    std::uint64_t below(std::uint64_t n) { return ((splitmix64_at(seed_, next_++) >> 32) * n) >> 32; }
    bool operator==(const Rng&) const = default;

private:
    std::uint64_t seed_;
    std::uint64_t next_ = 0;
};

// A legal hand at random; the game must not be over.
Hand choose_random(const Game& game, Rng& rng);
// The highest-scoring move that does not lose, if any does not; ties at
// random, else it would always stack the leftmost column while nothing scores.
Hand choose_greedy(const Game& game, Rng& rng);

enum class BotKind : std::uint8_t { RANDOM, GREEDY, BEAM };

struct Options {
    BotKind bot = BotKind::RANDOM;
    unsigned beam_width = 0;  // BEAM only
    std::uint64_t seed = 0;
    std::uint64_t first_game = 0;  // games first_game .. first_game + games - 1
    std::uint64_t games = 0;
    std::uint64_t max_turns = 0;  // a game also ends after this many moves
    std::uint64_t label_depth = 1;
    unsigned visible = 3;  // pairs recorded per position
    unsigned colours = 4;
};

// The seed of game `game` of a run: a function of the two numbers only, so a
// game plays the same whichever batch (and whichever machine) plays it.
std::uint64_t game_seed(std::uint64_t seed, std::uint64_t game);

inline constexpr std::size_t FIELD_CELLS = 14 * 6;

// One entry per position (the field before the move), in game then turn order.
struct Columns {
    std::vector<std::int64_t> game;
    std::vector<std::int32_t> turn;
    std::vector<std::uint8_t> field;  // FIELD_CELLS type numbers per position, Python row 0 first
    std::vector<std::uint8_t> pairs;  // visible × (child, axis) type numbers per position
    std::vector<std::int8_t> hand;    // index in Hand::enumerate()
    std::vector<std::int32_t> move_chain;
    std::vector<std::int64_t> move_score;
    std::vector<std::int64_t> label_score;
    std::vector<std::int32_t> label_chain;
    std::vector<std::int64_t> game_score;  // the game's final score, on each of its positions
    std::vector<std::int32_t> game_turns;  // the game's number of moves, likewise

    std::size_t positions() const { return game.size(); }
};

Columns play_games(const Options& options);

}  // namespace tavik::selfplay
