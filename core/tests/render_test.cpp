#include <gtest/gtest.h>

#include "field/array_field.hpp"

using namespace tavik;

struct HtmlCase {
    PuyoType type;
    const char* text;
    const char* color;
};

class HtmlCell : public testing::TestWithParam<HtmlCase> {};

TEST_P(HtmlCell, Span) {
    const auto& c = GetParam();
    EXPECT_EQ(c.type.to_html_char(), std::string("<span style=\"font-family: monospace ;background-color: ") + c.color +
                                         "\">" + c.text + "</span>");
}

INSTANTIATE_TEST_SUITE_P(
    AllTypes, HtmlCell,
    testing::Values(HtmlCase{PuyoType::EMPTY, "__", "white"}, HtmlCase{PuyoType::OJAMA, "_O", "gray"},
                    HtmlCase{PuyoType::WALL, "_W", "black"}, HtmlCase{PuyoType::IRON, "_I", "gray"},
                    HtmlCase{PuyoType::RED, "_R", "red"}, HtmlCase{PuyoType::BLUE, "_B", "blue"},
                    HtmlCase{PuyoType::YELLOW, "_Y", "yellow"}, HtmlCase{PuyoType::GREEN, "_G", "green"},
                    HtmlCase{PuyoType::PURPLE, "_P", "purple"}));

TEST(HtmlCell, SpanLengths) {
    EXPECT_EQ(PuyoType(PuyoType::RED).to_html_char().size(), 69u);
    EXPECT_EQ(PuyoType(PuyoType::YELLOW).to_html_char().size(), 72u);
    EXPECT_EQ(PuyoType(PuyoType::PURPLE).to_html_char().size(), 72u);
}

TEST(Render, ColouredCellFollowsTheDecision) {
    const std::string red(PuyoType(PuyoType::RED).to_colored_char());
    if (terminal_colors_enabled())
        EXPECT_EQ(red, "\x1b[1;41mR_\x1b[0m");
    else
        EXPECT_EQ(red, "R_");
    EXPECT_EQ(PuyoType(PuyoType::EMPTY).to_colored_char(), "__");
}

TEST(Render, EmptyFieldTexts) {
    ArrayField f;
    std::string pretty = "\n", html = "<br>";
    for (int y = 0; y < 14; ++y) {
        pretty += "____________\n";
        for (int x = 0; x < 6; ++x) html += PuyoType(PuyoType::EMPTY).to_html_char();
        html += "<br>";
    }
    EXPECT_EQ(f.get_pretty_string(), pretty + "\n");
    EXPECT_EQ(f.get_html_string(), html + "<br>");
}

TEST(Render, ShowsOnlyThePlayableArea) {
    ArrayField f;
    f.set(1, 1, PuyoType::RED);
    f.set(6, 14, PuyoType::GREEN);
    const std::string pretty = f.get_pretty_string();
    EXPECT_EQ(pretty.find('W'), std::string::npos);
    EXPECT_EQ(pretty.find("R_"), 1u + (terminal_colors_enabled() ? 6u : 0u));
    EXPECT_NE(pretty.find("G_"), std::string::npos);
}
