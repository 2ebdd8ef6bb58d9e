#include "chain/chain_finder.hpp"

#include <bit>

#include "field/field_planes.hpp"

namespace tavik {

namespace {

// The cells of groups of one, two and three puyos, two colours at a time,
// told apart by each cell's number of same-colour neighbours: a pair is two
// cells with one neighbour each; a group of three has a middle with two
// neighbours and no neighbour with two of its own, which no larger group has.
struct SmallGroups {
    PlanePair ones, twos, threes;
};

SmallGroups small_groups(PlanePair x) {
    const NeighbourLinks links(x);
    const PlanePair linked = links.any();
    const PlanePair two_or_more = links.two_or_more();
    const PlanePair one_link = linked.and_not(two_or_more);
    const PlanePair middles = two_or_more.and_not(links.three_or_more() | two_or_more.beside());
    return {x.and_not(linked), one_link & one_link.beside(), middles.neighbourhood() & x};
}

// Every column where `open` has a cell gets the candidate (column, count, t).
void insert_columns(ChainFinder::CandidateSet& set, Plane open, std::uint64_t count, PuyoType t) {
    for (unsigned columns = open.columns(); columns; columns &= columns - 1)
        set.insert(static_cast<std::uint64_t>(std::countr_zero(columns)), count, t);
}

}  // namespace

void ChainFinder::collect_candidates(const BitField& field, CandidateSet& set) {
    const FieldPlanes planes = field.planes();
    const Plane empty = planes.empty();
    const ColourPairs colours(planes);
    const SmallGroups pairs[2] = {small_groups(colours.red_blue), small_groups(colours.yellow_green)};
    for (unsigned code = PuyoType::RED; code <= PuyoType::GREEN; ++code) {
        const SmallGroups& g = pairs[(code - PuyoType::RED) >> 1];
        const bool plane0_set = code & 1;  // BLUE or GREEN: the pair's second set
        const PuyoType t = PuyoType::from_number_unchecked(code);
        std::uint64_t count = 3;
        for (const PlanePair& size : {g.ones, g.twos, g.threes}) {
            const Plane cells = plane0_set ? size.second() : size.first();
            // Empty cells above, left and right of the groups: a puyo dropped there joins one.
            insert_columns(set, (cells.up() | cells.left() | cells.right()) & empty, count--, t);
        }
    }
}

FoundChainList<BitField> ChainFinder::removal_search(const BitField& field) {
    const FieldPlanes planes = field.planes();
    FoundChainList<BitField> finds;
    for_each_vanishable_group(planes, [&](Plane group, unsigned code) {
        const FieldPlanes left = planes.without(group);
        BitField copy = BitField::from_planes(left.p0, left.p1, left.p2);
        const ChainScore result = copy.chain_score();
        if (result.score == 0) return;
        std::vector<Position> positions;
        positions.reserve(group.popcount());
        group.for_each_cell([&](std::uint64_t x, std::uint64_t y) { positions.push_back({x, y}); });
        const std::uint64_t size = positions.size();
        finds.push_back(FoundChain<BitField>{result.score, result.chain, copy, {}, {}, {},
                                             Connection{std::move(positions), size,
                                                        PuyoType::from_number_unchecked(code)},
                                             1});
    });
    return finds;
}

template struct FoundChain<BitField>;
template FoundChainList<BitField> ChainFinder::find_by_extend(const BitField&);
template FoundChainList<BitField> ChainFinder::find_by_extend_recursive(const BitField&, std::uint64_t,
                                                                         StopCheck);
template FoundChainList<BitField> ChainFinder::find_by_removal(const BitField&);
template BestFind ChainFinder::best_by_extend(const BitField&);
template struct FoundChain<ArrayField>;
template FoundChainList<ArrayField> ChainFinder::find_by_extend(const ArrayField&);
template FoundChainList<ArrayField> ChainFinder::find_by_extend_recursive(const ArrayField&, std::uint64_t,
                                                                           StopCheck);
template FoundChainList<ArrayField> ChainFinder::find_by_removal(const ArrayField&);
template BestFind ChainFinder::best_by_extend(const ArrayField&);

}  // namespace tavik
