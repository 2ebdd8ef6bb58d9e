#include <gtest/gtest.h>

#include "test_support.hpp"

#include "chain/chain_result.hpp"
#include "field/array_field.hpp"

using namespace tavik;
using testing_support::panic_text;

namespace {

Connection group(std::uint64_t size, PuyoType t) { return Connection{std::nullopt, size, t}; }

}  // namespace

struct ScoreCase {
    std::uint64_t chain;
    std::vector<Connection> groups;
    std::uint64_t score;
};

class StepScore : public testing::TestWithParam<ScoreCase> {};

TEST_P(StepScore, Formula) {
    ChainStepResult step{GetParam().chain, GetParam().groups};
    EXPECT_EQ(step.score(), GetParam().score);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, StepScore,
    testing::Values(ScoreCase{1, {group(4, PuyoType::RED)}, 40}, ScoreCase{2, {group(4, PuyoType::RED)}, 320},
                    ScoreCase{1, {group(4, PuyoType::RED), group(5, PuyoType::BLUE)}, 450},
                    ScoreCase{5, {group(4, PuyoType::RED)}, 2560},
                    ScoreCase{1, {group(11, PuyoType::RED)}, 10 * 11 * 10},
                    ScoreCase{1, {group(12, PuyoType::RED)}, 10 * 12 * 10},
                    ScoreCase{1,
                              {group(4, PuyoType::RED), group(4, PuyoType::BLUE), group(4, PuyoType::YELLOW),
                               group(4, PuyoType::GREEN), group(4, PuyoType::PURPLE)},
                              10 * 20 * 24},
                    ScoreCase{1, {group(4, PuyoType::RED), group(4, PuyoType::RED)}, 80},
                    ScoreCase{19, {group(72, PuyoType::RED)}, 10 * 72 * 522},
                    ScoreCase{19,
                              {group(20, PuyoType::RED), group(20, PuyoType::BLUE), group(20, PuyoType::GREEN),
                               group(12, PuyoType::YELLOW)},
                              10 * 72 * (512 + 40 + 12)},
                    ScoreCase{19, std::vector<Connection>(50, group(11, PuyoType::RED)), 10 * 550 * 999},
                    ScoreCase{0, {}, 0}, ScoreCase{25, {}, 0}));

TEST(StepScore, ChainNumberTwentyIsAnIndexError) {
    ChainStepResult step{25, {group(4, PuyoType::RED)}};
    EXPECT_EQ(panic_text([&] { (void)step.score(); }), "index out of bounds: the len is 20 but the index is 25");
}

TEST(ChainTest, EmptyFieldHasNoSteps) {
    ArrayField f;
    auto r = f.chain();
    EXPECT_EQ(r.chain(), 0u);
    EXPECT_EQ(r.score(), 0u);
}

TEST(ChainTest, SingleGroupOnASettledStack) {
    auto f = ArrayField::from_str_array({"R", "R", "RB", "RBYG"}).value();
    auto r = f.chain();
    EXPECT_EQ(r.chain(), 1u);
    EXPECT_EQ(r.score(), 40u);
    EXPECT_EQ(f.get(2, 14), PuyoType::BLUE);
}

TEST(ChainTest, HangingPuyosGiveOneDropOnlyStep) {
    ArrayField f;
    f.set(3, 5, PuyoType::RED);
    auto r = f.chain();
    ASSERT_EQ(r.chain(), 1u);
    EXPECT_EQ(r.steps()[0].chain, 0u);
    EXPECT_EQ(r.score(), 0u);
    EXPECT_EQ(f.get(3, 14), PuyoType::RED);
}

TEST(ChainTest, DropOnlyFirstPassNumbersVanishingsFromTwo) {
    // A red puyo hangs over three reds: the first pass drops it, the second vanishes.
    ArrayField f = ArrayField::from_str_array({"R", " ", "R", "R", "R"}).value();
    auto r = f.chain();
    ASSERT_EQ(r.chain(), 2u);
    EXPECT_EQ(r.steps()[0].chain, 0u);
    EXPECT_EQ(r.steps()[1].chain, 2u);
    EXPECT_EQ(r.score(), 320u);
}

TEST(ChainTest, TwoStepChain) {
    // Reds vanish, the blue on top falls onto three blues.
    ArrayField f = ArrayField::from_str_array({"B", "R", "RB", "RB", "RB"}).value();
    auto r = f.chain();
    ASSERT_EQ(r.chain(), 2u);
    EXPECT_EQ(r.steps()[1].chain, 2u);
    EXPECT_EQ(r.score(), 40u + 320u);
    EXPECT_TRUE(f.is_all_clear());
}

TEST(StepChainTest, UsesTheCallersNumber) {
    auto f = ArrayField::from_str_array({"R", "R", "R", "R"}).value();
    auto step = f.step_chain(5);
    EXPECT_EQ(step.chain, 5u);
    EXPECT_EQ(step.score(), 2560u);

    ArrayField g;
    g.set(2, 4, PuyoType::BLUE);
    auto none = g.step_chain(5);
    EXPECT_EQ(none.chain, 0u);
    EXPECT_EQ(none.score(), 0u);
    EXPECT_EQ(g.get(2, 14), PuyoType::BLUE);

    auto h = ArrayField::from_str_array({"R", "R", "R", "R"}).value();
    auto twenty = h.step_chain(20);
    EXPECT_EQ(twenty.chain, 20u);
    EXPECT_TRUE(h.is_all_clear());  // the step stands even though its score cannot be read
    EXPECT_EQ(panic_text([&] { (void)twenty.score(); }), "index out of bounds: the len is 20 but the index is 20");
}

namespace {

// A field whose every pass vanishes one group of four, to drive the pass limit.
struct EndlessField : FieldBase<EndlessField> {
    static constexpr bool from_array_checks_sizes_first = true;
    std::uint64_t passes = 0;
    std::uint64_t limit = 1000;

    PuyoType get(std::uint64_t, std::uint64_t) const { return PuyoType::EMPTY; }
    void set(std::uint64_t, std::uint64_t, PuyoType) {}
    ConnectionList vanish() {
        if (passes >= limit) return {};
        ++passes;
        return {group(4, PuyoType::RED)};
    }
    void drop() {}
    bool operator==(const EndlessField& o) const { return passes == o.passes; }
};

}  // namespace

TEST(ChainTest, TwentiethVanishingPassPanicsAndKeepsItsChanges) {
    EndlessField f;
    EXPECT_EQ(panic_text([&] { (void)f.chain(); }), "index out of bounds: the len is 20 but the index is 20");
    EXPECT_EQ(f.passes, 20u);
}

TEST(ChainTest, NineteenPassesScoreNormally) {
    EndlessField f;
    f.limit = 19;
    auto r = f.chain();
    EXPECT_EQ(r.chain(), 19u);
    EXPECT_EQ(r.steps()[18].chain, 19u);
}
