#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "game/game.hpp"
#include "game/observation.hpp"
#include "game/selfplay.hpp"

using namespace tavik;

namespace {

selfplay::Options options(selfplay::BotKind bot) {
    selfplay::Options o;
    o.bot = bot;
    o.beam_width = 4;
    o.seed = 99;
    o.games = 3;
    o.max_turns = 40;
    return o;
}

class SelfplayTest : public ::testing::TestWithParam<selfplay::BotKind> {};

}  // namespace

// Replaying the recorded hands on a fresh game must meet every recorded field,
// pair, move and label: a row off by one move, or a label of the field after
// the move, shows here.
TEST_P(SelfplayTest, RowsReplayFromTheGameSeed) {
    const selfplay::Options o = options(GetParam());
    const selfplay::Columns c = selfplay::play_games(o);
    ASSERT_GT(c.positions(), 0u);
    std::size_t row = 0;
    for (std::uint64_t g = 0; g < o.games; ++g) {
        Game game(selfplay::game_seed(o.seed, g), o.colours, o.visible);
        while (row < c.positions() && c.game[row] == static_cast<std::int64_t>(g)) {
            SCOPED_TRACE("game " + std::to_string(g) + " turn " + std::to_string(game.turn()));
            ASSERT_EQ(c.turn[row], static_cast<std::int32_t>(game.turn()));
            std::array<std::uint8_t, selfplay::FIELD_CELLS> types{};
            observation::write_types(game.field(), types.data());
            ASSERT_EQ(std::memcmp(types.data(), &c.field[row * selfplay::FIELD_CELLS], types.size()), 0);
            EXPECT_EQ(c.pairs[row * 6], game.pair(0).child().number());
            EXPECT_EQ(c.pairs[row * 6 + 5], game.pair(2).axis().number());
            const selfplay::Label l = selfplay::label(game.field(), o.label_depth);
            EXPECT_EQ(c.label_score[row], static_cast<std::int64_t>(l.score));
            EXPECT_EQ(c.label_chain[row], static_cast<std::int32_t>(l.chain));
            const auto move = game.play(Hand::enumerate().at(static_cast<std::size_t>(c.hand[row])));
            ASSERT_TRUE(move.has_value()) << "illegal hand recorded";
            EXPECT_EQ(c.move_chain[row], static_cast<std::int32_t>(move->chain));
            EXPECT_EQ(c.move_score[row], static_cast<std::int64_t>(move->score));
            ++row;
        }
        EXPECT_TRUE(game.over() || game.turn() == o.max_turns);
        EXPECT_EQ(c.game_score[row - 1], static_cast<std::int64_t>(game.score()));
        EXPECT_EQ(c.game_turns[row - 1], static_cast<std::int32_t>(game.turn()));
    }
    EXPECT_EQ(row, c.positions());
}

INSTANTIATE_TEST_SUITE_P(Bots, SelfplayTest,
                         ::testing::Values(selfplay::BotKind::RANDOM, selfplay::BotKind::GREEDY,
                                           selfplay::BotKind::BEAM));
