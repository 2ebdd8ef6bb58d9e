#pragma once
// The outputs of a batched step, declared once: name, element type, what the
// output is to a Gymnasium environment, and its shape as dimensions of the
// configuration. The binding makes its arrays, its result and the spaces from
// such a table; the stepper writes through `StepOutputs`, typed by it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>
#include <type_traits>

namespace tavik {

// The element types batch calls exchange.
enum class Element : std::uint8_t { U8, I8, BOOL, I32, I64, F64 };

template <Element E>
struct ElementType;
template <>
struct ElementType<Element::U8> {
    using type = std::uint8_t;
};
template <>
struct ElementType<Element::I8> {
    using type = std::int8_t;
};
template <>
struct ElementType<Element::BOOL> {
    using type = bool;
};
template <>
struct ElementType<Element::I32> {
    using type = std::int32_t;
};
template <>
struct ElementType<Element::I64> {
    using type = std::int64_t;
};
template <>
struct ElementType<Element::F64> {
    using type = double;
};

// The element of a C++ type, the inverse of ElementType.
template <class T>
constexpr Element element_of() {
    if constexpr (std::is_same_v<T, std::uint8_t>) {
        return Element::U8;
    } else if constexpr (std::is_same_v<T, std::int8_t>) {
        return Element::I8;
    } else if constexpr (std::is_same_v<T, bool>) {
        return Element::BOOL;
    } else if constexpr (std::is_same_v<T, std::int32_t>) {
        return Element::I32;
    } else if constexpr (std::is_same_v<T, std::int64_t>) {
        return Element::I64;
    } else {
        static_assert(std::is_same_v<T, double>, "no element of this type");
        return Element::F64;
    }
}

// One dimension of an output; its size comes from the configuration.
enum class Dim : std::uint8_t { ENVS, PLANES, ROWS, COLUMNS, VISIBLE, PAIR_SLOTS, COLOURS, ACTIONS };

// Where an output goes in Gymnasium's (obs, reward, terminated, truncated, info).
enum class Role : std::uint8_t {
    OBSERVATION,  // obs[name]
    REWARD,
    TERMINATED,
    TRUNCATED,
    MASK,    // info[name], marked for every environment
    PLAYED,  // info[name], marked for the environments the step played (not reset)
};

struct StepField {
    static constexpr std::size_t MAX_RANK = 4;
    std::string_view name;
    Element element;
    Role role;
    std::array<Dim, MAX_RANK> dims{};
    std::size_t rank = 0;

    constexpr StepField(std::string_view n, Element e, Role r, std::initializer_list<Dim> d)
        : name(n), element(e), role(r), rank(d.size()) {
        std::size_t i = 0;
        for (Dim x : d) dims[i++] = x;
    }
    constexpr std::span<const Dim> shape() const { return {dims.data(), rank}; }
    // Whether info carries a flag array `_name` beside it.
    constexpr bool flagged() const { return role == Role::MASK || role == Role::PLAYED; }
};

// The sizes the dimensions take for one configuration.
struct StepSizes {
    std::size_t envs = 1;
    std::size_t colours = 4;
    std::size_t visible = 3;
    std::size_t of(Dim d) const;
};

// Pointers to the outputs of a step, one per entry of TABLE, each holding one
// row per environment.
template <const auto& TABLE>
struct StepOutputs {
    static constexpr std::size_t COUNT = std::size(TABLE);
    std::array<void*, COUNT> data{};

    template <std::size_t K>
    auto* at() const {
        return static_cast<typename ElementType<TABLE[K].element>::type*>(data[K]);
    }
};

}  // namespace tavik
