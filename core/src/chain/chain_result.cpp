#include "chain/chain_result.hpp"

namespace tavik {

std::vector<ChainStepResult> ChainResult::steps() const {
    std::vector<ChainStepResult> out(steps_);
    for (std::size_t i = 0, first = 0; i < steps_; first = group_end_[i++]) {
        out[i].chain = chain_of_[i];
        out[i].connections.append(group_end_[i] - first, [&](std::size_t k) {
            return Connection{std::nullopt, groups_[first + k].size, groups_[first + k].puyotype};
        });
    }
    return out;
}

}  // namespace tavik
