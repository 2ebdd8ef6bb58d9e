#include "chain/chain_finder.hpp"

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

}  // namespace

void ChainFinder::collect_candidates(const BitField& field, CandidateSet& set) {
    const Planes planes(field);
    const Plane empty = planes.empty();
    // Cells with an empty cell above, left or right: only their groups count.
    const Plane open_cells = empty.down() | empty.right() | empty.left();
    for (unsigned code = PuyoType::RED; code <= PuyoType::GREEN; ++code) {
        const Plane colour = planes.type_plane(code) & masks::GROUP_AREA;
        for (Plane rest = colour & open_cells; !rest.is_empty();) {
            const Plane group = rest.lowest_seed().flood_fill(colour);
            rest = rest.and_not(group);
            const unsigned size = group.popcount();
            if (size > 3) continue;
            // Empty cells above, left and right of the group, by column.
            const Plane open = (group.up() | group.left() | group.right()) & empty;
            const std::uint64_t halves[2] = {open.low(), open.high()};
            for (std::uint64_t x = 0; x < FIELD_WIDTH; ++x)
                if (halves[x >> 2] >> (16 * (x & 3)) & 0xFFFF)
                    set.insert(x, 4 - size, PuyoType::from_number_unchecked(code));
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
template FoundChainList<BitField> ChainFinder::find_by_extend_recursive(const BitField&, std::uint64_t);
template FoundChainList<BitField> ChainFinder::find_by_removal(const BitField&);
template struct FoundChain<ArrayField>;
template FoundChainList<ArrayField> ChainFinder::find_by_extend(const ArrayField&);
template FoundChainList<ArrayField> ChainFinder::find_by_extend_recursive(const ArrayField&, std::uint64_t);
template FoundChainList<ArrayField> ChainFinder::find_by_removal(const ArrayField&);

}  // namespace tavik
