#pragma once
// 128 cells as one SSE register, and two such sets side by side in one AVX2
// register. Every intrinsic of the bit field lives here, behind a name that
// says what it does to the cells.
//
// Layout: the cell at column x, row y is bit 16·x + (15 − y). Each column is a
// 16-bit lane whose bit 0 is the floor (row 15); columns 0..3 fill the low
// 64-bit half, columns 4..7 the high half.
#include <immintrin.h>

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace tavik {

class Plane {
public:
    constexpr Plane() : v_{0, 0} {}
    constexpr Plane(std::uint64_t low, std::uint64_t high)
        : v_{static_cast<long long>(low), static_cast<long long>(high)} {}
    explicit Plane(__m128i v) : v_(v) {}

    // One 16-bit lane per column, column 0 first.
    static constexpr Plane from_lanes(const std::array<std::uint16_t, 8>& lanes) {
        std::uint64_t half[2] = {0, 0};
        for (int x = 0; x < 8; ++x) half[x / 4] |= std::uint64_t{lanes[x]} << (16 * (x % 4));
        return Plane(half[0], half[1]);
    }

    // The single bit of (x, y) for x <= 7, y <= 15: a one in the column's
    // half, shifted to the cell's place in it.
    static Plane cell(std::uint64_t x, std::uint64_t y) {
        alignas(16) static constexpr std::uint64_t ones[2][2] = {{1, 0}, {0, 1}};
        const __m128i one = _mm_load_si128(reinterpret_cast<const __m128i*>(ones[(x >> 2) & 1]));
        return Plane(_mm_sll_epi64(one, _mm_cvtsi32_si128(static_cast<int>((16 * x + 15 - y) & 63))));
    }

    // Every cell when `bit` is 1, none when it is 0.
    static Plane all_if(unsigned bit) { return Plane(_mm_set1_epi64x(-static_cast<long long>(bit))); }

    // Bytes 0..15 are the little-endian 128-bit value.
    static Plane from_bytes(const std::array<std::uint8_t, 16>& bytes) {
        return Plane(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data())));
    }
    std::array<std::uint8_t, 16> bytes() const {
        std::array<std::uint8_t, 16> out;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out.data()), v_);
        return out;
    }

    __m128i raw() const { return v_; }
    std::uint64_t low() const { return static_cast<std::uint64_t>(_mm_cvtsi128_si64(v_)); }
    std::uint64_t high() const { return static_cast<std::uint64_t>(_mm_extract_epi64(v_, 1)); }

    // Neighbour shifts: each marks the cell on that side of every member.
    // Row shifts stay inside a column's lane; column shifts move whole lanes.
    Plane up() const { return Plane(_mm_slli_epi16(v_, 1)); }
    Plane down() const { return Plane(_mm_srli_epi16(v_, 1)); }
    Plane right() const { return Plane(_mm_slli_si128(v_, 2)); }
    Plane left() const { return Plane(_mm_srli_si128(v_, 2)); }
    Plane neighbourhood() const { return *this | up() | down() | left() | right(); }

    friend Plane operator&(Plane a, Plane b) { return Plane(_mm_and_si128(a.v_, b.v_)); }
    friend Plane operator|(Plane a, Plane b) { return Plane(_mm_or_si128(a.v_, b.v_)); }
    friend Plane operator^(Plane a, Plane b) { return Plane(_mm_xor_si128(a.v_, b.v_)); }
    Plane operator~() const { return Plane(_mm_xor_si128(v_, _mm_set1_epi32(-1))); }
    Plane& operator&=(Plane o) { return *this = *this & o; }
    Plane& operator|=(Plane o) { return *this = *this | o; }
    // The members of this set that are not in `o`.
    Plane and_not(Plane o) const { return Plane(_mm_andnot_si128(o.v_, v_)); }

    bool is_empty() const { return _mm_testz_si128(v_, v_); }
    // Bit x set when column x holds a member.
    unsigned columns() const {
        const unsigned empty_lanes = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(v_, _mm_setzero_si128())));
        return static_cast<unsigned>(_pext_u32(~empty_lanes, 0x5555));
    }
    bool intersects(Plane o) const { return !_mm_testz_si128(v_, o.v_); }
    bool is_subset_of(Plane o) const { return _mm_testc_si128(o.v_, v_); }
    friend bool operator==(Plane a, Plane b) { return (a ^ b).is_empty(); }

    // Two scalar popcnts: cheaper than byte tables for one set.
    unsigned popcount() const { return static_cast<unsigned>(std::popcount(low()) + std::popcount(high())); }

    // The most members any one lane holds.
    unsigned largest_lane_count() const {
        const __m128i bytes = byte_popcounts();
        const __m128i lanes = _mm_add_epi16(_mm_and_si128(bytes, _mm_set1_epi16(0xFF)), _mm_srli_epi16(bytes, 8));
        // minpos finds the smallest of eight: the largest count is the smallest complement.
        const __m128i complement = _mm_sub_epi16(_mm_set1_epi16(16), lanes);
        return 16 - static_cast<unsigned>(_mm_extract_epi16(_mm_minpos_epu16(complement), 0));
    }

    // Each lane's bits from the floor up to and including its highest member.
    Plane filled_below_top() const {
        __m128i v = _mm_or_si128(v_, _mm_srli_epi16(v_, 1));
        v = _mm_or_si128(v, _mm_srli_epi16(v, 2));
        v = _mm_or_si128(v, _mm_srli_epi16(v, 4));
        return Plane(_mm_or_si128(v, _mm_srli_epi16(v, 8)));
    }

    // Per lane: FFFF shifted right by the lane's number of members, for lanes
    // of at most 15 members. The count goes into both bytes of its lane and
    // each byte of the result comes from a table.
    Plane lanes_shortened_by_count() const {
        const __m128i bytes = byte_popcounts();
        const __m128i count_in_low = _mm_add_epi8(bytes, _mm_srli_epi16(bytes, 8));
        const __m128i count_in_high = _mm_add_epi8(bytes, _mm_slli_epi16(bytes, 8));
        const __m128i low_table = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, 0x7F, 0x3F, 0x1F, 0x0F, 7, 3, 1);
        const __m128i high_table = _mm_setr_epi8(-1, 0x7F, 0x3F, 0x1F, 0x0F, 7, 3, 1, 0, 0, 0, 0, 0, 0, 0, 0);
        return Plane(_mm_blendv_epi8(_mm_shuffle_epi8(low_table, count_in_low),
                                     _mm_shuffle_epi8(high_table, count_in_high), _mm_set1_epi16(-256)));
    }

    // The next member to take a set apart by: lowest bit of the high half
    // while it has any, then lowest bit of the low half.
    Plane lowest_seed() const {
        const std::uint64_t h = high();
        if (h) return Plane(0, _blsi_u64(h));
        return Plane(_blsi_u64(low()), 0);
    }

    // The connected component of this seed inside `within` (which holds it).
    Plane flood_fill(Plane within) const {
        Plane group = *this;
        for (;;) {
            const Plane grown = group.neighbourhood() & within;
            if (grown.is_subset_of(group)) return grown;
            group = grown;
        }
    }

    // Calls f(x, y) for each member: high half first, each half from its
    // lowest bit (so by column, and within a column from the floor upwards).
    template <class F>
    void for_each_cell(F&& f) const {
        visit_half(high(), 4, f);
        visit_half(low(), 0, f);
    }

private:
    __m128i byte_popcounts() const {
        const __m128i table = _mm_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4);
        const __m128i nibble = _mm_set1_epi8(0x0F);
        const __m128i lo = _mm_shuffle_epi8(table, _mm_and_si128(v_, nibble));
        const __m128i hi = _mm_shuffle_epi8(table, _mm_and_si128(_mm_srli_epi16(v_, 4), nibble));
        return _mm_add_epi8(lo, hi);
    }

    template <class F>
    static void visit_half(std::uint64_t bits, std::uint64_t first_column, F& f) {
        for (; bits; bits = _blsr_u64(bits)) {
            const std::uint64_t bit = _tzcnt_u64(bits);
            f(first_column + bit / 16, 15 - bit % 16);
        }
    }

    __m128i v_;
};

// Two sets processed together: the first in the low 128 bits, the second in
// the high 128 bits. They never mix, because row shifts stay in 16-bit lanes
// and column shifts in 128-bit halves.
class PlanePair {
public:
    PlanePair(Plane first, Plane second)
        : v_(_mm256_inserti128_si256(_mm256_castsi128_si256(first.raw()), second.raw(), 1)) {}
    explicit PlanePair(__m256i v) : v_(v) {}

    Plane first() const { return Plane(_mm256_castsi256_si128(v_)); }
    Plane second() const { return Plane(_mm256_extracti128_si256(v_, 1)); }

    PlanePair up() const { return PlanePair(_mm256_slli_epi16(v_, 1)); }
    PlanePair down() const { return PlanePair(_mm256_srli_epi16(v_, 1)); }
    PlanePair right() const { return PlanePair(_mm256_bslli_epi128(v_, 2)); }
    PlanePair left() const { return PlanePair(_mm256_bsrli_epi128(v_, 2)); }
    PlanePair beside() const { return up() | down() | left() | right(); }
    PlanePair neighbourhood() const { return *this | beside(); }

    friend PlanePair operator&(PlanePair a, PlanePair b) { return PlanePair(_mm256_and_si256(a.v_, b.v_)); }
    friend PlanePair operator|(PlanePair a, PlanePair b) { return PlanePair(_mm256_or_si256(a.v_, b.v_)); }
    // The members of this pair of sets that are not in `o`.
    PlanePair and_not(PlanePair o) const { return PlanePair(_mm256_andnot_si256(o.v_, v_)); }

    bool is_empty() const { return _mm256_testz_si256(v_, v_); }

    // Members of the first set and of the second, each by two scalar popcnts.
    std::array<unsigned, 2> popcounts() const { return {first().popcount(), second().popcount()}; }

private:
    __m256i v_;
};

namespace masks {

inline constexpr Plane FRAME = Plane::from_lanes({0xFFFF, 0x8001, 0x8001, 0x8001, 0x8001, 0x8001, 0x8001, 0xFFFF});
// Columns 1..6, rows 2..14: the cells that count and fall.
inline constexpr Plane COUNT_AREA = Plane::from_lanes({0, 0x3FFE, 0x3FFE, 0x3FFE, 0x3FFE, 0x3FFE, 0x3FFE, 0});
// Columns 1..6, row 15: the floor under the cells that fall.
inline constexpr Plane FLOOR = Plane::from_lanes({0, 1, 1, 1, 1, 1, 1, 0});
// Columns 1..6, rows 3..14: the cells that form groups.
inline constexpr Plane GROUP_AREA = Plane::from_lanes({0, 0x1FFE, 0x1FFE, 0x1FFE, 0x1FFE, 0x1FFE, 0x1FFE, 0});
inline constexpr Plane LOW_HALF = Plane(~std::uint64_t{0}, 0);
inline constexpr Plane HIGH_HALF = Plane(0, ~std::uint64_t{0});

}  // namespace masks

}  // namespace tavik
