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
    struct Job {
        std::size_t count;
        std::size_t chunk;
        void* context;
        void (*call)(void*, std::size_t, std::size_t);
    };

    // A thread's home share: the next chunk to take and where the share ends,
    // on a cache line of its own.
    struct alignas(64) Share {
        std::atomic<std::size_t> next{0};
        std::size_t end = 0;
    };

    struct Call {
        void* context;
        void (*call)(void*);
    };

    void run_job(const Job& job, Call meanwhile);
    void take_chunks(std::size_t home);
    void help(std::size_t home);
    void worker_loop(std::size_t home);

    std::vector<std::thread> workers_;
    const Job* job_ = nullptr;
    std::unique_ptr<Share[]> shares_;           // one per thread, the caller's first
    std::atomic<std::uint64_t> generation_{0};  // bumped to start a job; all ones to stop
    // The top bit: the job takes helpers; the rest: workers inside it. The
    // caller closes it once no chunk is left and waits only for those inside,
    // so a worker the machine has not scheduled yet never holds the call up.
    std::atomic<std::uint64_t> gate_{0};
};

}  // namespace tavik
