// Ojama: how many a score sends, and where a drop lands.
#include <gtest/gtest.h>

#include <array>

#include "game/garbage.hpp"
#include "test_support.hpp"

using namespace tavik;

namespace {

std::array<std::uint64_t, 6> heights(const BitField& f) {
    std::array<std::uint64_t, 6> out{};
    for (std::uint64_t x = 1; x <= 6; ++x) out[x - 1] = f.get_height(x);
    return out;
}

}  // namespace

TEST(GarbageTest, ScoreTurnsIntoOjamaWithTheRestCarried) {
    EXPECT_EQ(ojama_from_score(139, 1), std::make_pair(std::uint64_t{2}, std::uint64_t{0}));
    EXPECT_EQ(ojama_from_score(69), std::make_pair(std::uint64_t{0}, std::uint64_t{69}));
    EXPECT_EQ(ojama_from_score(100, 20, 120), std::make_pair(std::uint64_t{1}, std::uint64_t{0}));
}

struct Drop {
    std::uint64_t count, seed;
    std::array<std::uint64_t, 6> heights;
    std::uint64_t dropped;
};

class DropOjama : public ::testing::TestWithParam<Drop> {};

TEST_P(DropOjama, FullRowsFirstThenTheRestInDistinctColumnsFromTheSeed) {
    const Drop d = GetParam();
    BitField f;
    EXPECT_EQ(drop_ojama(f, d.count, d.seed), d.dropped);
    EXPECT_EQ(heights(f), d.heights);
}

INSTANTIATE_TEST_SUITE_P(GarbageTest, DropOjama,
                         ::testing::Values(Drop{8, 7, {1, 2, 2, 1, 1, 1}, 8},  // a row, then columns 2 and 3
                                           Drop{3, 1, {0, 0, 0, 1, 1, 1}, 3}, Drop{0, 1, {0, 0, 0, 0, 0, 0}, 0},
                                           Drop{40, 1, {5, 5, 5, 5, 5, 5}, 30}));  // at most 30 at once

TEST(GarbageTest, OjamaFindingAFullColumnIsLost) {
    BitField f = testing_support::stacked(BitField(), 1, 14, PuyoType::RED);
    EXPECT_EQ(drop_ojama(f, 6, 1), 5u);
    EXPECT_EQ(heights(f), (std::array<std::uint64_t, 6>{14, 1, 1, 1, 1, 1}));
}
