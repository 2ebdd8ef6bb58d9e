#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "game/observation.hpp"
#include "game/vector_game.hpp"
#include "game/versus_vector.hpp"

using namespace tavik;

namespace {

// Arrays of one step, sized for `matches` matches of `seats` seats.
struct Arrays {
    Arrays(std::size_t matches, unsigned seats, unsigned colours, unsigned visible)
        : field(matches * seats * 2 * observation::field_bytes(colours)),
          pairs(matches * seats * visible * 2 * colours),
          mask(matches * seats * 22),
          ojama(matches * seats * 4),
          frames(matches * seats * 2),
          target(matches),
          due(matches * seats),
          reward(matches * seats),
          terminated(matches),
          truncated(matches),
          illegal(matches * seats) {}
    VersusStepOutput out() {
        return {field.data(), pairs.data(),  mask.data(),      ojama.data(),    frames.data(), target.data(),
                due.get(),    reward.data(), terminated.get(), truncated.get(), illegal.get()};
    }
    std::vector<std::uint8_t> field, pairs;
    std::vector<std::int8_t> mask;
    std::vector<std::int32_t> ojama, frames, target;
    struct Flags {
        explicit Flags(std::size_t n) : v(new bool[n]()), n(n) {}
        bool* get() { return v.get(); }
        bool operator==(const Flags& o) const { return std::memcmp(v.get(), o.v.get(), n) == 0; }
        std::unique_ptr<bool[]> v;
        std::size_t n;
    } due;
    std::vector<double> reward;
    Flags terminated, truncated, illegal;
};

// The first legal hand of each due seat, from the mask the last step wrote.
std::vector<std::int64_t> first_legal(const Arrays& a, std::size_t slots) {
    std::vector<std::int64_t> actions(slots, 0);
    for (std::size_t k = 0; k < slots; ++k)
        for (std::int64_t h = 21; h >= 0; --h)
            if (a.mask[k * 22 + static_cast<std::size_t>(h)]) actions[k] = h;
    return actions;
}

}  // namespace

TEST(VersusVectorTest, SelfPlayStepsEachMatchAsMatchPlayDoesAndThreadsChangeNothing) {
    const std::size_t n = 24;
    std::vector<std::uint64_t> entropy(n);
    for (std::size_t i = 0; i < n; ++i) entropy[i] = 100 + i;
    VersusVectorConfig config;
    config.opponent = Opponent::SELF;
    VersusVectorGame one(n, config, 1, entropy), two(n, config, 2, entropy);
    Arrays a(n, 2, 4, 3), b(n, 2, 4, 3);
    one.reset(std::nullopt, a.out());
    two.reset(std::nullopt, b.out());
    std::vector<Match> plain;
    for (std::size_t i = 0; i < n; ++i) plain.push_back(one.match(i));
    for (int step = 0; step < 150; ++step) {
        const std::vector<std::int64_t> actions = first_legal(a, 2 * n);
        for (std::size_t i = 0; i < n; ++i) {
            if (a.terminated.v[i] || a.truncated.v[i]) {
                plain[i] = Match(VectorGame::next_seed(plain[i].seed()), 4, 3, {}, {}, false);
                continue;
            }
            std::array<std::optional<Hand>, 2> hands;
            for (unsigned p = 0; p < 2; ++p)
                if (a.due.v[2 * i + p]) hands[p] = Hand::enumerate()[static_cast<std::size_t>(actions[2 * i + p])];
            ASSERT_EQ(plain[i].play(hands), PlayError::NONE);
        }
        one.step(actions, a.out());
        two.step(actions, b.out());
        for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(one.match(i), plain[i]) << "match " << i << " step " << step;
        ASSERT_EQ(a.field, b.field);
        ASSERT_EQ(a.ojama, b.ojama);
        ASSERT_EQ(a.frames, b.frames);
        ASSERT_EQ(a.reward, b.reward);
    }
}

TEST(VersusVectorTest, AgainstAnOpponentTheLearnerIsDueAfterEveryStepAndAnIllegalHandLoses) {
    const std::size_t n = 8;
    const std::vector<std::uint64_t> entropy(n, 7);
    for (Opponent o : {Opponent::RANDOM, Opponent::GREEDY, Opponent::BEAM}) {
        VersusVectorConfig config;
        config.opponent = o;
        config.beam_width = 4;
        VersusVectorGame games(n, config, 2, entropy);
        Arrays a(n, 1, 4, 3);
        games.reset(std::nullopt, a.out());
        for (int step = 0; step < 60; ++step) {
            games.step(first_legal(a, n), a.out());
            for (std::size_t i = 0; i < n; ++i) {
                EXPECT_TRUE(a.terminated.v[i] || a.due.v[i]);
                EXPECT_EQ(a.frames[2 * i], 0);
                EXPECT_FALSE(a.illegal.v[i]);
            }
        }
    }
    VersusVectorConfig config;
    VersusVectorGame games(1, config, 1, entropy);
    Arrays a(1, 1, 4, 3);
    games.reset(std::nullopt, a.out());
    std::vector<std::int64_t> walled{0};
    for (int step = 0; step < 10 && !a.illegal.v[0]; ++step) games.step(walled, a.out());  // column 0 fills up
    EXPECT_TRUE(a.illegal.v[0] && a.terminated.v[0]);
    EXPECT_EQ(a.reward[0], -1.0);
    EXPECT_EQ(games.check(std::vector<std::int64_t>{22}),
              std::optional<std::string>("action 22 of match 0 is outside 0..21 (an index into Hand.enumerate())"));
}
