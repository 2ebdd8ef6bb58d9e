#pragma once
// The portable backend of plane.hpp (included from there only): a set is two
// 64-bit words, a pair of sets two sets, and every lane operation a word
// operation masked so that no bit crosses from one 16-bit lane into the next.
// Plain C++: it builds for any 64-bit target and leaves vectorising to the
// compiler.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace tavik {

namespace lanes {

// Bit 0 and bit 15 of every 16-bit lane: what a row shift would carry out.
inline constexpr std::uint64_t FLOORS = 0x0001'0001'0001'0001;
inline constexpr std::uint64_t TOPS = 0x8000'8000'8000'8000;

// x << n inside each lane, n < 16: the bits that would enter the lane above
// are dropped.
constexpr std::uint64_t shift_up(std::uint64_t x, unsigned n) {
    return (x << n) & (0xFFFF'FFFF'FFFF'FFFF / 0xFFFF * ((0xFFFFu << n) & 0xFFFF));
}
constexpr std::uint64_t shift_down(std::uint64_t x, unsigned n) {
    return (x >> n) & (0xFFFF'FFFF'FFFF'FFFF / 0xFFFF * (0xFFFFu >> n));
}

// Each lane's number of members, in the lane's low bits.
constexpr std::uint64_t counts(std::uint64_t x) {
    x -= (x >> 1) & 0x5555'5555'5555'5555;
    x = (x & 0x3333'3333'3333'3333) + ((x >> 2) & 0x3333'3333'3333'3333);
    x = (x + (x >> 4)) & 0x0F0F'0F0F'0F0F'0F0F;
    return (x + (x >> 8)) & 0x001F'001F'001F'001F;
}

}  // namespace lanes

// 16 bytes of small values (0/1 flags, or the type numbers they add up to),
// stored in one go.
class ByteFlags {
public:
    ByteFlags(std::uint64_t low, std::uint64_t high) : low_(low), high_(high) {}
    friend ByteFlags operator|(ByteFlags a, ByteFlags b) { return ByteFlags(a.low_ | b.low_, a.high_ | b.high_); }
    // Every byte's value times 2^n, for values below 2^(8 − n).
    ByteFlags shifted_left(int n) const { return ByteFlags(low_ << n, high_ << n); }
    void store(std::uint8_t* out) const {
        for (int i = 0; i < 16; ++i) out[i] = byte(i);
    }
    static ByteFlags load(const std::uint8_t* in) {
        return each([&](int i) { return in[i]; });
    }

    friend ByteFlags max(ByteFlags a, ByteFlags b) {
        return each([&](int i) { return std::max(a.byte(i), b.byte(i)); });
    }
    bool all_at_most(std::uint8_t top) const {
        bool all = true;
        for (int i = 0; i < 16; ++i) all &= byte(i) <= top;
        return all;
    }
    // 1 in each byte equal to `value`, 0 elsewhere.
    ByteFlags ones_where(std::uint8_t value) const {
        return each([&](int i) { return static_cast<std::uint8_t>(byte(i) == value); });
    }

private:
    std::uint8_t byte(int i) const { return static_cast<std::uint8_t>((i < 8 ? low_ : high_) >> (8 * (i % 8))); }
    template <class F>
    static ByteFlags each(F&& f) {
        std::uint64_t half[2] = {0, 0};
        for (int i = 0; i < 16; ++i) half[i / 8] |= std::uint64_t{f(i)} << (8 * (i % 8));
        return ByteFlags(half[0], half[1]);
    }

    std::uint64_t low_, high_;
};

// Aligned as the SSE register it stands for, so a field keeps its size and
// alignment on every backend.
class alignas(16) Plane : public PlaneAlgorithms<Plane> {
public:
    constexpr Plane() : low_(0), high_(0) {}
    constexpr Plane(std::uint64_t low, std::uint64_t high) : low_(low), high_(high) {}

    // One 16-bit lane per column, column 0 first.
    static constexpr Plane from_lanes(const std::array<std::uint16_t, 8>& lanes) {
        std::uint64_t half[2] = {0, 0};
        for (int x = 0; x < 8; ++x) half[x / 4] |= std::uint64_t{lanes[x]} << (16 * (x % 4));
        return Plane(half[0], half[1]);
    }

    // The single bit of (x, y) for x <= 7, y <= 15.
    static Plane cell(std::uint64_t x, std::uint64_t y) {
        const std::uint64_t bit = std::uint64_t{1} << ((16 * x + 15 - y) & 63);
        return (x >> 2) & 1 ? Plane(0, bit) : Plane(bit, 0);
    }

    // Every cell when `bit` is 1, none when it is 0.
    static Plane all_if(unsigned bit) {
        const std::uint64_t all = 0 - std::uint64_t{bit};
        return Plane(all, all);
    }

    // Bytes 0..15 are the little-endian 128-bit value, whatever the host's order.
    static Plane from_bytes(const std::array<std::uint8_t, 16>& bytes) {
        std::uint64_t half[2] = {0, 0};
        for (int i = 0; i < 16; ++i) half[i / 8] |= std::uint64_t{bytes[i]} << (8 * (i % 8));
        return Plane(half[0], half[1]);
    }
    std::array<std::uint8_t, 16> bytes() const {
        std::array<std::uint8_t, 16> out;
        for (int i = 0; i < 8; ++i) {
            out[i] = static_cast<std::uint8_t>(low_ >> (8 * i));
            out[8 + i] = static_cast<std::uint8_t>(high_ >> (8 * i));
        }
        return out;
    }

    std::uint64_t low() const { return low_; }
    std::uint64_t high() const { return high_; }

    // Neighbour shifts: each marks the cell on that side of every member.
    // Row shifts stay inside a column's lane; column shifts move whole lanes.
    Plane up() const { return Plane((low_ << 1) & ~lanes::FLOORS, (high_ << 1) & ~lanes::FLOORS); }
    Plane down() const { return Plane((low_ >> 1) & ~lanes::TOPS, (high_ >> 1) & ~lanes::TOPS); }
    Plane right() const { return Plane(low_ << 16, (high_ << 16) | (low_ >> 48)); }
    Plane left() const { return Plane((low_ >> 16) | (high_ << 48), high_ >> 16); }

    friend Plane operator&(Plane a, Plane b) { return Plane(a.low_ & b.low_, a.high_ & b.high_); }
    friend Plane operator|(Plane a, Plane b) { return Plane(a.low_ | b.low_, a.high_ | b.high_); }
    friend Plane operator^(Plane a, Plane b) { return Plane(a.low_ ^ b.low_, a.high_ ^ b.high_); }
    Plane operator~() const { return Plane(~low_, ~high_); }
    // The members of this set that are not in `o`.
    Plane and_not(Plane o) const { return Plane(low_ & ~o.low_, high_ & ~o.high_); }

    bool is_empty() const { return (low_ | high_) == 0; }
    // Bit x set when column x holds a member.
    unsigned columns() const { return occupied_lanes(low_) | occupied_lanes(high_) << 4; }
    bool intersects(Plane o) const { return !(*this & o).is_empty(); }
    bool is_subset_of(Plane o) const { return and_not(o).is_empty(); }

    // The most members any one lane holds.
    unsigned largest_lane_count() const {
        unsigned most = 0;
        for (const std::uint64_t c : {lanes::counts(low_), lanes::counts(high_)})
            for (unsigned k = 0; k < 4; ++k) most = std::max(most, static_cast<unsigned>(c >> (16 * k) & 0x1F));
        return most;
    }

    // Each lane's bits from the floor up to and including its highest member.
    Plane filled_below_top() const { return Plane(fill_down(low_), fill_down(high_)); }

    // Per lane: FFFF shifted right by the lane's number of members, for lanes
    // of at most 15 members.
    Plane lanes_shortened_by_count() const { return Plane(shortened(low_), shortened(high_)); }

    // The next member to take a set apart by: lowest bit of the high half
    // while it has any, then lowest bit of the low half.
    Plane lowest_seed() const {
        if (high_) return Plane(0, high_ & (0 - high_));
        return Plane(low_ & (0 - low_), 0);
    }

    // Byte j is 1 when bit `bit[j]` (a one-bit mask) of byte `byte[j]` (0..15)
    // of this set is set.
    ByteFlags bit_bytes(const std::array<std::uint8_t, 16>& byte, const std::array<std::uint8_t, 16>& bit) const {
        const std::array<std::uint8_t, 16> b = bytes();
        std::uint64_t half[2] = {0, 0};
        for (int j = 0; j < 16; ++j) {
            const std::uint64_t set = (b[byte[j] & 15] & bit[j]) != 0;
            half[j / 8] |= set << (8 * (j % 8));
        }
        return ByteFlags(half[0], half[1]);
    }

private:
    static unsigned occupied_lanes(std::uint64_t x) {
        // A lane's top bit, set when any bit of the lane is: the low 15 bits
        // plus 7FFF carry into bit 15 unless they are all clear.
        const std::uint64_t any = (((x & ~lanes::TOPS) + ~lanes::TOPS) | x) & lanes::TOPS;
        return static_cast<unsigned>((any >> 15 & 1) | (any >> 30 & 2) | (any >> 45 & 4) | (any >> 60 & 8));
    }
    static std::uint64_t fill_down(std::uint64_t x) {
        x |= lanes::shift_down(x, 1);
        x |= lanes::shift_down(x, 2);
        x |= lanes::shift_down(x, 4);
        return x | lanes::shift_down(x, 8);
    }
    static std::uint64_t shortened(std::uint64_t x) {
        const std::uint64_t c = lanes::counts(x);
        std::uint64_t out = 0;
        for (unsigned k = 0; k < 4; ++k) out |= std::uint64_t{0xFFFFu >> (c >> (16 * k) & 0x1F)} << (16 * k);
        return out;
    }

    std::uint64_t low_, high_;
};

// Two sets processed together; each operation is the same one on both.
class PlanePair {
public:
    PlanePair(Plane first, Plane second) : first_(first), second_(second) {}

    Plane first() const { return first_; }
    Plane second() const { return second_; }

    PlanePair up() const { return {first_.up(), second_.up()}; }
    PlanePair down() const { return {first_.down(), second_.down()}; }
    PlanePair right() const { return {first_.right(), second_.right()}; }
    PlanePair left() const { return {first_.left(), second_.left()}; }
    PlanePair beside() const { return up() | down() | left() | right(); }
    PlanePair neighbourhood() const { return *this | beside(); }

    friend PlanePair operator&(PlanePair a, PlanePair b) { return {a.first_ & b.first_, a.second_ & b.second_}; }
    friend PlanePair operator|(PlanePair a, PlanePair b) { return {a.first_ | b.first_, a.second_ | b.second_}; }
    // The members of this pair of sets that are not in `o`.
    PlanePair and_not(PlanePair o) const { return {first_.and_not(o.first_), second_.and_not(o.second_)}; }

    bool is_empty() const { return (first_ | second_).is_empty(); }

    std::array<unsigned, 2> popcounts() const { return {first_.popcount(), second_.popcount()}; }

private:
    Plane first_, second_;
};

// What a drop does to each plane: in every column, the cells of `area` above
// a hole move down over it, keeping their order; cells outside `area` stay.
// Each half compresses its lanes at once (the parallel-suffix compress of
// Hacker's Delight, 7-4, per 16-bit lane): four rounds move every kept cell
// down by 1, 2, 4 and 8 as the bits of its count of holes below it say. The
// rounds' masks depend only on the holes, so all planes share them. A half
// without holes is left as it is. Lanes of at most 15 holes.
class HoleCloser {
public:
    HoleCloser(Plane holes, Plane area) : low_(holes.low(), area.low()), high_(holes.high(), area.high()) {}

    Plane close(Plane p) const { return Plane(low_.close(p.low()), high_.close(p.high())); }

private:
    struct Half {
        Half(std::uint64_t holes, std::uint64_t area) : any(holes != 0), area(area), keep(~holes) {
            std::uint64_t m = keep;
            // Bit i set: an odd number of holes below, within the lane.
            std::uint64_t mk = lanes::shift_up(~m, 1);
            for (unsigned i = 0; i < 4; ++i) {
                std::uint64_t mp = mk ^ lanes::shift_up(mk, 1);
                mp ^= lanes::shift_up(mp, 2);
                mp ^= lanes::shift_up(mp, 4);
                mp ^= lanes::shift_up(mp, 8);
                moves[i] = mp & m;
                m = (m ^ moves[i]) | (moves[i] >> (1u << i));
                mk &= ~mp;
            }
        }

        std::uint64_t close(std::uint64_t bits) const {
            if (!any) return bits;
            std::uint64_t x = bits & area & keep;
            for (unsigned i = 0; i < 4; ++i) {
                const std::uint64_t moving = x & moves[i];
                x = (x ^ moving) | (moving >> (1u << i));
            }
            return (bits & ~area) | x;
        }

        bool any;
        std::uint64_t area, keep;
        std::uint64_t moves[4];
    };

    Half low_, high_;
};

}  // namespace tavik
