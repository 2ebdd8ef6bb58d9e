#include "chain/chain_result.hpp"

namespace tavik {

ChainResult::ChainResult(Steps steps) : steps_(std::move(steps)) {
    for (const ChainStepResult& step : steps_) score_ += step.score();
}

}  // namespace tavik
