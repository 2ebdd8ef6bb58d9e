#include "game/rules.hpp"

namespace tavik::rules {

std::uint32_t reachable_columns(const BitField& field) {
    std::uint32_t out = 0;
    if (field.get(SPAWN_X, TOP_VISIBLE_Y) != PuyoType::EMPTY) return 0;
    out |= 1u << (SPAWN_X - 1);
    for (std::uint64_t x = SPAWN_X - 1; x >= 1; --x) {
        if (field.get(x, TOP_VISIBLE_Y) != PuyoType::EMPTY) break;
        out |= 1u << (x - 1);
    }
    for (std::uint64_t x = SPAWN_X + 1; x <= 6; ++x) {
        if (field.get(x, TOP_VISIBLE_Y) != PuyoType::EMPTY) break;
        out |= 1u << (x - 1);
    }
    return out;
}

std::uint32_t legal_mask(const BitField& field) {
    const std::uint32_t cols = reachable_columns(field);
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
    for (std::uint64_t x = 1; x <= 6; ++x) field.set(x, TOP_FUZZY_Y, PuyoType::EMPTY);
}

MoveResult settle(BitField& field, std::uint64_t& pending_bonus, std::uint64_t bonus) {
    const ChainResult r = field.chain();
    MoveResult m;
    m.chain = r.chain();
    m.score = r.score();
    if (m.chain > 0) {
        m.score += pending_bonus;
        pending_bonus = 0;
        if (field.is_all_clear()) {
            m.all_clear = true;
            pending_bonus = bonus;
        }
    }
    return m;
}

}  // namespace tavik::rules
