#include "chain/chain_finder.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <new>
#include <type_traits>

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

// An extension find made straight into the list: emplace_back constructs the
// find from this conversion's result, with no empty vectors or trigger to
// move and destroy on the way.
struct FindInPlace {
    const ChainFinder::Candidate& cand;
    const std::array<std::uint64_t, 3>& rest;  // ChainFinder::Drops
    const ChainScore& result;
    const BitField& after;

    operator FoundChain<BitField>() const {
        // Member by member, not as one braced aggregate: g++ clears that with
        // a rep stos first. With it, building the finds cost the corpus search
        // 0.4 of its bare chains' time; without, 0.2.
        FoundChain<BitField> find;
        find.score = result.score;
        find.chain = result.chain;
        find.field = after;
        find.trigger.positions.emplace(cand.count, [this](std::size_t i) { return Position{cand.x, rest[i]}; });
        find.trigger.size = cand.count;
        find.trigger.puyotype = cand.puyotype();
        return find;
    }
};

}  // namespace

void ChainFinder::collect_candidates(const BitField& field, CandidateSet& set) {
    const FieldPlanes planes = field.planes();
    const Plane empty = planes.empty();
    const ColourPairs colours(planes);
    const SmallGroups pairs[2] = {small_groups(colours.red_blue), small_groups(colours.yellow_green)};
    // The columns of the candidates of each colour and count, eight bits to a
    // kind, RED..GREEN and within a colour counts 3, 2, 1: kind k = 3 * colour
    // + (3 - count) sits at bits 8k..8k + 7, so the set bits in order are the
    // candidates in the set's order. One walk over two words mispredicts less
    // than a walk per kind: about 65 against 120 ns per corpus field.
    const auto open = [&](const PlanePair& groups, unsigned colour) -> std::uint64_t {
        const Plane cells = colour % 2 ? groups.second() : groups.first();  // BLUE and GREEN: a pair's second set
        // Empty cells above, left and right of the groups: a puyo dropped there joins one.
        // Only columns 1 to 6 take drops: a frame with a hole has empty cells in columns 0 and 7.
        return ((cells.up() | cells.left() | cells.right()) & empty).columns() & PLAYABLE_COLUMNS;
    };
    std::uint64_t kinds[4];  // a colour's three kinds at bits 0, 8 and 16
    for (unsigned colour = 0; colour < 4; ++colour) {
        const SmallGroups& g = pairs[colour / 2];
        kinds[colour] = open(g.ones, colour) | open(g.twos, colour) << 8 | open(g.threes, colour) << 16;
    }
    const std::uint64_t columns[2] = {kinds[0] | kinds[1] << 24 | kinds[2] << 48, kinds[2] >> 16 | kinds[3] << 8};
    static constexpr auto KIND = [] {
        std::array<std::array<std::uint8_t, 2>, 12> count_and_type{};
        for (unsigned k = 0; k < 12; ++k)
            count_and_type[k] = {static_cast<std::uint8_t>(3 - k % 3),
                                 static_cast<std::uint8_t>(PuyoType::RED + k / 3)};
        return count_and_type;
    }();
    for (unsigned word = 0; word < 2; ++word) {
        for (std::uint64_t bits = columns[word]; bits; bits &= bits - 1) {
            const unsigned bit = 64 * word + static_cast<unsigned>(std::countr_zero(bits));
            const auto [count, type] = KIND[bit / 8];
            // Each kind's columns come once: no triple twice.
            set.insert_new(bit % 8, count, PuyoType::from_number_unchecked(type));
        }
    }
}

template <class OnFind>
void ChainFinder::for_each_bit_extension(const BitField& field, const CandidateSet& candidates, std::uint32_t columns,
                                         OnFind&& on_find) {
    if (field.is_quiet()) return for_each_quiet_extension(field, candidates, columns, on_find);
    for_each_whole_extension(field, candidates, columns, on_find);
}

template <class OnFind>
void ChainFinder::for_each_whole_extension(const BitField& field, const CandidateSet& candidates, std::uint32_t columns,
                                           OnFind&& on_find) {
    // Something vanishes or falls before any extension: each runs whole.
    if (columns == ALL_COLUMNS) return for_each_extension(field, candidates, on_find);
    CandidateSet wanted;
    for (const Candidate& cand : candidates)
        if (columns >> (cand.x - 1) & 1) wanted.insert(cand.x, cand.count, cand.puyotype());
    return for_each_extension(field, wanted, on_find);
}

template <class OnFind>
void ChainFinder::for_each_quiet_extension(const BitField& field, const CandidateSet& candidates, std::uint32_t columns,
                                           OnFind&& on_find) {
    // An extension fires its drops with the group they complete (and the ojama
    // beside it), then whatever falls into the cleared cells. That rest is
    // simulated on the field with those cells cleared (chain_score_after_clear):
    // its steps are numbered from 2 and its count includes the first.
    struct Rest {
        Plane cleared;
        ChainScore result;
        BitField after;
    };
    constexpr std::size_t REMEMBERED = 48;  // more distinct sets than this are simulated each time
    // Left uninitialised: setting up 48 fields on every search cost the corpus
    // search 2%, and most fields need a few.
    static_assert(std::is_trivially_copyable_v<Rest> && std::is_trivially_destructible_v<Rest>);
    alignas(Rest) unsigned char storage[REMEMBERED * sizeof(Rest)];
    Rest* const rests = reinterpret_cast<Rest*>(storage);
    std::size_t remembered = 0;

    const FieldPlanes planes = field.planes();
    // Cells of the count area fall; one above it stays, so on such a cell
    // nothing stands that would move.
    const Plane falling = planes.occupied() & masks::COUNT_AREA;
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
        // Written so a floor with a hole (height 2^64 - 1) is skipped, not wrapped.
        const std::uint64_t height = heights[cand.x];
        if (height > std::uint64_t{13} - cand.count) continue;
        const std::uint64_t lane = ((std::uint64_t{1} << cand.count) - 1) << (16 * (cand.x & 3) + 1 + height);
        const Plane drops = cand.x < 4 ? Plane(lane, 0) : Plane(0, lane);
        const Plane colour = colours[cand.type - PuyoType::RED] | (drops & masks::GROUP_AREA);
        const Plane group = (drops & colour).flood_fill(colour);
        const std::uint64_t size = group.popcount();
        if (size < 4) continue;  // nothing vanishes: no chain
        Drops rest;
        for (std::uint8_t i = 0; i < cand.count; ++i) rest[i] = 14 - height - i;
        if (!drops.is_subset_of(group)) {
            // A drop in row 2 stays behind: the rest is this extension's own.
            BitField copy = field;
            for (std::uint8_t i = 0; i < cand.count; ++i) (void)copy.put(cand.x, cand.puyotype());
            const ChainScore r = copy.chain_score();
            on_find(cand, rest, r, copy);
            continue;
        }
        Plane cleared = group.and_not(drops);
        if (!ojama.is_empty()) cleared |= group.neighbourhood() & ojama;
        // The first step: one group of one colour, chain 1 (no chain bonus).
        const std::uint64_t first = 10 * size * std::max<std::uint64_t>(connection_bonus(size), 1);
        if ((cleared.up() & falling).and_not(cleared).is_empty()) {
            // Nothing stands on the cleared cells: the chain ends with its first step.
            const FieldPlanes left = planes.without(cleared);
            on_find(cand, rest, ChainScore{1, first}, BitField::from_planes(left.p0, left.p1, left.p2));
            continue;
        }
        const Rest* known = nullptr;
        for (std::size_t k = 0; k < remembered && !known; ++k)
            if (rests[k].cleared == cleared) known = &rests[k];
        Rest made;
        if (!known) {
            // Simulated where it is remembered, while there is room: no copy.
            Rest* const rest_of = remembered < REMEMBERED ? new (rests + remembered++) Rest{cleared, {}, field}
                                                          : &(made = {cleared, {}, field});
            rest_of->result = rest_of->after.chain_score_after_clear(cleared);
            known = rest_of;
        }
        on_find(cand, rest, ChainScore{known->result.chain, first + known->result.score}, known->after);
    }
}

BestFind ChainFinder::best_by_extend(const BitField& field, std::uint32_t columns) {
    return best_of_extensions(field, columns, field.is_quiet());
}

BestFind ChainFinder::best_by_extend_of_quiet(const BitField& field, std::uint32_t columns) {
    return best_of_extensions(field, columns, true);
}

BestFind ChainFinder::best_of_extensions(const BitField& field, std::uint32_t columns, bool quiet) {
    CandidateSet candidates;
    collect_candidates(field, candidates);
    BestFind best;
    const auto keep = [&](const Candidate&, const Drops&, const ChainScore& r, const BitField&) {
        if (r.score > best.score || (r.score == best.score && r.chain > best.chain)) best = {r.score, r.chain};
    };
    if (quiet) {
        for_each_quiet_extension(field, candidates, columns, keep);
    } else {
        for_each_whole_extension(field, candidates, columns, keep);
    }
    return best;
}

// Flattened, so that the finds' emplace_back, over g++'s inlining limit, is
// built into the candidate loop: 4% fewer instructions per search, and the
// corpus overhead from 1.13 to 1.10 of the bare chains.
[[gnu::flatten]] FoundChainList<BitField> ChainFinder::find_by_extend(const BitField& field) {
    CandidateSet candidates;
    collect_candidates(field, candidates);
    FoundChainList<BitField> finds;
    if (candidates.size() == 0) return finds;
    // Most candidates score (87% over the corpus): the list at the
    // candidates' count is one allocation.
    finds.reserve(candidates.size());
    for_each_bit_extension(field, candidates, ALL_COLUMNS,
                           [&](const Candidate& cand, const Drops& rest, const ChainScore& r, const BitField& after) {
                               finds.emplace_back(FindInPlace{cand, rest, r, after});
                           });
    return finds;
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
template FoundChainList<BitField> ChainFinder::find_by_extend<BitField>(const BitField&);
template FoundChainList<BitField> ChainFinder::find_by_extend_recursive(const BitField&, std::uint64_t, StopCheck);
template FoundChainList<BitField> ChainFinder::find_by_removal(const BitField&);
template BestFind ChainFinder::best_by_extend(const BitField&);
template struct FoundChain<ArrayField>;
template FoundChainList<ArrayField> ChainFinder::find_by_extend(const ArrayField&);
template FoundChainList<ArrayField> ChainFinder::find_by_extend_recursive(const ArrayField&, std::uint64_t, StopCheck);
template FoundChainList<ArrayField> ChainFinder::find_by_removal(const ArrayField&);
template BestFind ChainFinder::best_by_extend(const ArrayField&);

}  // namespace tavik
