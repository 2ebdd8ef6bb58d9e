#pragma once
// The field contract: geometry, errors, and the operations written once over
// the primitives each implementation supplies.
//
// An implementation `F` derives from `FieldBase<F>` and provides (FieldImpl
// below states it in code):
//   PuyoType get(uint64_t x, uint64_t y) const;          index error outside the grid
//   void set(uint64_t x, uint64_t y, PuyoType t);         likewise
//   std::optional<Position> put(uint64_t x, PuyoType t);
//   uint64_t get_height(uint64_t x) const;
//   bool has_type(PuyoType t) const;
//   ConnectionList vanish();
//   void drop();
//   ConnectionList get_vanishable_connections() const;
//   bool operator==(const F&) const;
//   static constexpr bool from_array_checks_sizes_first;   see from_array
// It may replace any provided operation by an equivalent of its own; the bit
// field replaces chain() and chain_score() (one loop over its planes).
#include <array>
#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chain/chain_result.hpp"
#include "field/connection.hpp"
#include "field/position.hpp"
#include "hand.hpp"
#include "pair.hpp"
#include "panic.hpp"
#include "puyotype.hpp"
#include "result.hpp"
#include "rotation.hpp"
#include "terminal.hpp"
#include "text.hpp"

namespace tavik {

inline constexpr std::uint64_t FIELD_WIDTH = 8;    // columns 0..7; 0 and 7 are walls
inline constexpr std::uint64_t FIELD_HEIGHT = 16;  // rows 0..15; 0 the ceiling, 15 the floor
inline constexpr std::uint64_t MAX_CHAIN_PASSES = 20;

// A refused pair placement, holding the arguments as they were given.
struct FieldError {
    std::uint64_t x = 0;
    Rotation rotation;

    std::string display() const {
        return "Invalid put operation (" + std::string(rotation.display()) + ", " + std::to_string(x) + ")";
    }
    std::string debug() const { return display(); }
};

// Failure of construction from an array: a wrong shape, or a bad type number.
struct ArrayError {
    std::optional<PuyoTypeError> puyotype;  // absent: the array has the wrong size

    bool is_size_error() const { return !puyotype; }
    std::string display() const { return puyotype ? puyotype->debug() : "Invalid size of array"; }
    std::string debug() const { return display(); }
};

// Playable columns 1..6 by rows 1..14, as exported by to_array.
using FieldArray = std::array<std::array<PuyoType, 14>, 6>;

template <class Derived>
class FieldBase {
public:
    std::uint64_t get_num_puyos() const {
        std::uint64_t n = 0;
        for (std::uint64_t x = 1; x <= 6; ++x)
            for (std::uint64_t y = 2; y <= 14; ++y) n += self().get(x, y) != PuyoType::EMPTY;
        return n;
    }

    bool is_all_clear() const { return self().get_num_puyos() == 0; }

    Result<void, FieldError> put_pair(std::uint64_t x, Rotation rotation, Pair pair) {
        if ((rotation == Rotation::LEFT && x <= 1) || (rotation == Rotation::RIGHT && x >= 6))
            return Err{FieldError{x, rotation}};
        Derived& f = self();
        switch (rotation) {
            case Rotation::TOP:
                f.put(x, pair.axis());
                f.put(x, pair.child());
                break;
            case Rotation::BOTTOM:
                f.put(x, pair.child());
                f.put(x, pair.axis());
                break;
            case Rotation::LEFT:
                f.put(x, pair.axis());
                f.put(x - 1, pair.child());
                break;
            case Rotation::RIGHT:
                f.put(x, pair.axis());
                f.put(x + 1, pair.child());
                break;
        }
        return {};
    }

    Result<void, FieldError> put_hand(const Hand& hand, Pair pair) { return put_pair(hand.x, hand.rotation, pair); }

    ChainStepResult step_chain(std::uint64_t num_chain) {
        ChainStepResult step;
        step.connections = self().vanish();
        self().drop();
        step.chain = step.connections.empty() ? 0 : num_chain;
        return step;
    }

    // Runs the whole chain in place: at most 20 passes, each recorded when it
    // changed the field (a drop-only pass is recorded with chain number 0).
    ChainResult chain() {
        ChainResult result;
        run_chain([&](ChainStepResult&& step) { result.add_step(step.chain, step.connections, step.score()); });
        return result;
    }

    // The same chain, keeping only its count and score.
    ChainScore chain_score() {
        ChainScore out;
        run_chain([&](ChainStepResult&& step) {
            ++out.chain;
            out.score += step.score();
        });
        return out;
    }

    bool equals_without_fuzzy(const Derived& other) const {
        for (std::uint64_t x = 1; x <= 6; ++x)
            for (std::uint64_t y = 3; y <= 14; ++y)
                if (self().get(x, y) != other.get(x, y)) return false;
        return true;
    }

    FieldArray to_array() const {
        FieldArray out;
        for (std::uint64_t i = 0; i < 6; ++i)
            for (std::uint64_t j = 0; j < 14; ++j) out[i][j] = self().get(i + 1, j + 1);
        return out;
    }

    // Text rows, UTF-8, the last one the bottom row (14); characters fill
    // columns 1, 2, ... and are not checked against the playable area.
    template <class Rows>
    static Result<Derived, PuyoTypeError> from_str_array(const Rows& rows) {
        Derived f;
        std::uint64_t k = 0;
        for (auto it = std::rbegin(rows); it != std::rend(rows); ++it, ++k) {
            const std::string_view row(*it);
            std::uint64_t x = 1;
            for (std::size_t pos = 0; pos < row.size(); ++x) {
                auto t = PuyoType::from_char(text::next_utf8(row, pos));
                if (t.is_err()) return Err{t.error()};
                f.set(x, 14 - k, t.value());
            }
        }
        return f;
    }

    static Result<Derived, PuyoTypeError> from_str_array(std::initializer_list<std::string_view> rows) {
        return from_str_array<std::initializer_list<std::string_view>>(rows);
    }

    // Six columns of fourteen type numbers. The array field checks every size
    // before it reads; the bit field checks each list as it comes to it.
    static Result<Derived, ArrayError> from_array(const std::vector<std::vector<std::uint64_t>>& columns) {
        const auto sized = [&](std::size_t i) { return columns.size() == 6 && columns[i].size() == 14; };
        if constexpr (Derived::from_array_checks_sizes_first) {
            if (columns.size() != 6) return Err{ArrayError{}};
            for (std::size_t i = 0; i < 6; ++i)
                if (!sized(i)) return Err{ArrayError{}};
        }
        Derived f;
        for (std::size_t i = 0; i < 6; ++i) {
            if (i >= columns.size() || !sized(i)) return Err{ArrayError{}};
            for (std::size_t j = 0; j < 14; ++j) {
                auto t = PuyoType::from_number(columns[i][j]);
                if (t.is_err()) return Err{ArrayError{t.error()}};
                f.set(i + 1, j + 1, t.value());
            }
        }
        return f;
    }

    // A line break, then rows 0..15 of columns 0..7, one line each.
    std::string debug() const {
        std::string out = "\n";
        out.reserve(1 + FIELD_HEIGHT * (FIELD_WIDTH + 1));
        for (std::uint64_t y = 0; y < FIELD_HEIGHT; ++y) {
            for (std::uint64_t x = 0; x < FIELD_WIDTH; ++x) out += self().get(x, y).to_char();
            out += '\n';
        }
        return out;
    }

    // Columns 1..6, rows 1..14, two characters a cell, coloured on a terminal.
    std::string get_pretty_string() const {
        std::string out = "\n";
        for (std::uint64_t y = 1; y <= 14; ++y) {
            for (std::uint64_t x = 1; x <= 6; ++x) out += self().get(x, y).to_colored_char();
            out += '\n';
        }
        return out + "\n";
    }

    std::string get_html_string() const {
        std::string out = "<br>";
        for (std::uint64_t y = 1; y <= 14; ++y) {
            for (std::uint64_t x = 1; x <= 6; ++x) out += self().get(x, y).to_html_char();
            out += "<br>";
        }
        return out + "<br>";
    }

private:
    const Derived& self() const { return static_cast<const Derived&>(*this); }
    Derived& self() { return static_cast<Derived&>(*this); }

    // The chain loop over the primitives; record(step) takes each recorded pass.
    template <class Record>
    void run_chain(Record&& record) {
        for (std::uint64_t n = 1;; ++n) {
            const Derived before = self();
            ChainStepResult step = self().step_chain(n);
            // Something vanished means cells became empty: the field changed.
            if (step.connections.empty() && self() == before) break;
            record(std::move(step));
            if (n == MAX_CHAIN_PASSES) break;
        }
    }
};

// What a field supplies, and what the searches rely on it having.
template <class F>
concept FieldImpl = std::derived_from<F, FieldBase<F>> && std::copyable<F> && std::equality_comparable<F> &&
    requires(F f, const F& cf, std::uint64_t x, PuyoType t) {
    { cf.get(x, x) } -> std::same_as<PuyoType>;
    { f.set(x, x, t) } -> std::same_as<void>;
    { f.put(x, t) } -> std::same_as<std::optional<Position>>;
    { cf.get_height(x) } -> std::same_as<std::uint64_t>;
    { cf.has_type(t) } -> std::same_as<bool>;
    { f.vanish() } -> std::same_as<ConnectionList>;
    { f.drop() } -> std::same_as<void>;
    { cf.get_vanishable_connections() } -> std::same_as<ConnectionList>;
    { f.chain() } -> std::same_as<ChainResult>;
    { f.chain_score() } -> std::same_as<ChainScore>;
    { F::from_array_checks_sizes_first } -> std::convertible_to<bool>;
};

}  // namespace tavik
