#pragma once
// The three planes of a bit field and what both the field and the chain finder
// read off them: a cell's type code, the cells of one type, the colours split
// into two plane pairs, neighbour links, and the walk over vanishable groups.
//
// A cell's bits in the three planes spell its type number: plane 0 counts 1,
// plane 1 counts 2, plane 2 counts 4. Layout of each plane: see plane.hpp.
#include <cstdint>

#include "field/plane.hpp"
#include "puyotype.hpp"

namespace tavik {

struct FieldPlanes {
    Plane p0, p1, p2;

    Plane occupied() const { return p0 | p1 | p2; }
    Plane empty() const { return ~occupied(); }
    // Neither EMPTY nor WALL: the cells a drop moves.
    Plane falling() const { return p0 | p2; }
    Plane walls() const { return p1.and_not(falling()); }
    Plane ojama() const { return p0.and_not(p1 | p2); }
    // Type codes 4..7.
    Plane colours() const { return p2; }

    unsigned code_at(Plane cell) const {
        return unsigned{cell.intersects(p0)} | unsigned{cell.intersects(p1)} << 1 | unsigned{cell.intersects(p2)} << 2;
    }
    // The cells holding type code `code` (0..7).
    Plane cells_of(unsigned code) const {
        return ((code & 1) ? p0 : ~p0) & ((code & 2) ? p1 : ~p1) & ((code & 4) ? p2 : ~p2);
    }

    FieldPlanes without(Plane cells) const { return {p0.and_not(cells), p1.and_not(cells), p2.and_not(cells)}; }

    friend bool operator==(const FieldPlanes& a, const FieldPlanes& b) {
        return ((a.p0 ^ b.p0) | (a.p1 ^ b.p1) | (a.p2 ^ b.p2)).is_empty();
    }
};

// The colour cells of the group area, two colours to a pair. RED (100) and
// BLUE (101) differ only in plane 0, as do YELLOW (110) and GREEN (111): each
// pair's low set is plane 0 clear, its high set plane 0 set.
struct ColourPairs {
    PlanePair red_blue, yellow_green;

    explicit ColourPairs(const FieldPlanes& planes)
        : red_blue(split(planes, planes.p2.and_not(planes.p1))), yellow_green(split(planes, planes.p2 & planes.p1)) {}

private:
    static PlanePair split(const FieldPlanes& planes, Plane pair_cells) {
        const Plane cells = pair_cells & masks::GROUP_AREA;
        return PlanePair(cells.and_not(planes.p0), cells & planes.p0);
    }
};

// For every member of a set, which of its four neighbours are members too.
struct NeighbourLinks {
    PlanePair above, below, on_left, on_right;  // members whose neighbour there is a member

    explicit NeighbourLinks(PlanePair x)
        : above(x & x.down()), below(x & x.up()), on_left(x & x.right()), on_right(x & x.left()) {}

    PlanePair any() const { return above | below | on_left | on_right; }
    PlanePair two_or_more() const {
        const PlanePair vertical = above | below, horizontal = on_left | on_right;
        return (above & below) | (on_left & on_right) | (vertical & horizontal);
    }
    PlanePair three_or_more() const {
        return (above & below & (on_left | on_right)) | (on_left & on_right & (above | below));
    }
};

// Calls f(group, type code) for each colour group of the group area with an
// empty neighbour, whatever its size, in seed order (see Plane::lowest_seed).
template <class F>
void for_each_vanishable_group(const FieldPlanes& planes, F&& f) {
    const Plane empty = planes.empty();
    const Plane touching_empty = (empty.up() | empty.down() | empty.left() | empty.right()) & planes.colours();
    for (Plane rest = planes.colours() & masks::GROUP_AREA; !rest.is_empty();) {
        const Plane seed = rest.lowest_seed();
        const unsigned code = planes.code_at(seed);
        const Plane group = seed.flood_fill(planes.cells_of(code) & masks::GROUP_AREA);
        rest = rest.and_not(group);
        if (group.intersects(touching_empty)) f(group, code);
    }
}

}  // namespace tavik
