// Batched stepping: episodes independent of the thread count, truncation and autoreset, refusals.
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <type_traits>
#include <vector>

#include "game/observation.hpp"
#include "game/vector_game.hpp"

using namespace tavik;

namespace {

// The arrays of one batch, sized for `n` games from the step's table.
struct Arrays {
    explicit Arrays(std::size_t n, const VectorGameConfig& c) {
        VectorGameConfig sized = c;
        sized.games = n;
        const StepSizes sizes = sized.sizes();
        for (std::size_t k = 0; k < std::size(tokopuyo_step::TABLE); ++k) {
            std::size_t bytes = 8;  // room for the widest element
            for (Dim d : tokopuyo_step::TABLE[k].shape()) bytes *= sizes.of(d);
            bytes_[k].assign(bytes, std::byte{0});
            out_.data[k] = bytes_[k].data();
        }
    }
    const StepOutput& out() const { return out_; }
    template <std::size_t K>
    auto values() const {
        const auto* first = out_.at<K>();
        const std::size_t count = bytes_[K].size() / 8;
        return std::vector<std::remove_const_t<std::remove_pointer_t<decltype(first)>>>(first, first + count);
    }
    template <std::size_t K>
    auto at(std::size_t i) const {
        return out_.at<K>()[i];
    }

private:
    std::array<std::vector<std::byte>, std::size(tokopuyo_step::TABLE)> bytes_;
    StepOutput out_;
};

using namespace tokopuyo_step;

// The first legal hand, or hand 0 when none is.
std::int64_t first_legal(const Arrays& a, std::size_t i) {
    for (std::size_t k = 0; k < Hand::COUNT; ++k) {
        if (a.at<MASK>(i * Hand::COUNT + k)) return static_cast<std::int64_t>(k);
    }
    return 0;
}

VectorGameConfig config_of(std::size_t games, std::size_t threads, std::uint64_t entropy = 0) {
    VectorGameConfig config;
    config.games = games;
    config.threads = threads;
    config.entropy = entropy;
    return config;
}

}  // namespace

TEST(VectorGameTest, ThreadCountDoesNotChangeTheEpisodes) {
    const std::size_t n = 40;
    VectorGameConfig config = config_of(n, 1);
    config.max_pairs = 12;
    std::vector<std::uint64_t> seeds(n);
    for (std::size_t i = 0; i < n; ++i) seeds[i] = 1000 + i;
    VectorGame one(config);
    config.threads = 2;
    VectorGame two(config);
    Arrays a(n, config), b(n, config);
    one.reset(seeds, a.out());
    two.reset(seeds, b.out());
    std::vector<std::int64_t> actions(n);
    for (int step = 0; step < 100; ++step) {
        // Hand 3 whenever it comes round, legal or not: some episodes end on an illegal hand.
        for (std::size_t i = 0; i < n; ++i) actions[i] = (i + step) % 3 ? first_legal(a, i) : 3;
        one.step(actions, a.out());
        two.step(actions, b.out());
        ASSERT_EQ(a.values<FIELD>(), b.values<FIELD>());
        ASSERT_EQ(a.values<PAIRS>(), b.values<PAIRS>());
        ASSERT_EQ(a.values<MASK>(), b.values<MASK>());
        ASSERT_EQ(a.values<REWARD>(), b.values<REWARD>());
        ASSERT_EQ(a.values<TERMINATED>(), b.values<TERMINATED>());
        ASSERT_EQ(a.values<CHAIN>(), b.values<CHAIN>());
    }
}

TEST(VectorGameTest, TruncationThenAutoresetStartsTheNextSeedOfTheChain) {
    VectorGameConfig config = config_of(1, 1);
    config.max_pairs = 2;
    VectorGame games(config);
    Arrays a(1, config);
    const std::vector<std::uint64_t> seed{7};
    games.reset(seed, a.out());
    const std::vector<std::int64_t> left{0};
    games.step(left, a.out());
    EXPECT_FALSE(a.at<TRUNCATED>(0));
    games.step(left, a.out());
    EXPECT_TRUE(a.at<TRUNCATED>(0));
    EXPECT_FALSE(a.at<TERMINATED>(0));
    games.step(left, a.out());  // the reset step: the action is ignored
    EXPECT_FALSE(a.at<TRUNCATED>(0));
    EXPECT_EQ(a.at<REWARD>(0), 0);
    EXPECT_EQ(games.game(0).turn(), 0u);
    EXPECT_TRUE(games.game(0).field().is_all_clear());

    VectorGame replay(config);
    Arrays b(1, config);
    const std::vector<std::uint64_t> next{VectorGame::next_seed(7)};
    replay.reset(next, b.out());
    EXPECT_EQ(a.values<PAIRS>(), b.values<PAIRS>());
}

TEST(VectorGameTest, CheckRefusesOutOfRangeActionsAndFinishedGamesWithoutAutoreset) {
    VectorGameConfig config = config_of(2, 1, 1);
    config.autoreset = false;
    config.max_pairs = 1;
    VectorGame games(config);
    Arrays a(2, config);
    games.reset(std::nullopt, a.out());
    const std::optional<Refusal> high = games.check(std::vector<std::int64_t>{0, 22});
    ASSERT_TRUE(high);
    EXPECT_EQ(high->kind, Refusal::ACTION_OUTSIDE);
    EXPECT_EQ(high->env, 1u);
    EXPECT_EQ(high->display(true), "action 22 of environment 1 is outside 0..21 (an index into Hand.enumerate())");
    EXPECT_EQ(high->display(false), "action 22 is outside 0..21 (an index into Hand.enumerate())");
    const std::optional<Refusal> low = games.check(std::vector<std::int64_t>{-1, 0});
    ASSERT_TRUE(low);
    EXPECT_EQ(low->display(true), "action -1 of environment 0 is outside 0..21 (an index into Hand.enumerate())");
    const std::vector<std::int64_t> ok{0, 0};
    EXPECT_FALSE(games.check(ok));
    games.step(ok, a.out());
    const std::optional<Refusal> over = games.check(ok);
    ASSERT_TRUE(over);
    EXPECT_EQ(over->kind, Refusal::EPISODE_OVER);
    EXPECT_EQ(over->env, 0u);
    EXPECT_EQ(over->display(true), "the episode is over: call reset()");
}

TEST(VectorGameTest, TheStepTableGivesEachOutputItsShapeForTheConfiguration) {
    const StepSizes sizes{5, 3, 2};
    auto shape = [&](Output k) {
        std::vector<std::size_t> out;
        for (Dim d : TABLE[k].shape()) out.push_back(sizes.of(d));
        return out;
    };
    EXPECT_EQ(shape(FIELD), (std::vector<std::size_t>{5, 4, 13, 6}));
    EXPECT_EQ(shape(PAIRS), (std::vector<std::size_t>{5, 2, 2, 3}));
    EXPECT_EQ(shape(MASK), (std::vector<std::size_t>{5, 22}));
    EXPECT_EQ(shape(CHAIN), (std::vector<std::size_t>{5}));
    // The names are the keys of Gymnasium's result, unique within the table.
    for (std::size_t a = 0; a < std::size(TABLE); ++a)
        for (std::size_t b = a + 1; b < std::size(TABLE); ++b) EXPECT_NE(TABLE[a].name, TABLE[b].name);
}
