#include <gtest/gtest.h>

#include "field/array_field.hpp"

using namespace tavik;

TEST(ArrayFieldSmoke, NewFieldDebugText) {
    ArrayField f;
    std::string expected = "\nWWWWWWWW\n";
    for (int i = 0; i < 14; ++i) expected += "W      W\n";
    expected += "WWWWWWWW\n";
    EXPECT_EQ(f.debug(), expected);
}
