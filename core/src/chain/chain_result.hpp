#pragma once
// Outcomes of one chain step and of a whole chain.
#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <new>
#include <utility>
#include <vector>

#include "chain/score_table.hpp"
#include "field/connection.hpp"
#include "panic.hpp"

namespace tavik {

// The groups of one step, in order. Almost every step vanishes one or two
// groups; those are kept inside the step, so running a chain does not allocate
// once per step. More groups move to the heap.
class StepConnections {
public:
    using value_type = Connection;
    using iterator = Connection*;
    using const_iterator = const Connection*;
    static constexpr std::uint32_t INLINE_CAPACITY = 2;

    StepConnections() noexcept {}
    StepConnections(std::initializer_list<Connection> list) { assign(list.begin(), list.end()); }
    StepConnections(const ConnectionList& list) { assign(list.begin(), list.end()); }
    StepConnections(ConnectionList&& list) {
        reserve(list.size());
        for (Connection& c : list) push_back(std::move(c));
    }
    StepConnections(const StepConnections& o) { assign(o.begin(), o.end()); }
    StepConnections(StepConnections&& o) noexcept { take(o); }
    StepConnections& operator=(const StepConnections& o) {
        if (this != &o) {
            clear();
            assign(o.begin(), o.end());
        }
        return *this;
    }
    StepConnections& operator=(StepConnections&& o) noexcept {
        if (this != &o) {
            release();
            take(o);
        }
        return *this;
    }
    ~StepConnections() { release(); }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    Connection* data() { return heap_ ? heap_ : slots(); }
    const Connection* data() const { return heap_ ? heap_ : slots(); }
    iterator begin() { return data(); }
    iterator end() { return data() + size_; }
    const_iterator begin() const { return data(); }
    const_iterator end() const { return data() + size_; }
    Connection& operator[](std::size_t i) { return data()[i]; }
    const Connection& operator[](std::size_t i) const { return data()[i]; }
    Connection& front() { return data()[0]; }
    const Connection& front() const { return data()[0]; }
    Connection& back() { return data()[size_ - 1]; }
    const Connection& back() const { return data()[size_ - 1]; }

    void reserve(std::size_t n) {
        if (n > capacity_) grow(n);
    }
    void push_back(const Connection& c) { emplace_back(c); }
    void push_back(Connection&& c) { emplace_back(std::move(c)); }
    template <class... Args>
    Connection& emplace_back(Args&&... args) {
        if (size_ == capacity_) grow(capacity_ * 2);
        Connection* c = new (data() + size_) Connection(std::forward<Args>(args)...);
        ++size_;
        return *c;
    }
    // Appends n groups, the i-th made by make(i), behind one capacity check.
    template <class Make>
    void append(std::size_t n, Make&& make) {
        reserve(size_ + n);
        Connection* const out = data() + size_;
        for (std::size_t i = 0; i < n; ++i) new (out + i) Connection(make(i));
        size_ += static_cast<std::uint32_t>(n);
    }
    void clear() {
        for (Connection& c : *this) c.~Connection();
        size_ = 0;
    }

    ConnectionList to_list() const { return ConnectionList(begin(), end()); }

private:
    Connection* slots() { return std::launder(reinterpret_cast<Connection*>(slots_)); }
    const Connection* slots() const { return std::launder(reinterpret_cast<const Connection*>(slots_)); }

    template <class It>
    void assign(It first, It last) {
        reserve(static_cast<std::size_t>(last - first));
        for (; first != last; ++first) push_back(*first);
    }
    void grow(std::size_t n);
    void release() {
        clear();
        if (heap_) ::operator delete(heap_);
        heap_ = nullptr;
        capacity_ = INLINE_CAPACITY;
    }
    // Leaves `o` empty and inline.
    void take(StepConnections& o) noexcept {
        if (o.heap_) {
            heap_ = o.heap_;
            capacity_ = o.capacity_;
            o.heap_ = nullptr;
            o.capacity_ = INLINE_CAPACITY;
        } else {
            for (std::uint32_t i = 0; i < o.size_; ++i) {
                new (slots() + i) Connection(std::move(o.slots()[i]));
                o.slots()[i].~Connection();
            }
        }
        size_ = o.size_;
        o.size_ = 0;
    }

    Connection* heap_ = nullptr;  // null while the groups fit inline
    std::uint32_t size_ = 0;
    std::uint32_t capacity_ = INLINE_CAPACITY;
    alignas(Connection) unsigned char slots_[INLINE_CAPACITY * sizeof(Connection)];
};

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
    StepConnections connections;

    // Computed on demand; a chain number of 20 or more with groups panics.
    std::uint64_t score() const { return step_score(chain, connections); }
};

class ChainResult {
public:
    ChainResult() = default;
    explicit ChainResult(std::vector<ChainStepResult> steps);
    // For a producer that scored its steps as it made them: `score` is the
    // sum of the steps' scores.
    static ChainResult already_scored(std::vector<ChainStepResult> steps, std::uint64_t score) {
        ChainResult r;
        r.steps_ = std::move(steps);
        r.score_ = score;
        return r;
    }

    const std::vector<ChainStepResult>& steps() const { return steps_; }
    std::uint64_t chain() const { return steps_.size(); }
    std::uint64_t score() const { return score_; }

private:
    std::vector<ChainStepResult> steps_;
    std::uint64_t score_ = 0;
};

}  // namespace tavik
