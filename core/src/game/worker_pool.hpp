#pragma once
// A fixed set of worker threads that run one batch job at a time with the
// calling thread, for batch calls that come thousands of times a second:
// starting threads per call would cost more than the work.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>
#include <type_traits>
#include <vector>

namespace tavik {

class WorkerPool {
public:
    // `threads` counts the calling thread: 1 starts no worker.
    explicit WorkerPool(std::size_t threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    std::size_t threads() const { return workers_.size() + 1; }

    // Calls work(begin, end) over [0, count) in chunks of `chunk`, on every
    // thread of the pool, and returns when all are done. Each thread has a
    // home share of the range, the same in every job of the same count, and
    // takes chunks from its own share first: back-to-back jobs over the same
    // data keep each item on one core's cache, where items handed to whichever
    // thread came first would move between cores at every job and cost more
    // than a second thread gains. A thread done with its share takes chunks
    // from the others', so one the machine delays holds nothing up.
    // count must be below 2^32 / (threads + 1).
    template <class Work>
    void run(std::size_t count, std::size_t chunk, Work& work) {
        run(count, chunk, work, [] {});
    }
    // As run, and calls meanwhile() on the calling thread once the other
    // threads have the job, before it takes chunks itself: the caller's own
    // serial work overlaps theirs. The job is complete when run returns, also
    // when meanwhile throws (the exception is then rethrown).
    template <class Work, class Meanwhile>
    void run(std::size_t count, std::size_t chunk, Work& work, Meanwhile&& meanwhile) {
        Job job{count, chunk, &work, [](void* w, std::size_t b, std::size_t e) { (*static_cast<Work*>(w))(b, e); }};
        run_job(job, {&meanwhile, [](void* m) { (*static_cast<std::remove_reference_t<Meanwhile>*>(m))(); }});
    }

private:
    // Every line below is written by one side only in the usual job, so a
    // job costs each side about one wait for a line the other wrote: between
    // two cores of a virtual machine that wait is a few hundred nanoseconds,
    // and a job of a few microseconds has room for very few of them.
    struct Job {
        std::size_t count;
        std::size_t chunk;
        void* context;
        void (*call)(void*, std::size_t, std::size_t);
    };

    // What the caller publishes, on the line the workers watch: job g is
    // readable once generation is g, and a worker that comes in after closed
    // reached g leaves it alone.
    struct alignas(64) Post {
        std::atomic<std::uint32_t> generation{0};
        std::atomic<std::uint32_t> closed{0};
        std::atomic<bool> stop{false};
        Job job{};
    };

    // A home share's claims: the generation of the job it was last started
    // for in the top half, the next index in the bottom half. The first claim
    // of a job starts the share, so the caller never writes a worker's line.
    struct alignas(64) Share {
        std::atomic<std::uint64_t> next{0};
    };

    // A worker's place in the jobs: 2·g while inside job g, 2·g + 1 after.
    struct alignas(64) Presence {
        std::atomic<std::uint32_t> state{1};
    };

    // Threads that sleep rather than poll, apart from the lines polled.
    struct alignas(64) Sleepers {
        std::atomic<std::uint32_t> workers{0};
        std::atomic<std::uint32_t> caller{0};
    };

    struct Call {
        void* context;
        void (*call)(void*);
    };

    void run_job(const Job& job, Call meanwhile);
    void take_chunks(const Job& job, std::uint32_t generation, std::size_t home);
    void wait_for(std::size_t worker, std::uint32_t generation);
    void worker_loop(std::size_t home);

    std::vector<std::thread> workers_;
    Post post_;
    std::unique_ptr<Share[]> shares_;       // one per thread, the caller's first
    std::unique_ptr<Presence[]> presence_;  // one per worker (thread 1 is worker 0)
    Sleepers sleepers_;
    std::uint32_t generation_ = 0;  // the caller's copy of post_.generation
};

}  // namespace tavik
