#pragma once
// Outcomes of one chain step and of a whole chain.
#include <algorithm>
#include <bit>
#include <cstring>
#include <span>
#include <cstdint>
#include <utility>
#include <vector>

#include "chain/score_table.hpp"
#include "field/connection.hpp"
#include "inline_vector.hpp"
#include "panic.hpp"

namespace tavik {

// The groups of one step, in order. Almost every step vanishes one or two
// groups; those are kept inside the step, so running a chain does not allocate
// once per step. More groups move to the heap.
using StepConnections = InlineVector<Connection, 2>;

// The score of one step from its totals: the puyos vanished, and the sum of
// the groups' connection bonuses and the colour bonus. A chain number of 20
// or more panics.
inline std::uint64_t step_score_of_totals(std::uint64_t chain, std::uint64_t puyos, std::uint64_t group_bonus) {
    check_index(chain, score_table::CHAIN_BONUS.size());
    const std::uint64_t bonus = score_table::CHAIN_BONUS[chain] + group_bonus;
    const std::uint64_t multiplier = bonus == 0 ? 1 : std::min<std::uint64_t>(bonus, 999);
    return 10 * puyos * multiplier;
}

constexpr std::uint64_t connection_bonus(std::uint64_t size) {
    return score_table::CONNECTION_BONUS[std::min<std::uint64_t>(size, 11)];
}

// `colours`: one bit per colour type number among a step's groups.
constexpr std::uint64_t colour_bonus(unsigned colours) {
    return score_table::COLOR_BONUS[static_cast<unsigned>(std::popcount(colours))];
}

// The score of one step from its chain number and its groups (anything with
// `size` and `puyotype`). A chain number of 20 or more with groups panics.
template <class Groups>
std::uint64_t step_score(std::uint64_t chain, const Groups& groups) {
    if (std::begin(groups) == std::end(groups)) return 0;
    std::uint64_t puyos = 0;
    std::uint64_t bonus = 0;
    unsigned colours = 0;
    for (const auto& g : groups) {
        puyos += g.size;
        bonus += connection_bonus(g.size);
        const PuyoType t = g.puyotype;
        if (t.is_color()) colours |= 1u << t.number();
    }
    return step_score_of_totals(chain, puyos, bonus + colour_bonus(colours));
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

// One group of a finished step, as a chain result keeps it.
struct GroupRecord {
    std::uint8_t size;  // at most 72 cells vanish at once
    PuyoType::Value puyotype;
};

// A whole chain: each step's chain number and groups (by type and size), and
// the total score. Kept as plain records inside the result, so a chain never
// allocates and copying it is a copy of bytes; steps() builds the step objects.
class ChainResult {
public:
    static constexpr std::size_t MAX_STEPS = score_table::CHAIN_BONUS.size();
    // Nothing enters the field while a chain runs, so it vanishes at most the
    // 84 cells of columns 1..6, rows 1..14: at most 21 groups. 40 leaves room
    // for any field; more panic. Kept small: the result is copied into Python.
    static constexpr std::size_t MAX_GROUPS = 40;

    ChainResult() {}

    // Appends a step: its chain number, its groups (anything with `size` and
    // `puyotype`) and their score.
    template <class Groups>
    void add_step(std::uint64_t chain, const Groups& groups, std::uint64_t score) {
        check_index(steps_, MAX_STEPS);
        std::uint16_t end = steps_ ? group_end_[steps_ - 1] : 0;
        for (const auto& g : groups) {
            check_index(end, MAX_GROUPS);
            groups_[end++] = {static_cast<std::uint8_t>(g.size), PuyoType::Value(PuyoType(g.puyotype))};
        }
        chain_of_[steps_] = static_cast<std::uint8_t>(chain);
        group_end_[steps_] = end;
        ++steps_;
        score_ += score;
    }

    // The same from records: up to four are copied as one 8-byte block, so
    // `records` must be readable four records past its first.
    void add_step(std::uint64_t chain, const GroupRecord* records, std::size_t count, std::uint64_t score) {
        const std::uint16_t end = steps_ ? group_end_[steps_ - 1] : 0;
        if (count > 4 || steps_ == MAX_STEPS || end + count > MAX_GROUPS) {
            add_step(chain, std::span<const GroupRecord>(records, count), score);
            return;
        }
        std::memcpy(groups_ + end, records, 4 * sizeof(GroupRecord));
        chain_of_[steps_] = static_cast<std::uint8_t>(chain);
        group_end_[steps_] = static_cast<std::uint16_t>(end + count);
        ++steps_;
        score_ += score;
    }

    std::vector<ChainStepResult> steps() const;
    std::uint64_t chain() const { return steps_; }
    std::uint64_t score() const { return score_; }
    ChainScore chain_score() const { return {chain(), score_}; }

private:
    std::uint64_t score_ = 0;
    std::uint8_t steps_ = 0;
    // Written up to steps_ only: a result is not zeroed when made.
    std::uint8_t chain_of_[MAX_STEPS];
    std::uint16_t group_end_[MAX_STEPS];  // one past the step's last group in groups_
    GroupRecord groups_[MAX_GROUPS + 4];  // room for a block copy past the last
};

}  // namespace tavik
