#pragma once
// Outcomes of one chain step and of a whole chain.
#include <cstdint>
#include <vector>

#include "field/connection.hpp"

namespace tavik {

struct ChainStepResult {
    // The caller's chain number when something vanished in the step, else 0.
    std::uint64_t chain = 0;
    ConnectionList connections;

    // Computed on demand; a chain number of 20 or more with groups panics.
    std::uint64_t score() const;
};

class ChainResult {
public:
    ChainResult() = default;
    explicit ChainResult(std::vector<ChainStepResult> steps);

    const std::vector<ChainStepResult>& steps() const { return steps_; }
    std::uint64_t chain() const { return steps_.size(); }
    std::uint64_t score() const { return score_; }

private:
    std::vector<ChainStepResult> steps_;
    std::uint64_t score_ = 0;
};

}  // namespace tavik
