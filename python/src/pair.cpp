// Pair: child (element 0) and axis (element 1) as type numbers; indexable by
// 0 and 1 only; an 8-byte pickle state.
#include "python.hpp"
#include "pair.hpp"

#include <string>

#include "classes.hpp"
#include "frame.hpp"
#include "state.hpp"

namespace tavik::py {

namespace {

std::uint64_t number_argument(PyObject* o) {
    const std::optional<std::uint64_t> n = try_u64(o);
    if (!n) panic("Invalid argument: " + take_error_description());
    return *n;
}

PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return entry([&] {
        const CallArgs call = CallArgs::from_tuple(args, kwargs);
        const Py_ssize_t n = parse_positional_only(call, "Pair.__new__()");
        if (n == 0) return new_object(type, Pair{});
        if (n != 2) panic_not_implemented();
        const std::uint64_t first = number_argument(call.items[0]);
        const std::uint64_t second = number_argument(call.items[1]);
        const PuyoType child = expect(PuyoType::from_number(first), "Invalid puyotype");
        const PuyoType axis = expect(PuyoType::from_number(second), "Invalid puyotype");
        return new_object(type, Pair{child, axis});
    });
}

PyObject* axis(PyObject* self) {
    return entry([&] { return to_py(std::uint64_t{BorrowShared<Pair>(self)->axis().number()}); });
}

PyObject* child(PyObject* self) {
    return entry([&] { return to_py(std::uint64_t{BorrowShared<Pair>(self)->child().number()}); });
}

PyObject* item(PyObject* self, Py_ssize_t i) {
    return entry([&] {
        BorrowShared<Pair> pair(self);
        if (i != 0 && i != 1) raise(PyExc_RuntimeError, "Invalid index " + std::to_string(i));
        return to_py(std::uint64_t{pair->colors[static_cast<std::size_t>(i)].number()});
    });
}

PyObject* repr(PyObject* self) {
    return entry([&] { return to_py_str("<Pair object " + BorrowShared<Pair>(self)->debug() + ">"); });
}

PyObject* getstate(PyObject* self, CallArgs args) {
    return entry([&] {
        BorrowShared<Pair> pair(self);
        parse(args, "Pair.__getstate__()");
        state::Writer out;
        out.puyotype(pair->colors[0]);
        out.puyotype(pair->colors[1]);
        return to_py_bytes(out.bytes());
    });
}

PyObject* setstate(PyObject* self, CallArgs args) {
    return entry([&] {
        BorrowExclusive<Pair> pair(self);
        auto [state] = parse(args, "Pair.__setstate__()", "state");
        state::Reader in(bytes_view(state));
        const PuyoType child = state::unwrap_decoded(in.puyotype());
        const PuyoType axis = state::unwrap_decoded(in.puyotype());
        *pair = Pair{child, axis};
        return py_none();
    });
}

}  // namespace

PyTypeObject* pair_type() {
    static LazyType lazy;
    return create_once<Pair>(lazy, "Pair", "tavik.Pair", [](PyTypeObject& t) {
        static PyMethodDef methods[] = {
            method<getstate>("__getstate__"),
            method<setstate>("__setstate__"),
            END_METHODS,
        };
        static PyGetSetDef getters[] = {getter<axis>("axis"), getter<child>("child"), END_GETTERS};
        static PySequenceMethods sequence = {};
        sequence.sq_item = item;
        t.tp_new = construct;
        t.tp_repr = repr;
        t.tp_richcompare = compare_by_value<Pair>;
        t.tp_as_sequence = &sequence;
        t.tp_methods = methods;
        t.tp_getset = getters;
    });
}

}  // namespace tavik::py
