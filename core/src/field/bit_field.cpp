#include "field/bit_field.hpp"

#include <immintrin.h>

namespace tavik {

namespace {

// The cells of the two colours of one pairing that belong to groups of four or
// more. A member with three same-colour neighbours, or two adjacent members
// with two each, can only sit in such a group; every other cell of the group
// touches one of those.
[[gnu::always_inline]] inline PlanePair vanishing_cells(PlanePair x) {
    const PlanePair d = x & x.down();   // upper neighbour is a member
    const PlanePair u = x & x.up();     // lower neighbour is a member
    const PlanePair l = x & x.right();  // left neighbour is a member
    const PlanePair r = x & x.left();   // right neighbour is a member
    const PlanePair du = d | u, lr = l | r;
    const PlanePair two = (d & u) | (l & r) | (du & lr);
    const PlanePair three = (d & u & lr) | (l & r & du);
    const PlanePair core = three | (two & (two.up() | two.right() | two.down() | two.left()));
    return core.neighbourhood() & x;
}

// Appends one connection per group of `cells` (n of them), in seed order.
// Fewer than eight cells of groups of four or more are necessarily one group.
template <class List>
[[gnu::always_inline]] inline void append_groups(List& out, Plane cells, unsigned n, PuyoType t) {
    if (n == 0) return;
    if (n < 8) {
        out.emplace_back(Connection{std::nullopt, n, t});
        return;
    }
    while (!cells.is_empty()) {
        const Plane group = cells.lowest_seed().flood_fill(cells);
        out.emplace_back(Connection{std::nullopt, group.popcount(), t});
        cells = cells.and_not(group);
    }
}

// Deposit of the kept bits of one 64-bit half, each lane closing up downwards.
[[gnu::always_inline]] inline std::uint64_t close_up(std::uint64_t bits, std::uint64_t keep, std::uint64_t deposit) {
    return _pdep_u64(_pext_u64(bits, keep), deposit);
}

}  // namespace

BitField BitField::from_planes(const PlaneBytes& bytes) {
    return from_planes(Plane::from_bytes(bytes[0]), Plane::from_bytes(bytes[1]), Plane::from_bytes(bytes[2]));
}

BitField::PlaneBytes BitField::planes_bytes() const {
    return {planes_[0].bytes(), planes_[1].bytes(), planes_[2].bytes()};
}

Plane BitField::type_plane(unsigned code) const {
    Plane out = ~Plane();
    for (unsigned k = 0; k < 3; ++k) out &= (code >> k & 1) ? planes_[k] : ~planes_[k];
    return out;
}

bool BitField::has_type(PuyoType t) const {
    if (t == PuyoType::PURPLE) panic_not_implemented();
    return !type_plane(t.number()).is_empty();
}

template <class List>
void BitField::vanish_into(List& out) {
    const Plane colours = planes_[2] & masks::GROUP_AREA;
    const Plane red_blue = colours.and_not(planes_[1]);
    const Plane yellow_green = colours & planes_[1];
    // Low half: plane 0 clear (RED, YELLOW); high half: plane 0 set (BLUE, GREEN).
    const PlanePair s0 = vanishing_cells(PlanePair(red_blue.and_not(planes_[0]), red_blue & planes_[0]));
    const PlanePair s1 = vanishing_cells(PlanePair(yellow_green.and_not(planes_[0]), yellow_green & planes_[0]));
    const PlanePair both = s0 | s1;
    if (both.is_empty()) return;

    const auto [red, blue] = s0.popcounts();
    const auto [yellow, green] = s1.popcounts();
    out.reserve((red + blue + yellow + green) / 4);  // every group has at least four cells
    append_groups(out, s0.high(), blue, PuyoType::BLUE);
    append_groups(out, s0.low(), red, PuyoType::RED);
    append_groups(out, s1.high(), green, PuyoType::GREEN);
    append_groups(out, s1.low(), yellow, PuyoType::YELLOW);

    const Plane all = both.low() | both.high();
    const Plane ojama = planes_[0].and_not(planes_[1] | planes_[2]);
    const Plane cleared = all | (all.neighbourhood() & ojama & masks::COUNT_AREA);
    for (Plane& p : planes_) p = p.and_not(cleared);
}

template void BitField::vanish_into(ConnectionList&);
template void BitField::vanish_into(StepConnections&);

void BitField::drop() {
    const Plane falling = planes_[0] | planes_[2];  // neither EMPTY nor WALL
    const Plane holes = falling.filled_below_top().and_not(occupied());
    if (holes.is_empty()) return;
    const Plane keep = ~holes;
    const Plane deposit = holes.lanes_shortened_by_count();
    // A half without holes keeps all and deposits all: it comes out unchanged,
    // so both halves go through the same straight-line code.
    const std::uint64_t keep_lo = keep.low(), keep_hi = keep.high();
    const std::uint64_t deposit_lo = deposit.low(), deposit_hi = deposit.high();
    constexpr std::uint64_t area_lo = masks::COUNT_AREA.low_constant(), area_hi = masks::COUNT_AREA.high_constant();
    for (Plane& p : planes_) {
        const std::uint64_t lo = p.low(), hi = p.high();
        p = Plane((lo & ~area_lo) | close_up(lo & area_lo, keep_lo, deposit_lo),
                  (hi & ~area_hi) | close_up(hi & area_hi, keep_hi, deposit_hi));
    }
}

ConnectionList BitField::get_vanishable_connections() const {
    const Plane empty = ~occupied();
    const Plane touching_empty = (empty.up() | empty.down() | empty.left() | empty.right()) & planes_[2];
    ConnectionList out;
    Plane rest = planes_[2] & masks::GROUP_AREA;
    while (!rest.is_empty()) {
        const Plane seed = rest.lowest_seed();
        const PuyoType t = code_at(seed);
        const Plane group = seed.flood_fill(type_plane(t.number()) & masks::GROUP_AREA);
        rest = rest.and_not(group);
        if (!group.intersects(touching_empty)) continue;
        std::vector<Position> positions;
        positions.reserve(group.popcount());
        group.for_each_cell([&](std::uint64_t x, std::uint64_t y) { positions.push_back({x, y}); });
        const std::uint64_t size = positions.size();
        out.push_back(Connection{std::move(positions), size, t});
    }
    return out;
}

}  // namespace tavik
