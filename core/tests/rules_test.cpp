// The rules of the one-player game: settling a move, its score and the all-clear bonus.
#include <gtest/gtest.h>

#include "game/rules.hpp"
#include "test_support.hpp"

using namespace tavik;
using testing_support::field;

TEST(RulesTest, AllClearBonusIsPaidByTheNextFiringMoveOnly) {
    std::uint64_t pending = 0;
    BitField clears = field({"RRRR"});
    const rules::MoveResult first = rules::settle(clears, pending);
    EXPECT_TRUE(first.all_clear);
    EXPECT_EQ(first.score, 40u);  // the clearing move itself earns nothing extra
    EXPECT_EQ(pending, rules::ALL_CLEAR_BONUS);

    BitField quiet = field({"RB"});
    EXPECT_EQ(rules::settle(quiet, pending).score, 0u);
    EXPECT_EQ(pending, rules::ALL_CLEAR_BONUS);  // a move that fires nothing keeps it owed

    BitField fires = field({"BRRRR"});
    const rules::MoveResult paid = rules::settle(fires, pending);
    EXPECT_FALSE(paid.all_clear);
    EXPECT_EQ(paid.score, 40u + rules::ALL_CLEAR_BONUS);
    EXPECT_EQ(pending, 0u);

    BitField again = field({"BRRRR"});
    EXPECT_EQ(rules::settle(again, pending).score, 40u);
}
