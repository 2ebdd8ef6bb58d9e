// Hand: a Python column (grid column minus one) and a Rotation; the 22 legal
// hands; a 12-byte pickle state.
#include "python.hpp"
#include "hand.hpp"

#include "classes.hpp"
#include "frame.hpp"
#include "state.hpp"

namespace tavik::py {

namespace {

constexpr const char* UNWRAP = "called `Result::unwrap()` on an `Err` value: ";

Hand from_arguments(PyObject* column, PyObject* rotation) {
    const std::optional<std::uint64_t> x = try_u64(column);
    if (!x) panic(UNWRAP + take_error_description());
    if (!PyObject_TypeCheck(rotation, rotation_type()))
        panic(std::string(UNWRAP) + "TypeError(\"expected tavik.Rotation, got " + Py_TYPE(rotation)->tp_name + "\")");
    if (as_object<Rotation>(rotation)->borrow < 0) panic(std::string(UNWRAP) + "PyBorrowError");
    return Hand{*x + 1, copy_of<Rotation>(rotation, rotation_type())};
}

PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return entry([&] {
        const CallArgs call = CallArgs::from_tuple(args, kwargs);
        const Py_ssize_t n = parse_positional_only(call, "Hand.__new__()");
        if (n == 0) return new_object(type, Hand{});
        if (n != 2) panic_not_implemented();
        return new_object(type, from_arguments(call.items[0], call.items[1]));
    });
}

PyObject* x(PyObject* self) {
    return entry([&] { return to_py(BorrowShared<Hand>(self)->x - 1); });
}

PyObject* rotation(PyObject* self) {
    return entry([&] { return new_object(rotation_type(), BorrowShared<Hand>(self)->rotation); });
}

PyObject* enumerate(PyObject* cls, CallArgs) {
    return entry([&] {
        PyTypeObject* type = reinterpret_cast<PyTypeObject*>(cls);
        return to_list(Hand::enumerate(), [&](const Hand& h) { return new_object(type, h); });
    });
}

PyObject* repr(PyObject* self) {
    return entry([&] { return to_py_str("<Hand object " + BorrowShared<Hand>(self)->display() + ">"); });
}

PyObject* getstate(PyObject* self, CallArgs args) {
    return entry([&] {
        BorrowShared<Hand> hand(self);
        parse(args, "Hand.__getstate__()");
        state::Writer out;
        out.u64(hand->x);
        out.rotation(hand->rotation);
        return to_py_bytes(out.bytes());
    });
}

PyObject* setstate(PyObject* self, CallArgs args) {
    return entry([&] {
        BorrowExclusive<Hand> hand(self);
        auto [state] = parse(args, "Hand.__setstate__()", "state");
        state::Reader in(bytes_view(state));
        const std::uint64_t column = state::unwrap_decoded(in.u64());
        const Rotation r = state::unwrap_decoded(in.rotation());
        *hand = Hand{column, r};
        return py_none();
    });
}

}  // namespace

PyTypeObject* hand_type() {
    static LazyType lazy;
    return create_once<Hand>(lazy, "Hand", "tavik.Hand", [](PyTypeObject& t) {
        static PyMethodDef methods[] = {
            method<enumerate>("enumerate", METH_CLASS),
            method<getstate>("__getstate__"),
            method<setstate>("__setstate__"),
            END_METHODS,
        };
        static PyGetSetDef getters[] = {getter<x>("x"), getter<rotation>("rotation"), END_GETTERS};
        t.tp_new = construct;
        t.tp_repr = repr;
        t.tp_richcompare = compare_by_value<Hand>;
        t.tp_methods = methods;
        t.tp_getset = getters;
    });
}

}  // namespace tavik::py
