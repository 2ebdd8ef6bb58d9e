#include "rotation.hpp"

#include "text.hpp"

namespace tavik {

namespace {
constexpr std::string_view DISPLAY[] = {"top", "left", "bottom", "right"};
constexpr std::string_view NAMES[] = {"TOP", "LEFT", "BOTTOM", "RIGHT"};
}  // namespace

std::string RotationError::debug() const {
    if (kind == InvalidRotationString) return "InvalidRotationString(" + text::quote_string(text) + ")";
    return "InvalidRotationNumber(" + std::to_string(number) + ")";
}

Result<Rotation, RotationError> Rotation::from_str(std::string_view text) {
    for (std::uint8_t i = 0; i < COUNT; ++i)
        if (text == DISPLAY[i] || text == NAMES[i]) return Rotation(static_cast<Value>(i));
    return Err{RotationError{RotationError::InvalidRotationString, 0, std::string(text)}};
}

std::string_view Rotation::display() const { return DISPLAY[v_]; }
std::string_view Rotation::name() const { return NAMES[v_]; }

}  // namespace tavik
