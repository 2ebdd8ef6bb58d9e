// Field: the bit field, with the chain finder's searches on top of the
// methods it shares with ArrayField; a 56-byte pickle state (the planes).
#include "field/bit_field.hpp"
#include "field_common.hpp"
#include "state.hpp"

namespace tavik::py {

namespace {

struct BitFieldClass {
    using Core = BitField;
    static constexpr LocationPrefix prefix = "PyField";
    static PyTypeObject* type() { return field_type(); }
    static std::string encode(const BitField& f) { return state::encode_planes(f.planes_bytes()); }
    static BitField decode(std::string_view bytes) { return BitField::from_planes(state::decode_planes(bytes)); }
};

using Methods = FieldClass<BitFieldClass>;

}  // namespace

PyTypeObject* field_type() {
    static LazyType lazy;
    return create_once<BitField>(lazy, "Field", "tavik.Field", [](PyTypeObject& t) {
        static auto table = Methods::methods(
            // The chain finder's methods go here: find_chain, find_chain_recursive, find_chain_by_removal.
        );
        Methods::fill(t, table);
    });
}

}  // namespace tavik::py
