#include "puyotype.hpp"

#include "text.hpp"

namespace tavik {

std::string PuyoTypeError::debug() const {
    if (kind == InvalidPuyoTypeCharacter) return "InvalidPuyoTypeCharacter(" + text::quote_char(character) + ")";
    return "InvalidPuyoTypeNumber(" + std::to_string(number) + ")";
}

Result<PuyoType, PuyoTypeError> PuyoType::from_char(char32_t c) {
    constexpr std::u32string_view chars = U" OWIRBYGP";
    const auto at = chars.find(c);
    if (at == std::u32string_view::npos) return Err{PuyoTypeError::bad_character(c)};
    return from_number_unchecked(static_cast<unsigned>(at));
}

std::string_view PuyoType::name() const {
    constexpr std::string_view names[] = {"EMPTY", "OJAMA", "WALL", "IRON", "RED", "BLUE", "YELLOW", "GREEN", "PURPLE"};
    return names[v_];
}

}  // namespace tavik
