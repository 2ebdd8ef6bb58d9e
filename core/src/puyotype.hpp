#pragma once
// The content of one cell: empty, a colour, or a non-colour block.
#include <cstdint>
#include <string>
#include <string_view>

#include "result.hpp"

namespace tavik {

struct PuyoTypeError {
    enum Kind : std::uint8_t { InvalidPuyoTypeCharacter, InvalidPuyoTypeNumber };
    Kind kind = InvalidPuyoTypeNumber;
    char32_t character = 0;
    std::uint64_t number = 0;

    static PuyoTypeError bad_character(char32_t c) { return {InvalidPuyoTypeCharacter, c, 0}; }
    static PuyoTypeError bad_number(std::uint64_t n) { return {InvalidPuyoTypeNumber, 0, n}; }
    std::string debug() const;
    bool operator==(const PuyoTypeError&) const = default;
};

class PuyoType {
public:
    enum Value : std::uint8_t { EMPTY, OJAMA, WALL, IRON, RED, BLUE, YELLOW, GREEN, PURPLE };
    static constexpr std::uint64_t COUNT = 9;

    constexpr PuyoType() = default;
    constexpr PuyoType(Value v) : v_(v) {}
    constexpr operator Value() const { return v_; }

    constexpr std::uint8_t number() const { return v_; }
    // For values already known to be in range (cell codes, stored bytes).
    static constexpr PuyoType from_number_unchecked(unsigned n) { return PuyoType(static_cast<Value>(n)); }

    static Result<PuyoType, PuyoTypeError> from_char(char32_t c);
    static Result<PuyoType, PuyoTypeError> from_number(std::uint64_t n) {
        if (n >= COUNT) return Err{PuyoTypeError::bad_number(n)};
        return from_number_unchecked(static_cast<unsigned>(n));
    }

    constexpr char to_char() const { return " OWIRBYGP"[v_]; }
    constexpr bool is_color() const { return v_ == PURPLE || (v_ >= RED && v_ <= GREEN); }
    std::string_view name() const;
    std::string debug() const { return std::string(name()); }

    // Renderings of one cell: the terminal text (coloured when the process's
    // colour decision says so) and the HTML span.
    std::string_view to_colored_char() const;
    std::string to_html_char() const;

private:
    Value v_ = EMPTY;
};

}  // namespace tavik
