#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "game/observation.hpp"

using namespace tavik;

namespace {

// Any codes 0..7 in any cell of rows 0..13, walls included: the writers must
// read nothing but the cells they name.
BitField random_field(std::mt19937_64& rng) {
    BitField f;
    for (std::uint64_t x = 1; x <= 6; ++x) {
        for (std::uint64_t y = 1; y <= 14; ++y) f.set(x, y, PuyoType::from_number_unchecked(rng() % 8));
    }
    return f;
}

}  // namespace

TEST(ObservationTest, OneHotPlanesMatchEveryCellOfRowsOneToThirteen) {
    std::mt19937_64 rng(7);
    for (unsigned colours : {3u, 4u}) {
        for (int n = 0; n < 200; ++n) {
            const BitField f = random_field(rng);
            // A guard byte past the end catches a store that spills over.
            std::vector<std::uint8_t> out(observation::field_bytes(colours) + 1, 0xAA);
            observation::write_field(f, colours, out.data());
            ASSERT_EQ(out.back(), 0xAA);
            for (unsigned k = 0; k <= colours; ++k) {
                const unsigned code = k < colours ? unsigned{PuyoType::RED} + k : unsigned{PuyoType::OJAMA};
                for (std::uint64_t r = 0; r < observation::ROWS; ++r) {
                    for (std::uint64_t x = 0; x < observation::COLUMNS; ++x) {
                        const bool is = f.get(x + 1, r + 2).number() == code;
                        ASSERT_EQ(out[(k * observation::ROWS + r) * observation::COLUMNS + x], is ? 1 : 0)
                            << "plane " << k << " row " << r + 1 << " column " << x;
                    }
                }
            }
        }
    }
}

TEST(ObservationTest, TypeNumbersCoverAllFourteenRows) {
    std::mt19937_64 rng(11);
    for (int n = 0; n < 200; ++n) {
        const BitField f = random_field(rng);
        std::array<std::uint8_t, observation::ALL_ROWS * observation::COLUMNS + 1> out;
        out.fill(0xAA);
        observation::write_types(f, out.data());
        ASSERT_EQ(out.back(), 0xAA);
        for (std::uint64_t y = 0; y < observation::ALL_ROWS; ++y) {
            for (std::uint64_t x = 0; x < observation::COLUMNS; ++x) {
                ASSERT_EQ(out[y * observation::COLUMNS + x], f.get(x + 1, y + 1).number());
            }
        }
    }
}

TEST(ObservationTest, OneHotPlanesFromTypeNumbersMatchThoseFromTheField) {
    std::mt19937_64 rng(13);
    for (unsigned colours : {3u, 4u}) {
        for (int n = 0; n < 200; ++n) {
            const BitField f = random_field(rng);
            std::array<std::uint8_t, observation::ALL_ROWS * observation::COLUMNS> types;
            observation::write_types(f, types.data());
            ASSERT_TRUE(observation::valid_types(types.data()));
            std::vector<std::uint8_t> expected(observation::field_bytes(colours));
            std::vector<std::uint8_t> out(observation::field_bytes(colours) + 1, 0xAA);
            observation::write_field(f, colours, expected.data());
            observation::write_field_from_types(types.data(), colours, out.data());
            ASSERT_EQ(out.back(), 0xAA);
            out.pop_back();
            ASSERT_EQ(out, expected);
        }
    }
}

TEST(ObservationTest, TypeNumbersAboveSevenAreNotValidInAnyCell) {
    std::array<std::uint8_t, observation::ALL_ROWS * observation::COLUMNS> types{};
    EXPECT_TRUE(observation::valid_types(types.data()));
    for (std::size_t i : {std::size_t{0}, std::size_t{41}, types.size() - 1}) {
        types[i] = 8;
        EXPECT_FALSE(observation::valid_types(types.data())) << i;
        types[i] = 7;
        EXPECT_TRUE(observation::valid_types(types.data())) << i;
    }
}

TEST(ObservationTest, PairPlanesPutTheChildFirstAndDropColoursBeyondTheCount) {
    std::array<std::uint8_t, 8> out;
    out.fill(9);
    observation::write_pair(Pair(PuyoType::BLUE, PuyoType::GREEN), 4, out.data());
    EXPECT_EQ(out, (std::array<std::uint8_t, 8>{0, 1, 0, 0, 0, 0, 0, 1}));
    std::array<std::uint8_t, 6> three;
    observation::write_pair(Pair(PuyoType::GREEN, PuyoType::RED), 3, three.data());
    EXPECT_EQ(three, (std::array<std::uint8_t, 6>{0, 0, 0, 1, 0, 0}));
}
