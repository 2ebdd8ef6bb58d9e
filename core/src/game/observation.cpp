// The one-hot and type-number writers. Each 16 output bytes are one byte
// gather from the plane and one bit test per byte, driven by tables built at
// compile time from the cell layout.
#include "game/observation.hpp"

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
ByteFlags block_bits(Plane plane, const Gather& g) { return plane.bit_bytes(g.byte, g.bit); }

void write_plane(Plane cells, std::uint8_t* out) {
    for (std::size_t k = 0; k < SEEN.size(); ++k) {
        block_bits(cells, SEEN[k]).store(out + block_start(k, SEEN.size(), PLANE_BYTES));
    }
}

}  // namespace

void write_field(const BitField& field, unsigned colours, std::uint8_t* out) {
    for (unsigned k = 0; k < colours; ++k) write_plane(field.type_plane(PuyoType::RED + k), out + k * PLANE_BYTES);
    write_plane(field.type_plane(PuyoType::OJAMA), out + colours * PLANE_BYTES);
}

void write_types(const BitField& field, std::uint8_t* out) {
    const Plane p0 = field.plane(0), p1 = field.plane(1), p2 = field.plane(2);
    for (std::size_t k = 0; k < ALL.size(); ++k) {
        const ByteFlags code =
            block_bits(p0, ALL[k]) | block_bits(p1, ALL[k]).shifted_left(1) | block_bits(p2, ALL[k]).shifted_left(2);
        code.store(out + block_start(k, ALL.size(), ALL_ROWS * COLUMNS));
    }
}

// The type-number readers go in blocks of 16 bytes, written out: -O2 leaves a
// 78- or 84-byte loop scalar (it would need a remainder loop), several times slower.
bool valid_types(const std::uint8_t* types) {
    constexpr std::size_t CELLS = ALL_ROWS * COLUMNS;
    ByteFlags top = ByteFlags::load(types + CELLS - 16);
    for (std::size_t at = 0; at + 16 <= CELLS; at += 16) top = max(top, ByteFlags::load(types + at));
    return top.all_at_most(PuyoType::GREEN);
}

void write_field_from_types(const std::uint8_t* types, unsigned colours, std::uint8_t* out) {
    const std::uint8_t* seen = types + COLUMNS;  // Python row 0 is hidden
    for (unsigned k = 0; k <= colours; ++k) {
        const unsigned code = k < colours ? unsigned{PuyoType::RED} + k : unsigned{PuyoType::OJAMA};
        std::uint8_t* plane = out + k * PLANE_BYTES;
        // The last block overlaps the one before it: no load or store past the plane.
        for (std::size_t b = 0; b < SEEN.size(); ++b) {
            const std::size_t at = block_start(b, SEEN.size(), PLANE_BYTES);
            ByteFlags::load(seen + at).ones_where(static_cast<std::uint8_t>(code)).store(plane + at);
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

// Byte k = bit k of the mask: bytes 0..15, then 6..21 over the same place,
// each a byte gather from the mask's bytes and a bit test.
void write_mask(std::uint32_t legal, std::int8_t* out) {
    static constexpr std::array<std::uint8_t, 16> LOW_BYTE = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1};
    static constexpr std::array<std::uint8_t, 16> LOW_BIT = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
    static constexpr std::array<std::uint8_t, 16> HIGH_BYTE = {0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2};
    static constexpr std::array<std::uint8_t, 16> HIGH_BIT = {64, 128, 1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32};
    const Plane bits(legal, 0);
    auto* bytes = reinterpret_cast<std::uint8_t*>(out);
    bits.bit_bytes(LOW_BYTE, LOW_BIT).store(bytes);
    bits.bit_bytes(HIGH_BYTE, HIGH_BIT).store(bytes + 6);
}

}  // namespace tavik::observation
