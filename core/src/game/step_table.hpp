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
#include <tuple>
#include <type_traits>

namespace tavik {

// The element types batch calls exchange.
enum class Element : std::uint8_t { U8, I8, BOOL, I32, I64, F64 };

// The C++ type of each element, in Element order.
using ElementTypes = std::tuple<std::uint8_t, std::int8_t, bool, std::int32_t, std::int64_t, double>;
template <Element E>
using ElementType = std::tuple_element_t<static_cast<std::size_t>(E), ElementTypes>;

// The element of a C++ type, the inverse of ElementType.
template <class T, std::size_t I = 0>
constexpr Element element_of() {
    static_assert(I < std::tuple_size_v<ElementTypes>, "no element of this type");
    if constexpr (std::is_same_v<T, std::tuple_element_t<I, ElementTypes>>) {
        return static_cast<Element>(I);
    } else {
        return element_of<T, I + 1>();
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
        return static_cast<ElementType<TABLE[K].element>*>(data[K]);
    }
};

}  // namespace tavik
