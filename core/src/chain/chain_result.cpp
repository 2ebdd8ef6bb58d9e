#include "chain/chain_result.hpp"

#include <algorithm>

#include "chain/score_table.hpp"
#include "panic.hpp"

namespace tavik {

std::uint64_t ChainStepResult::score() const {
    if (connections.empty()) return 0;
    check_index(chain, score_table::CHAIN_BONUS.size());
    std::uint64_t puyos = 0;
    std::uint64_t bonus = score_table::CHAIN_BONUS[chain];
    unsigned colors = 0;  // one bit per colour type seen
    for (const Connection& c : connections) {
        puyos += c.size;
        bonus += score_table::CONNECTION_BONUS[std::min<std::uint64_t>(c.size, 11)];
        if (c.puyotype.is_color()) colors |= 1u << c.puyotype.number();
    }
    bonus += score_table::COLOR_BONUS[__builtin_popcount(colors)];
    const std::uint64_t multiplier = bonus == 0 ? 1 : std::min<std::uint64_t>(bonus, 999);
    return 10 * puyos * multiplier;
}

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
