#pragma once
// The reference bot: a beam search over the pairs a game shows, every node
// valued by one evaluation of its field (below) plus the score it fired.
//
// Search, one level per visible pair (at most `depth` of them):
//   children  every legal hand of every beam node, placed and settled; a child
//             whose spawn cell is occupied (a lost game) is dropped;
//   merge     children with equal fields (and equal owed all-clear bonus) are
//             one node: the one with the most fired value is kept, ties to the
//             first made;
//   value     fired value + evaluate(field), for every merged child;
//   beam      the `width` best, ties to the first made.
// The hand chosen is the first hand of the best node of the deepest level
// reached. "First made" is parent rank, then Hand::enumerate() order, so the
// choice is the same whatever the number of threads.
//
// Fired value of a move: its score when the chain is long enough to be worth
// the puyos (FIRE_MIN_CHAIN), minus half its score otherwise: a short chain
// spends puyos a longer one could use.
//
// Looking past the visible pairs (Lookahead::queues > 0): the plain search
// above runs over the `depth` known pairs; its last beam then goes on, once
// per guessed queue, for `horizon` more levels whose pairs are drawn from the
// bot's seed (the same guesses for the same turn, so consecutive moves plan
// alike). In a queue, a move whose chain scores at least `fire_score` ends its
// path: its value is final, the chain a one-player game is played for. A
// first hand is worth, per queue, the best value of any of its paths (fired
// or still building at the horizon); the hand played has the best sum over
// the queues, a queue where the hand kept no path counting its worst value.
// Each queue is searched on one thread and the sum is taken in queue order,
// so the choice does not depend on the threads.
//
// When to fire follows from the values: building wins while the evaluation
// of a taller field (its chain potential above all) beats the chains the
// queues could fire; a ripe chain (fire_score or more) wins once no path
// grows past it; danger and lost paths cut the building values, so a field
// near the top fires what it has.
#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "field/bit_field.hpp"
#include "game/game.hpp"
#include "hand.hpp"

namespace tavik {

// What evaluate() measures of a settled field, one number per feature.
struct BotFeatures {
    std::int64_t potential = 0;    // score of the best chain one extension fires (reachable columns)
    std::int64_t chain = 0;        // links of that chain
    std::int64_t unreachable = 0;  // columns a pair cannot reach
    std::int64_t links = 0;        // pairs of touching same-colour puyos
    std::int64_t bump = 0;         // rows of height step between neighbouring columns
    std::int64_t valley = 0;       // rows a column sits below both neighbours, beyond two
    std::int64_t ridge = 0;        // rows a column stands above both neighbours, beyond two
    std::int64_t danger = 0;       // sum over Python columns 1..3 of (height - 9)^2 above 9
    std::int64_t puyos = 0;        // puyos in the field
    std::int64_t top = 0;          // height of the tallest column
};

// The weight of each feature; a field's value is the weighted sum, rounded.
struct BotWeights {
    double potential = 1, chain = 0, unreachable = -5000, links = 30, bump = -40, valley = -100, ridge = 0,
           danger = -2000, puyos = 0, top = 0;

    static constexpr std::size_t COUNT = 10;
    static constexpr std::array<std::string_view, COUNT> NAMES = {"potential", "chain", "unreachable", "links", "bump",
                                                                  "valley",    "ridge", "danger",      "puyos", "top"};
    std::array<double*, COUNT> members() {
        return {&potential, &chain, &unreachable, &links, &bump, &valley, &ridge, &danger, &puyos, &top};
    }
    std::array<double, COUNT> values() const {
        return {potential, chain, unreachable, links, bump, valley, ridge, danger, puyos, top};
    }

    // The plain search's weights, kept so its earlier figures can be remade.
    static BotWeights classic() { return {}; }
    // Tuned on the endless protocol with the lookahead search.
    static BotWeights tuned();

    bool operator==(const BotWeights&) const = default;
};

inline std::array<std::int64_t, BotWeights::COUNT> feature_values(const BotFeatures& f) {
    return {f.potential, f.chain, f.unreachable, f.links, f.bump, f.valley, f.ridge, f.danger, f.puyos, f.top};
}

// The search past the visible pairs; queues == 0 is the plain search.
struct Lookahead {
    unsigned queues = 0;
    unsigned horizon = 0;          // guessed pairs searched after the known ones
    unsigned width = 0;            // beam of the guessed levels; 0: the bot's width
    std::uint64_t seed = 0;        // of the guessed queues
    std::uint64_t fire_score = 0;  // a chain this big ends its path; 0: none does
    std::uint64_t pairs = 0;       // the game ends after this many pairs (its turn); 0: never
    bool operator==(const Lookahead&) const = default;
};

// What a search did, for analysis.
struct SearchStats {
    std::uint64_t nodes = 0;   // children made and settled
    std::uint64_t merged = 0;  // children dropped as equal to another
    std::uint64_t levels = 0;  // deepest level reached, over the queues
    std::uint64_t fired = 0;   // paths ended by a ripe chain
};

// One candidate first hand: its expected value across the queues (the
// plain search: its best deepest node's value), or none when no path of it
// survived.
struct HandValue {
    std::uint8_t hand;  // index into Hand::enumerate()
    double value;
    bool operator==(const HandValue&) const = default;
};

class BeamBot {
public:
    static constexpr std::uint64_t FIRE_MIN_CHAIN = 8;
    static constexpr std::int64_t LINK = 30;
    static constexpr std::int64_t BUMP = 40;
    static constexpr std::int64_t VALLEY = 100;
    static constexpr std::int64_t DANGER = 2000;
    static constexpr std::int64_t UNREACHABLE = 5000;
    static constexpr std::uint64_t DANGER_HEIGHT = 9;
    // The widest beam the bindings accept: a level of it takes 22 children per node.
    static constexpr std::uint64_t MAX_WIDTH = 100000;

    // width, depth and threads must be at least 1 (a panic otherwise); depth
    // beyond the game's visible pairs searches the visible ones. `threads`
    // counts the calling thread.
    explicit BeamBot(unsigned width = 100, unsigned depth = 3, unsigned threads = 1,
                     const BotWeights& weights = BotWeights::classic(), const Lookahead& lookahead = {});

    unsigned width() const { return width_; }
    unsigned depth() const { return depth_; }
    unsigned threads() const { return threads_; }
    const BotWeights& weights() const { return weights_; }
    const Lookahead& lookahead() const { return lookahead_; }

    // The hand to play the game's current pair with: always legal. The game
    // must not be over (a panic otherwise). Safe to call from many threads at
    // once on one bot (and its copies, which share its idle workspaces).
    Hand choose(const Game& game) const;

    // The candidate first hands, best first, with the search's statistics:
    // the first is the hand choose() plays. Empty when every hand loses.
    std::vector<HandValue> analyse(const Game& game, SearchStats* stats = nullptr) const;

    // The value of a settled field, higher is better:
    //   potential  the score of the best chain one extension can fire (1 to 3
    //              puyos of one colour dropped into one column), as best_find,
    //              among extensions into columns a pair can reach;
    //   reach      -UNREACHABLE per column a pair cannot reach;
    //   links      LINK per pair of touching same-colour puyos, which grow
    //              into groups;
    //   shape      -BUMP per row of height difference between neighbouring
    //              columns, -VALLEY per row a column sits below both neighbours
    //              beyond two;
    //   danger     -DANGER times the square of the rows by which a column
    //              around the spawn (Python 1..3) stands above DANGER_HEIGHT:
    //              there the pair cannot pass, or the game ends.
    static std::int64_t evaluate(const BitField& field);
    // The same, told whether the field is quiet (BitField::is_quiet) instead
    // of asking it: the search knows for every child of a quiet parent.
    static std::int64_t evaluate(const BitField& field, bool quiet);
    static std::int64_t evaluate(const BitField& field, const BotWeights& weights, bool quiet);
    static BotFeatures features(const BitField& field, bool quiet);

    // The potential term of evaluate(): the best score of find_by_extend's
    // finds whose column a pair can reach, 0 without any.
    static std::uint64_t potential(const BitField& field);

private:
    // Idle workers and search buffers, kept so a call starts no thread and
    // allocates nothing once warm; they hold no result between calls.
    struct Workspaces;
    // Idle pools of the lookahead search.
    struct LookaheadSpaces;
    static std::shared_ptr<LookaheadSpaces> make_lookahead_spaces();

    std::vector<HandValue> look_ahead(const Game& game, SearchStats* stats) const;

    unsigned width_;
    unsigned depth_;
    unsigned threads_;
    BotWeights weights_;
    Lookahead lookahead_;
    std::shared_ptr<Workspaces> workspaces_;
    std::shared_ptr<LookaheadSpaces> look_spaces_;
};

}  // namespace tavik
