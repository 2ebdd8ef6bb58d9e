#pragma once
// Many games stepped together for learning code: one call plays an action in
// every game and writes every observation, reward and flag into arrays the
// caller owns, spread over a worker pool.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "game/game.hpp"
#include "game/worker_pool.hpp"

namespace tavik {

struct VectorGameConfig {
    unsigned colours = 4;
    unsigned visible = 3;
    std::uint64_t max_pairs = 0;  // 0: no truncation
    // Next-step autoreset: the step after an episode ends starts the next one.
    // Without it, stepping a finished game is refused.
    bool autoreset = true;
};

// Where one step writes, each array holding one entry per game.
struct StepOutput {
    std::uint8_t* field;  // games × observation::field_bytes(colours)
    std::uint8_t* pairs;  // games × visible × 2 × colours
    std::int8_t* mask;    // games × 22
    double* reward;
    bool* terminated;
    bool* truncated;
    bool* illegal;
    std::int32_t* chain;
};

class VectorGame {
public:
    static constexpr std::size_t ACTIONS = 22;

    // `entropy` seeds the episodes of games reset without a seed.
    VectorGame(std::size_t games, VectorGameConfig config, std::size_t threads, std::span<const std::uint64_t> entropy);

    std::size_t size() const { return games_.size(); }
    const Game& game(std::size_t i) const { return games_[i].game; }

    // Starts a new episode in every game: with seeds[i], or with the next seed
    // of game i's own seed chain when there are no seeds. Writes every entry.
    void reset(std::optional<std::span<const std::uint64_t>> seeds, const StepOutput& out);

    // A reason to refuse the actions before anything changes: an action
    // outside 0..21, or (without autoreset) a game that is over.
    std::optional<std::string> check(std::span<const std::int64_t> actions) const;
    // Marks in out[i] whether the next step plays game i (not resets it);
    // true when it plays any.
    bool playing(bool* out) const;
    // Plays actions[i] (checked) in game i, or resets the games whose episode
    // ended at the previous step. Safe to call without the interpreter.
    void step(std::span<const std::int64_t> actions, const StepOutput& out) {
        step(actions, out, [] {});
    }
    // As step, calling meanwhile() on this thread while the pool's other
    // threads step their games (see WorkerPool::run).
    template <class Meanwhile>
    void step(std::span<const std::int64_t> actions, const StepOutput& out, Meanwhile&& meanwhile) {
        // Every thread writes its own games' entries: the pool keeps a game on
        // the same thread from step to step, so only the lines where two
        // threads' shares meet are written from both. The outputs and actions
        // are copied first: they sit in the calling thread's frame, beside
        // what it writes while the others step.
        auto work = [&](std::size_t begin, std::size_t end) {
            const StepOutput where = out;
            const std::int64_t* const played = actions.data();
            fetch_lines_of(begin, end, played, where);
            for (std::size_t i = begin; i < end; ++i) step_one(i, played[i], where);
        };
        pool_.run(games_.size(), CHUNK, work, meanwhile);
    }

    // The seed chain of a game: the seed of the episode after one seeded s.
    static std::uint64_t next_seed(std::uint64_t seed);

private:
    // Chunks of this many games: small enough that a delayed thread leaves
    // little behind, large enough that the chunk counters are touched rarely.
    static constexpr std::size_t CHUNK = 16;

    // What only the thread stepping a game touches.
    struct Slot {
        Game game;
        std::uint64_t next_seed;
    };

    // Asks for every line games [begin, end) will touch that another core may
    // hold: the actions it wrote, and the masks and ended flags its caller
    // read after the last step. Fetched together, they arrive in about the
    // time of one; fetched by each game in turn, they held up a worker's
    // every game by a tenth.
    void fetch_lines_of(std::size_t begin, std::size_t end, const std::int64_t* actions, const StepOutput& out) const;
    void start(std::size_t i, std::uint64_t seed);
    void step_one(std::size_t i, std::int64_t action, const StepOutput& out);
    void write(std::size_t i, const StepOutput& out) const;

    VectorGameConfig config_;
    std::vector<Slot> games_;
    // Whether each game's episode ended at the last step (terminated or
    // truncated): apart from the slots, because the calling thread reads them
    // all between steps and would pull every slot's line away from its thread.
    std::vector<std::uint8_t> ended_;
    WorkerPool pool_;
};

}  // namespace tavik
