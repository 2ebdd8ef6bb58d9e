// The pool's hand-off: a generation counter the workers watch, a chunk
// counter they draw from, and a gate counting the workers inside the job.
#include "game/worker_pool.hpp"

#include <immintrin.h>

#include <algorithm>

namespace tavik {

namespace {

constexpr std::uint64_t STOP = ~std::uint64_t{0};
constexpr std::uint64_t OPEN = std::uint64_t{1} << 63;
// About 20 µs of polling before sleeping: batch calls usually come back-to-back
// within that, and a wake-up from sleep costs as much again.
constexpr int SPIN_ROUNDS = 4000;

template <class T, class Done>
void spin_then_wait(const std::atomic<T>& value, T seen, Done&& done) {
    for (int i = 0; i < SPIN_ROUNDS; ++i) {
        if (done()) return;
        _mm_pause();
    }
    while (!done()) value.wait(seen, std::memory_order_acquire);
}

}  // namespace

WorkerPool::WorkerPool(std::size_t threads) {
    for (std::size_t i = 1; i < threads; ++i) workers_.emplace_back([this] { worker_loop(); });
}

WorkerPool::~WorkerPool() {
    generation_.store(STOP, std::memory_order_release);
    generation_.notify_all();
    for (std::thread& t : workers_) t.join();
}

void WorkerPool::take_chunks() {
    const Job& job = *job_;
    for (;;) {
        const std::size_t begin = next_.fetch_add(job.chunk, std::memory_order_relaxed);
        if (begin >= job.count) return;
        job.call(job.context, begin, std::min(job.count, begin + job.chunk));
    }
}

void WorkerPool::run_job(const Job& job) {
    if (workers_.empty() || job.count <= job.chunk) {
        if (job.count) job.call(job.context, 0, job.count);
        return;
    }
    job_ = &job;
    next_.store(0, std::memory_order_relaxed);
    // fetch_or, not store: a late worker of the last job may still be counted
    // for an instant on its way out.
    gate_.fetch_or(OPEN, std::memory_order_release);
    generation_.fetch_add(1, std::memory_order_release);
    generation_.notify_all();
    take_chunks();
    for (std::uint64_t inside = gate_.fetch_and(~OPEN, std::memory_order_acq_rel) & ~OPEN; inside != 0;
         inside = gate_.load(std::memory_order_acquire)) {
        spin_then_wait(gate_, inside, [&] { return gate_.load(std::memory_order_acquire) != inside; });
    }
    job_ = nullptr;
}

void WorkerPool::help() {
    // Entering after the caller closed the gate: the job is done or is another
    // one's; leave without touching it.
    if (gate_.fetch_add(1, std::memory_order_acq_rel) & OPEN) take_chunks();
    if (((gate_.fetch_sub(1, std::memory_order_acq_rel) - 1) & ~OPEN) == 0) gate_.notify_one();
}

void WorkerPool::worker_loop() {
    std::uint64_t seen = 0;
    for (;;) {
        spin_then_wait(generation_, seen, [&] { return generation_.load(std::memory_order_acquire) != seen; });
        seen = generation_.load(std::memory_order_acquire);
        if (seen == STOP) return;
        help();
    }
}

}  // namespace tavik
