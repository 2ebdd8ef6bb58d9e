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
#include <cstdint>
#include <memory>

#include "field/bit_field.hpp"
#include "game/game.hpp"
#include "hand.hpp"

namespace tavik {

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
    explicit BeamBot(unsigned width = 100, unsigned depth = 3, unsigned threads = 1);

    unsigned width() const { return width_; }
    unsigned depth() const { return depth_; }
    unsigned threads() const { return threads_; }

    // The hand to play the game's current pair with: always legal. The game
    // must not be over (a panic otherwise). Safe to call from many threads at
    // once on one bot (and its copies, which share its idle workspaces).
    Hand choose(const Game& game) const;

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

    // The potential term of evaluate(): the best score of find_by_extend's
    // finds whose column a pair can reach, 0 without any.
    static std::uint64_t potential(const BitField& field);

private:
    // Idle workers and search buffers, kept so a call starts no thread and
    // allocates nothing once warm; they hold no result between calls.
    struct Workspaces;

    unsigned width_;
    unsigned depth_;
    unsigned threads_;
    std::shared_ptr<Workspaces> workspaces_;
};

}  // namespace tavik
