#include "field/bit_field.hpp"

#include <array>

namespace tavik {

namespace {

// The cells of the two colours of one pairing that belong to groups of four or
// more. A member with three same-colour neighbours, or two adjacent members
// with two each, can only sit in such a group; every other cell of the group
// touches one of those.
//    .x.    the middle x of the lower row has three neighbours;
//    xxx
//    xx     each has two, and they touch.
//    xx
[[gnu::always_inline]] inline PlanePair vanishing_cells(PlanePair x) {
    const NeighbourLinks links(x);
    const PlanePair two = links.two_or_more();
    // No cell with two neighbours: no group of three, let alone four. Most
    // pairings of a settled field stop here.
    if (two.is_empty()) return two;
    const PlanePair core = links.three_or_more() | (two & two.beside());
    return core.neighbourhood() & x;
}

// The groups one vanish removes, as plain records: at most 72 cells in
// groups of four or more. Trivial, so a chain's worth costs nothing to set up.
struct VanishedGroups {
    static constexpr unsigned CAPACITY = 18;

    void add(PuyoType::Value t, unsigned n) {
        items[count++] = {static_cast<std::uint8_t>(n), t};
        puyos += n;
        bonus += static_cast<unsigned>(connection_bonus(n));
        colours |= 1u << t;
    }
    bool empty() const { return count == 0; }
    // step_score of these groups from the totals kept beside them.
    std::uint64_t score(std::uint64_t chain) const {
        return empty() ? 0 : step_score_of_totals(chain, puyos, bonus + colour_bonus(colours));
    }
    const GroupRecord* begin() const { return items; }
    const GroupRecord* end() const { return items + count; }

    void append_to(ConnectionList& out) const {
        out.reserve(out.size() + count);
        for (const GroupRecord& g : *this) out.emplace_back(Connection{std::nullopt, g.size, g.puyotype});
    }
    void append_to(StepConnections& out) const {
        out.append(count, [this](std::size_t i) { return Connection{std::nullopt, items[i].size, items[i].puyotype}; });
    }

    unsigned count;
    unsigned puyos, bonus, colours;  // see step_score_of_totals
    // One spare for the branch-free records, and room for ChainResult's block copy.
    GroupRecord items[CAPACITY + 4];
};

// The connection and colour bonus of a pass whose four colours vanish at most
// one group of at most seven cells each, indexed by the four sizes, three bits
// each: one load instead of four clamped lookups and a popcount.
constexpr auto ONE_GROUP_BONUS = [] {
    std::array<std::uint8_t, 4096> table{};
    for (unsigned sizes = 0; sizes < table.size(); ++sizes) {
        std::uint64_t bonus = 0;
        unsigned colours = 0;
        for (unsigned c = 0; c < 4; ++c) {
            bonus += connection_bonus(sizes >> (3 * c) & 7);
            colours |= unsigned{(sizes >> (3 * c) & 7) != 0} << c;
        }
        table[sizes] = static_cast<std::uint8_t>(bonus + colour_bonus(colours));
    }
    return table;
}();

// Records the groups of `cells` one by one, in seed order.
[[gnu::always_inline]] inline void add_groups_by_seed(VanishedGroups& out, Plane cells, PuyoType::Value t) {
    while (!cells.is_empty()) {
        const Plane group = cells.lowest_seed().flood_fill(cells);
        out.add(t, group.popcount());
        cells = cells.and_not(group);
    }
}

// Removes the groups of four or more and the OJAMA next to them, records the
// groups in `out` and returns the cells it cleared.
[[gnu::always_inline]] inline Plane vanish_planes(FieldPlanes& planes, VanishedGroups& out) {
    out.count = 0;
    const ColourPairs pairs(planes);
    const PlanePair red_blue = vanishing_cells(pairs.red_blue);
    const PlanePair yellow_green = vanishing_cells(pairs.yellow_green);
    const PlanePair both = red_blue | yellow_green;
    if (both.is_empty()) return Plane();

    const auto [red, blue] = red_blue.popcounts();
    const auto [yellow, green] = yellow_green.popcounts();
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
        out.puyos = red + blue + yellow + green;
        out.bonus = ONE_GROUP_BONUS[red | blue << 3 | yellow << 6 | green << 9];
        out.colours = 0;  // in the bonus already
    } else {
        out.puyos = out.bonus = out.colours = 0;
        add_groups_by_seed(out, red_blue.second(), PuyoType::BLUE);
        add_groups_by_seed(out, red_blue.first(), PuyoType::RED);
        add_groups_by_seed(out, yellow_green.second(), PuyoType::GREEN);
        add_groups_by_seed(out, yellow_green.first(), PuyoType::YELLOW);
    }

    const Plane vanishing = both.first() | both.second();
    const Plane ojama = planes.ojama();
    // Most fields hold no ojama: the branch keeps the neighbourhood off the
    // path from one pass to the next.
    const Plane cleared =
        ojama.is_empty() ? vanishing : vanishing | (vanishing.neighbourhood() & ojama & masks::COUNT_AREA);
    planes = planes.without(cleared);
    return cleared;
}

// The empty cells under a column's top: the ones a drop closes up.
[[gnu::always_inline]] inline Plane holes_under_tops(const FieldPlanes& planes) {
    const Plane falling = planes.falling();
    return falling.filled_below_top().and_not(falling | planes.p1);
}

// With the floor whole and no WALL among the cells that fall, a drop may close
// up any empty cells of the count area that include those under a column's
// top: the ones above it have nothing over them to move. Vanish and drop keep
// this true, so it is asked once per chain.
[[gnu::always_inline]] inline bool drops_freely(const FieldPlanes& planes) {
    return masks::FLOOR.is_subset_of(planes.occupied()) && !planes.walls().intersects(masks::COUNT_AREA);
}

// Settled: no cell of the count area sits on an empty one. On such a field a
// drop changes nothing.
//    x     a cell above an empty count-area cell: x.down() marks the hole.
//    .
[[gnu::always_inline]] inline bool is_settled(const FieldPlanes& planes) {
    const Plane occupied = planes.occupied();
    return !(occupied & masks::COUNT_AREA).down().and_not(occupied).intersects(masks::COUNT_AREA);
}

// Closes up `holes`: every empty cell under a column's top, and maybe empty
// count-area cells with nothing falling over them. A half of the field
// without holes is left as it is.
[[gnu::always_inline]] inline void drop_planes(FieldPlanes& planes, Plane holes) {
    if (holes.is_empty()) return;
    const HoleCloser closer(holes, masks::COUNT_AREA);
    planes.p0 = closer.close(planes.p0);
    planes.p1 = closer.close(planes.p1);
    planes.p2 = closer.close(planes.p2);
}

// What a chain keeps of its passes. The loop asks groups_for(i) for the
// record of pass i (0-based), then calls record(i) if the pass is kept.
//
// The pass scores, holding back a vanishing 20th pass: that one is scored,
// and panics, in finish(), once the planes are written back.
struct PassScores {
    VanishedGroups groups;  // reused by every pass
    bool vanished_last = false;

    VanishedGroups& groups_for(std::uint64_t) { return groups; }
    std::uint64_t score_of(std::uint64_t i) {
        if (i + 1 < MAX_CHAIN_PASSES) return groups.score(i + 1);
        vanished_last = !groups.empty();
        return 0;
    }
    void finish() const {
        if (vanished_last) (void)groups.score(MAX_CHAIN_PASSES);
    }
};

// Every step with its groups, for chain().
struct StepsRecorder : PassScores {
    explicit StepsRecorder(ChainResult& result) : out(result) {}
    void record(std::uint64_t i) { out.add_step(groups.empty() ? 0 : i + 1, groups.items, groups.count, score_of(i)); }
    ChainResult& out;
};

// Only the count and the score, for the searches' trial chains.
struct ScoreRecorder : PassScores {
    explicit ScoreRecorder(ChainScore& result) : out(result) {}
    void record(std::uint64_t i) {
        ++out.chain;
        out.score += score_of(i);
    }
    ChainScore& out;
};

// The chain loop, on planes held in registers and with no call inside.
//
// A pass vanishes, then drops. The first pass of a settled field that fires
// nothing is its only one. After a drop the field is settled, so a pass
// without groups ends the chain, and the next drop closes up just the cells
// the vanish cleared. Only an unsettled field or one with holes in its floor
// or walls among its cells needs the drop to find its holes.
//
// Passes are numbered from `first`; `free` and `settled` say what
// drops_freely and is_settled hold of the planes.
template <class Recorder>
[[gnu::always_inline]] inline void run_passes(FieldPlanes& planes, Recorder& recorder, std::uint64_t first, bool free,
                                              bool settled) {
    for (std::uint64_t i = first; i < MAX_CHAIN_PASSES; ++i) {
        VanishedGroups& groups = recorder.groups_for(i);
        const Plane cleared = vanish_planes(planes, groups);
        if (groups.empty()) {
            if (i > 0 || settled) break;
            const FieldPlanes before = planes;
            drop_planes(planes, holes_under_tops(planes));
            if (planes == before) break;
        } else if (settled) {
            drop_planes(planes, cleared);
        } else {
            drop_planes(planes, free ? masks::COUNT_AREA & planes.empty() : holes_under_tops(planes));
        }
        settled = free;
        recorder.record(i);
    }
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
    FieldPlanes p = planes();
    VanishedGroups groups;
    vanish_planes(p, groups);
    set_planes(p);
    ConnectionList out;
    if (!groups.empty()) groups.append_to(out);
    return out;
}

void BitField::drop() {
    FieldPlanes p = planes();
    drop_planes(p, holes_under_tops(p));
    set_planes(p);
}

ChainStepResult BitField::step_chain(std::uint64_t num_chain) {
    FieldPlanes p = planes();
    VanishedGroups groups;
    vanish_planes(p, groups);
    drop_planes(p, !groups.empty() && drops_freely(p) ? masks::COUNT_AREA & p.empty() : holes_under_tops(p));
    set_planes(p);
    ChainStepResult step;
    if (!groups.empty()) {
        groups.append_to(step.connections);
        step.chain = num_chain;
    }
    return step;
}

BitField::Link BitField::step_link(std::uint64_t num_chain) {
    FieldPlanes p = planes();
    VanishedGroups groups;
    vanish_planes(p, groups);
    if (groups.empty()) return {};
    // Every hole lies under its column's top puyo, which falls past all of
    // them: the column's largest fall is its hole count.
    const Plane holes = holes_under_tops(p);
    drop_planes(p, holes);
    set_planes(p);
    return {true, groups.score(num_chain), holes.largest_lane_count()};
}

template <class Recorder>
void BitField::chain_recorded(Recorder& recorder) {
    FieldPlanes p = planes();
    const bool free = drops_freely(p);
    run_passes(p, recorder, 0, free, free && is_settled(p));
    set_planes(p);
    recorder.finish();
}

// The results are made here and filled in place: no copy of a result on return.
ChainResult BitField::chain() {
    ChainResult result;
    StepsRecorder recorder(result);
    chain_recorded(recorder);
    return result;
}

ChainScore BitField::chain_score() {
    ChainScore result;
    ScoreRecorder recorder(result);
    chain_recorded(recorder);
    return result;
}

ChainScore BitField::chain_score_after_clear(Plane cleared) {
    ChainScore result{1, 0};
    ScoreRecorder recorder(result);
    FieldPlanes p = planes().without(cleared);
    // A quiet field drops freely and was settled: only the cleared cells close up.
    drop_planes(p, cleared);
    run_passes(p, recorder, 1, true, true);
    set_planes(p);
    recorder.finish();
    return result;
}

bool BitField::is_quiet() const {
    const FieldPlanes p = planes();
    if (!drops_freely(p) || !is_settled(p)) return false;
    const ColourPairs pairs(p);
    return (vanishing_cells(pairs.red_blue) | vanishing_cells(pairs.yellow_green)).is_empty();
}

ConnectionList BitField::get_vanishable_connections() const {
    ConnectionList out;
    for_each_vanishable_group(planes(), [&](Plane group, unsigned code) {
        GroupCells positions;
        positions.reserve(group.popcount());
        group.for_each_cell([&](std::uint64_t x, std::uint64_t y) { positions.push_back({x, y}); });
        const std::uint64_t size = positions.size();
        out.push_back(Connection{std::move(positions), size, PuyoType::from_number_unchecked(code)});
    });
    return out;
}

}  // namespace tavik
