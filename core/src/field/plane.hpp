#pragma once
// 128 cells as one set (Plane), two sets side by side (PlanePair), a drop's
// closing of holes (HoleCloser) and byte flags for observations (ByteFlags).
// Every intrinsic of the field lives behind these names, in one of two
// backends with the same members: SSE4.1/AVX2/BMI2 on x86-64
// (plane_x86.hpp), or plain 64-bit words anywhere else and wherever the build
// asks for it with TAVIK_PORTABLE (plane_portable.hpp). Both give the same
// bits for every operation; the backend test compares them.
//
// Layout: the cell at column x, row y is bit 16·x + (15 − y). Each column is a
// 16-bit lane whose bit 0 is the floor (row 15); columns 0..3 fill the low
// 64-bit half, columns 4..7 the high half.
#include <array>
#include <bit>
#include <cstdint>

namespace tavik {

// What both backends build on their own few members.
template <class P>
struct PlaneAlgorithms {
    P neighbourhood() const {
        const P& x = self();
        return x | x.up() | x.down() | x.left() | x.right();
    }

    // The connected component of this seed inside `within` (which holds it).
    P flood_fill(P within) const {
        P group = self();
        for (;;) {
            const P grown = group.neighbourhood() & within;
            if (grown.is_subset_of(group)) return grown;
            group = grown;
        }
    }

    // Calls f(x, y) for each member: high half first, each half from its
    // lowest bit (so by column, and within a column from the floor upwards).
    template <class F>
    void for_each_cell(F&& f) const {
        visit_half(self().high(), 4, f);
        visit_half(self().low(), 0, f);
    }

    P& operator&=(P o) { return mut() = mut() & o; }
    P& operator|=(P o) { return mut() = mut() | o; }
    friend bool operator==(P a, P b) { return (a ^ b).is_empty(); }

    // Two scalar popcnts: cheaper than byte tables for one set.
    unsigned popcount() const {
        return static_cast<unsigned>(std::popcount(self().low()) + std::popcount(self().high()));
    }

private:
    const P& self() const { return static_cast<const P&>(*this); }
    P& mut() { return static_cast<P&>(*this); }

    template <class F>
    static void visit_half(std::uint64_t bits, std::uint64_t first_column, F& f) {
        for (; bits; bits &= bits - 1) {
            const auto bit = static_cast<std::uint64_t>(std::countr_zero(bits));
            f(first_column + bit / 16, 15 - bit % 16);
        }
    }
};

}  // namespace tavik

#if TAVIK_PORTABLE
#include "field/plane_portable.hpp"
#else
#include "field/plane_x86.hpp"
#endif

namespace tavik {

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
