#pragma once
// A fixed set of worker threads that run one batch job at a time with the
// calling thread, for batch calls that come thousands of times a second:
// starting threads per call would cost more than the work.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>
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
    // thread of the pool, and returns when all are done. Chunks are taken
    // from a shared counter, so a thread the machine delays takes fewer.
    template <class Work>
    void run(std::size_t count, std::size_t chunk, Work& work) {
        Job job{count, chunk, &work, [](void* w, std::size_t b, std::size_t e) { (*static_cast<Work*>(w))(b, e); }};
        run_job(job);
    }

private:
    struct Job {
        std::size_t count;
        std::size_t chunk;
        void* context;
        void (*call)(void*, std::size_t, std::size_t);
    };

    void run_job(const Job& job);
    void take_chunks();
    void help();
    void worker_loop();

    std::vector<std::thread> workers_;
    const Job* job_ = nullptr;
    std::atomic<std::size_t> next_{0};
    std::atomic<std::uint64_t> generation_{0};  // bumped to start a job; all ones to stop
    // The top bit: the job takes helpers; the rest: workers inside it. The
    // caller closes it once no chunk is left and waits only for those inside,
    // so a worker the machine has not scheduled yet never holds the call up.
    std::atomic<std::uint64_t> gate_{0};
};

}  // namespace tavik
