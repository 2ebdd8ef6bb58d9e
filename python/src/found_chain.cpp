// FoundChain: one find of a chain search; read-only, not constructible, and
// compared by identity.
#include "python.hpp"
#include "found_chain.hpp"

#include "classes.hpp"

namespace tavik::py {

namespace {

using Find = FoundChain<BitField>;

PyObject* score(PyObject* self) {
    return entry([&] { return to_py(BorrowShared<Find>(self)->score); });
}

PyObject* chain(PyObject* self) {
    return entry([&] { return to_py(BorrowShared<Find>(self)->chain); });
}

// A new Field every read: changing it never reaches the find.
PyObject* field(PyObject* self) {
    return entry([&] { return new_object(field_type(), BorrowShared<Find>(self)->field); });
}

PyObject* position_tuple(const Position& p) {
    Ref x = Ref::steal(to_py(p.x - 1));
    Ref y = Ref::steal(to_py(p.y - 1));
    return PyTuple_Pack(2, x.get(), y.get());
}

PyObject* trigger(PyObject* self) {
    return entry([&] {
        BorrowShared<Find> find(self);
        const std::optional<GroupCells>& positions = find->trigger.positions;
        if (!positions) panic_unwrap_none();
        return to_list(*positions, position_tuple);
    });
}

PyObject* repr(PyObject* self) {
    return entry([&] { return to_py_str("<FoundChain object " + BorrowShared<Find>(self)->debug() + ">"); });
}

}  // namespace

PyTypeObject* found_chain_type() {
    static LazyType lazy;
    return create_once<Find>(lazy, "FoundChain", "tavik.FoundChain", [](PyTypeObject& t) {
        static PyGetSetDef getters[] = {getter<score>("score"), getter<chain>("chain"), getter<field>("field"),
                                        getter<trigger>("trigger"), END_GETTERS};
        t.tp_getset = getters;
        t.tp_repr = repr;
        t.tp_str = repr;
    });
}

PyObject* found_chain_list(FoundChainList<BitField>&& finds) {
    PyTypeObject* type = found_chain_type();
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(finds.size())));
    for (std::size_t i = 0; i < finds.size(); ++i)
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), new_object(type, std::move(finds[i])));
    return list.release();
}

}  // namespace tavik::py
