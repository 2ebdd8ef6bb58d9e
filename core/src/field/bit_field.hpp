#pragma once
// The fast field: three bit planes whose bits at one cell spell its type
// number (plane 0 counts 1, plane 1 counts 2, plane 2 counts 4), so whole-field
// questions are a few vector instructions. Types 0..7 only: PURPLE stores as EMPTY.
#include <array>
#include <bit>
#include <cstdint>
#include <optional>

#include "field/field.hpp"
#include "field/field_planes.hpp"
#include "field/plane.hpp"

namespace tavik {

class BitField : public FieldBase<BitField> {
public:
    static constexpr bool from_array_checks_sizes_first = false;
    using PlaneBytes = std::array<std::array<std::uint8_t, 16>, 3>;

    BitField() : planes_{Plane(), masks::FRAME, Plane()} {}

    static BitField from_planes(const PlaneBytes& bytes);
    static BitField from_planes(Plane p0, Plane p1, Plane p2) {
        BitField f;
        f.planes_ = {p0, p1, p2};
        return f;
    }
    PlaneBytes planes_bytes() const;
    Plane plane(std::size_t k) const { return planes_[k]; }

    PuyoType get(std::uint64_t x, std::uint64_t y) const {
        check_index(x, FIELD_WIDTH);
        check_index(y, FIELD_HEIGHT);
        return code_at(Plane::cell(x, y));
    }
    void set(std::uint64_t x, std::uint64_t y, PuyoType t) {
        check_index(x, FIELD_WIDTH);
        check_index(y, FIELD_HEIGHT);
        write(Plane::cell(x, y), t);
    }

    std::optional<Position> put(std::uint64_t x, PuyoType t) {
        if (x >= FIELD_WIDTH) return std::nullopt;  // beyond the grid every lane bit is frame
        const unsigned h = occupied_from_floor(x);
        // A lane without an empty cell lands on row 0, which is then occupied.
        if (h == 16) return std::nullopt;
        const std::uint64_t y = 15 - h;
        add_code(Plane::cell(x, y), t);  // the landing cell is empty
        return Position{x, y};
    }

    // 14 minus the landing row: 18446744073709551615 beyond the grid.
    std::uint64_t get_height(std::uint64_t x) const {
        if (x >= FIELD_WIDTH) return std::uint64_t{14} - 15;
        const unsigned h = occupied_from_floor(x);
        return h == 16 ? 14 : std::uint64_t{h} - 1;
    }
    bool has_type(PuyoType t) const;
    bool is_all_clear() const { return (occupied() & masks::COUNT_AREA).is_empty(); }
    std::uint64_t get_num_puyos() const { return (occupied() & masks::COUNT_AREA).popcount(); }

    ConnectionList vanish();
    void drop();
    // The provided chain, chain_score and step, with the same steps and
    // results, written once over the planes (bit_field.cpp).
    ChainResult chain();
    ChainScore chain_score();
    ChainStepResult step_chain(std::uint64_t num_chain);
    // One pass of a chain for callers that time its links: vanish, score as
    // link `num_chain`, drop. `largest_fall` is the most rows a puyo fell;
    // nothing vanished leaves the field as it was and returns all zeros.
    struct Link {
        bool vanished = false;
        std::uint64_t score = 0;
        unsigned largest_fall = 0;
    };
    Link step_link(std::uint64_t num_chain);
    ConnectionList get_vanishable_connections() const;
    // Settled, with no group to vanish, on a whole floor with no WALL among the
    // cells: chain() would end at once, and cells taken out let the rest fall
    // by plain gravity. False for some fields that fire nothing (a wall inside).
    bool is_quiet() const;
    // The chain that goes on once a first step has cleared `cleared` (cells of
    // the count area) from this quiet field: the cells close up, then the steps
    // from the second on run. The count includes the first step, the score
    // does not. The same as clearing the cells and calling chain_score(),
    // without its first pass, which could only drop.
    ChainScore chain_score_after_clear(Plane cleared);
    // The cells holding type code `code` (0..7).
    Plane type_plane(unsigned code) const { return planes().cells_of(code); }
    FieldPlanes planes() const { return {planes_[0], planes_[1], planes_[2]}; }

    bool operator==(const BitField& o) const {
        return ((planes_[0] ^ o.planes_[0]) | (planes_[1] ^ o.planes_[1]) | (planes_[2] ^ o.planes_[2])).is_empty();
    }
    bool equals_without_fuzzy(const BitField& o) const {
        const Plane diff = (planes_[0] ^ o.planes_[0]) | (planes_[1] ^ o.planes_[1]) | (planes_[2] ^ o.planes_[2]);
        return !diff.intersects(masks::GROUP_AREA);
    }

private:
    Plane occupied() const { return planes().occupied(); }
    PuyoType code_at(Plane cell) const { return PuyoType::from_number_unchecked(planes().code_at(cell)); }
    void set_planes(const FieldPlanes& p) { planes_ = {p.p0, p.p1, p.p2}; }
    // The chain loop with what `recorder` keeps of it (bit_field.cpp).
    template <class Recorder>
    void chain_recorded(Recorder& recorder);
    // Writes t's code into an empty cell, or over any cell.
    void add_code(Plane cell, PuyoType t) {
        const unsigned code = t.number() & 7;
        for (unsigned k = 0; k < 3; ++k) planes_[k] |= cell & Plane::all_if(code >> k & 1);
    }
    void write(Plane cell, PuyoType t) {
        for (Plane& p : planes_) p = p.and_not(cell);
        add_code(cell, t);
    }

    // The number of occupied cells of column x (0..7) counted from the floor
    // (row 15) up to its first empty cell: 16 when the column has none.
    unsigned occupied_from_floor(std::uint64_t x) const {
        const Plane empty = ~occupied();
        const std::uint64_t half = x >> 2 ? empty.high() : empty.low();
        const unsigned lane = static_cast<unsigned>(half >> (16 * (x & 3))) & 0xFFFF;
        return static_cast<unsigned>(std::countr_zero(lane | 0x10000u));
    }

    alignas(16) std::array<Plane, 3> planes_;
};

static_assert(FieldImpl<BitField>);
static_assert(sizeof(BitField) == 48);
static_assert(alignof(BitField) == 16);

}  // namespace tavik
