#pragma once
// Outcomes of one chain step and of a whole chain.
#include <algorithm>
#include <cstdint>
#include <utility>

#include "chain/score_table.hpp"
#include "field/connection.hpp"
#include "inline_vector.hpp"
#include "panic.hpp"

namespace tavik {

// The groups of one step, in order. Almost every step vanishes one or two
// groups; those are kept inside the step, so running a chain does not allocate
// once per step. More groups move to the heap.
using StepConnections = InlineVector<Connection, 2>;

// The score of one step from its chain number and its groups (anything with
// `size` and `puyotype`). A chain number of 20 or more with groups panics.
template <class Groups>
std::uint64_t step_score(std::uint64_t chain, const Groups& groups) {
    if (std::begin(groups) == std::end(groups)) return 0;
    check_index(chain, score_table::CHAIN_BONUS.size());
    std::uint64_t puyos = 0;
    std::uint64_t bonus = score_table::CHAIN_BONUS[chain];
    unsigned colors = 0;  // one bit per colour type seen
    for (const auto& g : groups) {
        puyos += g.size;
        bonus += score_table::CONNECTION_BONUS[std::min<std::uint64_t>(g.size, 11)];
        const PuyoType t = g.puyotype;
        if (t.is_color()) colors |= 1u << t.number();
    }
    bonus += score_table::COLOR_BONUS[__builtin_popcount(colors)];
    const std::uint64_t multiplier = bonus == 0 ? 1 : std::min<std::uint64_t>(bonus, 999);
    return 10 * puyos * multiplier;
}

struct ChainStepResult {
    // The caller's chain number when something vanished in the step, else 0.
    std::uint64_t chain = 0;
    StepConnections connections{};

    // Computed on demand; a chain number of 20 or more with groups panics.
    std::uint64_t score() const { return step_score(chain, connections); }
};

// Chain count and total score: what a search needs of a trial chain.
struct ChainScore {
    std::uint64_t chain = 0;
    std::uint64_t score = 0;

    friend bool operator==(const ChainScore&, const ChainScore&) = default;
};

class ChainResult {
public:
    // A chain of up to four passes (a drop-only one and three that vanish)
    // keeps its steps inside the result and allocates nothing.
    using Steps = InlineVector<ChainStepResult, 4>;

    ChainResult() = default;
    explicit ChainResult(Steps steps);
    // For a producer that scores its steps as it makes them: fill(steps)
    // appends the steps and returns the sum of their scores. The result is
    // built in place, so inline steps are never moved.
    template <class Fill>
    static ChainResult built(Fill&& fill) {
        ChainResult r;
        r.score_ = fill(r.steps_);
        return r;
    }

    const Steps& steps() const { return steps_; }
    std::uint64_t chain() const { return steps_.size(); }
    std::uint64_t score() const { return score_; }
    ChainScore chain_score() const { return {chain(), score_}; }

private:
    Steps steps_;
    std::uint64_t score_ = 0;
};

}  // namespace tavik
