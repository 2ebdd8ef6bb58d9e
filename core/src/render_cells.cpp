// Terminal and HTML texts of one cell.
#include "puyotype.hpp"
#include "terminal.hpp"

namespace tavik {

namespace {

struct CellStyle {
    std::string_view plain;    // two characters
    std::string_view colored;  // with background and bold; EMPTY stays plain
    std::string_view html_text;
    std::string_view html_color;
};

#define TAVIK_ESC "\x1b"
constexpr CellStyle STYLES[PuyoType::COUNT] = {
    {"__", "__", "__", "white"},
    {"O_", TAVIK_ESC "[1;47mO_" TAVIK_ESC "[0m", "_O", "gray"},
    {"W_", TAVIK_ESC "[1;40mW_" TAVIK_ESC "[0m", "_W", "black"},
    {"I_", TAVIK_ESC "[1;40mI_" TAVIK_ESC "[0m", "_I", "gray"},
    {"R_", TAVIK_ESC "[1;41mR_" TAVIK_ESC "[0m", "_R", "red"},
    {"B_", TAVIK_ESC "[1;44mB_" TAVIK_ESC "[0m", "_B", "blue"},
    {"Y_", TAVIK_ESC "[1;43mY_" TAVIK_ESC "[0m", "_Y", "yellow"},
    {"G_", TAVIK_ESC "[1;42mG_" TAVIK_ESC "[0m", "_G", "green"},
    {"P_", TAVIK_ESC "[1;45mP_" TAVIK_ESC "[0m", "_P", "purple"},
};
#undef TAVIK_ESC

}  // namespace

std::string_view PuyoType::to_colored_char() const {
    // The decision is taken at the first cell written, plain or not.
    return terminal_colors_enabled() ? STYLES[number()].colored : STYLES[number()].plain;
}

std::string PuyoType::to_html_char() const {
    const CellStyle& s = STYLES[number()];
    std::string out = "<span style=\"font-family: monospace ;background-color: ";
    out += s.html_color;
    out += "\">";
    out += s.html_text;
    out += "</span>";
    return out;
}

}  // namespace tavik
