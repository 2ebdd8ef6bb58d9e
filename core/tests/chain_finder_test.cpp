#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "chain/chain_finder.hpp"
#include "field/array_field.hpp"
#include "field/bit_field.hpp"

using namespace tavik;

namespace {

template <class F>
F rows(std::vector<std::string> text) {
    return F::template from_str_array<std::vector<std::string>>(text).value();
}

std::string panic_text(auto&& fn) {
    try {
        fn();
    } catch (const Panic& p) {
        return p.text();
    }
    return "<no panic>";
}

Connection trigger_at(std::vector<Position> positions, PuyoType t) {
    const std::uint64_t size = positions.size();
    return Connection{std::move(positions), size, t};
}

// (column, count, colour) of an extension find's trigger.
template <class F>
std::tuple<std::uint64_t, std::uint64_t, PuyoType::Value> key(const FoundChain<F>& f) {
    return {f.trigger.positions->front().x, f.trigger.size, f.trigger.puyotype};
}

template <class F>
const FoundChain<F>* find_with_trigger(const FoundChainList<F>& finds, const Connection& trigger) {
    for (const FoundChain<F>& f : finds)
        if (f.trigger.debug() == trigger.debug()) return &f;
    return nullptr;
}

template <class F>
std::vector<std::string> debugs(const FoundChainList<F>& finds) {
    std::vector<std::string> out;
    for (const FoundChain<F>& f : finds) out.push_back(f.debug());
    return out;
}

// Settled fields of random height built from random drops.
template <class F>
F random_field(std::uint32_t seed) {
    std::mt19937 rng(seed);
    F f;
    const PuyoType kinds[] = {PuyoType::RED, PuyoType::BLUE, PuyoType::YELLOW, PuyoType::GREEN, PuyoType::OJAMA};
    const int drops = std::uniform_int_distribution<int>(5, 60)(rng);
    for (int i = 0; i < drops; ++i) {
        const std::uint64_t x = std::uniform_int_distribution<std::uint64_t>(1, 6)(rng);
        const int k = std::uniform_int_distribution<int>(0, 9)(rng);
        f.put(x, kinds[k < 9 ? k % 4 : 4]);
    }
    f.chain();
    return f;
}

// A depth-2 result holds every depth-1 find (`first`) and new ones, extended
// once; sorted by score, highest first, equal scores in the order made: the
// depth-1 finds first, in their order.
template <class F>
void expect_sorted_keeping(const FoundChainList<F>& finds, const FoundChainList<F>& first) {
    std::vector<std::string> kept;
    bool seen_new_at_score = false;
    for (std::size_t i = 0; i < finds.size(); ++i) {
        if (i > 0) {
            EXPECT_GE(finds[i - 1].score, finds[i].score);
            if (finds[i - 1].score != finds[i].score) seen_new_at_score = false;
        }
        if (finds[i].extensions.empty()) {
            EXPECT_FALSE(seen_new_at_score) << "an earlier find after a new one of equal score";
            kept.push_back(finds[i].debug());
        } else {
            EXPECT_EQ(finds[i].extensions.size(), 1u);
            seen_new_at_score = true;
        }
    }
    std::vector<const FoundChain<F>*> expected;
    for (const FoundChain<F>& f : first) expected.push_back(&f);
    std::stable_sort(expected.begin(), expected.end(), [](auto* a, auto* b) { return a->score > b->score; });
    ASSERT_EQ(kept.size(), expected.size());
    for (std::size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(kept[i], expected[i]->debug());
}

}  // namespace

template <class F>
class ChainFinderTest : public testing::Test {};

using Fields = testing::Types<ArrayField, BitField>;
TYPED_TEST_SUITE(ChainFinderTest, Fields);

TYPED_TEST(ChainFinderTest, NothingToFind) {
    const TypeParam empty;
    EXPECT_TRUE(ChainFinder::find_by_extend(empty).empty());
    EXPECT_TRUE(ChainFinder::find_by_extend_recursive(empty, 3).empty());
    EXPECT_TRUE(ChainFinder::find_by_removal(empty).empty());
    // A group of four or more is no candidate.
    EXPECT_TRUE(ChainFinder::find_by_extend(rows<TypeParam>({"RRRR"})).empty());
}

TYPED_TEST(ChainFinderTest, RedThreeOnTheBottomRow) {
    const auto f = rows<TypeParam>({" RRR"});
    const auto finds = ChainFinder::find_by_extend(f);
    // One puyo above each of the three, and one beside either end.
    ASSERT_EQ(finds.size(), 5u);
    for (std::uint64_t x = 1; x <= 5; ++x) {
        const std::uint64_t y = x == 1 || x == 5 ? 14 : 13;
        const auto* find = find_with_trigger(finds, trigger_at({{x, y}}, PuyoType::RED));
        ASSERT_NE(find, nullptr) << "column " << x;
        EXPECT_EQ(find->chain, 1u);
        EXPECT_EQ(find->score, 40u);
        EXPECT_TRUE(find->field.is_all_clear());
        EXPECT_TRUE(find->extensions.empty());
        EXPECT_FALSE(find->depth);
    }
    EXPECT_EQ(f, rows<TypeParam>({" RRR"}));
}

TYPED_TEST(ChainFinderTest, CellsOfOneGroupTouchingOneColumnMakeOneCandidate) {
    // Both reds of column 1 touch column 2: one two-puyo find there, one above.
    const auto finds = ChainFinder::find_by_extend(rows<TypeParam>({"R", "R"}));
    ASSERT_EQ(finds.size(), 2u);
    std::set<std::uint64_t> columns;
    for (const auto& find : finds) {
        EXPECT_EQ(find.trigger.size, 2u);
        columns.insert(find.trigger.positions->front().x);
    }
    EXPECT_EQ(columns, (std::set<std::uint64_t>{1, 2}));
}

TYPED_TEST(ChainFinderTest, SameSizeSameColourGroupsTouchingOneColumnMakeOneCandidate) {
    // Two single reds split by a blue both touch column 2.
    const auto finds = ChainFinder::find_by_extend(rows<TypeParam>({"R", "B", "R"}));
    std::multiset<std::tuple<std::uint64_t, std::uint64_t, PuyoType::Value>> keys;
    for (const auto& find : finds) keys.insert(key(find));
    EXPECT_EQ(keys.count({2, 3, PuyoType::RED}), 1u);
    EXPECT_EQ(keys.count({1, 3, PuyoType::RED}), 1u);
    EXPECT_EQ(keys.count({2, 3, PuyoType::BLUE}), 1u);
    EXPECT_EQ(finds.size(), 3u);
    const auto* both = find_with_trigger(finds, trigger_at({{2, 14}, {2, 13}, {2, 12}}, PuyoType::RED));
    ASSERT_NE(both, nullptr);
    EXPECT_EQ(both->score, 100u);  // five reds at once
}

TYPED_TEST(ChainFinderTest, CandidatesReachingRowOneAreGivenUp) {
    // Column 1 is stacked to row 3 with a red on top; column 2 to row 4 under
    // three reds. Three reds dropped into column 2 would reach row 1 (and would
    // score); three into column 1 reach row 1 and then find it full.
    const auto f = rows<TypeParam>({"R", "BR", "YR", "BR", "YG", "BO", "YG", "BO", "YG", "BO", "YG", "BO"});
    const auto finds = ChainFinder::find_by_extend(f);
    for (const auto& find : finds) {
        EXPECT_FALSE(find.trigger.size == 3 && find.trigger.puyotype == PuyoType::RED) << find.trigger.debug();
        for (const Position& p : *find.trigger.positions) EXPECT_GE(p.y, 2u);
    }
    const auto* single = find_with_trigger(finds, trigger_at({{2, 3}}, PuyoType::RED));
    ASSERT_NE(single, nullptr);
    EXPECT_EQ(single->score, 100u);
}

TYPED_TEST(ChainFinderTest, RemovalLetsTheStackFallAndCountsTheDropPass) {
    // Taking the blue out drops the red above it onto three reds.
    const auto f = rows<TypeParam>({"R", "B", "R", "R", "R"});
    const auto finds = ChainFinder::find_by_removal(f);
    ASSERT_EQ(finds.size(), 1u);
    const auto& find = finds[0];
    EXPECT_EQ(find.chain, 2u);
    EXPECT_EQ(find.score, 320u);
    EXPECT_EQ(find.depth, std::optional<std::uint64_t>(1));
    EXPECT_EQ(find.trigger.debug(), trigger_at({{1, 11}}, PuyoType::BLUE).debug());
    EXPECT_TRUE(find.field.is_all_clear());
    EXPECT_EQ(f, rows<TypeParam>({"R", "B", "R", "R", "R"}));
}

TYPED_TEST(ChainFinderTest, LongChainByRemoval) {
    // Full to row 2; taking out the green at the top of column 1 fires the stack.
    const auto f = rows<TypeParam>({" G BRG", "GBRRYR", "RRYYBY", "RGYRBR", "YGYRBY", "YGBGYR", "GRBGYR", "BRBYBY",
                                    "RYYBYY", "BRBYBR", "BGBYRR", "YGBGBG", "RBGBGG"});
    const auto finds = ChainFinder::find_by_removal(f);
    const auto* find = find_with_trigger(finds, trigger_at({{1, 3}}, PuyoType::GREEN));
    ASSERT_NE(find, nullptr);
    EXPECT_EQ(find->chain, 18u);
    EXPECT_EQ(find->score, 154600u);
    // No room above: every extension would reach row 1.
    EXPECT_TRUE(ChainFinder::find_by_extend(f).empty());
}

// Removal finds follow the field's vanishable groups, cells and all.
TYPED_TEST(ChainFinderTest, RemovalFollowsTheVanishableGroups) {
    for (std::uint32_t seed = 200; seed < 240; ++seed) {
        const TypeParam f = random_field<TypeParam>(seed);
        std::vector<std::string> groups;
        for (const Connection& c : f.get_vanishable_connections()) groups.push_back(c.debug());
        std::size_t next = 0;
        for (const auto& find : ChainFinder::find_by_removal(f)) {
            while (next < groups.size() && groups[next] != find.trigger.debug()) ++next;
            ASSERT_LT(next, groups.size()) << "seed " << seed << ": " << find.trigger.debug();
            ++next;
        }
    }
}

TYPED_TEST(ChainFinderTest, RecursiveDepthZeroAndOne) {
    const auto f = rows<TypeParam>({"BB", "RRR"});
    EXPECT_TRUE(ChainFinder::find_by_extend_recursive(f, 0).empty());
    EXPECT_EQ(debugs(ChainFinder::find_by_extend_recursive(f, 1)), debugs(ChainFinder::find_by_extend(f)));
}

TYPED_TEST(ChainFinderTest, RecursiveSearchStopsOnceALevelAddsNothing) {
    // Each red find clears the field, so no level past the first adds a find:
    // even the largest depth ends, with the first level's finds sorted.
    const auto f = rows<TypeParam>({"RRR"});
    const auto finds = ChainFinder::find_by_extend_recursive(f, UINT64_MAX);
    EXPECT_EQ(debugs(finds), debugs(ChainFinder::find_by_extend_recursive(f, 2)));
    EXPECT_EQ(finds.size(), ChainFinder::find_by_extend(f).size());
    EXPECT_TRUE(ChainFinder::find_by_extend_recursive(TypeParam{}, UINT64_MAX).empty());
}

TYPED_TEST(ChainFinderTest, RecursiveDepthTwoKeepsEarlierFindsAndSortsStably) {
    const auto f = rows<TypeParam>({"BB", "RRR"});
    const auto first = ChainFinder::find_by_extend(f);
    const auto finds = ChainFinder::find_by_extend_recursive(f, 2);
    ASSERT_GT(finds.size(), first.size());

    expect_sorted_keeping(finds, first);

    // Red into column 3 fires the reds; the blues fall; two blues dropped after
    // it complete them as the second chain.
    const Connection red = trigger_at({{3, 13}}, PuyoType::RED);
    bool found = false;
    for (const auto& find : finds) {
        if (find.extensions.empty()) continue;
        ASSERT_EQ(find.extensions.size(), 1u);
        EXPECT_FALSE(find.depth);
        EXPECT_GE(find.chain, 2u);
        const bool from_first = std::any_of(first.begin(), first.end(), [&](const auto& x) {
            return x.trigger.debug() == find.extensions[0].debug() && find.chain > x.chain;
        });
        EXPECT_TRUE(from_first) << find.debug();
        if (find.extensions[0].debug() == red.debug() && find.trigger.puyotype == PuyoType::BLUE) {
            EXPECT_EQ(find.chain, 2u);
            EXPECT_EQ(find.score, 360u);
            found = true;
        }
    }
    EXPECT_TRUE(found);
}

TYPED_TEST(ChainFinderTest, DebugText) {
    const auto finds = ChainFinder::find_by_extend(rows<TypeParam>({"RRR"}));
    const auto* find = find_with_trigger(finds, trigger_at({{1, 13}}, PuyoType::RED));
    ASSERT_NE(find, nullptr);
    EXPECT_EQ(find->debug(),
              "FoundChain { score: 40, chain: 1, field: " + TypeParam().debug() +
                  ", hands: [], pairs: [], extensions: [], trigger: Connection { positions: Some([Position { x: 1, "
                  "y: 13 }]), size: 1, puyotype: RED }, depth: None }");

    const std::vector<Hand> hands{Hand{3, Rotation::LEFT}, Hand{1, Rotation::TOP}};
    FoundChain<TypeParam> made{7,
                               2,
                               TypeParam(),
                               hands,
                               {Pair(PuyoType::RED, PuyoType::BLUE)},
                               {trigger_at({{2, 3}}, PuyoType::GREEN)},
                               Connection{std::nullopt, 4, PuyoType::YELLOW},
                               1};
    EXPECT_EQ(made.debug(), "FoundChain { score: 7, chain: 2, field: " + TypeParam().debug() + ", hands: [" +
                                hands[0].debug() + ", " + hands[1].debug() + "], pairs: [" +
                                Pair(PuyoType::RED, PuyoType::BLUE).debug() +
                                "], extensions: [Connection { positions: Some([Position { x: 2, y: 3 }]), size: 1, "
                                "puyotype: GREEN }], trigger: Connection { positions: None, size: 4, puyotype: "
                                "YELLOW }, depth: Some(1) }");
}

// Every find replays: the trigger dropped by hand (or the group cleared) into a
// copy gives the same chain, score and field; the searched field is untouched.
TYPED_TEST(ChainFinderTest, FindsReplayOnRandomFields) {
    for (std::uint32_t seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const TypeParam f = random_field<TypeParam>(seed);
        const TypeParam before = f;

        const auto extended = ChainFinder::find_by_extend(f);
        std::set<std::tuple<std::uint64_t, std::uint64_t, PuyoType::Value>> keys;
        for (const auto& find : extended) {
            EXPECT_TRUE(keys.insert(key(find)).second) << "candidate run twice: " << find.trigger.debug();
            EXPECT_FALSE(find.depth);
            TypeParam copy = f;
            for (const Position& p : *find.trigger.positions) {
                EXPECT_EQ(copy.put(p.x, find.trigger.puyotype), std::optional<Position>(p));
            }
            const ChainResult r = copy.chain();
            EXPECT_GT(find.score, 0u);
            EXPECT_EQ(find.score, r.score());
            EXPECT_EQ(find.chain, r.chain());
            EXPECT_EQ(find.field, copy);
        }

        BestFind best;
        for (const auto& find : extended)
            if (std::pair(find.score, find.chain) > std::pair(best.score, best.chain)) best = {find.score, find.chain};
        EXPECT_EQ(ChainFinder::best_by_extend(f), best);

        const auto deeper = ChainFinder::find_by_extend_recursive(f, 2);
        expect_sorted_keeping(deeper, extended);
        for (const auto& find : deeper) {
            TypeParam copy = f;
            ConnectionList drops = find.extensions;
            drops.push_back(find.trigger);
            for (const Connection& c : drops)
                for (const Position& p : *c.positions) copy.put(p.x, c.puyotype);
            const ChainResult r = copy.chain();
            EXPECT_EQ(find.score, r.score());
            EXPECT_EQ(find.chain, r.chain());
            EXPECT_EQ(find.field, copy);
        }

        for (const auto& find : ChainFinder::find_by_removal(f)) {
            EXPECT_EQ(find.depth, std::optional<std::uint64_t>(1));
            EXPECT_EQ(find.trigger.size, find.trigger.positions->size());
            TypeParam copy = f;
            for (const Position& p : *find.trigger.positions) {
                EXPECT_EQ(copy.get(p.x, p.y), find.trigger.puyotype);
                copy.set(p.x, p.y, PuyoType::EMPTY);
            }
            const ChainResult r = copy.chain();
            EXPECT_GT(find.score, 0u);
            EXPECT_EQ(find.score, r.score());
            EXPECT_EQ(find.chain, r.chain());
            EXPECT_EQ(find.field, copy);
        }
        EXPECT_EQ(f, before);
    }
}

namespace {

// A find's debug text with its trigger's cells in a fixed order: the fields
// list a group's cells in different orders.
template <class F>
std::multiset<std::string> canonical(const FoundChainList<F>& finds) {
    std::multiset<std::string> out;
    for (const FoundChain<F>& f : finds) {
        std::vector<Position> cells(f.trigger.positions->begin(), f.trigger.positions->end());
        std::sort(cells.begin(), cells.end(),
                  [](Position a, Position b) { return std::pair(a.x, a.y) < std::pair(b.x, b.y); });
        std::string text = f.debug();
        const std::string trigger = f.trigger.debug();
        text.replace(text.find("trigger: " + trigger) + 9, trigger.size(),
                     trigger_at(cells, f.trigger.puyotype).debug());
        out.insert(text);
    }
    return out;
}

template <class F>
std::set<std::tuple<int, int, int>> candidate_set(const F& f) {
    std::set<std::tuple<int, int, int>> out;
    for (const ChainFinder::Candidate& c : ChainFinder::extension_candidates(f)) out.insert({c.x, c.count, c.type});
    return out;
}

BitField to_bit_field(const ArrayField& a) {
    BitField b;
    for (std::uint64_t x = 1; x <= 6; ++x)
        for (std::uint64_t y = 1; y <= 14; ++y) b.set(x, y, a.get(x, y));
    return b;
}

}  // namespace

// Both fields find the same chains; only the order of the unsorted lists and
// of a removed group's cells may differ.
TEST(ChainFinderAgreement, ArrayAndBitFieldsFindTheSame) {
    for (std::uint32_t seed = 100; seed < 140; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const ArrayField a = random_field<ArrayField>(seed);
        const BitField b = to_bit_field(a);
        EXPECT_EQ(candidate_set(a), candidate_set(b));
        EXPECT_EQ(canonical(ChainFinder::find_by_extend(a)), canonical(ChainFinder::find_by_extend(b)));
        EXPECT_EQ(canonical(ChainFinder::find_by_extend_recursive(a, 2)),
                  canonical(ChainFinder::find_by_extend_recursive(b, 2)));
        EXPECT_EQ(canonical(ChainFinder::find_by_removal(a)), canonical(ChainFinder::find_by_removal(b)));
    }
}

namespace {

// Fields that take the bit field's own extension search down each of its ways.
BitField heaps(std::mt19937& rng, unsigned ojama_in_four) {
    BitField f;
    for (std::uint64_t x = 1; x <= 6; ++x)
        for (auto h = std::uniform_int_distribution<int>(0, 14)(rng); h > 0; --h)
            f.put(x, rng() % 4 < ojama_in_four ? PuyoType(PuyoType::OJAMA)
                                               : PuyoType::from_number_unchecked(PuyoType::RED + rng() % 4));
    return f;
}

// Settled, up to row 1, with ojama beside groups to clear.
BitField tall_settled(std::mt19937& rng) {
    BitField f = heaps(rng, 1);
    (void)f.chain();
    return f;
}

// Cells anywhere in rows 1..14: holes, floating puyos, groups not yet vanished.
BitField scattered(std::mt19937& rng) {
    const PuyoType::Value kinds[] = {PuyoType::OJAMA, PuyoType::RED, PuyoType::BLUE, PuyoType::YELLOW, PuyoType::GREEN};
    BitField f;
    for (std::uint64_t x = 1; x <= 6; ++x)
        for (std::uint64_t y = 1; y <= 14; ++y)
            if (rng() % 2) f.set(x, y, kinds[rng() % 5]);
    return f;
}

// Settled, with a WALL or IRON among the cells, or a cell of the floor gone.
BitField with_obstacle(std::mt19937& rng) {
    BitField f = heaps(rng, 0);
    (void)f.chain();
    const std::uint64_t x = 1 + rng() % 6;
    const PuyoType::Value kinds[] = {PuyoType::WALL, PuyoType::IRON, PuyoType::EMPTY};
    const PuyoType::Value kind = kinds[rng() % 3];
    f.set(x, kind == PuyoType::EMPTY ? 15 : 2 + rng() % 13, kind);
    return f;
}

struct FieldKind {
    const char* name;
    BitField (*make)(std::mt19937&);
    friend void PrintTo(const FieldKind& k, std::ostream* os) { *os << k.name; }
};

class BitFieldExtensionSearch : public testing::TestWithParam<FieldKind> {};

}  // namespace

// The bit field's own extension search and best against the searches written
// for any field, run on the same bit field: the same finds in the same order.
TEST_P(BitFieldExtensionSearch, FindsWhatTheSearchForAnyFieldFinds) {
    for (std::uint32_t seed = 1; seed <= 150; ++seed) {
        std::mt19937 rng(seed);
        const BitField f = GetParam().make(rng);
        SCOPED_TRACE(f.debug());
        const auto expected = ChainFinder::find_by_extend<BitField>(f);
        EXPECT_EQ(debugs(ChainFinder::find_by_extend(f)), debugs(expected));
        EXPECT_EQ(ChainFinder::best_by_extend(f), ChainFinder::best_by_extend<BitField>(f));
        // Limited to columns 1, 3 and 6: the best of the finds there.
        BestFind best;
        for (const auto& find : expected)
            if ((0b100101 >> (find.trigger.positions->front().x - 1) & 1) &&
                std::pair(find.score, find.chain) > std::pair(best.score, best.chain))
                best = {find.score, find.chain};
        EXPECT_EQ(ChainFinder::best_by_extend(f, 0b100101), best);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, BitFieldExtensionSearch,
                         testing::Values(FieldKind{"TallSettled", tall_settled}, FieldKind{"Scattered", scattered},
                                         FieldKind{"WithObstacle", with_obstacle}),
                         [](const auto& info) { return std::string(info.param.name); });

// Any cells taken out of a quiet field: the chain after them is the cells
// cleared, then chain() with its first (dropping) pass counted as that step.
TEST(BitFieldTest, ChainAfterAClearIsTheChainOfTheClearedField) {
    for (std::uint32_t seed = 1; seed <= 300; ++seed) {
        std::mt19937_64 rng(seed);
        std::mt19937 fields(seed);
        BitField f = tall_settled(fields);
        ASSERT_TRUE(f.is_quiet());
        const Plane cells = f.planes().occupied() & masks::COUNT_AREA;
        // From single cells to most of the field, so chains short and long follow.
        std::uint64_t keep = rng();
        for (unsigned k = seed % 4; k > 0; --k) keep &= rng();
        const Plane cleared = cells & Plane(keep, rng() & keep);
        const FieldPlanes left = f.planes().without(cleared);
        BitField expected = BitField::from_planes(left.p0, left.p1, left.p2);
        ChainScore r = expected.chain_score();
        r.chain = std::max<std::uint64_t>(r.chain, 1);
        SCOPED_TRACE(f.debug());
        EXPECT_EQ(f.chain_score_after_clear(cleared), r);
        EXPECT_EQ(f, expected);
    }
}

// Triples added without a look-up still count for a later insert.
TEST(CandidateSetTest, InsertAfterInsertNewSkipsTheTriplesItAdded) {
    ChainFinder::CandidateSet set;
    for (std::uint64_t x : {1, 4, 6}) set.insert_new(x, 2, PuyoType::RED);
    set.insert(4, 2, PuyoType::RED);
    set.insert(4, 1, PuyoType::RED);
    set.insert(6, 2, PuyoType::BLUE);
    set.insert(1, 2, PuyoType::RED);
    std::vector<std::tuple<int, int, int>> triples;
    for (const ChainFinder::Candidate& c : set) triples.push_back({c.x, c.count, c.type});
    const int red = PuyoType::RED, blue = PuyoType::BLUE;
    EXPECT_EQ(triples, (std::vector<std::tuple<int, int, int>>{
                           {1, 2, red}, {4, 2, red}, {6, 2, red}, {4, 1, red}, {6, 2, blue}}));
}

// The ojama beside the group vanishes from row 2, under a puyo in row 1 that
// never falls: the chain ends with its first step, and counts it.
TEST(ChainFinderBitField, ClearedRowTwoUnderRowOneEndsTheChain) {
    const auto f = rows<BitField>({"B", "O", "R", "RB", "RG", "YB", "GY", "YB", "GY", "YB", "GY", "YB", "GY", "YB"});
    ASSERT_TRUE(f.is_quiet());
    const auto finds = ChainFinder::find_by_extend(f);
    const auto* find = find_with_trigger(finds, trigger_at({{2, 3}}, PuyoType::RED));
    ASSERT_NE(find, nullptr);
    EXPECT_EQ(find->chain, 1u);
    EXPECT_EQ(find->score, 40u);
    EXPECT_EQ(find->field.get(1, 1), PuyoType::BLUE);
    EXPECT_EQ(find->field.get(1, 2), PuyoType::EMPTY);
    EXPECT_EQ(ChainFinder::best_by_extend(f, 0b10), (BestFind{40, 1}));
}

namespace {

// A field on which every chain pass vanishes a group, to reach the pass limit
// inside a search. It offers one red group of three to extend or remove.
struct EndlessField : FieldBase<EndlessField> {
    static constexpr bool from_array_checks_sizes_first = true;
    std::uint64_t passes = 0;

    PuyoType get(std::uint64_t, std::uint64_t) const { return PuyoType::EMPTY; }
    void set(std::uint64_t, std::uint64_t, PuyoType) {}
    std::optional<Position> put(std::uint64_t x, PuyoType) { return Position{x, 13}; }
    std::uint64_t get_height(std::uint64_t) const { return 0; }
    bool has_type(PuyoType) const { return false; }
    ConnectionList get_vanishable_connections() const {
        return {trigger_at({{2, 14}, {3, 14}, {4, 14}}, PuyoType::RED)};
    }
    ConnectionList vanish() {
        ++passes;
        return {Connection{std::nullopt, 4, PuyoType::RED}};
    }
    void drop() {}
    bool operator==(const EndlessField& o) const { return passes == o.passes; }
};

}  // namespace

TEST(ChainFinderPassLimit, TwentiethVanishingPassFailsTheWholeSearch) {
    const EndlessField f;
    const std::string limit = "index out of bounds: the len is 20 but the index is 20";
    EXPECT_EQ(panic_text([&] { (void)ChainFinder::find_by_extend(f); }), limit);
    EXPECT_EQ(panic_text([&] { (void)ChainFinder::find_by_extend_recursive(f, 2); }), limit);
    EXPECT_EQ(panic_text([&] { (void)ChainFinder::find_by_removal(f); }), limit);
    EXPECT_EQ(panic_text([&] { (void)ChainFinder::best_by_extend(f); }), limit);
    EXPECT_EQ(f.passes, 0u);
}

// A hole in the frame is an empty cell beside the groups, but no column a puyo
// is dropped into; a hole in the floor leaves its column no landing row.
TEST(ChainFinderBrokenFrame, HolesInTheFrameGiveNoCandidateOutsideColumnsOneToSix) {
    struct Case {
        const char* name;
        std::vector<Position> holes;
    };
    const Case cases[] = {{"left wall", {{0, 12}, {0, 13}, {0, 14}}},
                          {"right wall", {{7, 13}, {7, 14}}},
                          {"floor under the groups", {{1, 15}, {6, 15}}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto b = rows<BitField>({"R    G", "R    G", "BY   Y"});
        auto a = rows<ArrayField>({"R    G", "R    G", "BY   Y"});
        for (const Position& p : c.holes) {
            b.set(p.x, p.y, PuyoType::EMPTY);
            a.set(p.x, p.y, PuyoType::EMPTY);
        }
        for (const auto& [x, count, type] : candidate_set(b)) EXPECT_TRUE(x >= 1 && x <= 6) << x;
        for (const auto& [x, count, type] : candidate_set(a)) EXPECT_TRUE(x >= 1 && x <= 6) << x;
        // The searches run whole, with the column masks both ways.
        (void)ChainFinder::find_by_extend(b);
        (void)ChainFinder::best_by_extend(b);
        (void)ChainFinder::best_by_extend(b, 0b100001);
        if (b.is_quiet()) (void)ChainFinder::best_by_extend_of_quiet(b, ChainFinder::ALL_COLUMNS);
    }
}
