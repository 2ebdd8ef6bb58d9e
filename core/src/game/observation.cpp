// The one-hot and type-number writers. Each 16 output bytes are one byte
// gather from the plane and one bit test per byte, driven by tables built at
// compile time from the cell layout.
#include "game/observation.hpp"

#include <immintrin.h>

#include <array>
#include <cstring>

namespace tavik::observation {

namespace {

// Output byte j of a block of cells (rows of 6, from `first_grid_row`) is
// cell (x, y) = (j % 6, j / 6 + first_grid_row), which is bit 16·(x+1) + (15 − y)
// of the plane (the walls take lane 0): byte 2·(x+1) + b/8, bit b % 8.
//     plane bytes  |l0 l0|l1 l1|l2 l2| ... |l7 l7|      lane x+1 = column x
//     out bytes    |x0 x1 x2 x3 x4 x5|x0 x1 ...         one row after another
struct Gather {
    alignas(16) std::array<std::uint8_t, 16> byte;
    alignas(16) std::array<std::uint8_t, 16> bit;
};

constexpr Gather gather(std::size_t first_cell, std::size_t first_grid_row) {
    Gather g{};
    for (std::size_t j = 0; j < 16; ++j) {
        const std::size_t cell = first_cell + j;
        const std::size_t x = cell % COLUMNS;
        const std::size_t y = first_grid_row + cell / COLUMNS;
        const std::size_t b = 15 - y;
        g.byte[j] = static_cast<std::uint8_t>(2 * (x + 1) + b / 8);
        g.bit[j] = static_cast<std::uint8_t>(1u << (b % 8));
    }
    return g;
}

// Blocks of 16 cells covering `cells` bytes; the last block ends exactly at
// the end and overlaps the one before it, writing the same values again, so
// no store passes the end of the output.
template <std::size_t Cells, std::size_t FirstGridRow>
constexpr std::array<Gather, (Cells + 15) / 16> blocks() {
    std::array<Gather, (Cells + 15) / 16> out{};
    for (std::size_t k = 0; k < out.size(); ++k)
        out[k] = gather(k + 1 < out.size() ? 16 * k : Cells - 16, FirstGridRow);
    return out;
}

constexpr std::size_t block_start(std::size_t k, std::size_t count, std::size_t cells) {
    return k + 1 < count ? 16 * k : cells - 16;
}

constexpr auto SEEN = blocks<PLANE_BYTES, 2>();        // Python rows 1..13
constexpr auto ALL = blocks<ALL_ROWS * COLUMNS, 1>();  // Python rows 0..13

// 0x01 in each byte whose cell is in the plane.
__m128i block_bits(__m128i plane, const Gather& g) {
    const __m128i bytes = _mm_shuffle_epi8(plane, _mm_load_si128(reinterpret_cast<const __m128i*>(g.byte.data())));
    const __m128i bit = _mm_and_si128(bytes, _mm_load_si128(reinterpret_cast<const __m128i*>(g.bit.data())));
    return _mm_min_epu8(bit, _mm_set1_epi8(1));
}

void store(std::uint8_t* out, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v); }
__m128i load(const std::uint8_t* in) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(in)); }

void write_plane(Plane cells, std::uint8_t* out) {
    for (std::size_t k = 0; k < SEEN.size(); ++k) {
        store(out + block_start(k, SEEN.size(), PLANE_BYTES), block_bits(cells.raw(), SEEN[k]));
    }
}

}  // namespace

void write_field(const BitField& field, unsigned colours, std::uint8_t* out) {
    for (unsigned k = 0; k < colours; ++k) write_plane(field.type_plane(PuyoType::RED + k), out + k * PLANE_BYTES);
    write_plane(field.type_plane(PuyoType::OJAMA), out + colours * PLANE_BYTES);
}

void write_types(const BitField& field, std::uint8_t* out) {
    const __m128i p0 = field.plane(0).raw(), p1 = field.plane(1).raw(), p2 = field.plane(2).raw();
    for (std::size_t k = 0; k < ALL.size(); ++k) {
        const __m128i code = _mm_or_si128(
            block_bits(p0, ALL[k]),
            _mm_or_si128(_mm_slli_epi16(block_bits(p1, ALL[k]), 1), _mm_slli_epi16(block_bits(p2, ALL[k]), 2)));
        store(out + block_start(k, ALL.size(), ALL_ROWS * COLUMNS), code);
    }
}

// The type-number readers go in blocks of 16 bytes, written out: -O2 leaves a
// 78- or 84-byte loop scalar (it would need a remainder loop), several times slower.
bool valid_types(const std::uint8_t* types) {
    constexpr std::size_t CELLS = ALL_ROWS * COLUMNS;
    __m128i top = load(types + CELLS - 16);
    for (std::size_t at = 0; at + 16 <= CELLS; at += 16) top = _mm_max_epu8(top, load(types + at));
    const __m128i highest_type = _mm_set1_epi8(static_cast<char>(PuyoType::GREEN));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(top, highest_type), top)) == 0xFFFF;
}

void write_field_from_types(const std::uint8_t* types, unsigned colours, std::uint8_t* out) {
    const std::uint8_t* seen = types + COLUMNS;  // Python row 0 is hidden
    const __m128i one = _mm_set1_epi8(1);
    for (unsigned k = 0; k <= colours; ++k) {
        const unsigned code = k < colours ? unsigned{PuyoType::RED} + k : unsigned{PuyoType::OJAMA};
        const __m128i wanted = _mm_set1_epi8(static_cast<char>(code));
        std::uint8_t* plane = out + k * PLANE_BYTES;
        // The last block overlaps the one before it: no load or store past the plane.
        for (std::size_t b = 0; b < SEEN.size(); ++b) {
            const std::size_t at = block_start(b, SEEN.size(), PLANE_BYTES);
            store(plane + at, _mm_and_si128(_mm_cmpeq_epi8(load(seen + at), wanted), one));
        }
    }
}

void write_pair(const Pair& pair, unsigned colours, std::uint8_t* out) {
    std::memset(out, 0, 2 * colours);
    for (std::size_t i = 0; i < 2; ++i) {
        const unsigned k = static_cast<unsigned>(pair.colors[i].number()) - PuyoType::RED;
        if (k < colours) out[i * colours + k] = 1;
    }
}

// Bytes 0..15, then 6..21 over the same place.
void write_mask(std::uint32_t legal, std::int8_t* out) {
    const __m128i bits = _mm_set1_epi32(static_cast<int>(legal));
    auto bytes_from = [&](__m128i which_byte, __m128i bit) {
        const __m128i spread = _mm_shuffle_epi8(bits, which_byte);
        return _mm_min_epu8(_mm_and_si128(spread, bit), _mm_set1_epi8(1));
    };
    const __m128i low = bytes_from(_mm_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1),
                                   _mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128));
    const __m128i high = bytes_from(_mm_setr_epi8(0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2),
                                    _mm_setr_epi8(64, -128, 1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), low);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 6), high);
}

}  // namespace tavik::observation
