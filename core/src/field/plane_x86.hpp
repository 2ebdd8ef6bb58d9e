#pragma once
// The x86-64 backend of plane.hpp (included from there only): a set is one
// SSE register, a pair of sets one AVX2 register, a drop's closing of holes
// PEXT and PDEP. Needs SSE4.1, AVX2, BMI1 and BMI2.
#include <immintrin.h>

#include <array>
#include <cstdint>

namespace tavik {

// 16 bytes of small values (0/1 flags, or the type numbers they add up to),
// stored in one go.
class ByteFlags {
public:
    explicit ByteFlags(__m128i v) : v_(v) {}
    friend ByteFlags operator|(ByteFlags a, ByteFlags b) { return ByteFlags(_mm_or_si128(a.v_, b.v_)); }
    // Every byte's value times 2^n, for values below 2^(8 − n).
    ByteFlags shifted_left(int n) const { return ByteFlags(_mm_sll_epi16(v_, _mm_cvtsi32_si128(n))); }
    void store(std::uint8_t* out) const { _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v_); }
    static ByteFlags load(const std::uint8_t* in) {
        return ByteFlags(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)));
    }

    friend ByteFlags max(ByteFlags a, ByteFlags b) { return ByteFlags(_mm_max_epu8(a.v_, b.v_)); }
    bool all_at_most(std::uint8_t top) const {
        const __m128i t = _mm_set1_epi8(static_cast<char>(top));
        return _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(v_, t), v_)) == 0xFFFF;
    }
    // 1 in each byte equal to `value`, 0 elsewhere.
    ByteFlags ones_where(std::uint8_t value) const {
        return ByteFlags(_mm_and_si128(_mm_cmpeq_epi8(v_, _mm_set1_epi8(static_cast<char>(value))), _mm_set1_epi8(1)));
    }

private:
    __m128i v_;
};

class Plane : public PlaneAlgorithms<Plane> {
public:
    constexpr Plane() : v_{0, 0} {}
    constexpr Plane(std::uint64_t low, std::uint64_t high)
        : v_{static_cast<long long>(low), static_cast<long long>(high)} {}

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

    std::uint64_t low() const { return static_cast<std::uint64_t>(_mm_cvtsi128_si64(v_)); }
    std::uint64_t high() const { return static_cast<std::uint64_t>(_mm_extract_epi64(v_, 1)); }

    // Neighbour shifts: each marks the cell on that side of every member.
    // Row shifts stay inside a column's lane; column shifts move whole lanes.
    Plane up() const { return Plane(_mm_slli_epi16(v_, 1)); }
    Plane down() const { return Plane(_mm_srli_epi16(v_, 1)); }
    Plane right() const { return Plane(_mm_slli_si128(v_, 2)); }
    Plane left() const { return Plane(_mm_srli_si128(v_, 2)); }

    friend Plane operator&(Plane a, Plane b) { return Plane(_mm_and_si128(a.v_, b.v_)); }
    friend Plane operator|(Plane a, Plane b) { return Plane(_mm_or_si128(a.v_, b.v_)); }
    friend Plane operator^(Plane a, Plane b) { return Plane(_mm_xor_si128(a.v_, b.v_)); }
    Plane operator~() const { return Plane(_mm_xor_si128(v_, _mm_set1_epi32(-1))); }
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

    // Byte j is 1 when bit `bit[j]` (a one-bit mask) of byte `byte[j]` (0..15)
    // of this set is set: one byte gather and one test per byte.
    ByteFlags bit_bytes(const std::array<std::uint8_t, 16>& byte, const std::array<std::uint8_t, 16>& bit) const {
        const __m128i gathered = _mm_shuffle_epi8(v_, _mm_loadu_si128(reinterpret_cast<const __m128i*>(byte.data())));
        const __m128i tested = _mm_and_si128(gathered, _mm_loadu_si128(reinterpret_cast<const __m128i*>(bit.data())));
        return ByteFlags(_mm_min_epu8(tested, _mm_set1_epi8(1)));
    }

private:
    friend class PlanePair;
    explicit Plane(__m128i v) : v_(v) {}

    __m128i byte_popcounts() const {
        const __m128i table = _mm_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4);
        const __m128i nibble = _mm_set1_epi8(0x0F);
        const __m128i lo = _mm_shuffle_epi8(table, _mm_and_si128(v_, nibble));
        const __m128i hi = _mm_shuffle_epi8(table, _mm_and_si128(_mm_srli_epi16(v_, 4), nibble));
        return _mm_add_epi8(lo, hi);
    }

    __m128i v_;
};

// Two sets processed together: the first in the low 128 bits, the second in
// the high 128 bits. They never mix, because row shifts stay in 16-bit lanes
// and column shifts in 128-bit halves.
class PlanePair {
public:
    PlanePair(Plane first, Plane second)
        : v_(_mm256_inserti128_si256(_mm256_castsi128_si256(first.v_), second.v_, 1)) {}

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
    explicit PlanePair(__m256i v) : v_(v) {}

    __m256i v_;
};

// What a drop does to each plane: in every column, the cells of `area` above
// a hole move down over it, keeping their order; cells outside `area` stay.
// Each 64-bit half is one PEXT of the kept cells and one PDEP into the lanes'
// low bits, FFFF shortened by the lane's holes; a half without holes is left
// as it is. Lanes of at most 15 holes.
class HoleCloser {
public:
    HoleCloser(Plane holes, Plane area)
        : holes_low_(holes.low()), holes_high_(holes.high()), area_low_(area.low()), area_high_(area.high()) {
        const Plane deposit = holes.lanes_shortened_by_count();
        deposit_low_ = deposit.low();
        deposit_high_ = deposit.high();
    }

    Plane close(Plane p) const {
        std::uint64_t low = p.low(), high = p.high();
        if (holes_low_) low = close_half(low, area_low_, ~holes_low_, deposit_low_);
        if (holes_high_) high = close_half(high, area_high_, ~holes_high_, deposit_high_);
        return Plane(low, high);
    }

private:
    static std::uint64_t close_half(std::uint64_t bits, std::uint64_t area, std::uint64_t keep, std::uint64_t deposit) {
        return (bits & ~area) | _pdep_u64(_pext_u64(bits & area, keep), deposit);
    }

    std::uint64_t holes_low_, holes_high_, area_low_, area_high_, deposit_low_, deposit_high_;
};

}  // namespace tavik
