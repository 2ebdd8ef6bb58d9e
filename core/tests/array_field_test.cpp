#include <gtest/gtest.h>

#include "test_support.hpp"

#include "field/array_field.hpp"

using namespace tavik;
using testing_support::panic_text;

namespace {

std::vector<Position> positions(const Connection& c) { return {c.positions->begin(), c.positions->end()}; }

}  // namespace

TEST(ArrayFieldTest, NewFieldGeometry) {
    ArrayField f;
    EXPECT_EQ(f.get(0, 0), PuyoType::WALL);
    EXPECT_EQ(f.get(7, 15), PuyoType::WALL);
    EXPECT_EQ(f.get(3, 15), PuyoType::WALL);
    EXPECT_EQ(f.get(1, 1), PuyoType::EMPTY);
    EXPECT_EQ(f.get(6, 14), PuyoType::EMPTY);
    EXPECT_EQ(panic_text([&] { f.get(8, 0); }), "index out of bounds: the len is 8 but the index is 8");
    EXPECT_EQ(panic_text([&] { f.get(0, 16); }), "index out of bounds: the len is 16 but the index is 16");
    std::string expected = "\nWWWWWWWW\n";
    for (int i = 0; i < 14; ++i) expected += "W      W\n";
    EXPECT_EQ(f.debug(), expected + "WWWWWWWW\n");
}

TEST(ArrayFieldTest, PutFillsTheColumnUpToRowOne) {
    ArrayField f;
    EXPECT_EQ(f.put(3, PuyoType::RED), (Position{3, 14}));
    for (int i = 0; i < 13; ++i) ASSERT_TRUE(f.put(3, PuyoType::RED));
    EXPECT_EQ(f.get(3, 1), PuyoType::RED);
    const ArrayField full = f;
    EXPECT_FALSE(f.put(3, PuyoType::RED));
    EXPECT_EQ(f, full);
    EXPECT_EQ(f.get_height(3), 14u);
    EXPECT_EQ(f.get_num_puyos(), 13u);
    EXPECT_FALSE(f.put(0, PuyoType::RED));
    EXPECT_FALSE(f.put(7, PuyoType::RED));
    EXPECT_EQ(panic_text([&] { f.put(8, PuyoType::RED); }), "index out of bounds: the len is 8 but the index is 8");
}

TEST(ArrayFieldTest, PutFillsTheLowestGapAndHeightCountsFromTheFloor) {
    ArrayField f;
    f.set(2, 13, PuyoType::BLUE);
    EXPECT_EQ(f.get_height(2), 0u);
    EXPECT_EQ(f.put(2, PuyoType::RED), (Position{2, 14}));
    EXPECT_EQ(f.get_height(2), 2u);
    EXPECT_EQ(f.get_height(0), 14u);
}

TEST(ArrayFieldTest, RowOneNeverCounts) {
    ArrayField f;
    f.set(4, 1, PuyoType::GREEN);
    EXPECT_TRUE(f.is_all_clear());
    EXPECT_EQ(f.get_num_puyos(), 0u);
    EXPECT_TRUE(f.has_type(PuyoType::GREEN));
    EXPECT_FALSE(f.has_type(PuyoType::WALL));
    f.set(4, 2, PuyoType::IRON);
    EXPECT_FALSE(f.is_all_clear());
}

struct PlacementCase {
    std::uint64_t x;
    Rotation rotation;
    const char* error;  // empty when accepted
};

class ArrayFieldPlacement : public testing::TestWithParam<PlacementCase> {};

TEST_P(ArrayFieldPlacement, RefusalRules) {
    ArrayField f;
    const ArrayField before = f;
    auto r = f.put_pair(GetParam().x, GetParam().rotation, Pair(PuyoType::RED, PuyoType::BLUE));
    if (*GetParam().error) {
        ASSERT_TRUE(r.is_err());
        EXPECT_EQ(r.error().display(), GetParam().error);
        EXPECT_EQ(f, before);
    } else {
        EXPECT_TRUE(r.is_ok());
    }
}

INSTANTIATE_TEST_SUITE_P(Rules, ArrayFieldPlacement,
                         testing::Values(PlacementCase{1, Rotation::LEFT, "Invalid put operation (left, 1)"},
                                         PlacementCase{0, Rotation::LEFT, "Invalid put operation (left, 0)"},
                                         PlacementCase{6, Rotation::RIGHT, "Invalid put operation (right, 6)"},
                                         PlacementCase{100, Rotation::RIGHT, "Invalid put operation (right, 100)"},
                                         PlacementCase{2, Rotation::LEFT, ""}, PlacementCase{6, Rotation::TOP, ""},
                                         PlacementCase{7, Rotation::LEFT, ""}, PlacementCase{5, Rotation::RIGHT, ""}));

TEST(ArrayFieldTest, PairOrderPerRotation) {
    const Pair p(PuyoType::RED, PuyoType::BLUE);  // child RED, axis BLUE
    ArrayField top;
    ASSERT_TRUE(top.put_pair(3, Rotation::TOP, p));
    EXPECT_EQ(top.get(3, 14), PuyoType::BLUE);
    EXPECT_EQ(top.get(3, 13), PuyoType::RED);
    ArrayField bottom;
    ASSERT_TRUE(bottom.put_pair(3, Rotation::BOTTOM, p));
    EXPECT_EQ(bottom.get(3, 14), PuyoType::RED);
    EXPECT_EQ(bottom.get(3, 13), PuyoType::BLUE);
    ArrayField left;
    ASSERT_TRUE(left.put_hand(Hand{2, Rotation::LEFT}, p));
    EXPECT_EQ(left.get(2, 14), PuyoType::BLUE);
    EXPECT_EQ(left.get(1, 14), PuyoType::RED);
    ArrayField wall;  // the axis is lost in the wall column, the child lands
    ASSERT_TRUE(wall.put_pair(7, Rotation::LEFT, p));
    EXPECT_EQ(wall.get(6, 14), PuyoType::RED);
    EXPECT_EQ(wall.get_num_puyos(), 1u);
}

TEST(ArrayFieldTest, PairIntoAlmostFullColumnLosesTheChild) {
    ArrayField f;
    for (std::uint64_t y = 2; y <= 14; ++y) f.set(4, y, PuyoType::OJAMA);
    ASSERT_TRUE(f.put_pair(4, Rotation::TOP, Pair(PuyoType::RED, PuyoType::BLUE)));
    EXPECT_EQ(f.get(4, 1), PuyoType::BLUE);
}

TEST(ArrayFieldTest, EqualityAndFuzzyRows) {
    for (Position p : {Position{1, 1}, Position{3, 2}, Position{0, 5}, Position{7, 0}}) {
        ArrayField a, b;
        b.set(p.x, p.y, PuyoType::GREEN);
        EXPECT_FALSE(a == b) << p.debug();
        EXPECT_TRUE(a.equals_without_fuzzy(b)) << p.debug();
    }
    ArrayField a, b;
    b.set(6, 3, PuyoType::RED);
    EXPECT_FALSE(a.equals_without_fuzzy(b));
}

TEST(ArrayFieldTest, FromStrArray) {
    auto f = ArrayField::from_str_array({"RGB"}).value();
    EXPECT_EQ(f.get(1, 14), PuyoType::RED);
    EXPECT_EQ(f.get(2, 14), PuyoType::GREEN);
    EXPECT_EQ(f.get(3, 14), PuyoType::BLUE);
    auto g = ArrayField::from_str_array({"R", "G", "", "O"}).value();
    EXPECT_EQ(g.get(1, 11), PuyoType::RED);
    EXPECT_EQ(g.get(1, 12), PuyoType::GREEN);
    EXPECT_EQ(g.get(1, 13), PuyoType::EMPTY);
    EXPECT_EQ(g.get(1, 14), PuyoType::OJAMA);
    EXPECT_EQ(ArrayField::from_str_array({"RrB"}).error().debug(), "InvalidPuyoTypeCharacter('r')");
    // One character per cell, not per byte.
    EXPECT_EQ(ArrayField::from_str_array({"Rぷ"}).error().debug(), "InvalidPuyoTypeCharacter('ぷ')");
    // A seventh character lands in the wall column, an eighth is out of the grid.
    EXPECT_EQ(ArrayField::from_str_array({"RRRRRRB"}).value().get(7, 14), PuyoType::BLUE);
    EXPECT_EQ(panic_text([] { (void)ArrayField::from_str_array({"RRRRRRBB"}); }),
              "index out of bounds: the len is 8 but the index is 8");
    std::vector<std::string> rows(16, "");
    rows[1] = "R";  // the fifteenth from the end replaces the ceiling
    EXPECT_EQ(ArrayField::from_str_array(rows).value().get(1, 0), PuyoType::RED);
    rows[0] = "R";
    EXPECT_EQ(panic_text([&] { (void)ArrayField::from_str_array(rows); }),
              "index out of bounds: the len is 16 but the index is 18446744073709551615");
}

TEST(ArrayFieldTest, FromArrayAndToArray) {
    std::vector<std::vector<std::uint64_t>> cols(6, std::vector<std::uint64_t>(14, 0));
    cols[0][13] = 4;
    cols[5][0] = 8;
    auto f = ArrayField::from_array(cols).value();
    EXPECT_EQ(f.get(1, 14), PuyoType::RED);
    EXPECT_EQ(f.get(6, 1), PuyoType::PURPLE);
    auto arr = f.to_array();
    std::vector<std::vector<std::uint64_t>> back;
    for (auto& col : arr) back.emplace_back(col.begin(), col.end());
    EXPECT_EQ(ArrayField::from_array(back).value(), f);

    auto five = cols;
    five.pop_back();
    EXPECT_EQ(ArrayField::from_array(five).error().display(), "Invalid size of array");
    auto short_col = cols;
    short_col[3].pop_back();
    EXPECT_TRUE(ArrayField::from_array(short_col).error().is_size_error());
    auto bad = cols;
    bad[2][5] = 9;
    EXPECT_EQ(ArrayField::from_array(bad).error().display(), "InvalidPuyoTypeNumber(9)");
    bad[4].pop_back();  // every size is checked before any number
    EXPECT_TRUE(ArrayField::from_array(bad).error().is_size_error());
    for (auto& col : ArrayField().to_array())
        for (PuyoType t : col) EXPECT_EQ(t, PuyoType::EMPTY);
}

TEST(ArrayFieldVanish, ColumnOfFour) {
    auto f = ArrayField::from_str_array({"R", "R", "R", "R"}).value();
    auto groups = f.vanish();
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].debug(),
              "Connection { positions: Some([Position { x: 1, y: 11 }, Position { x: 1, y: 12 }, "
              "Position { x: 1, y: 13 }, Position { x: 1, y: 14 }]), size: 4, puyotype: RED }");
    EXPECT_EQ(f, ArrayField());
}

TEST(ArrayFieldVanish, FloodFillOrderAndScanOrder) {
    auto f = ArrayField::from_str_array({"     G", "   B G", " BBBGG"}).value();
    auto groups = f.vanish();
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(positions(groups[0]), (std::vector<Position>{{2, 14}, {3, 14}, {4, 14}, {4, 13}}));
    EXPECT_EQ(groups[1].puyotype, PuyoType::GREEN);
}

TEST(ArrayFieldVanish, NothingBelowFour) {
    for (auto rows : {std::vector<std::string>{"RRR"},
                      std::vector<std::string>{"", "R", "R", "R", "R", "B", "Y", "B", "Y", "B", "Y", "B", "Y", "B"}}) {
        auto f = ArrayField::from_str_array(rows).value();
        const ArrayField before = f;
        EXPECT_TRUE(f.vanish().empty());
        EXPECT_EQ(f, before);
    }
}

TEST(ArrayFieldVanish, OjamaTouchingIsCleared) {
    // O above and beside the group go, the diagonal one and IRON stay, and the
    // row-2 OJAMA over a row-3 puyo goes too.
    auto f = ArrayField::from_str_array({"O", "R", "R", "R", "RO", "IOO", "  "}).value();
    f.set(1, 14, PuyoType::YELLOW);
    auto before_rows = f.debug();
    auto groups = f.vanish();
    ASSERT_EQ(groups.size(), 1u) << before_rows;
    EXPECT_EQ(f.get(1, 8), PuyoType::EMPTY);   // above
    EXPECT_EQ(f.get(2, 12), PuyoType::EMPTY);  // beside
    EXPECT_EQ(f.get(2, 13), PuyoType::OJAMA);  // diagonal
    EXPECT_EQ(f.get(3, 13), PuyoType::OJAMA);
    EXPECT_EQ(f.get(1, 13), PuyoType::IRON);
    ArrayField h;
    h.set(1, 2, PuyoType::OJAMA);
    for (std::uint64_t y = 3; y <= 6; ++y) h.set(1, y, PuyoType::RED);
    ASSERT_EQ(h.vanish().size(), 1u);
    EXPECT_EQ(h.get(1, 2), PuyoType::EMPTY);
}

TEST(ArrayFieldDrop, GravityKeepsOrderAndSkipsRowOne) {
    ArrayField f;
    f.set(2, 9, PuyoType::YELLOW);
    f.set(3, 5, PuyoType::RED);
    f.set(3, 9, PuyoType::BLUE);
    f.set(4, 1, PuyoType::RED);
    f.set(5, 2, PuyoType::RED);
    f.set(6, 6, PuyoType::IRON);
    f.drop();
    EXPECT_EQ(f.get(2, 14), PuyoType::YELLOW);
    EXPECT_EQ(f.get(3, 14), PuyoType::BLUE);
    EXPECT_EQ(f.get(3, 13), PuyoType::RED);
    EXPECT_EQ(f.get(4, 1), PuyoType::RED);
    EXPECT_EQ(f.get(5, 14), PuyoType::RED);
    EXPECT_EQ(f.get(6, 14), PuyoType::IRON);
    EXPECT_EQ(f.get_num_puyos(), 5u);
}

TEST(ArrayFieldTest, ColourInTheWallLetsTheFloodFillEscape) {
    ArrayField f = ArrayField::from_str_array({"     RR", "     RR"}).value();
    const ArrayField before = f;
    EXPECT_EQ(panic_text([&] { f.vanish(); }), "index out of bounds: the len is 8 but the index is 8");
    EXPECT_EQ(f, before);
}

TEST(ArrayFieldTest, VanishableConnections) {
    ArrayField f;
    f.set(1, 14, PuyoType::RED);
    auto single = f.get_vanishable_connections();
    ASSERT_EQ(single.size(), 1u);
    EXPECT_EQ(positions(single[0]), (std::vector<Position>{{1, 14}}));
    f.set(2, 14, PuyoType::BLUE);
    f.set(1, 13, PuyoType::BLUE);
    auto enclosed = f.get_vanishable_connections();
    ASSERT_EQ(enclosed.size(), 2u);
    for (const Connection& c : enclosed) EXPECT_EQ(c.puyotype, PuyoType::BLUE);
}
