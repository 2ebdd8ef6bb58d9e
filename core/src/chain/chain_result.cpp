#include "chain/chain_result.hpp"

namespace tavik {

void StepConnections::grow(std::size_t n) {
    Connection* moved = static_cast<Connection*>(::operator new(n * sizeof(Connection)));
    Connection* old = data();
    for (std::uint32_t i = 0; i < size_; ++i) {
        new (moved + i) Connection(std::move(old[i]));
        old[i].~Connection();
    }
    if (heap_) ::operator delete(heap_);
    heap_ = moved;
    capacity_ = static_cast<std::uint32_t>(n);
}

ChainResult::ChainResult(std::vector<ChainStepResult> steps) : steps_(std::move(steps)) {
    for (const ChainStepResult& step : steps_) score_ += step.score();
}

}  // namespace tavik
