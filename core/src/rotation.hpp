#pragma once
// Side of the pair's child relative to its axis.
#include <cstdint>
#include <string>
#include <string_view>

#include "result.hpp"

namespace tavik {

struct RotationError {
    enum Kind : std::uint8_t { InvalidRotationNumber, InvalidRotationString };
    Kind kind = InvalidRotationNumber;
    std::uint64_t number = 0;
    std::string text;

    std::string debug() const;
};

class Rotation {
public:
    enum Value : std::uint8_t { TOP, LEFT, BOTTOM, RIGHT };
    static constexpr std::uint64_t COUNT = 4;

    constexpr Rotation() = default;
    constexpr Rotation(Value v) : v_(v) {}
    constexpr operator Value() const { return v_; }
    constexpr std::uint8_t number() const { return v_; }

    static Result<Rotation, RotationError> from_str(std::string_view text);
    std::string_view display() const;
    std::string_view name() const;
    std::string debug() const { return std::string(name()); }

private:
    Value v_ = TOP;
};

}  // namespace tavik
