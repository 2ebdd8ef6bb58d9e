// Rotation: four shared class attributes, text forms, equality.
#include "python.hpp"
#include <string>

#include "classes.hpp"
#include "frame.hpp"
#include "rotation.hpp"

namespace tavik::py {

namespace {

PyObject* display(PyObject* self) {
    return entry([&] {
        BorrowShared<Rotation> r(self);
        return to_py_str(r->display());
    });
}

PyObject* repr(PyObject* self) {
    return entry([&] {
        BorrowShared<Rotation> r(self);
        return to_py_str("<Rotation object " + std::string(r->display()) + ">");
    });
}

}  // namespace

PyTypeObject* rotation_type() {
    static LazyType lazy;
    return create_once<Rotation>(
        lazy, "Rotation", "tavik.Rotation",
        [](PyTypeObject& t) {
            t.tp_str = display;
            t.tp_repr = repr;
            t.tp_richcompare = compare_by_value<Rotation>;
        },
        [](PyTypeObject& t) {
            for (Rotation r : {Rotation::TOP, Rotation::LEFT, Rotation::BOTTOM, Rotation::RIGHT})
                add_class_attribute(&t, "Rotation", std::string(r.name()).c_str(), new_object(&t, r));
        });
}

}  // namespace tavik::py
