#include "chain/chain_finder.hpp"

#include <bit>

#include "field/plane.hpp"

namespace tavik {

namespace {

struct Planes {
    Plane p0, p1, p2;

    explicit Planes(const BitField& f) : p0(f.plane(0)), p1(f.plane(1)), p2(f.plane(2)) {}
    Plane empty() const { return ~(p0 | p1 | p2); }
    unsigned code_at(Plane cell) const {
        return unsigned{cell.intersects(p0)} | unsigned{cell.intersects(p1)} << 1 |
               unsigned{cell.intersects(p2)} << 2;
    }
    Plane type_plane(unsigned code) const {
        return ((code & 1) ? p0 : ~p0) & ((code & 2) ? p1 : ~p1) & ((code & 4) ? p2 : ~p2);
    }
};

// The cells of groups of one, two and three puyos, two colours at a time,
// told apart by each cell's number of same-colour neighbours: a pair is two
// cells with one neighbour each; a group of three has a middle with two
// neighbours and no neighbour with two of its own, which no larger group has.
struct SmallGroups {
    PlanePair ones, twos, threes;
};

SmallGroups small_groups(PlanePair x) {
    const PlanePair d = x & x.down(), u = x & x.up(), l = x & x.right(), r = x & x.left();
    const PlanePair linked = d | u | l | r;
    const PlanePair du = d | u, lr = l | r;
    const PlanePair two_or_more = (d & u) | (l & r) | (du & lr);
    const PlanePair three_or_more = (d & u & lr) | (l & r & du);
    const PlanePair one_link = linked.and_not(two_or_more);
    const PlanePair middles = two_or_more.and_not(three_or_more | two_or_more.beside());
    return {x.and_not(linked), one_link & one_link.beside(), middles.neighbourhood() & x};
}

// Every column where `open` has a cell gets the candidate (column, count, t).
void insert_columns(ChainFinder::CandidateSet& set, Plane open, std::uint64_t count, PuyoType t) {
    for (unsigned columns = open.columns(); columns; columns &= columns - 1)
        set.insert(static_cast<std::uint64_t>(std::countr_zero(columns)), count, t);
}

}  // namespace

void ChainFinder::collect_candidates(const BitField& field, CandidateSet& set) {
    const Planes planes(field);
    const Plane empty = planes.empty();
    const Plane colours = planes.p2 & masks::GROUP_AREA;
    const Plane red_blue = colours.and_not(planes.p1), yellow_green = colours & planes.p1;
    // Low half: plane 0 clear (RED, YELLOW); high half: plane 0 set (BLUE, GREEN).
    const SmallGroups pairs[2] = {
        small_groups(PlanePair(red_blue.and_not(planes.p0), red_blue & planes.p0)),
        small_groups(PlanePair(yellow_green.and_not(planes.p0), yellow_green & planes.p0)),
    };
    for (unsigned code = PuyoType::RED; code <= PuyoType::GREEN; ++code) {
        const SmallGroups& g = pairs[(code - PuyoType::RED) >> 1];
        const bool high = code & 1;
        const PuyoType t = PuyoType::from_number_unchecked(code);
        std::uint64_t count = 3;
        for (const PlanePair& size : {g.ones, g.twos, g.threes}) {
            const Plane cells = high ? size.high() : size.low();
            // Empty cells above, left and right of the groups: a puyo dropped there joins one.
            insert_columns(set, (cells.up() | cells.left() | cells.right()) & empty, count--, t);
        }
    }
}

FoundChainList<BitField> ChainFinder::removal_search(const BitField& field) {
    const Planes planes(field);
    const Plane empty = planes.empty();
    const Plane touching_empty = (empty.up() | empty.down() | empty.left() | empty.right()) & planes.p2;
    FoundChainList<BitField> finds;
    for (Plane rest = planes.p2 & masks::GROUP_AREA; !rest.is_empty();) {
        const Plane seed = rest.lowest_seed();
        const unsigned code = planes.code_at(seed);
        const Plane group = seed.flood_fill(planes.type_plane(code) & masks::GROUP_AREA);
        rest = rest.and_not(group);
        if (!group.intersects(touching_empty)) continue;
        BitField copy =
            BitField::from_planes(planes.p0.and_not(group), planes.p1.and_not(group), planes.p2.and_not(group));
        const ChainResult result = copy.chain();
        if (result.score() == 0) continue;
        std::vector<Position> positions;
        positions.reserve(group.popcount());
        group.for_each_cell([&](std::uint64_t x, std::uint64_t y) { positions.push_back({x, y}); });
        const std::uint64_t size = positions.size();
        finds.push_back(FoundChain<BitField>{result.score(), result.chain(), copy, {}, {}, {},
                                             Connection{std::move(positions), size,
                                                        PuyoType::from_number_unchecked(code)},
                                             1});
    }
    return finds;
}

template struct FoundChain<BitField>;
template FoundChainList<BitField> ChainFinder::find_by_extend(const BitField&);
template FoundChainList<BitField> ChainFinder::find_by_extend_recursive(const BitField&, std::uint64_t,
                                                                         StopCheck);
template FoundChainList<BitField> ChainFinder::find_by_removal(const BitField&);
template struct FoundChain<ArrayField>;
template FoundChainList<ArrayField> ChainFinder::find_by_extend(const ArrayField&);
template FoundChainList<ArrayField> ChainFinder::find_by_extend_recursive(const ArrayField&, std::uint64_t,
                                                                           StopCheck);
template FoundChainList<ArrayField> ChainFinder::find_by_removal(const ArrayField&);

}  // namespace tavik
