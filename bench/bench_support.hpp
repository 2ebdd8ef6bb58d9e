#pragma once
// What the chain finder and corpus benchmarks share: a thread CPU clock, the
// bare work of an extension search, and the timing of a search beside it.
#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <cstdint>

#include "chain/chain_finder.hpp"
#include "field/bit_field.hpp"

namespace tavik::bench {

// Thread CPU time: the machine is shared, and a search preempted halfway must
// not count the other process's time.
inline double cpu_seconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// The unavoidable work of one extension search, given its candidates (found
// outside the timed loop): for every candidate, copy, drop, and run the chain
// when the drops fit. Returns the chains run.
inline std::uint64_t bare_extension_work(const BitField& field, const ChainFinder::CandidateSet& candidates) {
    std::uint64_t chains = 0;
    for (const ChainFinder::Candidate& c : candidates) {
        BitField copy = field;
        bool placed = true;
        for (std::uint8_t i = 0; i < c.count && placed; ++i) {
            const auto p = copy.put(c.x, c.puyotype());
            placed = p && p->y >= 2;
        }
        if (!placed) continue;
        ChainResult r = copy.chain();
        benchmark::DoNotOptimize(r);
        ++chains;
    }
    return chains;
}

// A search's finds: the length of its list, or a count it returns itself.
template <class List>
std::uint64_t count_of(const List& finds) {
    return finds.size();
}
inline std::uint64_t count_of(std::uint64_t finds) { return finds; }

// Times `search` and the bare work alternately, each in batches long enough
// for the clock, so both see the same machine state. The benchmark's own time
// is the search's, per search.
template <class Search, class BareWork>
void run_timed(benchmark::State& state, Search search, BareWork bare) {
    double t0 = cpu_seconds();
    benchmark::DoNotOptimize(search());
    const double once = cpu_seconds() - t0;
    const int batch = static_cast<int>(std::clamp(50e-6 / std::max(once, 1e-9), 1.0, 1000.0));
    double search_s = 0;
    double bare_s = 0;
    std::uint64_t finds = 0;
    std::uint64_t chains = 0;
    for (auto _ : state) {
        t0 = cpu_seconds();
        for (int i = 0; i < batch; ++i) {
            auto result = search();
            benchmark::DoNotOptimize(result);
            finds = count_of(result);
        }
        const double s = cpu_seconds() - t0;
        state.SetIterationTime(s / batch);
        search_s += s;
        t0 = cpu_seconds();
        for (int i = 0; i < batch; ++i) chains = bare();
        bare_s += cpu_seconds() - t0;
    }
    const double searches = static_cast<double>(state.iterations()) * batch;
    state.counters["finds"] = static_cast<double>(finds);
    state.counters["chains"] = static_cast<double>(chains);
    state.counters["finds/s"] = static_cast<double>(finds) * searches / search_s;
    state.counters["chains/s"] = static_cast<double>(chains) * searches / search_s;
    state.counters["overhead"] = search_s / bare_s;
}

}  // namespace tavik::bench
