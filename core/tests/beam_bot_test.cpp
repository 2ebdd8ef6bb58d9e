// The beam bot and its lookahead: agreement with a plain search, determinism over threads,
// legal play to the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "chain/chain_finder.hpp"
#include "game/beam_bot.hpp"
#include "game/game.hpp"
#include "game/rules.hpp"

#include "test_support.hpp"

using namespace tavik;
using testing_support::field;
using testing_support::game_on;
using testing_support::stacked;

namespace {

// The hands the bot plays over `moves` moves of game `seed`.
std::vector<Hand> hands_played(const BeamBot& bot, std::uint64_t seed, int moves) {
    Game g(seed);
    std::vector<Hand> out;
    for (int i = 0; i < moves && !g.over(); ++i) {
        out.push_back(bot.choose(g));
        if (!g.play(out.back())) ADD_FAILURE() << "illegal hand " << out.back().display() << " at move " << i;
    }
    return out;
}

}  // namespace

namespace {

// The search as the bot's header describes it, written plainly: every child
// made, equal fields merged (the most fired value kept, then the first made),
// every merged child valued, the best `width` kept.
Hand plain_search_choice(const Game& game, unsigned width, unsigned depth) {
    struct Node {
        BitField field;
        std::int64_t fired;
        std::uint64_t pending;
        std::size_t made;
        std::size_t first;
    };
    std::vector<Node> beam{{game.field(), 0, game.pending_bonus(), 0, 0}};
    std::optional<std::size_t> chosen;
    for (unsigned level = 0; level < std::min(depth, game.visible()); ++level) {
        std::vector<Node> merged;
        for (std::size_t rank = 0; rank < beam.size(); ++rank) {
            const std::uint32_t mask = rules::legal_mask(beam[rank].field);
            for (std::size_t i = 0; i < Hand::enumerate().size(); ++i) {
                if (!(mask >> i & 1)) continue;
                Node child = beam[rank];
                rules::place_legal(child.field, Hand::enumerate()[i], game.pair(level));
                const rules::MoveResult move = rules::settle(child.field, child.pending, game.all_clear_bonus());
                if (rules::is_dead(child.field)) continue;
                const auto score = static_cast<std::int64_t>(move.score);
                child.fired += move.chain >= BeamBot::FIRE_MIN_CHAIN ? score : -score / 2;
                child.made = rank * Hand::enumerate().size() + i;
                child.first = level == 0 ? i : beam[rank].first;
                const auto same = std::find_if(merged.begin(), merged.end(), [&](const Node& n) {
                    return n.field == child.field && n.pending == child.pending;
                });
                if (same == merged.end()) {
                    merged.push_back(child);
                } else if (child.fired > same->fired) {
                    *same = child;
                }
            }
        }
        if (merged.empty()) break;
        std::vector<std::pair<std::int64_t, std::size_t>> order;  // (value, index into merged)
        for (std::size_t k = 0; k < merged.size(); ++k)
            order.push_back({merged[k].fired + BeamBot::evaluate(merged[k].field), k});
        std::sort(order.begin(), order.end(), [&](const auto& a, const auto& b) {
            return a.first != b.first ? a.first > b.first : merged[a.second].made < merged[b.second].made;
        });
        beam.clear();
        for (std::size_t k = 0; k < std::min<std::size_t>(width, order.size()); ++k)
            beam.push_back(merged[order[k].second]);
        chosen = beam[0].first;
    }
    if (chosen) return Hand::enumerate()[*chosen];
    const std::uint32_t mask = game.legal_mask();
    for (std::size_t i = 0; i < Hand::enumerate().size(); ++i)
        if (mask >> i & 1) return Hand::enumerate()[i];
    return Hand::enumerate()[0];
}

struct SearchShape {
    unsigned width, depth, threads;
    friend void PrintTo(const SearchShape& s, std::ostream* os) {
        *os << "width " << s.width << ", depth " << s.depth << ", threads " << s.threads;
    }
};

class BeamBotSearch : public testing::TestWithParam<SearchShape> {};

}  // namespace

// The bot's merging in a shared table, its remembered evaluations, its threads
// and its unranked deepest level must all choose what the plain search does.
TEST_P(BeamBotSearch, ChoosesWhatThePlainSearchChooses) {
    const auto [width, depth, threads] = GetParam();
    const BeamBot bot(width, depth, threads);
    for (std::uint64_t seed : {3, 9, 21}) {
        Game g(seed);
        for (int move = 0; move < 40 && !g.over(); ++move) {
            const Hand h = bot.choose(g);
            ASSERT_EQ(h, plain_search_choice(g, width, depth)) << "seed " << seed << ", move " << move;
            ASSERT_TRUE(g.play(h));
        }
    }
    // Roots a game may be given in another state: a group still to vanish,
    // a puyo over a hole (their children are quiet; they are not), a WALL
    // among the cells and a hole in the floor (their children are not either).
    BitField walled = field({"R  G  ", "RRBG Y", "BBYGGY"}), holed = walled;
    walled.set(5, 14, PuyoType::WALL);
    holed.set(2, 15, PuyoType::EMPTY);
    for (const BitField& root : {field({"YRRRR "}), field({"B G  Y", "R    Y", "RGB BY"}), walled, holed}) {
        Game g = game_on(root, 5);
        ASSERT_FALSE(g.field().is_quiet());
        for (int move = 0; move < 15 && !g.over(); ++move) {
            const Hand h = bot.choose(g);
            ASSERT_EQ(h, plain_search_choice(g, width, depth)) << root.debug() << "move " << move;
            ASSERT_TRUE(g.play(h));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, BeamBotSearch,
                         testing::Values(SearchShape{6, 3, 1}, SearchShape{6, 3, 2}, SearchShape{3, 2, 2},
                                         SearchShape{1, 1, 1}),
                         [](const auto& info) {
                             return "Width" + std::to_string(info.param.width) + "Depth" +
                                    std::to_string(info.param.depth) + "Threads" + std::to_string(info.param.threads);
                         });

TEST(BeamBotTest, ChoosesTheSameHandsWhateverTheThreadsAndCallers) {
    const std::vector<Hand> alone = hands_played(BeamBot(12, 3, 1), 7, 30);
    EXPECT_EQ(hands_played(BeamBot(12, 3, 2), 7, 30), alone);
    EXPECT_EQ(hands_played(BeamBot(12, 3, 3), 7, 30), alone);
    // Two callers on one bot at once: each gets its own workers.
    const BeamBot shared(12, 3, 2);
    std::vector<Hand> a, b;
    std::thread other([&] { a = hands_played(shared, 7, 30); });
    b = hands_played(shared, 7, 30);
    other.join();
    EXPECT_EQ(a, alone);
    EXPECT_EQ(b, alone);
}

TEST(BeamBotTest, RememberedEvaluationsChangeNoChoice) {
    // A bot keeps the last search's evaluations for the next: a new bot for
    // every move, and one bot taking turns between two games, must choose alike.
    const std::vector<Hand> kept = hands_played(BeamBot(24, 3, 1), 11, 40);
    Game g(11);
    std::vector<Hand> fresh;
    for (int i = 0; i < 40 && !g.over(); ++i) {
        fresh.push_back(BeamBot(24, 3, 1).choose(g));
        ASSERT_TRUE(g.play(fresh.back()));
    }
    EXPECT_EQ(fresh, kept);

    const BeamBot turns(24, 3, 2);
    Game a(11), b(12);
    std::vector<Hand> played_a, played_b;
    for (int i = 0; i < 40 && !(a.over() && b.over()); ++i) {
        for (auto [game, played] : {std::pair{&a, &played_a}, std::pair{&b, &played_b}}) {
            if (game->over()) continue;
            played->push_back(turns.choose(*game));
            ASSERT_TRUE(game->play(played->back()));
        }
    }
    EXPECT_EQ(played_a, kept);
    EXPECT_EQ(played_b, hands_played(BeamBot(24, 3, 1), 12, 40));
}

TEST(BeamBotTest, PlaysLegalHandsToTheEndOfCrowdedGames) {
    // Narrow beams lose games: every hand up to the last is legal.
    for (std::uint64_t seed = 0; seed < 4; ++seed) {
        Game g(seed, 3, 2);
        const BeamBot bot(2, 2, 1);
        for (int i = 0; i < 300 && !g.over(); ++i) {
            const Hand h = bot.choose(g);
            ASSERT_TRUE(g.play(h)) << "seed " << seed << " move " << i << ": " << h.display();
        }
    }
    // Only column 3 is open and every hand there ends the game.
    BitField f = stacked(BitField(), 2, 12);
    f = stacked(f, 4, 12);
    const Game doomed = game_on(stacked(f, 3, 11));
    const Hand h = BeamBot(4, 3, 1).choose(doomed);
    EXPECT_TRUE(rules::is_legal(doomed.field(), h)) << h.display();
}

TEST(BeamBotTest, FiresTheChainThatSavesTheGame) {
    // Only column 3 is open, three of the child's colour on top: the pair
    // survives only with its child below, completing the group.
    for (std::uint64_t seed : {11u, 12u, 13u}) {
        Game g(seed);
        BitField f = stacked(stacked(BitField(), 2, 12), 4, 12);
        f = stacked(stacked(f, 3, 7), 3, 3, g.pair().child());
        g = game_on(f, seed);
        Game after = g;
        ASSERT_TRUE(after.play(BeamBot(8, 1, 1).choose(g)));
        EXPECT_FALSE(after.over()) << seed;
    }
}

TEST(BeamBotTest, PotentialIsTheBestScoreOfTheReachableExtensions) {
    // Settled fields: random ones with ojama, and the ones a bot builds
    // (chains waiting for a trigger, the same group completed from several columns).
    std::vector<BitField> fields;
    std::uint64_t state = 12345;
    const auto next = [&] {
        state = state * 6364136223846793005u + 1442695040888963407u;
        return state >> 33;
    };
    for (int round = 0; round < 200; ++round) {
        BitField f;
        const std::uint64_t puyos = 10 + next() % 60;
        for (std::uint64_t i = 0; i < puyos; ++i) {
            const std::uint64_t x = 1 + next() % 6;
            // One in nine an ojama, which a group clears when it vanishes beside it.
            const std::uint64_t k = next() % 9;
            const PuyoType t = k == 8 ? PuyoType::OJAMA : static_cast<PuyoType::Value>(PuyoType::RED + k % 4);
            if (f.get_height(x) < 12) (void)f.put(x, t);
        }
        (void)f.chain();
        fields.push_back(f);
    }
    for (std::uint64_t seed : {1u, 2u}) {
        Game g(seed);
        const BeamBot bot(16, 2, 1);
        for (int i = 0; i < 60 && !g.over(); ++i) {
            fields.push_back(g.field());
            (void)g.play(bot.choose(g));
        }
    }
    int chained = 0;
    for (const BitField& f : fields) {
        const std::uint32_t reachable = rules::reachable_columns(f);
        std::uint64_t best = 0;
        BestFind overall;  // chain counts too, every column
        for (const auto& find : ChainFinder::find_by_extend(f)) {
            if (std::pair(find.score, find.chain) > std::pair(overall.score, overall.chain))
                overall = {find.score, find.chain};
            if (!(reachable >> ((*find.trigger.positions)[0].x - 1) & 1)) continue;
            best = std::max(best, find.score);
            if (find.chain >= 5) ++chained;
        }
        ASSERT_EQ(BeamBot::potential(f), best) << f.debug();
        ASSERT_EQ(ChainFinder::best_by_extend(f), overall) << f.debug();
    }
    EXPECT_GT(chained, 50);  // long chains were among the finds
}

namespace {

// The hands a lookahead bot plays over `moves` moves of game `seed` with 2 visible pairs.
std::vector<Hand> lookahead_hands(unsigned threads, std::uint64_t seed, int moves, std::uint64_t bot_seed = 5) {
    const BeamBot bot(8, 2, threads, BotWeights::tuned(), Lookahead{3, 4, 6, bot_seed, 20000});
    Game g(seed, 4, 2);
    std::vector<Hand> out;
    for (int i = 0; i < moves && !g.over(); ++i) {
        out.push_back(bot.choose(g));
        if (!g.play(out.back())) ADD_FAILURE() << "illegal hand " << out.back().display() << " at move " << i;
    }
    return out;
}

}  // namespace

TEST(LookaheadTest, ChoosesTheSameHandsWhateverTheThreads) {
    const std::vector<Hand> alone = lookahead_hands(1, 4, 25);
    EXPECT_EQ(lookahead_hands(2, 4, 25), alone);
    EXPECT_EQ(lookahead_hands(3, 4, 25), alone);
    // The guesses come from the bot's seed: another seed plans otherwise somewhere.
    EXPECT_NE(lookahead_hands(1, 4, 25, 6), alone);
}

TEST(LookaheadTest, AnalyseRanksThePlainSearchsChoiceFirst) {
    for (std::uint64_t seed : {3u, 8u}) {
        Game g(seed);
        const BeamBot bot(6, 3, 1);
        for (int move = 0; move < 30 && !g.over(); ++move) {
            SearchStats stats;
            const std::vector<HandValue> ranked = bot.analyse(g, &stats);
            const Hand h = bot.choose(g);
            ASSERT_FALSE(ranked.empty());
            ASSERT_EQ(Hand::enumerate()[ranked[0].hand], h) << "seed " << seed << ", move " << move;
            for (std::size_t k = 1; k < ranked.size(); ++k) ASSERT_GE(ranked[k - 1].value, ranked[k].value);
            EXPECT_EQ(stats.levels, 3u);
            EXPECT_GT(stats.nodes, stats.merged);
            ASSERT_TRUE(g.play(h));
        }
    }
}

TEST(LookaheadTest, ARipeChainEndsItsPathAtItsScore) {
    // Only red pairs: a red beside column 2 fires a two-chain, which a bot
    // with that fire score takes as a final value in every queue.
    const BitField f = field({" B    ", "BR    ", "BR    ", "BR    "});
    const Game g = Game::from_parts(PairSequence(0, 1), 2, rules::ALL_CLEAR_BONUS, f, 0, 0, 0, false, 0);
    std::uint64_t best = 0;
    for (std::size_t i = 0; i < Hand::enumerate().size(); ++i) {
        if (!(g.legal_mask() >> i & 1)) continue;
        Game trial = g;
        best = std::max(best, trial.play_legal(Hand::enumerate()[i]).score);
    }
    ASSERT_GE(best, 420u);
    const BeamBot bot(8, 2, 1, BotWeights::tuned(), Lookahead{2, 3, 8, 1, best});
    SearchStats stats;
    const std::vector<HandValue> ranked = bot.analyse(g, &stats);
    ASSERT_FALSE(ranked.empty());
    EXPECT_GE(ranked[0].value, static_cast<double>(best));
    EXPECT_GT(stats.fired, 0u);
    EXPECT_EQ(stats.levels, 5u);
}
