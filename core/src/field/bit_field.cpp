#include "field/bit_field.hpp"

#include <immintrin.h>

namespace tavik {

namespace {

// The cells of the two colours of one pairing that belong to groups of four or
// more. A member with three same-colour neighbours, or two adjacent members
// with two each, can only sit in such a group; every other cell of the group
// touches one of those.
PlanePair vanishing_cells(PlanePair x) {
    const PlanePair d = x & x.down();   // upper neighbour is a member
    const PlanePair u = x & x.up();     // lower neighbour is a member
    const PlanePair l = x & x.right();  // left neighbour is a member
    const PlanePair r = x & x.left();   // right neighbour is a member
    const PlanePair du = d | u, lr = l | r;
    const PlanePair two = (d & u) | (l & r) | (du & lr);
    const PlanePair three = (d & u & lr) | (l & r & du);
    const PlanePair core = three | (two & two.up()) | (two & two.right()) | (two & two.down()) | (two & two.left());
    return core.neighbourhood() & x;
}

// Appends one connection per group of `cells`, in seed order. Fewer than
// eight cells of groups of four or more are necessarily one group.
void append_groups(ConnectionList& out, Plane cells, PuyoType t) {
    const unsigned n = cells.popcount();
    if (n == 0) return;
    if (n < 8) {
        out.push_back(Connection{std::nullopt, n, t});
        return;
    }
    while (!cells.is_empty()) {
        const Plane group = cells.lowest_seed().flood_fill(cells);
        out.push_back(Connection{std::nullopt, group.popcount(), t});
        cells = cells.and_not(group);
    }
}

// Deposit of the kept bits of one 64-bit half, each lane closing up downwards.
std::uint64_t close_up(std::uint64_t bits, std::uint64_t keep, std::uint64_t deposit) {
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

ConnectionList BitField::vanish() {
    const Plane colours = planes_[2] & masks::GROUP_AREA;
    const Plane red_blue = colours.and_not(planes_[1]);
    const Plane yellow_green = colours & planes_[1];
    // Low half: plane 0 clear (RED, YELLOW); high half: plane 0 set (BLUE, GREEN).
    const PlanePair s0 = vanishing_cells(PlanePair(red_blue.and_not(planes_[0]), red_blue & planes_[0]));
    const PlanePair s1 = vanishing_cells(PlanePair(yellow_green.and_not(planes_[0]), yellow_green & planes_[0]));
    const Plane all = s0.low() | s0.high() | s1.low() | s1.high();
    if (all.is_empty()) return {};

    ConnectionList out;
    out.reserve(all.popcount() / 4);  // every group has at least four cells
    append_groups(out, s0.high(), PuyoType::BLUE);
    append_groups(out, s0.low(), PuyoType::RED);
    append_groups(out, s1.high(), PuyoType::GREEN);
    append_groups(out, s1.low(), PuyoType::YELLOW);

    const Plane ojama = planes_[0].and_not(planes_[1] | planes_[2]);
    const Plane cleared = all | (all.neighbourhood() & ojama & masks::COUNT_AREA);
    for (Plane& p : planes_) p = p.and_not(cleared);
    return out;
}

void BitField::drop() {
    const Plane occupied_cells = occupied();
    const Plane falling = planes_[0] | planes_[2];  // neither EMPTY nor WALL
    const Plane holes = falling.filled_below_top().and_not(occupied_cells);
    if (holes.is_empty()) return;
    const Plane keep = ~holes;
    const Plane deposit = holes.lanes_shortened_by_count();

    std::uint64_t lo[3], hi[3];
    for (unsigned k = 0; k < 3; ++k) {
        lo[k] = planes_[k].low();
        hi[k] = planes_[k].high();
    }
    const std::uint64_t area_lo = masks::COUNT_AREA.low(), area_hi = masks::COUNT_AREA.high();
    if (holes.low()) {
        const std::uint64_t keep_lo = keep.low(), deposit_lo = deposit.low();
        for (std::uint64_t& b : lo) b = (b & ~area_lo) | close_up(b & area_lo, keep_lo, deposit_lo);
    }
    if (holes.high()) {
        const std::uint64_t keep_hi = keep.high(), deposit_hi = deposit.high();
        for (std::uint64_t& b : hi) b = (b & ~area_hi) | close_up(b & area_hi, keep_hi, deposit_hi);
    }
    for (unsigned k = 0; k < 3; ++k) planes_[k] = Plane(lo[k], hi[k]);
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
