// The chain finder's three searches on the bit field. Besides the time per
// search, every benchmark reports finds per second and chains simulated per
// second, and `overhead`: the search's time over the time of the bare work it
// cannot avoid (copy the field, drop the trial puyos or clear the group, run
// the chain, once per chain simulated), both measured in the same run. 1.00
// means the search costs nothing on top of its chains; with no chain to run
// (the nineteen-chain field has no extension) the ratio means nothing.
//
// Registered by register_chain_finder_benchmarks(), called from the bench
// binary's main: no registration objects run at load time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "chain/chain_finder.hpp"
#include "field/bit_field.hpp"
#include "bench_support.hpp"

using namespace tavik;
using namespace tavik::bench;

namespace {

struct FinderSample {
    const char* name;
    std::vector<std::string_view> rows;  // top first; the last is row 14
};

const std::vector<FinderSample>& finder_samples() {
    static const std::vector<FinderSample> all = {
        {"midgame", {"  Y   ", " GB  R", "RRYGBY", "BBYRGG", "GYBRRB", "GYYBRB"}},
        {"nineteen",
         {" G BRG", "GBRRYR", "RRYYBY", "RGYRBR", "YGYRBY", "YGBGYR", "GRBGYR", "BRBYBY", "RYYBYY", "BRBYBR", "BGBYRR",
          "YGBGBG", "RBGBGG"}},
        // Singles and pairs everywhere, each next to an empty cell.
        {"small_groups", {"R B Y ", "GYRBGR", "BRGYBY", "YGBRGB", "RBYGRY"}}};
    return all;
}

BitField make(const FinderSample& s) { return unwrap(BitField::from_str_array(s.rows)); }

// One level of the recursive search over `earlier`, prepared outside the timed
// loop: every earlier field, and for every pair of finds the puyos dropped
// into the rebuilt field.
struct Level {
    std::vector<BitField> fields;
    std::vector<ChainFinder::CandidateSet> candidates;
    std::vector<std::vector<std::pair<std::uint64_t, PuyoType>>> rebuilds;
};

Level prepare_level(const FoundChainList<BitField>& earlier) {
    Level level;
    for (const FoundChain<BitField>& before : earlier) {
        level.fields.push_back(before.field);
        level.candidates.push_back(ChainFinder::extension_candidates(before.field));
        for (const FoundChain<BitField>& ext : ChainFinder::find_by_extend(before.field)) {
            std::vector<std::pair<std::uint64_t, PuyoType>> drops;
            for (const Connection& c : before.extensions)
                for (const Position& p : *c.positions) drops.emplace_back(p.x, c.puyotype);
            for (const Connection* c : {&before.trigger, &ext.trigger})
                for (const Position& p : *c->positions) drops.emplace_back(p.x, c->puyotype);
            level.rebuilds.push_back(std::move(drops));
        }
    }
    return level;
}

// The extension work on every earlier field, then a rebuild and a chain per pair.
std::uint64_t bare_level_work(const BitField& field, const Level& level) {
    std::uint64_t chains = 0;
    for (std::size_t i = 0; i < level.fields.size(); ++i)
        chains += bare_extension_work(level.fields[i], level.candidates[i]);
    for (const auto& drops : level.rebuilds) {
        BitField copy = field;
        for (const auto& [x, t] : drops) copy.put(x, t);
        ChainResult r = copy.chain();
        benchmark::DoNotOptimize(r);
        ++chains;
    }
    return chains;
}

void extend(benchmark::State& state, const FinderSample& s) {
    const BitField field = make(s);
    const auto candidates = ChainFinder::extension_candidates(field);
    run_timed(
        state, [&] { return ChainFinder::find_by_extend(field); },
        [&] { return bare_extension_work(field, candidates); });
}

void extend_recursive(benchmark::State& state, const FinderSample& s, std::uint64_t depth) {
    const BitField field = make(s);
    const auto candidates = ChainFinder::extension_candidates(field);
    // The bare work of depth d: depth d - 1's, then one more level.
    std::vector<Level> levels;
    try {
        for (std::uint64_t d = 1; d < depth; ++d)
            levels.push_back(prepare_level(ChainFinder::find_by_extend_recursive(field, d)));
        (void)ChainFinder::find_by_extend_recursive(field, depth);
    } catch (const Panic& p) {
        state.SkipWithError(p.what());
        return;
    }
    run_timed(
        state, [&] { return ChainFinder::find_by_extend_recursive(field, depth); },
        [&] {
            std::uint64_t chains = bare_extension_work(field, candidates);
            for (const Level& level : levels) chains += bare_level_work(field, level);
            return chains;
        });
}

// The bare work of a removal search: a copy, the group cleared and a chain per
// vanishable group.
void removal(benchmark::State& state, const FinderSample& s) {
    const BitField field = make(s);
    const ConnectionList groups = field.get_vanishable_connections();
    run_timed(
        state, [&] { return ChainFinder::find_by_removal(field); },
        [&] {
            std::uint64_t chains = 0;
            for (const Connection& c : groups) {
                BitField copy = field;
                for (const Position& p : *c.positions) copy.set(p.x, p.y, PuyoType::EMPTY);
                ChainResult r = copy.chain();
                benchmark::DoNotOptimize(r);
                ++chains;
            }
            return chains;
        });
}

}  // namespace

void register_chain_finder_benchmarks() {
    for (const FinderSample& s : finder_samples()) {
        const std::string name = s.name;
        benchmark::RegisterBenchmark(("find_by_extend/" + name).c_str(), extend, s)->UseManualTime();
        for (std::uint64_t depth : {2, 3})
            benchmark::RegisterBenchmark(
                ("find_by_extend_recursive/" + name + "/depth:" + std::to_string(depth)).c_str(), extend_recursive, s,
                depth)
                ->UseManualTime();
        benchmark::RegisterBenchmark(("find_by_removal/" + name).c_str(), removal, s)->UseManualTime();
    }
}
