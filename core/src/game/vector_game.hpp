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
#include "game/splitmix64.hpp"
#include "game/step_table.hpp"
#include "game/worker_pool.hpp"
#include "hand.hpp"

namespace tavik {

struct VectorGameConfig {
    std::size_t games = 1;
    std::size_t threads = 1;
    unsigned colours = 4;
    unsigned visible = 3;
    std::uint64_t max_pairs = 0;  // 0: no truncation
    // Next-step autoreset: the step after an episode ends starts the next one.
    // Without it, stepping a finished game is refused.
    bool autoreset = true;
    // Seeds the episodes of games reset without a seed: game i's chain starts
    // at splitmix64_at(entropy, i).
    std::uint64_t entropy = 0;

    StepSizes sizes() const { return {games, colours, visible}; }
};

// What one step writes, one row per game. The observations are int8, as the
// MultiBinary spaces that declare them; chain is int64, as Gymnasium's info
// arrays of a Python int.
namespace tokopuyo_step {
enum Output : std::size_t { FIELD, PAIRS, MASK, REWARD, TERMINATED, TRUNCATED, ILLEGAL, CHAIN };
inline constexpr StepField TABLE[] = {
    {"field", Element::I8, Role::OBSERVATION, {Dim::ENVS, Dim::PLANES, Dim::ROWS, Dim::COLUMNS}},
    {"pairs", Element::I8, Role::OBSERVATION, {Dim::ENVS, Dim::VISIBLE, Dim::PAIR_SLOTS, Dim::COLOURS}},
    {"action_mask", Element::I8, Role::MASK, {Dim::ENVS, Dim::ACTIONS}},
    {"reward", Element::F64, Role::REWARD, {Dim::ENVS}},
    {"terminated", Element::BOOL, Role::TERMINATED, {Dim::ENVS}},
    {"truncated", Element::BOOL, Role::TRUNCATED, {Dim::ENVS}},
    {"illegal", Element::BOOL, Role::PLAYED, {Dim::ENVS}},
    {"chain", Element::I64, Role::PLAYED, {Dim::ENVS}},
};
}  // namespace tokopuyo_step

using StepOutput = StepOutputs<tokopuyo_step::TABLE>;

// Why a step was refused before anything changed, for the binding to word.
struct Refusal {
    enum Kind : std::uint8_t { ACTION_OUTSIDE, EPISODE_OVER };
    Kind kind;
    std::size_t env;
    std::int64_t action;
    // "action 22 of environment 1 is outside 0..21 (...)"; without the
    // environment for a caller that steps one game.
    std::string display(bool name_env) const;
};

class VectorGame {
public:
    explicit VectorGame(const VectorGameConfig& config);

    std::size_t size() const { return games_.size(); }
    const Game& game(std::size_t i) const { return games_[i].game; }

    // Starts a new episode in every game: with seeds[i], or with the next seed
    // of game i's own seed chain when there are no seeds. Writes every entry.
    void reset(std::optional<std::span<const std::uint64_t>> seeds, const StepOutput& out);

    // A reason to refuse the actions before anything changes: an action
    // outside 0..21, or (without autoreset) a game that is over.
    std::optional<Refusal> check(std::span<const std::int64_t> actions) const;
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
    static std::uint64_t next_seed(std::uint64_t seed) { return splitmix64_at(seed, 0); }

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
