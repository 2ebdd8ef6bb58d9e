#include <gtest/gtest.h>

#include <bit>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "game/match.hpp"
#include "game/rules.hpp"

using namespace tavik;

namespace {

// Rows of text, the last the bottom row; '.' is an empty cell.
BitField field(std::initializer_list<std::string_view> rows) {
    std::vector<std::string> texts;
    for (std::string_view r : rows) {
        std::string t(r);
        for (char& ch : t)
            if (ch == '.') ch = ' ';
        texts.push_back(t);
    }
    return unwrap(BitField::from_str_array(texts));
}

BitField ojama_column(std::uint64_t x, std::uint64_t count) {
    BitField f;
    for (std::uint64_t i = 0; i < count; ++i) (void)f.put(x, PuyoType::OJAMA);
    return f;
}

constexpr Hand top(std::uint64_t x) { return {x, Rotation::TOP}; }

std::string text(const MatchEvent& e) {
    std::string out = std::to_string(e.frame);
    out += " p";
    out += std::to_string(e.player);
    out += ' ';
    out += e.info().name;
    if (e.info().has_hand) {
        out += ' ';
        out += e.hand.display();
    }
    for (unsigned i = 0; i < e.info().count; ++i) {
        out += ' ';
        out += std::to_string(e.values[i]);
    }
    return out;
}

std::vector<std::string> texts(const std::vector<MatchEvent>& events, std::optional<unsigned> player = std::nullopt,
                               std::optional<MatchEvent::Kind> kind = std::nullopt) {
    std::vector<std::string> out;
    for (const MatchEvent& e : events)
        if ((!player || e.player == *player) && (!kind || e.kind == *kind)) out.push_back(text(e));
    return out;
}

// Plays the due players' next hands from their scripts until a script runs out.
void play_scripts(Match& m, const std::vector<Hand>& first, const std::vector<Hand>& second) {
    std::size_t next[2] = {0, 0};
    const std::vector<Hand>* scripts[2] = {&first, &second};
    while (!m.over()) {
        std::array<std::optional<Hand>, 2> hands;
        for (unsigned p = 0; p < 2; ++p) {
            if (!(m.due() >> p & 1)) continue;
            if (next[p] == scripts[p]->size()) return;
            hands[p] = (*scripts[p])[next[p]++];
        }
        ASSERT_EQ(m.play(hands), PlayError::NONE);
    }
}

// Column 1 holds three of the axis colour (B for seed 0, whose first pair is
// child G over axis B), so the first pair dropped there vanishes them and its
// child falls four rows onto the three G beside: a 2-chain of 40 + 320.
const BitField TWO_CHAIN = field({
    "B.....",
    "B.....",
    "BGGG.R",
});

}  // namespace

using PlacementCase = std::tuple<BitField, Hand, std::uint64_t>;

class PlacementFramesTest : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(PlacementFramesTest, CountMoveFastDropGroundingAndTheSplitPuyosFall) {
    const auto& [f, hand, frames] = GetParam();
    EXPECT_EQ(placement_frames(f, hand), frames);
}

INSTANTIATE_TEST_SUITE_P(
    Hands, PlacementFramesTest,
    ::testing::Values(PlacementCase{BitField(), top(3), 0 + 24 + 20},                     // at the spawn: 12 rows
                      PlacementCase{BitField(), top(6), 8 + 24 + 20},                     // three columns over
                      PlacementCase{BitField(), {3, Rotation::BOTTOM}, 22 + 20},          // child below: 11 rows
                      PlacementCase{ojama_column(3, 8), {3, Rotation::BOTTOM}, 12 + 20},  // at least 6
                      PlacementCase{ojama_column(3, 10), top(3), 4 + 20},
                      PlacementCase{BitField(), {3, Rotation::RIGHT}, 24 + 20},
                      PlacementCase{BitField(), {1, Rotation::RIGHT}, 6 + 24 + 20},
                      PlacementCase{ojama_column(4, 3), {3, Rotation::RIGHT}, 18 + 20 + 22 + 20},    // split 3
                      PlacementCase{ojama_column(2, 11), {3, Rotation::LEFT}, 6 + 20 + 44 + 20},     // at least 3
                      PlacementCase{ojama_column(4, 12), {3, Rotation::RIGHT}, 6 + 20 + 46 + 20}));  // full

TEST(MatchRulesTest, SettleFramesAddEachLinkAndItsFall) {
    EXPECT_EQ(settle_frames(field({"RB"})), 0u);
    EXPECT_EQ(settle_frames(field({"RRRR"})), 50u);                             // nothing falls after it
    EXPECT_EQ(settle_frames(field({"B", "R", "R", "R", "RY"})), 50u + 8 + 20);  // B falls 4 rows
    // The 2-chain with its trigger placed: the G falls 4 rows, then the Gs go.
    EXPECT_EQ(settle_frames(field({"G.....", "B.....", "B.....", "B.....", "BGGG.R"})), 78u + 50);
    EXPECT_EQ(link_frames(0), 50u);
    EXPECT_EQ(link_frames(13), 50u + 26 + 20);
}

TEST(MatchRulesTest, TargetFallsFromMarginTimeEvery16Seconds) {
    const VersusRules rules;
    std::vector<std::uint64_t> seen;
    for (std::uint64_t n = 0; n < 16; ++n) seen.push_back(rules.target_at(5760 + 960 * n));
    EXPECT_EQ(seen, (std::vector<std::uint64_t>{52, 35, 26, 17, 13, 8, 6, 4, 3, 2, 1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(rules.target_at(0), 70u);
    EXPECT_EQ(rules.target_at(5759), 70u);
    EXPECT_EQ(rules.target_at(5760 + 959), 52u);

    VersusRules fever;
    fever.target_points = 120;
    std::vector<std::uint64_t> fever_seen;
    for (std::uint64_t n = 0; n < 8; ++n) fever_seen.push_back(fever.target_at(5760 + 960 * n));
    EXPECT_EQ(fever_seen, (std::vector<std::uint64_t>{90, 60, 45, 30, 22, 15, 11, 7}));

    VersusRules off;
    off.margin = false;
    EXPECT_EQ(off.target_at(1'000'000), 70u);
}

TEST(MatchTest, APlacementAloneGroundsAndTheNextPairComesTwelveFramesLater) {
    Match m(0);
    EXPECT_EQ(m.due(), 3u);
    ASSERT_EQ(m.play({top(3), top(1)}), PlayError::NONE);
    EXPECT_EQ(texts(m.events()), (std::vector<std::string>{"0 p0 place 3-top 44", "0 p1 place 1-top 50"}));
    EXPECT_EQ(m.frame(), 56u);
    EXPECT_EQ(m.due(), 1u);
    EXPECT_EQ(m.next_frame(1), 62u);
    EXPECT_EQ(m.player(0).turn, 1u);
    EXPECT_EQ(m.player(0).field.get(3, 14), PuyoType::BLUE);  // seed 0's first axis
    EXPECT_EQ(m.player(0).field.get(3, 13), PuyoType::GREEN);
}

TEST(MatchTest, ATwoChainAgainstAnIdleOpponentSendsAtLinkTwoAndFixesAtItsEnd) {
    Match m(0, 4, 3, {}, {TWO_CHAIN, BitField()});
    play_scripts(m, {top(1)}, {top(6), top(6), top(6), top(6)});
    EXPECT_EQ(texts(m.events()), (std::vector<std::string>{
                                     "0 p0 place 1-top 44",
                                     "0 p1 place 6-top 52",
                                     "44 p0 link 1 40 0",
                                     "64 p1 place 6-top 48",
                                     "122 p0 link 2 320 5",
                                     "122 p0 offset 5 0 0 5",
                                     "124 p1 place 6-top 44",
                                     "172 p0 chain_end 2 5",
                                     "180 p1 place 6-top 40",
                                 }));
    EXPECT_EQ(m.frame(), 184u);
    EXPECT_EQ(m.player(0).score, 360u);
    EXPECT_EQ(m.player(0).consumed, 350u);
    EXPECT_EQ(m.player(0).max_chain, 2u);
    EXPECT_EQ(m.player(1).fixed, 5u);
    // Its pair grounds at 220, then 5 ojama fall 13 rows: 48 + 24.
    EXPECT_EQ(m.next_frame(1), 220u + 72 + 12);
    ASSERT_EQ(m.play({top(2), std::nullopt}), PlayError::NONE);
    EXPECT_EQ(texts(m.events(), 1, MatchEvent::GARBAGE), (std::vector<std::string>{"220 p1 garbage 5 0 0"}));
    EXPECT_EQ(m.player(1).fixed, 0u);
}

TEST(MatchTest, ChainsThatOverlapOffsetAgainstTheOwnPendingAndFixedOjama) {
    // Both fire the same chain at once: player 0's exchange comes first, so
    // player 1's ojama cancel the ones player 0 just sent.
    Match same(0, 4, 3, {}, {TWO_CHAIN, TWO_CHAIN});
    ASSERT_EQ(same.play({top(1), top(1)}), PlayError::NONE);
    EXPECT_EQ(texts(same.events()), (std::vector<std::string>{
                                        "0 p0 place 1-top 44",
                                        "0 p1 place 1-top 44",
                                        "44 p0 link 1 40 0",
                                        "44 p1 link 1 40 0",
                                        "122 p0 link 2 320 5",
                                        "122 p1 link 2 320 5",
                                        "122 p0 offset 5 0 0 5",
                                        "122 p1 offset 5 5 0 0",
                                        "172 p0 chain_end 2 0",
                                        "172 p1 chain_end 2 0",
                                    }));
    EXPECT_EQ(same.frame(), 184u);
    EXPECT_EQ(same.due(), 3u);

    // Player 1 fires a turn later: player 0's 5 are fixed by then, and
    // player 1's link 2 at 184, the frame player 0 decides, cancels them.
    const BitField second = field({"Y.....", "Y.....", "YBBB.R"});  // seed 0's second pair: B over Y
    Match later(0, 4, 3, {}, {TWO_CHAIN, second});
    play_scripts(later, {top(1), top(2)}, {top(6), top(1)});
    EXPECT_EQ(texts(later.events()), (std::vector<std::string>{
                                         "0 p0 place 1-top 44",
                                         "0 p1 place 6-top 50",
                                         "44 p0 link 1 40 0",
                                         "62 p1 place 1-top 44",
                                         "106 p1 link 1 40 0",
                                         "122 p0 link 2 320 5",
                                         "122 p0 offset 5 0 0 5",
                                         "172 p0 chain_end 2 5",
                                         "184 p0 place 2-top 48",
                                         "184 p1 link 2 320 5",
                                         "184 p1 offset 5 0 5 0",
                                         "234 p1 chain_end 2 0",
                                     }));
    EXPECT_EQ(later.player(1).fixed, 0u);
    EXPECT_EQ(later.player(1).pending, 0u);
    EXPECT_EQ(later.player(0).pending + later.player(0).fixed, 0u);
}

TEST(MatchTest, AChainEndingWhileTheOpponentsPairFallsDropsWhenThatPairGrounds) {
    Match m(0, 4, 3, {}, {TWO_CHAIN, BitField()});
    play_scripts(m, {top(1)}, {top(3), top(3), top(3), top(3)});
    EXPECT_EQ(texts(m.events(), 1), (std::vector<std::string>{
                                        "0 p1 place 3-top 44",
                                        "56 p1 place 3-top 40",
                                        "108 p1 place 3-top 36",
                                        "156 p1 place 3-top 32",
                                    }));
    EXPECT_EQ(texts(m.events(), 0, MatchEvent::CHAIN_END), (std::vector<std::string>{"172 p0 chain_end 2 5"}));
    EXPECT_EQ(m.player(1).fixed, 5u);
    EXPECT_EQ(m.next_frame(1), 188u + 72 + 12);
    ASSERT_EQ(m.play({top(1), std::nullopt}), PlayError::NONE);
    EXPECT_EQ(texts(m.events(), 1, MatchEvent::GARBAGE), (std::vector<std::string>{"188 p1 garbage 5 0 0"}));
    EXPECT_EQ(m.next_frame(1), 272u);
}

TEST(MatchTest, AtMostThirtyFallAtOnceAndTheRestWaitForTheNextTurn) {
    VersusRules rules;
    rules.target_points = 10;  // the 2-chain sends 4 + 32
    Match m(0, 4, 3, rules, {TWO_CHAIN, BitField()});
    play_scripts(m, {top(1), top(2), top(2), top(4)}, {top(6), top(6), top(6), top(6), top(3)});
    EXPECT_EQ(texts(m.events(), 0, MatchEvent::CHAIN_END), (std::vector<std::string>{"172 p0 chain_end 2 36"}));
    const std::vector<std::string> garbage = texts(m.events(), 1, MatchEvent::GARBAGE);
    ASSERT_EQ(garbage.size(), 2u);
    EXPECT_EQ(garbage[0], "220 p1 garbage 30 0 6");
    // 30 fall 13 rows: 48 + 32; the next turn is decided at 312 and grounds
    // 34 frames later, when the 6 left fall.
    EXPECT_EQ(garbage[1], "346 p1 garbage 6 0 0");
}

TEST(MatchTest, AnAllClearsBonusIsSentWithTheNextChain) {
    // Seed 26: G over R, then two pairs of B.
    Match m(26, 4, 3, {}, {field({"RRRGGG"}), BitField()});
    play_scripts(m, {{3, Rotation::RIGHT}, top(1), top(1)}, {top(6), top(4), top(2), top(6), top(4)});
    EXPECT_EQ(texts(m.events(), 0), (std::vector<std::string>{
                                        "0 p0 place 3-right 42",
                                        "42 p0 link 1 240 3",
                                        "42 p0 all_clear 2100",
                                        "42 p0 offset 3 0 0 3",
                                        "92 p0 chain_end 1 3",
                                        "104 p0 place 1-top 50",
                                        "166 p0 place 1-top 46",
                                        // 2100 / 70 = 30, and the 30 left of 240 with these 40 make one more
                                        "212 p0 link 1 40 31",
                                        "212 p0 all_clear 2100",  // the four B were all it held
                                        "212 p0 offset 31 0 0 31",
                                        "262 p0 chain_end 1 31",
                                    }));
    EXPECT_EQ(m.player(0).score, 240u + 2100 + 40 + 2100);
}

TEST(MatchTest, BothLosingOnOneFrameIsADrawAndNothingHappensAfterALoss) {
    const BitField tall = ojama_column(3, 10);
    Match draw(0, 4, 3, {}, {tall, tall});
    ASSERT_EQ(draw.play({top(3), top(3)}), PlayError::NONE);
    EXPECT_EQ(texts(draw.events()),
              (std::vector<std::string>{"0 p0 place 3-top 24", "0 p1 place 3-top 24", "24 p0 lose", "24 p1 lose"}));
    EXPECT_TRUE(draw.over());
    EXPECT_EQ(draw.winner(), std::nullopt);
    EXPECT_EQ(draw.due(), 0u);

    Match one(0, 4, 3, {}, {tall, tall});
    ASSERT_EQ(one.play({top(3), top(4)}), PlayError::NONE);
    EXPECT_EQ(texts(one.events()),
              (std::vector<std::string>{"0 p0 place 3-top 24", "0 p1 place 4-top 48", "24 p0 lose"}));
    EXPECT_EQ(one.winner(), 1u);
    EXPECT_EQ(one.frame(), 24u);
    const Match before = one;
    EXPECT_EQ(one.play({top(1), std::nullopt}), PlayError::OVER);
    EXPECT_EQ(one, before);
}

TEST(MatchTest, RefusedPlaysChangeNothing) {
    Match m(0, 4, 3, {}, {ojama_column(2, 12), BitField()});  // player 0 cannot pass column 2
    const Match before = m;
    EXPECT_EQ(m.play({top(3), std::nullopt}), PlayError::MISSING);
    EXPECT_EQ(m.play({top(1), top(3)}), PlayError::ILLEGAL);
    ASSERT_EQ(m.play({top(3), top(1)}), PlayError::NONE);
    const Match after = m;
    EXPECT_EQ(m.play({top(3), top(1)}), PlayError::NOT_DUE);
    EXPECT_EQ(m, after);
    EXPECT_NE(m, before);
    EXPECT_EQ(m.legal_mask(1), 0u);  // not due
    EXPECT_EQ(m.legal_mask(0), rules::legal_mask(m.player(0).field));
}

TEST(MatchTest, StartingFieldsMustBeQuietAndAlive) {
    EXPECT_TRUE(Match::field_fits(TWO_CHAIN));
    EXPECT_FALSE(Match::field_fits(field({"RRRR"})));
    EXPECT_FALSE(Match::field_fits(ojama_column(3, 12)));
}

// Random legal play: every ojama sent to the opponent ends offset, pending,
// fixed, dropped or lost; a copy plays on alike; the hands played rebuild the match.
TEST(MatchTest, RandomMatchesConserveOjamaAndReplayFromTheirHands) {
    for (std::uint64_t seed = 0; seed < 60; ++seed) {
        VersusRules rules;
        rules.target_points = seed % 3 == 0 ? 7 : 70;  // many ojama, so the cap and full columns occur
        rules.margin_frame = 600;
        Match m(seed, 3 + seed % 2, 3, rules);
        std::optional<Match> copy;
        std::uint64_t draws = 0;
        for (int decisions = 0; !m.over() && decisions < 400; ++decisions) {
            std::array<std::optional<Hand>, 2> hands;
            for (unsigned p = 0; p < 2; ++p) {
                const std::uint32_t mask = m.legal_mask(p);
                if (!mask) continue;
                std::uint64_t pick = splitmix64_at(seed, draws++) % static_cast<std::uint64_t>(std::popcount(mask));
                for (unsigned i = 0; i < 22; ++i)
                    if (mask >> i & 1 && pick-- == 0) hands[p] = Hand::enumerate()[i];
            }
            if (decisions == 10) copy = m;
            ASSERT_EQ(m.play(hands), PlayError::NONE);
            if (copy) {
                ASSERT_EQ(copy->play(hands), PlayError::NONE);
            }
        }
        ASSERT_TRUE(copy);
        EXPECT_EQ(*copy, m);

        std::uint64_t to_opponent = 0, accounted = 0, previous_frame = 0;
        for (const MatchEvent& e : m.events()) {
            EXPECT_GE(e.frame, previous_frame);
            previous_frame = e.frame;
            if (e.kind == MatchEvent::OFFSET) {
                EXPECT_EQ(e.values[0], e.values[1] + e.values[2] + e.values[3]);
                to_opponent += e.values[3];
                accounted += e.values[1] + e.values[2];
            }
            if (e.kind == MatchEvent::GARBAGE) accounted += e.values[0] + e.values[1];
        }
        for (unsigned p = 0; p < 2; ++p) accounted += m.player(p).pending + m.player(p).fixed;
        EXPECT_EQ(to_opponent, accounted) << "seed " << seed;

        Match replay(seed, 3 + seed % 2, 3, rules);
        std::size_t at = 0;
        while (at < m.history().size()) {
            std::array<std::optional<Hand>, 2> hands;
            for (unsigned p = 0; p < 2; ++p)
                if (replay.due() >> p & 1) hands[p] = Hand::enumerate()[m.history()[at++]];
            ASSERT_EQ(replay.play(hands), PlayError::NONE);
        }
        EXPECT_EQ(replay, m) << "seed " << seed;
    }
}
