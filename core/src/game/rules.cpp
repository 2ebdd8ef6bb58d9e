#include "game/rules.hpp"

#include <array>

namespace tavik::rules {

namespace {

// Grid row 3 (the top visible row) and grid row 1 (the top fuzzy row) of
// columns 1..6; bit 15 − y of each column's lane.
constexpr Plane TOP_VISIBLE_ROW = Plane::from_lanes({0, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0});
constexpr Plane TOP_FUZZY_ROW = Plane::from_lanes({0, 0x4000, 0x4000, 0x4000, 0x4000, 0x4000, 0x4000, 0});

// Bit x − 1 set when the top visible cell of grid column x is taken.
unsigned blocked_columns(const BitField& field) {
    const Plane taken = field.plane(0) | field.plane(1) | field.plane(2);
    return ((taken & TOP_VISIBLE_ROW).columns() >> 1) & 0x3F;
}

std::uint32_t reachable_from_blocked(unsigned blocked) {
    auto open = [&](std::uint64_t x) { return !(blocked >> (x - 1) & 1); };
    if (!open(SPAWN_X)) return 0;
    std::uint32_t out = 1u << (SPAWN_X - 1);
    for (std::uint64_t x = SPAWN_X - 1; x >= 1 && open(x); --x) out |= 1u << (x - 1);
    for (std::uint64_t x = SPAWN_X + 1; x <= 6 && open(x); ++x) out |= 1u << (x - 1);
    return out;
}

std::uint32_t mask_from_reachable(std::uint32_t cols) {
    std::uint32_t mask = 0;
    const auto& hands = Hand::enumerate();
    for (std::size_t i = 0; i < hands.size(); ++i) {
        const Hand& h = hands[i];
        bool ok = cols >> (h.x - 1) & 1;
        if (h.rotation == Rotation::LEFT) ok = ok && (cols >> (h.x - 2) & 1);
        if (h.rotation == Rotation::RIGHT) ok = ok && (cols >> h.x & 1);
        if (ok) mask |= 1u << i;
    }
    return mask;
}

// The legal mask depends only on which of the six top visible cells are
// taken: one table of 64 masks, built once, makes it a lookup (it is asked
// on every move of every game).
const std::array<std::uint32_t, 64>& legal_by_blocked() {
    static const std::array<std::uint32_t, 64> table = [] {
        std::array<std::uint32_t, 64> t{};
        for (unsigned b = 0; b < 64; ++b) t[b] = mask_from_reachable(reachable_from_blocked(b));
        return t;
    }();
    return table;
}

}  // namespace

std::uint32_t reachable_columns(const BitField& field) { return reachable_from_blocked(blocked_columns(field)); }

std::uint32_t legal_mask(const BitField& field) { return legal_by_blocked()[blocked_columns(field)]; }

bool is_dead(const BitField& field) { return field.get(SPAWN_X, TOP_VISIBLE_Y) != PuyoType::EMPTY; }

int hand_index(const Hand& hand) {
    const auto& hands = Hand::enumerate();
    for (std::size_t i = 0; i < hands.size(); ++i)
        if (hands[i] == hand) return static_cast<int>(i);
    return -1;
}

bool place(BitField& field, const Hand& hand, Pair pair) {
    if (!is_legal(field, hand)) return false;
    place_legal(field, hand, pair);
    return true;
}

void place_legal(BitField& field, const Hand& hand, Pair pair) {
    (void)field.put_hand(hand, pair);
    const Plane keep = ~TOP_FUZZY_ROW;
    field = BitField::from_planes(field.plane(0) & keep, field.plane(1) & keep, field.plane(2) & keep);
}

MoveResult settle(BitField& field, std::uint64_t& pending_bonus, std::uint64_t bonus) {
    const ChainScore r = field.chain_score();  // the steps themselves are not needed
    MoveResult m;
    m.chain = r.chain;
    m.score = r.score;
    if (m.chain > 0) {
        m.score = saturating_add(m.score, pending_bonus);
        pending_bonus = 0;
        if (field.is_all_clear()) {
            m.all_clear = true;
            pending_bonus = bonus;
        }
    }
    return m;
}

}  // namespace tavik::rules
