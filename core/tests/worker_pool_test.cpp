#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "game/worker_pool.hpp"

using namespace tavik;

TEST(WorkerPoolTest, EveryIndexIsVisitedExactlyOnceOnEveryPoolSize) {
    for (std::size_t threads : {1u, 2u, 3u}) {
        WorkerPool pool(threads);
        for (std::size_t count : {0u, 1u, 15u, 16u, 17u, 1000u}) {
            std::vector<std::atomic<int>> visits(count);
            auto work = [&](std::size_t begin, std::size_t end) {
                for (std::size_t i = begin; i < end; ++i) visits[i].fetch_add(1);
            };
            pool.run(count, 16, work);
            for (std::size_t i = 0; i < count; ++i) ASSERT_EQ(visits[i].load(), 1) << threads << " threads, " << count;
        }
    }
}

TEST(WorkerPoolTest, BackToBackJobsSeeTheResultsOfTheLast) {
    WorkerPool pool(2);
    std::vector<long> values(256, 0);
    for (int round = 0; round < 2000; ++round) {
        auto work = [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) values[i] += 1;
        };
        pool.run(values.size(), 8, work);
    }
    for (long v : values) ASSERT_EQ(v, 2000);
}

// More threads than cores: workers often wake after the caller has taken every
// chunk. Each round's work and counters live only in that round, so a worker
// that ran a finished job, or missed waiting for, would show here (or under
// the sanitizers) as a wrong count.
TEST(WorkerPoolTest, LateWorkersNeverTouchAFinishedJob) {
    WorkerPool pool(4);
    for (std::size_t round = 0; round < 3000; ++round) {
        const std::size_t count = 17 + round % 40;
        std::vector<std::atomic<int>> visits(count);
        auto work = [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) visits[i].fetch_add(1, std::memory_order_relaxed);
        };
        pool.run(count, 4, work);
        for (std::size_t i = 0; i < count; ++i) ASSERT_EQ(visits[i].load(), 1) << "round " << round << ", index " << i;
    }
}

// The caller's own work runs once, beside the job; when it throws, the job
// still finishes before the exception leaves (the job reads the caller's frame).
TEST(WorkerPoolTest, MeanwhileRunsOnceAndItsExceptionWaitsForTheJob) {
    for (std::size_t threads : {1u, 2u}) {
        WorkerPool pool(threads);
        std::vector<std::atomic<int>> visits(300);
        auto work = [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) visits[i].fetch_add(1);
        };
        int calls = 0;
        pool.run(visits.size(), 4, work, [&] { ++calls; });
        EXPECT_EQ(calls, 1);
        EXPECT_THROW(pool.run(visits.size(), 4, work, [] { throw std::runtime_error("meanwhile"); }),
                     std::runtime_error);
        for (const std::atomic<int>& v : visits) ASSERT_EQ(v.load(), 2) << threads << " threads";
    }
}

// Workers fall asleep after half a millisecond without a job, and a caller
// waiting that long for a worker inside a job sleeps too: both must be woken.
TEST(WorkerPoolTest, SleepingWorkersAndASleepingCallerAreWoken) {
    WorkerPool pool(2);
    std::vector<std::atomic<int>> visits(64);
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<int> by_worker{0};
    auto work = [&](std::size_t begin, std::size_t end) {
        if (std::this_thread::get_id() != caller) {
            by_worker.fetch_add(1);
            // Long enough that the caller, done with its share, goes to sleep.
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        } else {
            // Long enough that a worker woken from sleep arrives in time.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        for (std::size_t i = begin; i < end; ++i) visits[i].fetch_add(1);
    };
    for (int round = 0; round < 20; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));  // the worker sleeps
        pool.run(visits.size(), 8, work);
    }
    for (const std::atomic<int>& v : visits) ASSERT_EQ(v.load(), 20);
    // A worker falling asleep just as a job comes misses that job only.
    EXPECT_GE(by_worker.load(), 5);
}
