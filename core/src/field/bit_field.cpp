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

using Planes = std::array<Plane, 3>;

template <class List>
[[gnu::always_inline]] inline void vanish_planes(Planes& planes, List& out) {
    const Plane colours = planes[2] & masks::GROUP_AREA;
    const Plane red_blue = colours.and_not(planes[1]);
    const Plane yellow_green = colours & planes[1];
    // Low half: plane 0 clear (RED, YELLOW); high half: plane 0 set (BLUE, GREEN).
    const PlanePair s0 = vanishing_cells(PlanePair(red_blue.and_not(planes[0]), red_blue & planes[0]));
    const PlanePair s1 = vanishing_cells(PlanePair(yellow_green.and_not(planes[0]), yellow_green & planes[0]));
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
    const Plane ojama = planes[0].and_not(planes[1] | planes[2]);
    const Plane cleared = all | (all.neighbourhood() & ojama & masks::COUNT_AREA);
    planes[0] = planes[0].and_not(cleared);
    planes[1] = planes[1].and_not(cleared);
    planes[2] = planes[2].and_not(cleared);
}

[[gnu::always_inline]] inline void drop_planes(Planes& planes) {
    const Plane falling = planes[0] | planes[2];  // neither EMPTY nor WALL
    const Plane holes = falling.filled_below_top().and_not(planes[0] | planes[1] | planes[2]);
    if (holes.is_empty()) return;
    const Plane keep = ~holes;
    const Plane deposit = holes.lanes_shortened_by_count();
    // A half without holes keeps all and deposits all: it comes out unchanged,
    // so both halves go through the same straight-line code.
    const std::uint64_t keep_lo = keep.low(), keep_hi = keep.high();
    const std::uint64_t deposit_lo = deposit.low(), deposit_hi = deposit.high();
    const auto close_up_plane = [&](Plane p) {
        const Plane q = p & masks::COUNT_AREA;
        const Plane closed(close_up(q.low(), keep_lo, deposit_lo), close_up(q.high(), keep_hi, deposit_hi));
        return p.and_not(masks::COUNT_AREA) | closed;
    };
    planes[0] = close_up_plane(planes[0]);
    planes[1] = close_up_plane(planes[1]);
    planes[2] = close_up_plane(planes[2]);
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
    vanish_planes(planes_, out);
}

template void BitField::vanish_into(ConnectionList&);
template void BitField::vanish_into(StepConnections&);

void BitField::drop() { drop_planes(planes_); }

ChainResult BitField::chain() {
    // The passes work on a local copy that can stay in registers.
    Planes planes = planes_;
    std::vector<ChainStepResult> steps;
    for (std::uint64_t n = 1;; ++n) {
        ChainStepResult step;
        vanish_planes(planes, step.connections);
        if (step.connections.empty()) {
            // After a drop the field is settled: a pass without groups changes nothing.
            if (n > 1) break;
            const Planes before = planes;
            drop_planes(planes);
            if (((planes[0] ^ before[0]) | (planes[1] ^ before[1]) | (planes[2] ^ before[2])).is_empty()) break;
        } else {
            drop_planes(planes);
            step.chain = n;
        }
        if (steps.empty()) steps.reserve(MAX_CHAIN_PASSES);
        steps.push_back(std::move(step));
        if (n == MAX_CHAIN_PASSES) break;
    }
    planes_ = planes;  // before scoring, which may panic on a 20th vanishing pass
    return ChainResult(std::move(steps));
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
