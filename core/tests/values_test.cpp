#include <gtest/gtest.h>

#include <limits>

#include "hand.hpp"
#include "pair.hpp"
#include "puyotype.hpp"
#include "rotation.hpp"

using namespace tavik;

TEST(PuyoTypeTest, CharactersRoundTrip) {
    for (char c : std::string_view(" OWIRBYGP")) {
        auto t = PuyoType::from_char(static_cast<unsigned char>(c));
        ASSERT_TRUE(t.is_ok()) << c;
        EXPECT_EQ(t.value().to_char(), c);
    }
    EXPECT_EQ(PuyoType::from_char(U' ').value(), PuyoType::EMPTY);
}

TEST(PuyoTypeTest, NumbersRoundTrip) {
    for (std::uint64_t n = 0; n < 9; ++n) EXPECT_EQ(PuyoType::from_number(n).value().number(), n);
    EXPECT_EQ(PuyoType::from_number(3).value(), PuyoType::IRON);
}

struct BadCharCase {
    char32_t c;
    const char* debug;
};

class PuyoTypeBadChar : public testing::TestWithParam<BadCharCase> {};

TEST_P(PuyoTypeBadChar, DebugTextEscapes) {
    auto t = PuyoType::from_char(GetParam().c);
    ASSERT_TRUE(t.is_err());
    EXPECT_EQ(t.error().debug(), GetParam().debug);
}

INSTANTIATE_TEST_SUITE_P(Escapes, PuyoTypeBadChar,
                         testing::Values(BadCharCase{U'r', "InvalidPuyoTypeCharacter('r')"},
                                         BadCharCase{U'.', "InvalidPuyoTypeCharacter('.')"},
                                         BadCharCase{U'\'', "InvalidPuyoTypeCharacter('\\'')"},
                                         BadCharCase{U'"', "InvalidPuyoTypeCharacter('\"')"},
                                         BadCharCase{U'\\', "InvalidPuyoTypeCharacter('\\\\')"},
                                         BadCharCase{U'\n', "InvalidPuyoTypeCharacter('\\n')"},
                                         BadCharCase{U'\t', "InvalidPuyoTypeCharacter('\\t')"},
                                         BadCharCase{U'\0', "InvalidPuyoTypeCharacter('\\0')"},
                                         BadCharCase{U'\x1b', "InvalidPuyoTypeCharacter('\\u{1b}')"},
                                         BadCharCase{U'\x7f', "InvalidPuyoTypeCharacter('\\u{7f}')"},
                                         BadCharCase{U'é', "InvalidPuyoTypeCharacter('é')"},
                                         BadCharCase{U'ぷ', "InvalidPuyoTypeCharacter('ぷ')"}));

TEST(PuyoTypeTest, BadNumberKeepsTheNumber) {
    EXPECT_EQ(PuyoType::from_number(9).error().debug(), "InvalidPuyoTypeNumber(9)");
    const auto max = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(PuyoType::from_number(max).error().number, max);
}

TEST(PuyoTypeTest, ColoursAreFourToEight) {
    for (unsigned n = 0; n < 9; ++n) EXPECT_EQ(PuyoType::from_number_unchecked(n).is_color(), n >= 4) << n;
}

TEST(RotationTest, FromStrAcceptsOnlyBothCases) {
    EXPECT_EQ(Rotation::from_str("bottom").value(), Rotation::BOTTOM);
    EXPECT_EQ(Rotation::from_str("BOTTOM").value(), Rotation::BOTTOM);
    EXPECT_EQ(Rotation::from_str("right").value(), Rotation::RIGHT);
    for (const char* bad : {"Bottom", "b", "", " top", "Top"}) EXPECT_TRUE(Rotation::from_str(bad).is_err()) << bad;
    EXPECT_EQ(Rotation::from_str("Top").error().debug(), "InvalidRotationString(\"Top\")");
    EXPECT_EQ(Rotation::from_str("a\"b\n").error().debug(), "InvalidRotationString(\"a\\\"b\\n\")");
    EXPECT_EQ(Rotation::from_str("it's").error().debug(), "InvalidRotationString(\"it's\")");
}

TEST(RotationTest, Texts) {
    EXPECT_EQ(Rotation(Rotation::LEFT).display(), "left");
    EXPECT_EQ(Rotation(Rotation::LEFT).debug(), "LEFT");
    EXPECT_EQ((RotationError{RotationError::InvalidRotationNumber, 7, {}}).debug(), "InvalidRotationNumber(7)");
}

TEST(PairTest, ChildFirstAxisSecond) {
    Pair p(PuyoType::RED, PuyoType::BLUE);
    EXPECT_EQ(p.child(), PuyoType::RED);
    EXPECT_EQ(p.axis(), PuyoType::BLUE);
    EXPECT_EQ(p.debug(), "Pair { colors: [RED, BLUE] }");
    EXPECT_EQ(Pair(), Pair(PuyoType::RED, PuyoType::RED));
    EXPECT_FALSE(p == Pair(PuyoType::BLUE, PuyoType::RED));
}

TEST(HandTest, Texts) {
    Hand h{6, Rotation::RIGHT};
    EXPECT_EQ(h.display(), "6-right");
    EXPECT_EQ((Hand{3, Rotation::TOP}).debug(), "Hand { x: 3, rotation: TOP }");
}

TEST(HandTest, EnumerateOrder) {
    const auto& hands = Hand::enumerate();
    ASSERT_EQ(hands.size(), 22u);
    EXPECT_EQ(hands[0], (Hand{1, Rotation::TOP}));
    EXPECT_EQ(hands[6], (Hand{2, Rotation::LEFT}));
    EXPECT_EQ(hands[11], (Hand{1, Rotation::BOTTOM}));
    EXPECT_EQ(hands[17], (Hand{1, Rotation::RIGHT}));
    EXPECT_EQ(hands[21], (Hand{5, Rotation::RIGHT}));
    for (const Hand& h : hands) EXPECT_FALSE(h == (Hand{6, Rotation::RIGHT}));
}
