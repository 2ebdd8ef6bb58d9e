#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <vector>

#include "game/observation.hpp"
#include "game/vector_game.hpp"

using namespace tavik;

namespace {

// The arrays of one batch, sized for `n` games.
struct Arrays {
    explicit Arrays(std::size_t n, const VectorGameConfig& c)
        : field(n * observation::field_bytes(c.colours)),
          pairs(n * c.visible * 2 * c.colours),
          mask(n * VectorGame::ACTIONS),
          reward(n),
          terminated(n),
          truncated(n),
          illegal(n),
          chain(n) {}
    StepOutput out() {
        return {field.data(),     pairs.data(),    mask.data(),   reward.data(),
                terminated.get(), truncated.get(), illegal.get(), chain.data()};
    }
    struct Flags {
        explicit Flags(std::size_t n) : v(new bool[n]()) {}
        bool* get() { return v.get(); }
        bool operator[](std::size_t i) const { return v[i]; }
        std::unique_ptr<bool[]> v;
    };
    std::vector<std::uint8_t> field, pairs;
    std::vector<std::int8_t> mask;
    std::vector<double> reward;
    Flags terminated, truncated, illegal;
    std::vector<std::int32_t> chain;
};

// The first legal hand, or hand 0 when none is.
std::int64_t first_legal(const Arrays& a, std::size_t i) {
    for (std::size_t k = 0; k < VectorGame::ACTIONS; ++k) {
        if (a.mask[i * VectorGame::ACTIONS + k]) return static_cast<std::int64_t>(k);
    }
    return 0;
}

}  // namespace

TEST(VectorGameTest, ThreadCountDoesNotChangeTheEpisodes) {
    VectorGameConfig config;
    config.max_pairs = 12;
    const std::size_t n = 40;
    std::vector<std::uint64_t> entropy(n, 0), seeds(n);
    for (std::size_t i = 0; i < n; ++i) seeds[i] = 1000 + i;
    VectorGame one(n, config, 1, entropy), two(n, config, 2, entropy);
    Arrays a(n, config), b(n, config);
    one.reset(seeds, a.out());
    two.reset(seeds, b.out());
    std::vector<std::int64_t> actions(n);
    for (int step = 0; step < 100; ++step) {
        // Hand 3 whenever it comes round, legal or not: some episodes end on an illegal hand.
        for (std::size_t i = 0; i < n; ++i) actions[i] = (i + step) % 3 ? first_legal(a, i) : 3;
        one.step(actions, a.out());
        two.step(actions, b.out());
        ASSERT_EQ(a.field, b.field);
        ASSERT_EQ(a.pairs, b.pairs);
        ASSERT_EQ(a.mask, b.mask);
        ASSERT_EQ(a.reward, b.reward);
        for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(a.terminated[i], b.terminated[i]);
    }
}

TEST(VectorGameTest, TruncationThenAutoresetStartsTheNextSeedOfTheChain) {
    VectorGameConfig config;
    config.max_pairs = 2;
    const std::vector<std::uint64_t> entropy{0};
    VectorGame games(1, config, 1, entropy);
    Arrays a(1, config);
    const std::vector<std::uint64_t> seed{7};
    games.reset(seed, a.out());
    const std::vector<std::int64_t> left{0};
    games.step(left, a.out());
    EXPECT_FALSE(a.truncated[0]);
    games.step(left, a.out());
    EXPECT_TRUE(a.truncated[0]);
    EXPECT_FALSE(a.terminated[0]);
    games.step(left, a.out());  // the reset step: the action is ignored
    EXPECT_FALSE(a.truncated[0]);
    EXPECT_EQ(a.reward[0], 0);
    EXPECT_EQ(games.game(0).turn(), 0u);
    EXPECT_TRUE(games.game(0).field().is_all_clear());

    VectorGame replay(1, config, 1, entropy);
    Arrays b(1, config);
    const std::vector<std::uint64_t> next{VectorGame::next_seed(7)};
    replay.reset(next, b.out());
    EXPECT_EQ(a.pairs, b.pairs);
}

TEST(VectorGameTest, CheckRefusesOutOfRangeActionsAndFinishedGamesWithoutAutoreset) {
    VectorGameConfig config;
    config.autoreset = false;
    config.max_pairs = 1;
    const std::vector<std::uint64_t> entropy{1, 2};
    VectorGame games(2, config, 1, entropy);
    Arrays a(2, config);
    games.reset(std::nullopt, a.out());
    EXPECT_EQ(games.check(std::vector<std::int64_t>{0, 22}).value_or(""),
              "action 22 of environment 1 is outside 0..21 (an index into Hand.enumerate())");
    EXPECT_EQ(games.check(std::vector<std::int64_t>{-1, 0}).value_or(""),
              "action -1 of environment 0 is outside 0..21 (an index into Hand.enumerate())");
    const std::vector<std::int64_t> ok{0, 0};
    EXPECT_FALSE(games.check(ok));
    games.step(ok, a.out());
    EXPECT_EQ(games.check(ok).value_or(""), "the episode is over: call reset()");
}
