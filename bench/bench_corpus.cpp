// The common case beside the showcase: 1,200 settled fields from one fixed
// seed, a third each of
//   played   the field right after a hand of a random game, before its chain;
//   heaps    columns of random colours stacked to random heights;
//   ojama    random heights again, one cell in five OJAMA.
// Most fire nothing or a short chain. Timed as copy plus chain() of every
// field, and as find_by_extend on every field beside its bare chains (see
// bench_support.hpp). Figures are per field.
//
// Registered by register_corpus_benchmarks(), called from the bench binary's main.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "bench_support.hpp"
#include "corpus.hpp"
#include "chain/chain_finder.hpp"
#include "field/bit_field.hpp"
#include "hand.hpp"
#include "pair.hpp"

using namespace tavik;
using namespace tavik::bench;

namespace {

void copy_and_chain(benchmark::State& state) {
    const std::vector<BitField>& fields = corpus();
    std::uint64_t firing = 0;
    for (auto _ : state) {
        firing = 0;
        for (const BitField& f : fields) {
            BitField copy = f;
            benchmark::DoNotOptimize(copy);
            ChainResult r = copy.chain();
            firing += r.score() != 0;
            benchmark::DoNotOptimize(r);
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * fields.size()));
    state.counters["fields"] = static_cast<double>(fields.size());
    state.counters["firing"] = static_cast<double>(firing);
}

std::vector<ChainFinder::CandidateSet> corpus_candidates() {
    std::vector<ChainFinder::CandidateSet> out;
    for (const BitField& f : corpus()) out.push_back(ChainFinder::extension_candidates(f));
    return out;
}

std::uint64_t bare_corpus_work(const std::vector<BitField>& fields,
                               const std::vector<ChainFinder::CandidateSet>& candidates) {
    std::uint64_t chains = 0;
    for (std::size_t i = 0; i < fields.size(); ++i) chains += bare_extension_work(fields[i], candidates[i]);
    return chains;
}

void extend(benchmark::State& state) {
    const std::vector<BitField>& fields = corpus();
    const std::vector<ChainFinder::CandidateSet> candidates = corpus_candidates();
    run_timed(
        state,
        [&] {
            std::uint64_t finds = 0;
            for (const BitField& f : fields) finds += ChainFinder::find_by_extend(f).size();
            return finds;
        },
        [&] { return bare_corpus_work(fields, candidates); });
}

// The best find of each field, building no find, beside the same bare chains.
// Its "finds" are the fields with a chain to find.
// Registered only where the finder has it, so this file also builds against
// older cores for side-by-side figures.
template <class Finder>
void best_extension(benchmark::State& state) {
    const std::vector<BitField>& fields = corpus();
    const std::vector<ChainFinder::CandidateSet> candidates = corpus_candidates();
    run_timed(
        state,
        [&] {
            std::uint64_t firing = 0;
            for (const BitField& f : fields) firing += Finder::best_by_extend(f).score != 0;
            return firing;
        },
        [&] { return bare_corpus_work(fields, candidates); });
}

template <class Finder>
void register_best_extension() {
    if constexpr (requires(const BitField& f) { Finder::best_by_extend(f); })
        benchmark::RegisterBenchmark("corpus/best_by_extend", best_extension<Finder>)->UseManualTime();
}

}  // namespace

void register_corpus_benchmarks() {
    benchmark::RegisterBenchmark("corpus/copy+chain", copy_and_chain);
    benchmark::RegisterBenchmark("corpus/find_by_extend", extend)->UseManualTime();
    register_best_extension<ChainFinder>();
}
