// The one-player game: placements, the row above the field, top-out and refused hands.
#include <gtest/gtest.h>

#include "game/game.hpp"
#include "game/rules.hpp"
#include "test_support.hpp"

using namespace tavik;
using testing_support::field;
using testing_support::game_on;
using testing_support::stacked;

TEST(GameTest, APuyoRestingInTheTopFuzzyRowIsRemovedByTheNextPlacement) {
    // Column 6 full to row 1 (as ojama can leave it); the move goes elsewhere.
    Game g = game_on(stacked(BitField(), 6, 14));
    ASSERT_NE(g.field().get(6, rules::TOP_FUZZY_Y), PuyoType::EMPTY);
    ASSERT_TRUE(g.play({1, Rotation::TOP}));
    EXPECT_EQ(g.field().get(6, rules::TOP_FUZZY_Y), PuyoType::EMPTY);
    EXPECT_EQ(g.field().get_height(6), 13u);
}

// Column 3 holds ten puyos; the pair stands on it and reaches the spawn cell.
// When its lower puyo completes a group below, the chain empties the spawn
// cell again before the game checks it.
class TopOut : public ::testing::TestWithParam<bool> {};

TEST_P(TopOut, TheGameEndsWhenTheSpawnCellIsStillFilledAfterTheMoveSettles) {
    const bool fires = GetParam();
    Game g(3);
    const Pair p = g.pair();
    BitField f = stacked(BitField(), 3, 7);
    f = stacked(f, 3, 3, fires ? p.child() : PuyoType(PuyoType::OJAMA));
    g = game_on(f, 3);
    const std::optional<Move> m = g.play({3, Rotation::BOTTOM});  // child below the axis
    ASSERT_TRUE(m);
    EXPECT_EQ(m->over, !fires);
    EXPECT_EQ(g.over(), !fires);
    EXPECT_EQ(m->chain, fires ? 1u : 0u);
    EXPECT_EQ(g.legal_mask() == 0, !fires);
}

INSTANTIATE_TEST_SUITE_P(GameTest, TopOut, ::testing::Bool());

TEST(GameTest, RefusedHandsLeaveTheGameUnchanged) {
    // Column 2 full to the top visible row: columns 1 and 2 cannot be reached.
    Game g = game_on(stacked(BitField(), 2, 12));
    const Game before = g;
    for (const Hand h : {Hand{1, Rotation::TOP}, Hand{2, Rotation::BOTTOM}, Hand{3, Rotation::LEFT}}) {
        EXPECT_FALSE(g.play(h)) << h.display();
        EXPECT_EQ(g, before);
    }
    Game over = game_on(stacked(BitField(), 3, 12));
    ASSERT_TRUE(over.over());
    const Game finished = over;
    EXPECT_FALSE(over.play({3, Rotation::TOP}));
    EXPECT_EQ(over, finished);
}
