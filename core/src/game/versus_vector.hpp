#pragma once
// Many two-player matches stepped together for learning code: one call plays
// the learner's hands (or both sides' with SELF), lets a native opponent play
// the other side, and writes every observation into arrays the caller owns,
// spread over a worker pool.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "game/beam_bot.hpp"
#include "game/match.hpp"
#include "game/selfplay.hpp"
#include "game/worker_pool.hpp"

namespace tavik {

enum class Opponent : std::uint8_t { SELF, RANDOM, GREEDY, BEAM };

struct VersusVectorConfig {
    unsigned colours = 4;
    unsigned visible = 3;
    VersusRules rules{};
    Opponent opponent = Opponent::RANDOM;
    unsigned beam_width = 100;     // BEAM only
    std::uint64_t max_frames = 0;  // 0: no truncation
    bool autoreset = true;         // the step after a match ends starts the next one
};

// Where a step writes. Per match there are `seats` views (1, or 2 with SELF:
// player 0's, then player 1's), each from its player's side: own first.
struct VersusStepOutput {
    std::uint8_t* field;   // matches × seats × 2 × observation::field_bytes(colours): own, opponent
    std::uint8_t* pairs;   // matches × seats × visible × 2 × colours: the player's own next pairs
    std::int8_t* mask;     // matches × seats × 22: 0 for a player who is not due
    std::int32_t* ojama;   // matches × seats × 4: own pending, own fixed, opponent's pending, fixed
    std::int32_t* frames;  // matches × seats × 2: frames until its own decision, the opponent's
    std::int32_t* target;  // matches: target points now
    bool* due;             // matches × seats
    double* reward;        // matches × seats: +1 win, -1 loss (or an illegal hand), 0 otherwise
    bool* terminated;      // matches
    bool* truncated;       // matches
    bool* illegal;         // matches × seats
};

class VersusVectorGame {
public:
    static constexpr std::size_t ACTIONS = 22;
    static constexpr std::size_t OJAMA_VALUES = 4;

    VersusVectorGame(std::size_t matches, VersusVectorConfig config, std::size_t threads,
                     std::span<const std::uint64_t> entropy);

    std::size_t size() const { return slots_.size(); }
    unsigned seats() const { return config_.opponent == Opponent::SELF ? 2 : 1; }
    const VersusVectorConfig& config() const { return config_; }
    const Match& match(std::size_t i) const { return slots_[i].match; }
    // Hands played by both sides of every match since construction.
    std::uint64_t decisions() const;

    void reset(std::optional<std::span<const std::uint64_t>> seeds, const VersusStepOutput& out);
    // A reason to refuse the actions (matches × seats) before anything changes.
    std::optional<std::string> check(std::span<const std::int64_t> actions) const;
    // Safe to call without the interpreter.
    void step(std::span<const std::int64_t> actions, const VersusStepOutput& out);

private:
    static constexpr std::size_t CHUNK = 8;

    struct Slot {
        Match match;
        selfplay::Rng rng;
        std::uint64_t next_seed;
        bool ended = false;
        std::uint64_t decisions = 0;
    };

    void start(std::size_t i, std::uint64_t seed);
    void step_one(std::size_t i, const std::int64_t* actions, const VersusStepOutput& out);
    Hand opponent_hand(Slot& s) const;
    void write(std::size_t i, const VersusStepOutput& out) const;

    VersusVectorConfig config_;
    BeamBot bot_;
    std::vector<Slot> slots_;
    WorkerPool pool_;
};

}  // namespace tavik
