// TEMPORARY placeholders so the module imports before the field classes and
// FoundChain exist. Whoever adds field.cpp, array_field.cpp or found_chain.cpp
// deletes the matching placeholder here, and this file with the last one.
#include "classes.hpp"
#include "frame.hpp"

namespace tavik::py {

namespace {

struct Placeholder {};

PyObject* new_placeholder(PyTypeObject* type, PyObject*, PyObject*) {
    return entry([&] { return new_object(type, Placeholder{}); });
}

}  // namespace

PyTypeObject* field_type() {
    static LazyType lazy;
    return create_once<Placeholder>(lazy, "Field", "tavik.Field", [](PyTypeObject& t) { t.tp_new = new_placeholder; });
}

PyTypeObject* array_field_type() {
    static LazyType lazy;
    return create_once<Placeholder>(lazy, "ArrayField", "tavik.ArrayField",
                                    [](PyTypeObject& t) { t.tp_new = new_placeholder; });
}

PyTypeObject* found_chain_type() {
    static LazyType lazy;
    return create_once<Placeholder>(lazy, "FoundChain", "tavik.FoundChain", [](PyTypeObject&) {});
}

}  // namespace tavik::py
