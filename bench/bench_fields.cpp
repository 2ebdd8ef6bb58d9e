// Field operations on both implementations. After the usual table it prints,
// for every operation and field, how many times faster BitField ran than
// ArrayField in this same run (CPU time per iteration, which a busy machine
// disturbs less than wall time).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "field/array_field.hpp"
#include "field/bit_field.hpp"

using namespace tavik;

namespace {

struct Sample {
    const char* name;
    std::vector<std::string_view> rows;
};

const std::vector<Sample>& samples() {
    static const std::vector<Sample> all = {{"empty", {}},
                                            {"settled", {"  B   ", " YG  R", "RBGY R", "RRBGYB", "BYYRGB", "BGGRYB"}},
                                            {"midgame", {"B  R  ", "GYYR G", "RBBYYG", "RRRBBB"}},
                                            {"nineteen",
                                             {" G BRG", "GBRRYR", "RRYYBY", "RGYRBR", "YGYRBY", "YGBGYR", "GRBGYR",
                                              "BRBYBY", "RYYBYY", "BRBYBR", "BGBYRR", "YGBGBG", "RBGBGG"}}};
    return all;
}

template <class F>
F make(const Sample& s) {
    return unwrap(F::from_str_array(s.rows));
}

template <class F>
void copy_and_chain(benchmark::State& state, const Sample& s) {
    const F f = make<F>(s);
    for (auto _ : state) {
        F copy = f;
        benchmark::DoNotOptimize(copy);
        ChainResult r = copy.chain();
        benchmark::DoNotOptimize(r);
    }
}

template <class F>
void vanish(benchmark::State& state, const Sample& s) {
    const F f = make<F>(s);
    for (auto _ : state) {
        F copy = f;
        benchmark::DoNotOptimize(copy);
        ConnectionList groups = copy.vanish();
        benchmark::DoNotOptimize(groups);
        benchmark::DoNotOptimize(copy);
    }
}

// Drop on the field as its first vanish left it: something to close up.
template <class F>
void drop(benchmark::State& state, const Sample& s) {
    F f = make<F>(s);
    (void)f.vanish();
    for (auto _ : state) {
        F copy = f;
        benchmark::DoNotOptimize(copy);
        copy.drop();
        benchmark::DoNotOptimize(copy);
    }
}

template <class F>
void put(benchmark::State& state, const Sample& s) {
    const F f = make<F>(s);
    for (auto _ : state) {
        F copy = f;
        benchmark::DoNotOptimize(copy);
        auto p = copy.put(3, PuyoType::RED);
        benchmark::DoNotOptimize(p);
        benchmark::DoNotOptimize(copy);
    }
}

template <class F>
void copy_only(benchmark::State& state, const Sample& s) {
    const F f = make<F>(s);
    for (auto _ : state) {
        F copy = f;
        benchmark::DoNotOptimize(copy);
    }
}

// A chain of 1000 dependent additions: 1000 cycles. It tells what a cycle cost
// in this run, so the figures can be read on a busy or throttled machine.
void cycle_calibration(benchmark::State& state) {
    std::uint64_t x = 1;
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i) asm volatile("add $1, %0" : "+r"(x));
        benchmark::DoNotOptimize(x);
    }
}

template <class F>
const char* field_name();
template <>
const char* field_name<ArrayField>() {
    return "ArrayField";
}
template <>
const char* field_name<BitField>() {
    return "BitField";
}

template <class F>
void register_all() {
    using Fn = void (*)(benchmark::State&, const Sample&);
    const std::pair<const char*, Fn> ops[] = {{"copy+chain", copy_and_chain<F>},
                                              {"vanish", vanish<F>},
                                              {"drop", drop<F>},
                                              {"put", put<F>},
                                              {"copy", copy_only<F>}};
    for (const auto& [op, fn] : ops)
        for (const Sample& s : samples()) {
            const std::string name = std::string(op) + "/" + field_name<F>() + "/" + s.name;
            benchmark::RegisterBenchmark(name.c_str(), fn, s);
        }
}

// Keeps each run's time per iteration by name, beside the normal console output.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    // With repetitions, the fastest repetition (or the median, when only
    // aggregates are reported) stands for the benchmark.
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const std::string name = run.run_name.str();
            const double ns = run.GetAdjustedCPUTime();
            if (run.run_type == Run::RT_Iteration) {
                const auto it = ns_.find(name);
                if (it == ns_.end() || ns < it->second) ns_[name] = ns;
            } else if (run.aggregate_name == "median" && !ns_.count(name)) {
                ns_[name] = ns;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void print_ratios() const {
        const auto cal = ns_.find("cycle_calibration");
        const double ns_per_cycle = cal == ns_.end() ? 0 : cal->second / 1000;
        if (ns_per_cycle > 0)
            std::printf("\none cycle took %.3f ns (%.2f GHz effective)\n", ns_per_cycle, 1 / ns_per_cycle);
        std::printf("\n%-12s %-10s %14s %14s %10s %16s\n", "operation", "field", "ArrayField ns", "BitField ns",
                    "Array:Bit", "BitField cycles");
        for (const char* op : {"copy+chain", "vanish", "drop", "put", "copy"})
            for (const Sample& s : samples()) {
                const auto a = ns_.find(std::string(op) + "/ArrayField/" + s.name);
                const auto b = ns_.find(std::string(op) + "/BitField/" + s.name);
                if (b == ns_.end()) continue;
                const double cycles = ns_per_cycle > 0 ? b->second / ns_per_cycle : 0.0;
                if (a == ns_.end())
                    std::printf("%-12s %-10s %14s %14.1f %10s %16.0f\n", op, s.name, "-", b->second, "-", cycles);
                else
                    std::printf("%-12s %-10s %14.1f %14.1f %9.1fx %16.0f\n", op, s.name, a->second, b->second,
                                a->second / b->second, cycles);
            }
    }

private:
    std::map<std::string, double> ns_;
};

}  // namespace

void register_chain_finder_benchmarks();  // bench_chain_finder.cpp
void register_corpus_benchmarks();        // bench_corpus.cpp

int main(int argc, char** argv) {
    benchmark::RegisterBenchmark("cycle_calibration", cycle_calibration);
    register_all<ArrayField>();
    register_all<BitField>();
    register_chain_finder_benchmarks();
    register_corpus_benchmarks();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_ratios();
    benchmark::Shutdown();
    return 0;
}
