// The pool's hand-off: the caller posts a job and its generation on one line,
// each thread starts and claims its own share on its own line, and each worker
// marks on its own line when it is inside a job and when it is out.
#include "game/worker_pool.hpp"

#include <algorithm>
#include <chrono>
#include <exception>

#include "cpu_hints.hpp"
#include "panic.hpp"

namespace tavik {

namespace {

constexpr std::uint64_t INDEX = 0xFFFFFFFFull;
// How long to poll before sleeping. A caller's batch calls come back-to-back
// with its own Python work between them (an agent choosing 256 actions takes
// tens of microseconds), and a wake-up from sleep on a virtual machine costs
// more than the polling: a worker that falls asleep between calls arrives when
// the caller has done most of the next one alone.
constexpr auto SPIN_TIME = std::chrono::microseconds(500);
// Reading the clock costs about two pauses: read it once per this many.
constexpr int PAUSES_PER_CLOCK = 32;

// Polls done() for SPIN_TIME; true when it came true meanwhile.
template <class Done>
bool poll(Done&& done) {
    const auto until = std::chrono::steady_clock::now() + SPIN_TIME;
    do {
        for (int i = 0; i < PAUSES_PER_CLOCK; ++i) {
            if (done()) return true;
            spin_pause();
        }
    } while (std::chrono::steady_clock::now() < until);
    return false;
}

// Whether generation g is at or past `seen`, across the wrap of the counter.
bool reached(std::uint32_t g, std::uint32_t seen) { return static_cast<std::int32_t>(g - seen) >= 0; }

std::uint32_t inside(std::uint32_t generation) { return 2 * generation; }
std::uint32_t out_of(std::uint32_t generation) { return 2 * generation + 1; }

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

WorkerPool::WorkerPool(std::size_t threads)
    : shares_(std::make_unique<Share[]>(std::max<std::size_t>(threads, 1))),
      presence_(std::make_unique<Presence[]>(std::max<std::size_t>(threads, 1))) {
    for (std::size_t i = 1; i < threads; ++i) workers_.emplace_back([this, i] { worker_loop(i); });
}

WorkerPool::~WorkerPool() {
    post_.stop.store(true, std::memory_order_relaxed);
    post_.generation.store(++generation_, std::memory_order_seq_cst);
    post_.generation.notify_all();
    for (std::thread& t : workers_) t.join();
}

void WorkerPool::take_chunks(const Job& job, std::uint32_t generation, std::size_t home) {
    const std::size_t threads = this->threads();
    const std::uint64_t tag = std::uint64_t{generation} << 32;
    for (std::size_t k = 0; k < threads; ++k) {
        const std::size_t t = (home + k) % threads;
        Share& share = shares_[t];
        const std::size_t start = job.count * t / threads, end = job.count * (t + 1) / threads;
        std::uint64_t v = share.next.load(std::memory_order_relaxed);
        if ((v & ~INDEX) == tag && (v & INDEX) >= end) continue;  // done: leave the owner's line alone
        std::size_t begin;
        if ((v & ~INDEX) != tag &&
            share.next.compare_exchange_strong(v, tag | (start + job.chunk), std::memory_order_relaxed)) {
            begin = start;  // started the share for this job with its first chunk
        } else {
            begin = share.next.fetch_add(job.chunk, std::memory_order_relaxed) & INDEX;
        }
        while (begin < end) {
            job.call(job.context, begin, std::min(end, begin + job.chunk));
            begin = share.next.fetch_add(job.chunk, std::memory_order_relaxed) & INDEX;
        }
    }
}

void WorkerPool::wait_for(std::size_t worker, std::uint32_t generation) {
    std::atomic<std::uint32_t>& state = presence_[worker].state;
    const std::uint32_t busy = inside(generation);
    if (poll([&] { return state.load(std::memory_order_acquire) != busy; })) return;
    // The worker reads `caller` after marking itself out, and this thread
    // reads the mark after raising `caller`: one of the two sees the other.
    sleepers_.caller.store(1, std::memory_order_seq_cst);
    while (state.load(std::memory_order_seq_cst) == busy) state.wait(busy, std::memory_order_acquire);
    sleepers_.caller.store(0, std::memory_order_relaxed);
}

void WorkerPool::run_job(const Job& job, Call meanwhile) {
    if (workers_.empty() || job.count <= job.chunk) {
        const std::exception_ptr failed = call_catching(meanwhile.call, meanwhile.context);
        if (job.count) job.call(job.context, 0, job.count);
        if (failed) std::rethrow_exception(failed);
        return;
    }
    // A share's claims count on in 32 bits: every thread may claim one chunk
    // past each share's end.
    if (job.count > INDEX / (threads() + 1)) panic("WorkerPool: a job too large for its claim counters");
    const std::uint32_t generation = ++generation_;
    post_.job = job;
    post_.generation.store(generation, std::memory_order_release);
    // A worker that starts to sleep just now misses this job, which the
    // threads awake take whole; the next job wakes it.
    if (sleepers_.workers.load(std::memory_order_relaxed)) post_.generation.notify_all();
    const std::exception_ptr failed = call_catching(meanwhile.call, meanwhile.context);
    take_chunks(job, generation, 0);
    // Closed before looking at the workers, who look at closed after marking
    // themselves inside: a worker this thread sees outside stays out.
    post_.closed.store(generation, std::memory_order_seq_cst);
    for (std::size_t w = 0; w < workers_.size(); ++w) {
        if (presence_[w].state.load(std::memory_order_seq_cst) == inside(generation)) wait_for(w, generation);
    }
    if (failed) std::rethrow_exception(failed);
}

void WorkerPool::worker_loop(std::size_t home) {
    std::atomic<std::uint32_t>& state = presence_[home - 1].state;
    std::uint32_t seen = 0;
    for (;;) {
        auto posted = [&] { return post_.generation.load(std::memory_order_acquire) != seen; };
        if (!poll(posted)) {
            sleepers_.workers.fetch_add(1, std::memory_order_seq_cst);
            while (!posted()) post_.generation.wait(seen, std::memory_order_acquire);
            sleepers_.workers.fetch_sub(1, std::memory_order_relaxed);
        }
        seen = post_.generation.load(std::memory_order_acquire);
        if (post_.stop.load(std::memory_order_relaxed)) return;
        state.store(inside(seen), std::memory_order_seq_cst);
        if (!reached(post_.closed.load(std::memory_order_seq_cst), seen)) {
            // Not closed, so the caller waits for this mark: the job is still
            // the one posted as `seen`.
            const Job job = post_.job;
            take_chunks(job, seen, home);
        }
        state.store(out_of(seen), std::memory_order_seq_cst);
        if (sleepers_.caller.load(std::memory_order_seq_cst)) state.notify_one();
    }
}

}  // namespace tavik
