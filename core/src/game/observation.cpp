// The one-hot and type-number writers: each row of a plane is turned into
// one byte per column with a handful of vector instructions.
#include "game/observation.hpp"

#include <immintrin.h>

#include <cstring>

namespace tavik::observation {

namespace {

// The cells of row `grid_row` of every lane as bytes 0x00 / 0xFF, one per
// lane, lane 0 (the left wall) first.
//   lane bit 15 - grid_row  --shift left by grid_row-->  bit 15 (the sign)
//   --arithmetic shift 15-->  0x0000 / 0xFFFF  --pack-->  one byte per lane.
__m128i row_lanes(__m128i plane, int grid_row) {
    const __m128i signs = _mm_sll_epi16(plane, _mm_cvtsi32_si128(grid_row));
    const __m128i lanes = _mm_srai_epi16(signs, 15);
    return _mm_packs_epi16(lanes, lanes);
}

// Bytes 0..5 are the row's columns 0..5 as 0/1 (lane 0, the wall, shifted out).
__m128i row_columns(__m128i plane, int grid_row, __m128i bit) {
    return _mm_srli_si128(_mm_and_si128(row_lanes(plane, grid_row), bit), 1);
}

// Six bytes: an 8-byte store that spills two bytes into the next row, which
// is written after it, except at the very end of the output.
void store_row(__m128i row, std::uint8_t* out, bool last) {
    if (!last) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), row);
        return;
    }
    const std::uint64_t bytes = static_cast<std::uint64_t>(_mm_cvtsi128_si64(row));
    std::memcpy(out, &bytes, COLUMNS);
}

constexpr int FIRST_SEEN_GRID_ROW = 2;  // Python row 1

void write_plane(Plane cells, std::uint8_t* out, bool last_plane) {
    const __m128i one = _mm_set1_epi8(1);
    for (std::size_t r = 0; r < ROWS; ++r) {
        const __m128i row = row_columns(cells.raw(), FIRST_SEEN_GRID_ROW + static_cast<int>(r), one);
        store_row(row, out + r * COLUMNS, last_plane && r + 1 == ROWS);
    }
}

}  // namespace

void write_field(const BitField& field, unsigned colours, std::uint8_t* out) {
    for (unsigned k = 0; k < colours; ++k) {
        write_plane(field.type_plane(PuyoType::RED + k), out + k * PLANE_BYTES, false);
    }
    write_plane(field.type_plane(PuyoType::OJAMA), out + colours * PLANE_BYTES, true);
}

void write_types(const BitField& field, std::uint8_t* out) {
    const __m128i bits[3] = {_mm_set1_epi8(1), _mm_set1_epi8(2), _mm_set1_epi8(4)};
    for (std::size_t r = 0; r < ALL_ROWS; ++r) {
        const int grid_row = 1 + static_cast<int>(r);
        __m128i code = _mm_setzero_si128();
        for (std::size_t k = 0; k < 3; ++k) {
            code = _mm_or_si128(code, row_columns(field.plane(k).raw(), grid_row, bits[k]));
        }
        store_row(code, out + r * COLUMNS, r + 1 == ALL_ROWS);
    }
}

void write_pair(const Pair& pair, unsigned colours, std::uint8_t* out) {
    std::memset(out, 0, 2 * colours);
    for (std::size_t i = 0; i < 2; ++i) {
        const unsigned k = static_cast<unsigned>(pair.colors[i].number()) - PuyoType::RED;
        if (k < colours) out[i * colours + k] = 1;
    }
}

}  // namespace tavik::observation
