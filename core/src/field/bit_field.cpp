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

// The groups one vanish removes, as plain records: at most 72 cells in
// groups of four or more. Trivial, so a chain's worth costs nothing to set up.
struct VanishedGroup {
    std::uint8_t size;
    PuyoType::Value puyotype;
};

struct VanishedGroups {
    static constexpr unsigned CAPACITY = 18;

    void add(PuyoType::Value t, unsigned n) { items[count++] = {static_cast<std::uint8_t>(n), t}; }
    bool empty() const { return count == 0; }
    const VanishedGroup* begin() const { return items; }
    const VanishedGroup* end() const { return items + count; }

    void append_to(ConnectionList& out) const {
        out.reserve(out.size() + count);
        for (const VanishedGroup& g : *this) out.emplace_back(Connection{std::nullopt, g.size, g.puyotype});
    }
    void append_to(StepConnections& out) const {
        out.append(count, [this](std::size_t i) { return Connection{std::nullopt, items[i].size, items[i].puyotype}; });
    }

    unsigned count;
    VanishedGroup items[CAPACITY + 1];  // one spare for the branch-free records
};

// Records the groups of `cells` one by one, in seed order.
[[gnu::always_inline]] inline void add_groups_by_seed(VanishedGroups& out, Plane cells, PuyoType::Value t) {
    while (!cells.is_empty()) {
        const Plane group = cells.lowest_seed().flood_fill(cells);
        out.add(t, group.popcount());
        cells = cells.and_not(group);
    }
}

// Deposit of the kept bits of one 64-bit half, each lane closing up downwards.
[[gnu::always_inline]] inline std::uint64_t close_up(std::uint64_t bits, std::uint64_t keep, std::uint64_t deposit) {
    return _pdep_u64(_pext_u64(bits, keep), deposit);
}

// The three planes as separate values, so the chain loop keeps them in registers.
struct Planes {
    Plane p0, p1, p2;
};

[[gnu::always_inline]] inline void vanish_planes(Planes& planes, VanishedGroups& out) {
    const Plane colours = planes.p2 & masks::GROUP_AREA;
    const Plane red_blue = colours.and_not(planes.p1);
    const Plane yellow_green = colours & planes.p1;
    // Low half: plane 0 clear (RED, YELLOW); high half: plane 0 set (BLUE, GREEN).
    const PlanePair s0 = vanishing_cells(PlanePair(red_blue.and_not(planes.p0), red_blue & planes.p0));
    const PlanePair s1 = vanishing_cells(PlanePair(yellow_green.and_not(planes.p0), yellow_green & planes.p0));
    const PlanePair both = s0 | s1;
    if (both.is_empty()) return;

    const auto [red, blue] = s0.popcounts();
    const auto [yellow, green] = s1.popcounts();
    // Fewer than eight cells of one colour in groups of four or more are one group.
    if (((red | blue | yellow | green) & ~7u) == 0) {
        // Each colour's record is written, and kept when the colour has cells.
        unsigned k = 0;
        out.items[k] = {static_cast<std::uint8_t>(blue), PuyoType::BLUE};
        k += blue != 0;
        out.items[k] = {static_cast<std::uint8_t>(red), PuyoType::RED};
        k += red != 0;
        out.items[k] = {static_cast<std::uint8_t>(green), PuyoType::GREEN};
        k += green != 0;
        out.items[k] = {static_cast<std::uint8_t>(yellow), PuyoType::YELLOW};
        k += yellow != 0;
        out.count = k;
    } else {
        add_groups_by_seed(out, s0.high(), PuyoType::BLUE);
        add_groups_by_seed(out, s0.low(), PuyoType::RED);
        add_groups_by_seed(out, s1.high(), PuyoType::GREEN);
        add_groups_by_seed(out, s1.low(), PuyoType::YELLOW);
    }

    const Plane all = both.low() | both.high();
    const Plane ojama = planes.p0.and_not(planes.p1 | planes.p2);
    // Most fields hold no ojama: the branch keeps the neighbourhood off the
    // path from one pass to the next.
    const Plane cleared = ojama.is_empty() ? all : all | (all.neighbourhood() & ojama & masks::COUNT_AREA);
    planes.p0 = planes.p0.and_not(cleared);
    planes.p1 = planes.p1.and_not(cleared);
    planes.p2 = planes.p2.and_not(cleared);
}

// The empty cells under a column's top: the ones a drop closes up.
[[gnu::always_inline]] inline Plane holes_under_tops(const Planes& planes) {
    const Plane falling = planes.p0 | planes.p2;  // neither EMPTY nor WALL
    return falling.filled_below_top().and_not(falling | planes.p1);
}

// Right after a vanish nearly every field has holes, so there the drop need
// not find them exactly: with the floor whole and no WALL among the cells that
// fall, all empty cells of the count area will do, as those above a column's
// top have nothing over them to move. That skips the smear to each column's
// top, the longest step of a drop.
[[gnu::always_inline]] inline Plane holes_after_vanish(const Planes& planes) {
    const Plane falling = planes.p0 | planes.p2;
    const Plane occupied = falling | planes.p1;
    const Plane wall = planes.p1.and_not(falling);
    if (masks::FLOOR.is_subset_of(occupied) && !wall.intersects(masks::COUNT_AREA))
        return masks::COUNT_AREA.and_not(occupied);
    return holes_under_tops(planes);
}

// Closes up `holes`: every empty cell under a column's top, and maybe empty
// count-area cells with nothing falling over them.
[[gnu::always_inline]] inline void drop_planes(Planes& planes, Plane holes) {
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
    planes.p0 = close_up_plane(planes.p0);
    planes.p1 = close_up_plane(planes.p1);
    planes.p2 = close_up_plane(planes.p2);
}

}  // namespace

BitField BitField::from_planes(const PlaneBytes& bytes) {
    return from_planes(Plane::from_bytes(bytes[0]), Plane::from_bytes(bytes[1]), Plane::from_bytes(bytes[2]));
}

BitField::PlaneBytes BitField::planes_bytes() const {
    return {planes_[0].bytes(), planes_[1].bytes(), planes_[2].bytes()};
}

bool BitField::has_type(PuyoType t) const {
    if (t == PuyoType::PURPLE) panic_not_implemented();
    return !type_plane(t.number()).is_empty();
}

ConnectionList BitField::vanish() {
    Planes planes{planes_[0], planes_[1], planes_[2]};
    VanishedGroups groups;
    groups.count = 0;
    vanish_planes(planes, groups);
    planes_ = {planes.p0, planes.p1, planes.p2};
    ConnectionList out;
    if (!groups.empty()) groups.append_to(out);
    return out;
}

void BitField::drop() {
    Planes planes{planes_[0], planes_[1], planes_[2]};
    drop_planes(planes, holes_under_tops(planes));
    planes_ = {planes.p0, planes.p1, planes.p2};
}

ChainStepResult BitField::step_chain(std::uint64_t num_chain) {
    Planes planes{planes_[0], planes_[1], planes_[2]};
    VanishedGroups groups;
    groups.count = 0;
    vanish_planes(planes, groups);
    drop_planes(planes, groups.empty() ? holes_under_tops(planes) : holes_after_vanish(planes));
    planes_ = {planes.p0, planes.p1, planes.p2};
    ChainStepResult step;
    if (!groups.empty()) {
        groups.append_to(step.connections);
        step.chain = num_chain;
    }
    return step;
}

ChainResult BitField::chain() {
    // First all passes, on planes held in registers and with the groups as
    // plain records (no call in the loop); then the result, allocated once at
    // its exact size.
    Planes planes{planes_[0], planes_[1], planes_[2]};
    VanishedGroups passes[MAX_CHAIN_PASSES];
    std::uint64_t recorded = 0;
    for (std::uint64_t n = 1;; ++n) {
        VanishedGroups& groups = passes[recorded];
        groups.count = 0;
        vanish_planes(planes, groups);
        if (groups.empty()) {
            // After a drop the field is settled: a pass without groups changes nothing.
            if (n > 1) break;
            const Planes before = planes;
            drop_planes(planes, holes_under_tops(planes));
            if (((planes.p0 ^ before.p0) | (planes.p1 ^ before.p1) | (planes.p2 ^ before.p2)).is_empty()) break;
        } else {
            drop_planes(planes, holes_after_vanish(planes));
        }
        if (++recorded == MAX_CHAIN_PASSES) break;
    }
    planes_ = {planes.p0, planes.p1, planes.p2};

    std::vector<ChainStepResult> steps;
    std::uint64_t score = 0;
    if (recorded) steps.reserve(recorded);
    for (std::uint64_t i = 0; i < recorded; ++i) {
        const VanishedGroups& groups = passes[i];
        // Built from its chain number: an empty emplace_back() would
        // value-initialise the step, zeroing all 120 bytes first.
        ChainStepResult& step = steps.emplace_back(groups.empty() ? 0 : i + 1);
        if (groups.empty()) continue;  // the drop-only first pass
        groups.append_to(step.connections);
        // A vanishing 20th pass cannot be scored: it panics here, with the
        // field as the passes left it.
        score += step_score(step.chain, groups);
    }
    return ChainResult::already_scored(std::move(steps), score);
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
