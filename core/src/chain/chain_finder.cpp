#include "chain/chain_finder.hpp"

#include <algorithm>
#include <array>
#include <bit>

#include "chain/score_table.hpp"
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

BestFind ChainFinder::best_by_extend(const BitField& field, std::uint32_t columns) {
    CandidateSet candidates;
    collect_candidates(field, candidates);
    const auto better = [](const ChainScore& r, const BestFind& best) {
        return r.score > best.score || (r.score == best.score && r.chain > best.chain);
    };
    BestFind best;
    BitField probe = field;
    if (probe.chain_score().chain != 0) {
        // Something vanishes or falls before any extension: each runs whole.
        CandidateSet wanted;
        for (const Candidate& cand : candidates)
            if (columns >> (cand.x - 1) & 1) wanted.insert(cand.x, cand.count, cand.puyotype());
        for_each_extension(field, wanted, [&](const Candidate&, const Drops&, const ChainScore& r, const BitField&) {
            if (better(r, best)) best = {r.score, r.chain};
        });
        return best;
    }

    // An extension fires its drops with the group they complete (and the ojama
    // beside it), then whatever falls into the cleared cells. That rest is
    // simulated on the field with the cells emptied: its first pass only
    // drops, so its steps are numbered from 2 and its count includes the first.
    struct Rest {
        Plane cleared;
        ChainScore result;
    };
    constexpr std::size_t REMEMBERED = 48;  // more distinct sets than this are simulated each time
    std::array<Rest, REMEMBERED> rests;
    std::size_t remembered = 0;

    const FieldPlanes planes = field.planes();
    const Plane occupied = planes.occupied();
    const Plane ojama = planes.ojama() & masks::COUNT_AREA;
    std::array<Plane, 4> colours;  // RED..GREEN, inside the area where groups vanish
    for (unsigned c = 0; c < 4; ++c) colours[c] = planes.cells_of(PuyoType::RED + c) & masks::GROUP_AREA;
    std::array<std::uint64_t, 8> heights;
    for (std::uint64_t x = 1; x <= 6; ++x) heights[x] = field.get_height(x);
    for (const Candidate& cand : candidates) {
        if (!(columns >> (cand.x - 1) & 1)) continue;
        // The drops stack from the landing row y = 14 - height upwards, in
        // lane x: bits 16x + 15 - y .. 16x + 15 - y + count - 1, all in rows
        // >= 2 (row 1 never joins a chain: such a trigger is no trigger).
        const std::uint64_t height = heights[cand.x];
        if (height + cand.count > 13) continue;
        const std::uint64_t lane = ((std::uint64_t{1} << cand.count) - 1) << (16 * (cand.x & 3) + 1 + height);
        const Plane drops = cand.x < 4 ? Plane(lane, 0) : Plane(0, lane);
        const Plane colour = colours[cand.type - PuyoType::RED] | (drops & masks::GROUP_AREA);
        const Plane group = (drops & colour).flood_fill(colour);
        const std::uint64_t size = group.popcount();
        if (size < 4) continue;  // nothing vanishes: no chain
        if (!drops.is_subset_of(group)) {
            // A drop in row 2 stays behind: the rest is this extension's own.
            BitField copy = field;
            for (std::uint8_t i = 0; i < cand.count; ++i) (void)copy.put(cand.x, cand.puyotype());
            const ChainScore r = copy.chain_score();
            if (better(r, best)) best = {r.score, r.chain};
            continue;
        }
        Plane cleared = group.and_not(drops);
        if (!ojama.is_empty()) cleared |= group.neighbourhood() & ojama;
        ChainScore rest{1, 0};  // nothing stands on the cleared cells: the chain ends with its first step
        if (!(cleared.up() & occupied).and_not(cleared).is_empty()) {
            const Rest* known = nullptr;
            for (std::size_t k = 0; k < remembered && !known; ++k)
                if (rests[k].cleared == cleared) known = &rests[k];
            if (known) {
                rest = known->result;
            } else {
                const FieldPlanes left = planes.without(cleared);
                rest = BitField::from_planes(left.p0, left.p1, left.p2).chain_score();
                if (remembered < REMEMBERED) rests[remembered++] = {cleared, rest};
            }
        }
        // The first step: one group of one colour, chain 1 (no chain bonus).
        const std::uint64_t bonus = score_table::CONNECTION_BONUS[std::min<std::uint64_t>(size, 11)];
        const ChainScore r{rest.chain, 10 * size * std::max<std::uint64_t>(bonus, 1) + rest.score};
        if (better(r, best)) best = {r.score, r.chain};
    }
    return best;
}

FoundChainList<BitField> ChainFinder::removal_search(const BitField& field) {
    const FieldPlanes planes = field.planes();
    FoundChainList<BitField> finds;
    for_each_vanishable_group(planes, [&](Plane group, unsigned code) {
        const FieldPlanes left = planes.without(group);
        BitField copy = BitField::from_planes(left.p0, left.p1, left.p2);
        const ChainScore result = copy.chain_score();
        if (result.score == 0) return;
        GroupCells positions;
        positions.reserve(group.popcount());
        group.for_each_cell([&](std::uint64_t x, std::uint64_t y) { positions.push_back({x, y}); });
        const std::uint64_t size = positions.size();
        finds.push_back(
            FoundChain<BitField>{result.score,
                                 result.chain,
                                 copy,
                                 {},
                                 {},
                                 {},
                                 Connection{std::move(positions), size, PuyoType::from_number_unchecked(code)},
                                 1});
    });
    return finds;
}

template struct FoundChain<BitField>;
template FoundChainList<BitField> ChainFinder::find_by_extend(const BitField&);
template FoundChainList<BitField> ChainFinder::find_by_extend_recursive(const BitField&, std::uint64_t, StopCheck);
template FoundChainList<BitField> ChainFinder::find_by_removal(const BitField&);
template BestFind ChainFinder::best_by_extend(const BitField&);
template struct FoundChain<ArrayField>;
template FoundChainList<ArrayField> ChainFinder::find_by_extend(const ArrayField&);
template FoundChainList<ArrayField> ChainFinder::find_by_extend_recursive(const ArrayField&, std::uint64_t, StopCheck);
template FoundChainList<ArrayField> ChainFinder::find_by_removal(const ArrayField&);
template BestFind ChainFinder::best_by_extend(const ArrayField&);

}  // namespace tavik
