#include "python.hpp"
#include "state.hpp"

#include <cstring>

#include "panic.hpp"

namespace tavik::state {

std::string DecodeError::debug() const {
    switch (kind) {
        case IntegerEof: return R"(Io(Custom { kind: UnexpectedEof, error: "failed to fill whole buffer" }))";
        case SequenceEof: return R"(Io(Custom { kind: UnexpectedEof, error: "" }))";
        case InvalidVariant: break;
    }
    return "Custom(\"invalid value: integer `" + std::to_string(value) + "`, expected variant index 0 <= i < " +
           std::to_string(variant_count) + "\")";
}

Result<std::uint64_t, DecodeError> Reader::u64() {
    if (bytes_.size() - pos_ < 8) return Err{DecodeError{DecodeError::IntegerEof}};
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes_[pos_ + i]);
    pos_ += 8;
    return v;
}

Result<std::uint32_t, DecodeError> Reader::u32() {
    if (bytes_.size() - pos_ < 4) return Err{DecodeError{DecodeError::IntegerEof}};
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes_[pos_ + i]);
    pos_ += 4;
    return v;
}

Result<std::uint32_t, DecodeError> Reader::variant(std::uint32_t count) {
    auto n = u32();
    if (n.is_ok() && n.value() >= count) return Err{DecodeError{DecodeError::InvalidVariant, n.value(), count}};
    return n;
}

Result<PuyoType, DecodeError> Reader::puyotype() {
    auto n = variant(PuyoType::COUNT);
    if (n.is_err()) return Err{n.error()};
    return PuyoType::from_number_unchecked(n.value());
}

Result<Rotation, DecodeError> Reader::rotation() {
    auto n = variant(Rotation::COUNT);
    if (n.is_err()) return Err{n.error()};
    return Rotation(static_cast<Rotation::Value>(n.value()));
}

Result<std::string_view, DecodeError> Reader::sequence() {
    auto n = u64();
    if (n.is_err()) return Err{n.error()};
    if (bytes_.size() - pos_ < n.value()) return Err{DecodeError{DecodeError::SequenceEof}};
    const std::string_view out = bytes_.substr(pos_, n.value());
    pos_ += n.value();
    return out;
}

void Writer::u64(std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out_ += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void Writer::u32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out_ += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void Writer::sequence(std::string_view bytes) {
    u64(bytes.size());
    out_.append(bytes);
}

std::string encode_array_field(const ArrayField& field) {
    Writer w;
    for (const auto& column : field.cells())
        for (PuyoType t : column) w.puyotype(t);
    return w.bytes();
}

namespace {

Result<ArrayField::Cells, DecodeError> read_cells(Reader& r) {
    ArrayField::Cells cells;
    for (auto& column : cells)
        for (PuyoType& t : column) {
            auto cell = r.puyotype();
            if (cell.is_err()) return Err{cell.error()};
            t = cell.value();
        }
    return cells;
}

}  // namespace

ArrayField decode_array_field(std::string_view bytes) {
    Reader r(bytes);
    ArrayField field;
    field.cells() = unwrap_decoded(read_cells(r));
    return field;
}

std::string encode_planes(const Planes& planes) {
    std::string body;
    for (const auto& plane : planes) body.append(reinterpret_cast<const char*>(plane.data()), plane.size());
    Writer w;
    w.sequence(body);
    return w.bytes();
}

Planes decode_planes(std::string_view bytes) {
    Reader r(bytes);
    const std::string_view body = unwrap_decoded(r.sequence());
    Planes planes;
    for (std::size_t i = 0; i < planes.size(); ++i) {
        const std::size_t end = (i + 1) * BIT_FIELD_PLANE_BYTES;
        if (body.size() < end) panic_slice_end(end, body.size());
        std::memcpy(planes[i].data(), body.data() + i * BIT_FIELD_PLANE_BYTES, BIT_FIELD_PLANE_BYTES);
    }
    return planes;
}

}  // namespace tavik::state
