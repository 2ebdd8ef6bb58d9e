// The seeded pair sequence and the SplitMix64 outputs it is made of.
#include <gtest/gtest.h>

#include "game/pair_sequence.hpp"
#include "game/splitmix64.hpp"

using namespace tavik;

TEST(PairSequenceTest, SplitMix64GivesTheReferenceOutputs) {
    // The published outputs of SplitMix64 started at 0.
    EXPECT_EQ(splitmix64_at(0, 0), 0xE220A8397B1DCDAFULL);
    EXPECT_EQ(splitmix64_at(0, 1), 0x6E789E6AA1B965F4ULL);
    EXPECT_EQ(splitmix64_at(0, 2), 0x06C45D188009454FULL);
}

TEST(PairSequenceTest, ColoursComeFromTheHighAndLowHalvesOfEachOutput) {
    // 0xE220A839 * 4 >> 32 = 3 (GREEN) for the child, 0x7B1DCDAF * 4 >> 32 = 1 (BLUE) for the axis.
    const PairSequence s(0, 4);
    EXPECT_EQ(s.at(0), Pair(PuyoType::GREEN, PuyoType::BLUE));
    EXPECT_EQ(s.at(1), Pair(PuyoType::BLUE, PuyoType::YELLOW));
    EXPECT_EQ(s.at(2), Pair(PuyoType::RED, PuyoType::YELLOW));
}

TEST(PairSequenceTest, ThreeColoursNeverDealGreenAndAnyIndexIsReachedDirectly) {
    const PairSequence s(42, 3);
    for (std::uint64_t i = 0; i < 2000; ++i) {
        const Pair p = s.at(i);
        EXPECT_NE(p.child(), PuyoType::GREEN);
        EXPECT_NE(p.axis(), PuyoType::GREEN);
    }
    EXPECT_EQ(s.at(1ULL << 62), PairSequence(42, 3).at(1ULL << 62));
    EXPECT_NE(PairSequence(42, 3), PairSequence(43, 3));
}
