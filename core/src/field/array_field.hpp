#pragma once
// The plain field: one byte per cell, groups found by a recursive flood fill.
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "field/field.hpp"

namespace tavik {

class ArrayField : public FieldBase<ArrayField> {
public:
    static constexpr bool from_array_checks_sizes_first = true;
    using Column = std::array<PuyoType, FIELD_HEIGHT>;
    using Cells = std::array<Column, FIELD_WIDTH>;
    using Visited = std::array<std::array<bool, FIELD_HEIGHT>, FIELD_WIDTH>;

    ArrayField();

    PuyoType get(std::uint64_t x, std::uint64_t y) const {
        check_index(x, FIELD_WIDTH);
        check_index(y, FIELD_HEIGHT);
        return cells_[x][y];
    }
    void set(std::uint64_t x, std::uint64_t y, PuyoType t) {
        check_index(x, FIELD_WIDTH);
        check_index(y, FIELD_HEIGHT);
        cells_[x][y] = t;
    }

    std::optional<Position> put(std::uint64_t x, PuyoType t);
    std::uint64_t get_height(std::uint64_t x) const;
    bool has_type(PuyoType t) const;

    ConnectionList vanish();
    void drop();
    ConnectionList get_vanishable_connections() const;

    // Appends the group of `puyotype` reached from (x, y) within rows 3..14.
    void get_field_connection(std::uint64_t x, std::uint64_t y, PuyoType puyotype, Visited& visited,
                              std::vector<Position>& positions) const;

    const Cells& cells() const { return cells_; }
    Cells& cells() { return cells_; }

    bool operator==(const ArrayField& o) const { return cells_ == o.cells_; }

private:
    ConnectionList find_groups() const;

    Cells cells_;
};

static_assert(FieldImpl<ArrayField>);

}  // namespace tavik
