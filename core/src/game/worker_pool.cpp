// The pool's hand-off: a generation counter the workers watch, a chunk
// counter per home share they draw from, and a gate counting the workers
// inside the job.
#include "game/worker_pool.hpp"

#include <immintrin.h>

#include <algorithm>
#include <chrono>
#include <exception>

namespace tavik {

namespace {

constexpr std::uint64_t STOP = ~std::uint64_t{0};
constexpr std::uint64_t OPEN = std::uint64_t{1} << 63;
// How long to poll before sleeping. A caller's batch calls come back-to-back
// with its own Python work between them (an agent choosing 256 actions takes
// tens of microseconds), and a wake-up from sleep on a virtual machine costs
// more than the polling: a worker that falls asleep between calls arrives when
// the caller has done most of the next one alone.
constexpr auto SPIN_TIME = std::chrono::microseconds(500);
// Reading the clock costs about two pauses: read it once per this many.
constexpr int PAUSES_PER_CLOCK = 32;

template <class T, class Done>
void spin_then_wait(const std::atomic<T>& value, T seen, Done&& done) {
    const auto until = std::chrono::steady_clock::now() + SPIN_TIME;
    do {
        for (int i = 0; i < PAUSES_PER_CLOCK; ++i) {
            if (done()) return;
            _mm_pause();
        }
    } while (std::chrono::steady_clock::now() < until);
    while (!done()) value.wait(seen, std::memory_order_acquire);
}

// Runs the caller's own work; what it throws waits for the job, which reads
// the caller's frame, to finish first.
std::exception_ptr call_catching(void (*call)(void*), void* context) {
    try {
        call(context);
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

}  // namespace

WorkerPool::WorkerPool(std::size_t threads) : shares_(std::make_unique<Share[]>(std::max<std::size_t>(threads, 1))) {
    for (std::size_t i = 1; i < threads; ++i) workers_.emplace_back([this, i] { worker_loop(i); });
}

WorkerPool::~WorkerPool() {
    generation_.store(STOP, std::memory_order_release);
    generation_.notify_all();
    for (std::thread& t : workers_) t.join();
}

void WorkerPool::take_chunks(std::size_t home) {
    const Job& job = *job_;
    const std::size_t threads = this->threads();
    for (std::size_t k = 0; k < threads; ++k) {
        Share& share = shares_[(home + k) % threads];
        for (;;) {
            const std::size_t begin = share.next.fetch_add(job.chunk, std::memory_order_relaxed);
            if (begin >= share.end) break;
            job.call(job.context, begin, std::min(share.end, begin + job.chunk));
        }
    }
}

void WorkerPool::run_job(const Job& job, Call meanwhile) {
    if (workers_.empty() || job.count <= job.chunk) {
        const std::exception_ptr failed = call_catching(meanwhile.call, meanwhile.context);
        if (job.count) job.call(job.context, 0, job.count);
        if (failed) std::rethrow_exception(failed);
        return;
    }
    job_ = &job;
    const std::size_t threads = this->threads();
    for (std::size_t t = 0; t < threads; ++t) {
        shares_[t].next.store(job.count * t / threads, std::memory_order_relaxed);
        shares_[t].end = job.count * (t + 1) / threads;
    }
    // fetch_or, not store: a late worker of the last job may still be counted
    // for an instant on its way out.
    gate_.fetch_or(OPEN, std::memory_order_release);
    generation_.fetch_add(1, std::memory_order_release);
    generation_.notify_all();
    const std::exception_ptr failed = call_catching(meanwhile.call, meanwhile.context);
    take_chunks(0);
    for (std::uint64_t inside = gate_.fetch_and(~OPEN, std::memory_order_acq_rel) & ~OPEN; inside != 0;
         inside = gate_.load(std::memory_order_acquire)) {
        spin_then_wait(gate_, inside, [&] { return gate_.load(std::memory_order_acquire) != inside; });
    }
    job_ = nullptr;
    if (failed) std::rethrow_exception(failed);
}

void WorkerPool::help(std::size_t home) {
    // Entering after the caller closed the gate: the job is done or is another
    // one's; leave without touching it.
    if (gate_.fetch_add(1, std::memory_order_acq_rel) & OPEN) take_chunks(home);
    if (((gate_.fetch_sub(1, std::memory_order_acq_rel) - 1) & ~OPEN) == 0) gate_.notify_one();
}

void WorkerPool::worker_loop(std::size_t home) {
    std::uint64_t seen = 0;
    for (;;) {
        spin_then_wait(generation_, seen, [&] { return generation_.load(std::memory_order_acquire) != seen; });
        seen = generation_.load(std::memory_order_acquire);
        if (seen == STOP) return;
        help(home);
    }
}

}  // namespace tavik
