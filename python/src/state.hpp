#pragma once
// Pickle state bytes: a fixed little-endian encoding of the wrapped core
// values. Readers report failures as values; the decode_* entry points turn
// them into panics with the texts Python sees, and produce a value only when
// the whole input decoded.
#include "python.hpp"
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "field/array_field.hpp"
#include "puyotype.hpp"
#include "result.hpp"
#include "rotation.hpp"

namespace tavik::state {

struct DecodeError {
    enum Kind : std::uint8_t { IntegerEof, SequenceEof, InvalidVariant };
    Kind kind = IntegerEof;
    std::uint64_t value = 0;          // InvalidVariant: the number read
    std::uint64_t variant_count = 0;  // InvalidVariant: how many values the enumeration has

    std::string debug() const;
};

class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}

    Result<std::uint64_t, DecodeError> u64();
    Result<std::uint32_t, DecodeError> u32();
    // An enumeration number below `count`.
    Result<std::uint32_t, DecodeError> variant(std::uint32_t count);
    Result<PuyoType, DecodeError> puyotype();
    Result<Rotation, DecodeError> rotation();
    // A u64 length, then that many bytes.
    Result<std::string_view, DecodeError> sequence();

private:
    std::string_view bytes_;
    std::size_t pos_ = 0;
};

class Writer {
public:
    void u64(std::uint64_t v);
    void u32(std::uint32_t v);
    void puyotype(PuyoType t) { u32(t.number()); }
    void rotation(Rotation r) { u32(r.number()); }
    void sequence(std::string_view bytes);

    const std::string& bytes() const { return out_; }

private:
    std::string out_;
};

// Unwraps a decoding result the way every __setstate__ reports failure.
template <class T>
T unwrap_decoded(Result<T, DecodeError> result) {
    return unwrap(std::move(result));
}

inline constexpr std::size_t ARRAY_FIELD_STATE_SIZE = 512;
inline constexpr std::size_t BIT_FIELD_PLANE_BYTES = 16;
inline constexpr std::size_t BIT_FIELD_STATE_SIZE = 8 + 3 * BIT_FIELD_PLANE_BYTES;

// Columns 0..7, each rows 0..15, one u32 per cell.
std::string encode_array_field(const ArrayField& field);
ArrayField decode_array_field(std::string_view bytes);

// The three planes of a bit field, little-endian, plane 0 first.
using Planes = std::array<std::array<std::uint8_t, BIT_FIELD_PLANE_BYTES>, 3>;
std::string encode_planes(const Planes& planes);
// A sequence of at least 48 bytes; a shorter one is a slice failure, plane by plane.
Planes decode_planes(std::string_view bytes);

}  // namespace tavik::state
