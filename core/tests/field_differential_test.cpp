// The bit field against the array field on many random fields, and contract
// cases both must agree on.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <utility>

#include "field/array_field.hpp"
#include "field/bit_field.hpp"

using namespace tavik;

namespace {

using Cells = std::array<std::array<PuyoType, 16>, 8>;

struct Style {
    double fill;     // chance a column cell below the stack top is occupied
    double hanging;  // chance of a hole inside a stack
    double ojama;
    double iron;
    double fuzzy;  // chance of a puyo in row 1 or 2
    unsigned colours;
};

// Frame intact, no PURPLE, no WALL inside the playable area.
Cells random_cells(std::mt19937_64& rng, const Style& s) {
    Cells c;
    for (std::uint64_t x = 0; x < 8; ++x)
        for (std::uint64_t y = 0; y < 16; ++y)
            c[x][y] = (x == 0 || x == 7 || y == 0 || y == 15) ? PuyoType::WALL : PuyoType::EMPTY;
    std::uniform_real_distribution<double> u(0, 1);
    const auto puyo = [&] {
        const double r = u(rng);
        if (r < s.ojama) return PuyoType(PuyoType::OJAMA);
        if (r < s.ojama + s.iron) return PuyoType(PuyoType::IRON);
        return PuyoType::from_number_unchecked(4 + static_cast<unsigned>(rng() % s.colours));
    };
    for (std::uint64_t x = 1; x <= 6; ++x) {
        const std::uint64_t top =
            15 - std::min<std::uint64_t>(12, static_cast<std::uint64_t>(u(rng) * 13 * s.fill * 1.5));
        for (std::uint64_t y = top; y <= 14; ++y)
            if (u(rng) >= s.hanging) c[x][y] = puyo();
        for (std::uint64_t y = 1; y <= 2; ++y)
            if (u(rng) < s.fuzzy) c[x][y] = puyo();
    }
    return c;
}

template <class F>
F build(const Cells& c) {
    F f;
    for (std::uint64_t x = 0; x < 8; ++x)
        for (std::uint64_t y = 0; y < 16; ++y) f.set(x, y, c[x][y]);
    return f;
}

template <class A, class B>
void expect_same_cells(const A& a, const B& b) {
    for (std::uint64_t x = 0; x < 8; ++x)
        for (std::uint64_t y = 0; y < 16; ++y) ASSERT_EQ(a.get(x, y), b.get(x, y)) << "at " << x << "," << y;
}

template <class List>
std::vector<std::pair<unsigned, std::uint64_t>> type_sizes(const List& list) {
    std::vector<std::pair<unsigned, std::uint64_t>> out;
    for (const Connection& c : list) out.emplace_back(c.puyotype.number(), c.size);
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::pair<unsigned, std::vector<std::pair<std::uint64_t, std::uint64_t>>>> groups_with_cells(
    const ConnectionList& list) {
    std::vector<std::pair<unsigned, std::vector<std::pair<std::uint64_t, std::uint64_t>>>> out;
    for (const Connection& c : list) {
        std::vector<std::pair<std::uint64_t, std::uint64_t>> cells;
        for (const Position& p : c.positions.value()) cells.emplace_back(p.x, p.y);
        std::sort(cells.begin(), cells.end());
        EXPECT_EQ(c.size, cells.size());
        out.emplace_back(c.puyotype.number(), std::move(cells));
    }
    std::sort(out.begin(), out.end());
    return out;
}

void compare_queries(const ArrayField& a, const BitField& b) {
    expect_same_cells(a, b);
    for (std::uint64_t x = 0; x < 8; ++x) EXPECT_EQ(a.get_height(x), b.get_height(x)) << "column " << x;
    EXPECT_EQ(a.get_num_puyos(), b.get_num_puyos());
    EXPECT_EQ(a.is_all_clear(), b.is_all_clear());
    for (unsigned t = 0; t < 8; ++t) {
        if (t == PuyoType::WALL) continue;  // the bit field also sees the frame
        EXPECT_EQ(a.has_type(PuyoType::from_number_unchecked(t)), b.has_type(PuyoType::from_number_unchecked(t)))
            << "type " << t;
    }
    EXPECT_EQ(groups_with_cells(a.get_vanishable_connections()), groups_with_cells(b.get_vanishable_connections()));
}

void compare_operations(ArrayField a, BitField b) {
    {
        ArrayField va = a;
        BitField vb = b;
        EXPECT_EQ(type_sizes(va.vanish()), type_sizes(vb.vanish()));
        expect_same_cells(va, vb);
    }
    {
        ArrayField da = a;
        BitField db = b;
        da.drop();
        db.drop();
        expect_same_cells(da, db);
    }
    for (std::uint64_t x = 0; x < 9; ++x) {
        ArrayField pa = a;
        BitField pb = b;
        EXPECT_EQ(x < 8 ? pa.put(x, PuyoType::GREEN) : std::nullopt, pb.put(x, PuyoType::GREEN)) << "column " << x;
        if (x < 8) expect_same_cells(pa, pb);
    }
    const ArrayField unchained_a = a;
    const BitField unchained_b = b;
    const ChainResult ra = a.chain();
    const ChainResult rb = b.chain();
    ASSERT_EQ(ra.chain(), rb.chain());
    // Stepping by hand takes the same passes as the chain loop, which skips
    // work on settled fields.
    BitField stepped = unchained_b;
    for (std::uint64_t n = 1; n <= rb.chain(); ++n)
        EXPECT_EQ(stepped.step_chain(n).score(), rb.steps()[n - 1].score()) << "step " << n;
    EXPECT_EQ(stepped, b);
    BitField scored_b = unchained_b;
    EXPECT_EQ(scored_b.chain_score(), rb.chain_score());
    EXPECT_EQ(scored_b, b);
    ArrayField scored_a = unchained_a;
    EXPECT_EQ(scored_a.chain_score(), ra.chain_score());
    for (std::size_t i = 0; i < ra.steps().size(); ++i) {
        EXPECT_EQ(ra.steps()[i].chain, rb.steps()[i].chain) << "step " << i;
        EXPECT_EQ(ra.steps()[i].score(), rb.steps()[i].score()) << "step " << i;
        EXPECT_EQ(type_sizes(ra.steps()[i].connections), type_sizes(rb.steps()[i].connections)) << "step " << i;
    }
    EXPECT_EQ(ra.score(), rb.score());
    expect_same_cells(a, b);
}

const Style STYLES[] = {
    {0.3, 0.0, 0.0, 0.0, 0.0, 4},   {0.6, 0.0, 0.05, 0.0, 0.1, 4}, {1.0, 0.0, 0.1, 0.02, 0.3, 3},
    {0.8, 0.3, 0.05, 0.02, 0.3, 4}, {0.5, 0.6, 0.1, 0.05, 0.5, 3}, {1.0, 0.1, 0.0, 0.0, 1.0, 2},
    {1.0, 0.0, 0.3, 0.1, 0.2, 4},
};

}  // namespace

TEST(FieldDifferentialTest, RandomFieldsAgree) {
    for (std::size_t style = 0; style < std::size(STYLES); ++style)
        for (std::uint64_t seed = 0; seed < 600; ++seed) {
            std::mt19937_64 rng(style * 100'000 + seed);
            const Cells cells = random_cells(rng, STYLES[style]);
            const ArrayField a = build<ArrayField>(cells);
            const BitField b = build<BitField>(cells);
            SCOPED_TRACE("style " + std::to_string(style) + " seed " + std::to_string(seed) + a.debug());
            compare_queries(a, b);
            compare_operations(a, b);
            if (testing::Test::HasFailure()) return;
        }
}

// The chain loop takes shortcuts only with the floor whole and no WALL among
// the cells that fall. Frames broken or walled in (where the two fields may
// differ) must give what stepping by hand gives.
TEST(FieldDifferentialTest, BrokenFramesAndInnerWallsChainAsStepped) {
    const std::pair<const char*, PuyoType::Value> changes[] = {{"floor cell emptied", PuyoType::EMPTY},
                                                               {"wall in the stack", PuyoType::WALL},
                                                               {"colour in the side frame", PuyoType::RED},
                                                               {"ceiling cell emptied", PuyoType::EMPTY}};
    for (std::size_t kind = 0; kind < std::size(changes); ++kind)
        for (std::uint64_t seed = 0; seed < 300; ++seed) {
            std::mt19937_64 rng(kind * 1000 + seed);
            Cells cells = random_cells(rng, STYLES[seed % std::size(STYLES)]);
            const std::uint64_t x = kind == 2 ? (rng() % 2) * 7 : 1 + rng() % 6;
            const std::uint64_t y = kind == 0 ? 15 : kind == 1 ? 3 + rng() % 12 : kind == 2 ? rng() % 16 : 0;
            cells[x][y] = changes[kind].second;
            SCOPED_TRACE(std::string(changes[kind].first) + " seed " + std::to_string(seed));
            BitField chained = build<BitField>(cells);
            BitField scored = chained;
            BitField stepped = chained;
            const ChainResult r = chained.chain();
            std::uint64_t n = 1;
            for (; n <= MAX_CHAIN_PASSES; ++n) {
                const BitField before = stepped;
                const ChainStepResult step = stepped.step_chain(n);
                if (step.connections.empty() && stepped == before) break;
                ASSERT_LE(n, r.chain());
                EXPECT_EQ(step.score(), r.steps()[n - 1].score()) << "step " << n;
            }
            EXPECT_EQ(n - 1, r.chain());
            EXPECT_EQ(stepped, chained);
            EXPECT_EQ(scored.chain_score(), r.chain_score());
            EXPECT_EQ(scored, chained);
            if (testing::Test::HasFailure()) return;
        }
}

TEST(FieldDifferentialTest, PlacedPairsAgree) {
    // Fields grown the way a game grows them: random hands, each followed by its chain.
    std::mt19937_64 rng(7);
    for (int game = 0; game < 200; ++game) {
        ArrayField a;
        BitField b;
        for (int move = 0; move < 40; ++move) {
            const Hand& hand = Hand::enumerate()[rng() % 22];
            const Pair pair(PuyoType::from_number_unchecked(4 + rng() % 4),
                            PuyoType::from_number_unchecked(4 + rng() % 4));
            SCOPED_TRACE("game " + std::to_string(game) + " move " + std::to_string(move) + a.debug());
            ASSERT_TRUE(a.put_hand(hand, pair));
            ASSERT_TRUE(b.put_hand(hand, pair));
            compare_queries(a, b);
            const ChainResult ra = a.chain();
            const ChainResult rb = b.chain();
            ASSERT_EQ(ra.chain(), rb.chain());
            ASSERT_EQ(ra.score(), rb.score());
            expect_same_cells(a, b);
            if (testing::Test::HasFailure()) return;
        }
    }
}

template <class F>
class FieldContract : public testing::Test {};
using BothFields = testing::Types<ArrayField, BitField>;
TYPED_TEST_SUITE(FieldContract, BothFields);

TEST(FieldDifferentialTest, NineteenChainScoresAlike) {
    const std::initializer_list<std::string_view> rows = {" G BRG", "GBRRYR", "RRYYBY", "RGYRBR", "YGYRBY",
                                                          "YGBGYR", "GRBGYR", "BRBYBY", "RYYBYY", "BRBYBR",
                                                          "BGBYRR", "YGBGBG", "RBGBGG"};
    ArrayField a = unwrap(ArrayField::from_str_array(rows));
    BitField b = unwrap(BitField::from_str_array(rows));
    compare_queries(a, b);
    const ChainResult ra = a.chain();
    const ChainResult rb = b.chain();
    ASSERT_EQ(ra.chain(), 19u);
    ASSERT_EQ(rb.chain(), 19u);
    for (std::size_t i = 0; i < 19; ++i) {
        EXPECT_EQ(rb.steps()[i].chain, i + 1);
        EXPECT_EQ(ra.steps()[i].score(), rb.steps()[i].score()) << "step " << i;
    }
    EXPECT_EQ(ra.score(), rb.score());
    EXPECT_GT(rb.score(), 0u);
    expect_same_cells(a, b);
}

TYPED_TEST(FieldContract, OjamaBesideAVanishingGroup) {
    TypeParam f = unwrap(TypeParam::from_str_array({"O", "RO", "RO", "RRO", "OOO"}));
    const ChainStepResult step = f.step_chain(1);
    ASSERT_EQ(step.connections.size(), 1u);
    EXPECT_EQ(step.connections[0].size, 4u);
    // Every OJAMA goes but the one diagonal to the group's corner.
    EXPECT_EQ(f.get_num_puyos(), 1u) << f.debug();
    EXPECT_EQ(f.get(3, 14), PuyoType::OJAMA);
}

TYPED_TEST(FieldContract, FuzzyRowsUnderDrop) {
    TypeParam f;
    f.set(2, 1, PuyoType::RED);
    f.set(3, 2, PuyoType::BLUE);
    f.set(3, 1, PuyoType::YELLOW);
    const ChainResult r = f.chain();
    EXPECT_EQ(r.chain(), 1u);
    EXPECT_EQ(r.steps()[0].chain, 0u);
    EXPECT_EQ(f.get(2, 1), PuyoType::RED);
    EXPECT_EQ(f.get(3, 14), PuyoType::BLUE);
    EXPECT_EQ(f.get(3, 1), PuyoType::YELLOW);
    EXPECT_EQ(f.get(3, 2), PuyoType::EMPTY);
}

TEST(FieldDifferentialTest, AVanishingTwentiethPassPanicsOnBothWithTheFieldAsLeft) {
    // The nineteen-chain with one puyo lifted: a drop-only pass comes first.
    const std::initializer_list<std::string_view> rows = {" GRBRG", "GBYRYR", "RR YBY", "RGYRBR", "YGYRBY",
                                                          "YGBGYR", "GRBGYR", "BRBYBY", "RYYBYY", "BRBYBR",
                                                          "BGBYRR", "YGBGBG", "RBGBGG"};
    ArrayField a = unwrap(ArrayField::from_str_array(rows));
    BitField b = unwrap(BitField::from_str_array(rows));
    const auto panic_text = [](auto& f) {
        try {
            (void)f.chain();
        } catch (const Panic& p) {
            return std::string(p.text());
        }
        return std::string("<no panic>");
    };
    const auto panic_text_of_score = [](auto f) {
        try {
            (void)f.chain_score();
        } catch (const Panic& p) {
            return std::string(p.text()) + f.debug();
        }
        return std::string("<no panic>");
    };
    const BitField unchained = b;
    EXPECT_EQ(panic_text_of_score(a), panic_text_of_score(b));
    EXPECT_EQ(panic_text(a), "index out of bounds: the len is 20 but the index is 20");
    EXPECT_EQ(panic_text(b), "index out of bounds: the len is 20 but the index is 20");
    EXPECT_TRUE(b.is_all_clear()) << b.debug();
    expect_same_cells(a, b);
    // The count-and-score loop stops the same way and leaves the same field.
    EXPECT_EQ(panic_text_of_score(unchained), "index out of bounds: the len is 20 but the index is 20" + b.debug());
}

TYPED_TEST(FieldContract, StepChainNumbersOnlyVanishingSteps) {
    TypeParam f = unwrap(TypeParam::from_str_array({"B", "B", "B", "B", "RGBYRG"}));
    const ChainStepResult five = f.step_chain(5);
    EXPECT_EQ(five.chain, 5u);
    EXPECT_EQ(five.score(), 2560u);
    TypeParam hanging;
    hanging.set(4, 6, PuyoType::RED);
    const ChainStepResult none = hanging.step_chain(5);
    EXPECT_EQ(none.chain, 0u);
    EXPECT_EQ(none.score(), 0u);
    EXPECT_EQ(hanging.get(4, 14), PuyoType::RED);
}

TYPED_TEST(FieldContract, ManyGroupsInOneStep) {
    // Five groups of four at once: BLUE twice, RED, GREEN, YELLOW.
    TypeParam f = unwrap(TypeParam::from_str_array({"BBRRGG", "BBRRGG", "YYYYBB", "OOOOBB"}));
    const ChainResult r = f.chain();
    ASSERT_EQ(r.chain(), 1u);
    EXPECT_EQ(r.steps()[0].connections.size(), 5u);
    EXPECT_EQ(r.score(), 10u * 20 * 12);  // four colours
    EXPECT_TRUE(f.is_all_clear());        // the OJAMA under the YELLOW go too
}

TEST(StepConnectionsTest, CopiesAndMovesInlineAndSpilledGroups) {
    const Connection with_cells{std::vector<Position>{{1, 14}, {1, 13}}, 2, PuyoType::RED};
    for (std::size_t n : {0, 1, 2, 3, 7}) {
        StepConnections list;
        for (std::size_t i = 0; i < n; ++i)
            list.push_back(i % 2 ? with_cells : Connection{std::nullopt, i, PuyoType::BLUE});
        const auto text = [](const StepConnections& l) { return debug_list(l.to_list()); };
        const std::string expected = text(list);
        StepConnections copy = list;
        EXPECT_EQ(text(copy), expected) << n;
        StepConnections moved = std::move(copy);
        EXPECT_EQ(text(moved), expected) << n;
        EXPECT_TRUE(copy.empty());  // a moved-from list is empty and reusable
        copy = moved;
        copy = std::move(copy);
        EXPECT_EQ(text(copy), expected) << n;
        StepConnections assigned{Connection{std::nullopt, 9, PuyoType::GREEN}};
        assigned = std::move(moved);
        EXPECT_EQ(text(assigned), expected) << n;
        EXPECT_EQ(assigned.size(), n);
    }
}
