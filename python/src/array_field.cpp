// ArrayField: the plain field, every cell checked against the grid; a
// 512-byte pickle state (every cell).
#include "python.hpp"
#include "field/array_field.hpp"
#include "field_common.hpp"
#include "state.hpp"

namespace tavik::py {

namespace {

struct ArrayFieldClass {
    using Core = ArrayField;
    static constexpr LocationPrefix prefix = "PyArrayField";
    static PyTypeObject* type() { return array_field_type(); }
    static std::string encode(const ArrayField& f) { return state::encode_array_field(f); }
    static ArrayField decode(std::string_view bytes) { return state::decode_array_field(bytes); }
};

using Methods = FieldClass<ArrayFieldClass>;

}  // namespace

PyTypeObject* array_field_type() {
    static LazyType lazy;
    return create_once<ArrayField>(lazy, "ArrayField", "tavik.ArrayField", [](PyTypeObject& t) {
        static auto table = Methods::methods();
        Methods::fill(t, table);
    });
}

}  // namespace tavik::py
