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
#include "chain/chain_finder.hpp"
#include "field/bit_field.hpp"
#include "hand.hpp"
#include "pair.hpp"

using namespace tavik;
using namespace tavik::bench;

namespace {

constexpr std::uint64_t SEED = 20261210;
constexpr int FIELDS_PER_KIND = 400;

PuyoType colour(std::mt19937_64& rng) { return PuyoType::from_number_unchecked(PuyoType::RED + rng() % 4); }

bool is_high(const BitField& f) {
    for (std::uint64_t x = 1; x <= 6; ++x)
        if (f.get_height(x) >= 11) return true;
    return false;
}

// Games of random hands; each field is taken after a hand, before its chain.
void add_played(std::vector<BitField>& out, std::mt19937_64& rng) {
    const std::size_t goal = out.size() + FIELDS_PER_KIND;
    while (out.size() < goal) {
        BitField f;
        while (out.size() < goal && !is_high(f)) {
            const Hand& hand = Hand::enumerate()[rng() % Hand::enumerate().size()];
            const Pair pair(colour(rng), colour(rng));
            (void)f.put_hand(hand, pair);
            out.push_back(f);
            (void)f.chain();
        }
    }
}

// Every column stacked from the floor to a random height (0..12).
void add_heaps(std::vector<BitField>& out, std::mt19937_64& rng, unsigned ojama_in_five) {
    for (int i = 0; i < FIELDS_PER_KIND; ++i) {
        BitField f;
        for (std::uint64_t x = 1; x <= 6; ++x)
            for (std::uint64_t h = rng() % 13; h > 0; --h)
                f.put(x, rng() % 5 < ojama_in_five ? PuyoType(PuyoType::OJAMA) : colour(rng));
        out.push_back(f);
    }
}

const std::vector<BitField>& corpus() {
    static const std::vector<BitField> fields = [] {
        std::mt19937_64 rng(SEED);
        std::vector<BitField> out;
        add_played(out, rng);
        add_heaps(out, rng, 0);
        add_heaps(out, rng, 1);
        return out;
    }();
    return fields;
}

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
