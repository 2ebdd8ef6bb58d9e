#pragma once
// The field as bytes for learning code: one-hot planes of the cells a player
// sees, and the plain type numbers of every row, written straight from the
// bit planes.
#include <cstddef>
#include <cstdint>

#include "field/bit_field.hpp"
#include "pair.hpp"

namespace tavik::observation {

inline constexpr std::size_t ROWS = 13;  // Python rows 1..13: row 0 is hidden from the player
inline constexpr std::size_t COLUMNS = 6;
inline constexpr std::size_t ALL_ROWS = 14;  // Python rows 0..13
inline constexpr std::size_t PLANE_BYTES = ROWS * COLUMNS;
inline constexpr unsigned MAX_COLOURS = 4;  // RED, BLUE, YELLOW, GREEN: the colours the bit field keeps

// Bytes of one field's observation: `colours` colour planes, then ojama.
constexpr std::size_t field_bytes(unsigned colours) { return (colours + 1) * PLANE_BYTES; }

// Writes field_bytes(colours) bytes: plane k < colours holds 1 where the cell
// is colour RED + k, plane `colours` where it is ojama; each plane is 13 rows
// of 6 columns, Python row 1 first. Colours past `colours` are left out.
void write_field(const BitField& field, unsigned colours, std::uint8_t* out);

// Writes 14 × 6 type numbers, Python row 0 first.
void write_types(const BitField& field, std::uint8_t* out);

// Whether 14 × 6 bytes (as write_types writes them) are all type numbers 0..7.
bool valid_types(const std::uint8_t* types);

// What write_field writes for the field of these 14 × 6 type numbers, read
// straight from them: a stored row becomes an observation without building a
// field. A byte above 7 marks no plane.
void write_field_from_types(const std::uint8_t* types, unsigned colours, std::uint8_t* out);

// Writes 2 × colours bytes: the one-hot of the pair's element 0 (its child),
// then of element 1 (its axis). A colour past `colours` writes zeros.
void write_pair(const Pair& pair, unsigned colours, std::uint8_t* out);

// Writes 22 bytes: byte k is bit k of a legal-hand mask (1 where hand k of
// Hand::enumerate() is legal).
void write_mask(std::uint32_t legal, std::int8_t* out);

}  // namespace tavik::observation
