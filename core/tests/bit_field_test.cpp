#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

#include "field/bit_field.hpp"

using namespace tavik;

namespace {

std::string panic_text(auto&& fn) {
    try {
        fn();
    } catch (const Panic& p) {
        return p.text();
    }
    return "<no panic>";
}

BitField field(std::initializer_list<std::string_view> rows) { return unwrap(BitField::from_str_array(rows)); }

std::uint16_t lane(Plane p, unsigned x) {
    const std::uint64_t half = x < 4 ? p.low() : p.high();
    return static_cast<std::uint16_t>(half >> (16 * (x % 4)));
}

struct Group {
    PuyoType t;
    std::uint64_t size;
    bool operator==(const Group&) const = default;
};

std::vector<Group> groups(const ConnectionList& list) {
    std::vector<Group> out;
    for (const Connection& c : list) {
        EXPECT_FALSE(c.positions.has_value());
        out.push_back({c.puyotype, c.size});
    }
    return out;
}

}  // namespace

TEST(PlaneTest, ShiftsMoveCellsOneStepWithoutLeavingTheirColumn) {
    const Plane c = Plane::cell(3, 8);
    EXPECT_EQ(c.up(), Plane::cell(3, 7));
    EXPECT_EQ(c.down(), Plane::cell(3, 9));
    EXPECT_EQ(c.left(), Plane::cell(2, 8));
    EXPECT_EQ(c.right(), Plane::cell(4, 8));  // crosses from the low half to the high half
    EXPECT_EQ(Plane::cell(4, 8).left(), Plane::cell(3, 8));
    EXPECT_TRUE(Plane::cell(2, 0).up().is_empty());     // no carry into column 3
    EXPECT_TRUE(Plane::cell(2, 15).down().is_empty());  // no borrow from column 1
    EXPECT_EQ(c.neighbourhood().popcount(), 5u);
}

TEST(PlaneTest, MasksAndCounts) {
    EXPECT_EQ(lane(masks::FRAME, 0), 0xFFFF);
    EXPECT_EQ(lane(masks::FRAME, 3), 0x8001);
    EXPECT_EQ(lane(masks::GROUP_AREA, 6), 0x1FFE);
    EXPECT_EQ(masks::FRAME.popcount(), 2u * 16 + 6 * 2);
    EXPECT_EQ(masks::COUNT_AREA.popcount(), 78u);
    EXPECT_EQ(masks::GROUP_AREA.popcount(), 72u);
    EXPECT_EQ((masks::LOW_HALF | masks::HIGH_HALF).popcount(), 128u);
    EXPECT_EQ(Plane(0, 0xF0F0).lanes_shortened_by_count(), Plane(0xFFFF'FFFF'FFFF'FFFF, 0xFFFF'FFFF'FFFF'00FF));
    EXPECT_EQ(Plane(0x0100, 0x0030'0000).filled_below_top(), Plane(0x01FF, 0x003F'0000));
}

TEST(PlaneTest, ColumnsListsTheColumnsHoldingMembers) {
    EXPECT_EQ(Plane().columns(), 0u);
    EXPECT_EQ(masks::FRAME.columns(), 0xFFu);
    EXPECT_EQ((Plane::cell(1, 14) | Plane::cell(4, 1) | Plane::cell(6, 8)).columns(), 0b0101'0010u);
}

TEST(PlaneTest, SeedOrderTakesTheHighHalfFirstAndFillsFourWays) {
    const Plane cells = Plane::cell(1, 14) | Plane::cell(5, 3) | Plane::cell(4, 10);
    EXPECT_EQ(cells.lowest_seed(), Plane::cell(4, 10));
    EXPECT_EQ(Plane::cell(1, 14).lowest_seed(), Plane::cell(1, 14));
    // A ring fills completely; a diagonal neighbour is never reached.
    Plane ring;
    for (std::uint64_t x = 2; x <= 5; ++x) ring |= Plane::cell(x, 5) | Plane::cell(x, 9);
    for (std::uint64_t y = 6; y <= 8; ++y) ring |= Plane::cell(2, y) | Plane::cell(5, y);
    const Plane within = ring | Plane::cell(6, 10) | Plane::cell(3, 11);
    EXPECT_EQ(Plane::cell(2, 5).flood_fill(within), ring);
    std::vector<Position> order;
    (Plane::cell(2, 3) | Plane::cell(2, 14) | Plane::cell(6, 1) | Plane::cell(4, 9))
        .for_each_cell([&](std::uint64_t x, std::uint64_t y) {
            order.push_back({x, y});
        });
    EXPECT_EQ(order, (std::vector<Position>{{4, 9}, {6, 1}, {2, 14}, {2, 3}}));
}

TEST(BitFieldTest, NewFieldIsTheFrameInPlaneOne) {
    BitField f;
    for (unsigned x = 0; x < 8; ++x) EXPECT_EQ(lane(f.plane(1), x), x == 0 || x == 7 ? 0xFFFF : 0x8001);
    EXPECT_TRUE(f.plane(0).is_empty());
    EXPECT_TRUE(f.plane(2).is_empty());
    EXPECT_EQ(f.get(0, 5), PuyoType::WALL);
    EXPECT_EQ(f.get(3, 0), PuyoType::WALL);
    EXPECT_EQ(f.get(3, 15), PuyoType::WALL);
    EXPECT_EQ(f.get(3, 14), PuyoType::EMPTY);
    const auto bytes = f.planes_bytes();
    EXPECT_EQ(bytes[1][0], 0xFF);
    EXPECT_EQ(bytes[1][2], 0x01);
    EXPECT_EQ(bytes[1][3], 0x80);
    EXPECT_EQ(BitField::from_planes(bytes), f);
}

TEST(BitFieldTest, SetWritesTheCodeIntoEachPlane) {
    BitField f;
    f.set(1, 14, PuyoType::RED);
    EXPECT_EQ(f.plane(2), Plane(std::uint64_t{1} << 17, 0));
    EXPECT_TRUE(f.plane(0).is_empty());
    EXPECT_EQ(f.plane(1), masks::FRAME);
    f.set(4, 1, PuyoType::GREEN);
    for (unsigned k = 0; k < 3; ++k) EXPECT_TRUE(f.plane(k).intersects(Plane(0, 1u << 14))) << k;
    f.set(4, 1, PuyoType::OJAMA);  // overwriting clears the other planes' bits
    EXPECT_EQ(f.plane(2), Plane(std::uint64_t{1} << 17, 0));
    EXPECT_EQ(f.get(4, 1), PuyoType::OJAMA);
    f.set(2, 5, PuyoType::PURPLE);
    EXPECT_EQ(f.get(2, 5), PuyoType::EMPTY);
    const auto bytes = f.planes_bytes();
    EXPECT_EQ(BitField::from_planes(bytes), f);
}

TEST(BitFieldTest, EveryCodeReadsBackInEveryCell) {
    for (unsigned code = 0; code < 8; ++code) {
        BitField f;
        for (std::uint64_t x = 0; x < 8; ++x)
            for (std::uint64_t y = 0; y < 16; ++y) {
                const PuyoType t = PuyoType::from_number_unchecked((code + x + y) % 8);
                f.set(x, y, t);
            }
        for (std::uint64_t x = 0; x < 8; ++x)
            for (std::uint64_t y = 0; y < 16; ++y)
                ASSERT_EQ(f.get(x, y), PuyoType::from_number_unchecked((code + x + y) % 8)) << x << "," << y;
    }
}

TEST(BitFieldTest, CellsOutsideTheGridAreIndexErrors) {
    BitField f;
    EXPECT_EQ(panic_text([&] { f.get(8, 0); }), "index out of bounds: the len is 8 but the index is 8");
    EXPECT_EQ(panic_text([&] { f.get(0, 16); }), "index out of bounds: the len is 16 but the index is 16");
    EXPECT_EQ(panic_text([&] { f.set(9, 20, PuyoType::RED); }), "index out of bounds: the len is 8 but the index is 9");
    EXPECT_EQ(f, BitField());
    EXPECT_EQ(panic_text([&] { (void)BitField::from_str_array({"RRRRRRR"}); }), "<no panic>");
    EXPECT_EQ(panic_text([&] { (void)BitField::from_str_array({"RRRRRRRR"}); }),
              "index out of bounds: the len is 8 but the index is 8");
    std::vector<std::string> rows(16, "");
    rows[0] = "R";
    EXPECT_EQ(panic_text([&] { (void)BitField::from_str_array(rows); }),
              "index out of bounds: the len is 16 but the index is 18446744073709551615");
}

TEST(BitFieldTest, PutFillsRowsFourteenUpToOne) {
    BitField f;
    EXPECT_EQ(f.get_height(3), 0u);
    EXPECT_EQ(f.put(3, PuyoType::RED), (Position{3, 14}));
    for (std::uint64_t y = 13; y >= 1; --y) ASSERT_EQ(f.put(3, PuyoType::RED), (Position{3, y}));
    const BitField full = f;
    EXPECT_FALSE(f.put(3, PuyoType::RED));
    EXPECT_EQ(f, full);
    EXPECT_EQ(f.get_height(3), 14u);
    EXPECT_EQ(f.get_num_puyos(), 13u);
    EXPECT_EQ(f.get_height(0), 14u);
    EXPECT_EQ(f.get_height(7), 14u);
    EXPECT_EQ(f.get_height(8), std::numeric_limits<std::uint64_t>::max());
    for (std::uint64_t x : {0, 7, 8, 100}) EXPECT_FALSE(f.put(x, PuyoType::RED)) << x;
    EXPECT_EQ(f, full);
}

TEST(BitFieldTest, PutFillsTheLowestGapInEitherHalf) {
    for (std::uint64_t x : {2, 5}) {
        BitField f;
        f.set(x, 12, PuyoType::BLUE);
        EXPECT_EQ(f.get_height(x), 0u);
        EXPECT_EQ(f.put(x, PuyoType::RED), (Position{x, 14}));
        EXPECT_EQ(f.put(x, PuyoType::RED), (Position{x, 13}));
        EXPECT_EQ(f.put(x, PuyoType::RED), (Position{x, 11}));
        EXPECT_EQ(f.get_height(x), 4u);
    }
}

TEST(BitFieldTest, PurpleCannotBeStored) {
    BitField f;
    EXPECT_EQ(f.put(2, PuyoType::PURPLE), (Position{2, 14}));
    EXPECT_EQ(f, BitField());
    EXPECT_EQ(panic_text([&] { (void)f.has_type(PuyoType::PURPLE); }), "not implemented");
}

TEST(BitFieldTest, HasTypeLooksAtEveryCell) {
    BitField f;
    EXPECT_TRUE(f.has_type(PuyoType::WALL));
    EXPECT_TRUE(f.has_type(PuyoType::EMPTY));
    EXPECT_FALSE(f.has_type(PuyoType::IRON));
    for (std::uint64_t x = 1; x <= 6; ++x)
        for (std::uint64_t y = 1; y <= 14; ++y) f.set(x, y, PuyoType::from_number_unchecked(4 + (x + y) % 4));
    EXPECT_FALSE(f.has_type(PuyoType::EMPTY));
    EXPECT_TRUE(f.has_type(PuyoType::YELLOW));
    f.set(0, 3, PuyoType::IRON);  // a wall cell counts too
    EXPECT_TRUE(f.has_type(PuyoType::IRON));
}

TEST(BitFieldTest, RowOneNeverCounts) {
    BitField f;
    f.set(4, 1, PuyoType::GREEN);
    EXPECT_TRUE(f.is_all_clear());
    EXPECT_EQ(f.get_num_puyos(), 0u);
    f.set(4, 2, PuyoType::IRON);
    EXPECT_FALSE(f.is_all_clear());
    EXPECT_EQ(f.get_num_puyos(), 1u);
}

TEST(BitFieldTest, EqualityAndFuzzyRows) {
    for (Position p : {Position{1, 1}, Position{3, 2}, Position{0, 5}, Position{7, 0}, Position{5, 15}}) {
        BitField a, b;
        b.set(p.x, p.y, PuyoType::GREEN);
        EXPECT_FALSE(a == b) << p.debug();
        EXPECT_TRUE(a.equals_without_fuzzy(b)) << p.debug();
    }
    for (unsigned k = 0; k < 3; ++k) {
        BitField a, b;  // a difference in a single plane is seen
        a.set(6, 3, PuyoType::from_number_unchecked(1u << k));
        b.set(6, 3, PuyoType::from_number_unchecked((1u << k) ^ (1u << (k + 1) % 3)));
        EXPECT_FALSE(a.equals_without_fuzzy(b)) << k;
    }
}

// Shapes given as the bottom rows of the field.
struct ShapeCase {
    const char* name;
    std::vector<std::string_view> rows;
    std::vector<Group> vanished;
    friend void PrintTo(const ShapeCase& c, std::ostream* os) { *os << c.name; }
};

class BitFieldShapes : public testing::TestWithParam<ShapeCase> {};

TEST_P(BitFieldShapes, VanishWholeGroupsOnly) {
    BitField f = unwrap(BitField::from_str_array(GetParam().rows));
    const BitField before = f;
    EXPECT_EQ(groups(f.vanish()), GetParam().vanished) << f.debug();
    std::uint64_t removed = 0;
    for (const Group& g : GetParam().vanished) removed += g.size;
    EXPECT_EQ(before.get_num_puyos() - f.get_num_puyos(), removed);
    if (removed == 0) {
        EXPECT_EQ(f, before);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BitFieldShapes,
    testing::Values(
        ShapeCase{"Line4", {"R", "R", "R", "R"}, {{PuyoType::RED, 4}}},
        ShapeCase{"T", {"BBB", " B "}, {{PuyoType::BLUE, 4}}}, ShapeCase{"S", {" GG", "GG "}, {{PuyoType::GREEN, 4}}},
        ShapeCase{"Square", {"    YY", "    YY"}, {{PuyoType::YELLOW, 4}}},
        ShapeCase{"LineOfTwelve", {"R", "R", "R", "R", "R", "R", "R", "R", "R", "R", "R", "R"}, {{PuyoType::RED, 12}}},
        ShapeCase{"LOfThree", {"R ", "RR"}, {}}, ShapeCase{"ThreeApartFromThree", {"RRR RR", "BBYBBR"}, {}},
        ShapeCase{"RowTwoNeverJoins", {"R", "R", "R", "R", "B", "Y", "B", "Y", "B", "Y", "B", "Y", "B"}, {}},
        ShapeCase{"SevenIsOneGroup", {"GGG", "GGGG"}, {{PuyoType::GREEN, 7}}},
        ShapeCase{"TwoOfFourInOneColour",
                  {"BBBBR ", "RRRRBB", "YYYYBB"},
                  {{PuyoType::BLUE, 4}, {PuyoType::BLUE, 4}, {PuyoType::RED, 4}, {PuyoType::YELLOW, 4}}},
        ShapeCase{"AllColoursInOrder",
                  {"YG", "YG", "YG", "YG", "RB", "RB", "RB", "RB"},
                  {{PuyoType::BLUE, 4}, {PuyoType::RED, 4}, {PuyoType::GREEN, 4}, {PuyoType::YELLOW, 4}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BitFieldTest, GroupsOfAColourComeInSeedOrder) {
    // Column 5 comes before column 1; within a half the left column first.
    BitField f = field({"B   B ", "B   B ", "B  BB ", "B   B "});
    EXPECT_EQ(groups(f.vanish()), (std::vector<Group>{{PuyoType::BLUE, 5}, {PuyoType::BLUE, 4}}));
    BitField g = field({"     R", "  R  R", "R R  R", "R R  R", "R R  R", "R R  R"});
    EXPECT_EQ(groups(g.vanish()), (std::vector<Group>{{PuyoType::RED, 6}, {PuyoType::RED, 4}, {PuyoType::RED, 5}}));
}

TEST(BitFieldTest, VanishClearsOnlyOjamaThatTouchesAGroup) {
    // Rows 1..14 of columns 1..6: a RED line in column 3, rows 3..6.
    BitField f;
    for (std::uint64_t y = 3; y <= 6; ++y) f.set(3, y, PuyoType::RED);
    const Position cleared[] = {{3, 2}, {3, 7}, {2, 4}, {4, 6}};
    const Position kept[] = {{2, 2}, {4, 7}, {1, 4}, {3, 1}};
    for (Position p : cleared) f.set(p.x, p.y, PuyoType::OJAMA);
    for (Position p : kept) f.set(p.x, p.y, PuyoType::OJAMA);
    f.set(2, 5, PuyoType::IRON);
    f.set(4, 5, PuyoType::WALL);
    EXPECT_EQ(groups(f.vanish()), (std::vector<Group>{{PuyoType::RED, 4}}));
    for (Position p : cleared) EXPECT_EQ(f.get(p.x, p.y), PuyoType::EMPTY) << p.debug();
    for (Position p : kept) EXPECT_EQ(f.get(p.x, p.y), PuyoType::OJAMA) << p.debug();
    EXPECT_EQ(f.get(2, 5), PuyoType::IRON);
    EXPECT_EQ(f.get(4, 5), PuyoType::WALL);
    EXPECT_EQ(f.get_num_puyos(), 5u);
}

TEST(BitFieldTest, DropClosesGapsFromRowTwoDown) {
    BitField f;
    f.set(1, 5, PuyoType::RED);
    f.set(1, 9, PuyoType::BLUE);
    f.set(2, 1, PuyoType::GREEN);   // row 1 never falls
    f.set(3, 1, PuyoType::YELLOW);  // not even over a falling cell
    f.set(3, 2, PuyoType::RED);
    f.set(5, 2, PuyoType::IRON);
    f.set(6, 3, PuyoType::OJAMA);
    f.set(6, 14, PuyoType::GREEN);
    f.drop();
    const BitField expected = [] {
        BitField e;
        e.set(1, 14, PuyoType::BLUE);
        e.set(1, 13, PuyoType::RED);
        e.set(2, 1, PuyoType::GREEN);
        e.set(3, 1, PuyoType::YELLOW);
        e.set(3, 14, PuyoType::RED);
        e.set(5, 14, PuyoType::IRON);
        e.set(6, 13, PuyoType::OJAMA);
        e.set(6, 14, PuyoType::GREEN);
        return e;
    }();
    EXPECT_EQ(f, expected) << f.debug();
    const BitField settled = f;
    f.drop();
    EXPECT_EQ(f, settled);
}

TEST(BitFieldTest, AWallFallsOnlyUnderAFallingPuyo) {
    BitField alone;
    alone.set(2, 10, PuyoType::WALL);
    const BitField before = alone;
    alone.drop();
    EXPECT_EQ(alone, before);

    BitField under;
    under.set(5, 10, PuyoType::WALL);
    under.set(5, 5, PuyoType::RED);
    under.drop();
    EXPECT_EQ(under.get(5, 14), PuyoType::WALL);
    EXPECT_EQ(under.get(5, 13), PuyoType::RED);
    EXPECT_EQ(under.get_num_puyos(), 2u);
}

TEST(BitFieldTest, APuyoFallsIntoAMissingFloorCell) {
    BitField f;
    f.set(3, 15, PuyoType::EMPTY);
    f.set(3, 5, PuyoType::RED);
    f.set(4, 5, PuyoType::BLUE);  // the floor beside it still holds
    f.drop();
    EXPECT_EQ(f.get(3, 15), PuyoType::RED) << f.debug();
    EXPECT_EQ(f.get(3, 14), PuyoType::EMPTY);
    EXPECT_EQ(f.get(4, 14), PuyoType::BLUE);

    // The same through a chain, whose drops after a vanish take a shortcut.
    BitField c;
    c.set(3, 15, PuyoType::EMPTY);
    for (std::uint64_t y = 11; y <= 14; ++y) c.set(3, y, PuyoType::RED);
    c.set(3, 10, PuyoType::BLUE);
    EXPECT_EQ(c.chain().chain(), 1u);
    EXPECT_EQ(c.get(3, 15), PuyoType::BLUE) << c.debug();
    EXPECT_EQ(c.get_num_puyos(), 0u);  // row 15 does not count
}

// Quiet: chain() would do nothing, and cells taken out let the rest fall freely.
struct QuietCase {
    const char* name;
    std::vector<std::pair<Position, PuyoType::Value>> cells;
    bool quiet;
    friend void PrintTo(const QuietCase& c, std::ostream* os) { *os << c.name; }
};

class BitFieldQuiet : public testing::TestWithParam<QuietCase> {};

TEST_P(BitFieldQuiet, OnlyASettledFieldWithNothingToVanishOrStopAFall) {
    BitField f;
    for (const auto& [p, t] : GetParam().cells) f.set(p.x, p.y, t);
    EXPECT_EQ(f.is_quiet(), GetParam().quiet) << f.debug();
}

constexpr PuyoType::Value R = PuyoType::RED;

INSTANTIATE_TEST_SUITE_P(
    Cases, BitFieldQuiet,
    testing::Values(QuietCase{"Empty", {}, true},
                    QuietCase{"ThreeOnTheFloor", {{{1, 14}, R}, {{2, 14}, R}, {{3, 14}, R}}, true},
                    QuietCase{"FourOnTheFloor", {{{1, 14}, R}, {{2, 14}, R}, {{3, 14}, R}, {{4, 14}, R}}, false},
                    QuietCase{"APuyoInTheAir", {{{2, 10}, R}}, false}, QuietCase{"RowOneOverAGap", {{{2, 1}, R}}, true},
                    QuietCase{"AWallUnderAPuyo", {{{2, 14}, PuyoType::WALL}, {{2, 13}, R}}, false},
                    QuietCase{"IronUnderAPuyo", {{{2, 14}, PuyoType::IRON}, {{2, 13}, R}}, true},
                    QuietCase{"AGapInTheFloor", {{{2, 15}, PuyoType::EMPTY}, {{2, 14}, R}}, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BitFieldTest, VanishableConnectionsTouchAnEmptyCell) {
    BitField single;
    single.set(1, 14, PuyoType::RED);
    ConnectionList c = single.get_vanishable_connections();
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].debug(), "Connection { positions: Some([Position { x: 1, y: 14 }]), size: 1, puyotype: RED }");

    BitField enclosed = field({"B ", "RB"});
    const BitField before = enclosed;
    c = enclosed.get_vanishable_connections();
    EXPECT_EQ(enclosed, before);
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(*c[0].positions, (std::vector<Position>{{1, 13}}));
    EXPECT_EQ(*c[1].positions, (std::vector<Position>{{2, 14}}));

    // Positions: high half first, each column from the floor upwards.
    BitField across = field({"  RR", "  RR", "   R"});
    c = across.get_vanishable_connections();
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(*c[0].positions, (std::vector<Position>{{4, 14}, {4, 13}, {4, 12}, {3, 13}, {3, 12}}));
    EXPECT_EQ(c[0].size, 5u);
    across.vanish();
    EXPECT_TRUE(across.is_all_clear());
}

TEST(BitFieldTest, VanishableConnectionsMayTouchEmptyCellsInTheFuzzyRows) {
    // Columns 1..6 filled with rows 3..14 of stripes; only row 2 and row 1 are empty.
    BitField f;
    for (std::uint64_t x = 1; x <= 6; ++x)
        for (std::uint64_t y = 3; y <= 14; ++y) f.set(x, y, x % 2 ? PuyoType::RED : PuyoType::OJAMA);
    f.set(1, 2, PuyoType::IRON);
    const ConnectionList c = f.get_vanishable_connections();
    ASSERT_EQ(c.size(), 2u);  // columns 5 and 3; column 1 is capped by IRON
    EXPECT_EQ(c[0].positions->front(), (Position{5, 14}));
    EXPECT_EQ(c[1].positions->front(), (Position{3, 14}));
    EXPECT_EQ(c[1].size, 12u);
}
