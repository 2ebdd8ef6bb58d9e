// tavik's classes as the game module sees them, plus the argument checks
// shared by the topic files.
#include "python.hpp"
#include "game_module.hpp"
#include "panic.hpp"

#include <bitset>
#include <string>
#include <string_view>
#include <vector>

namespace tavik::py {

namespace {

struct TavikTypes {
    PyTypeObject* field = nullptr;
    PyTypeObject* pair = nullptr;
    PyTypeObject* hand = nullptr;
    PyTypeObject* chain_result = nullptr;
};

TavikTypes& types() {
    static TavikTypes t;
    return t;
}

bool load(PyObject* module, const char* name, PyTypeObject*& slot) {
    PyObject* o = PyObject_GetAttrString(module, name);
    if (!o) return false;
    if (!PyType_Check(o)) {
        Py_DECREF(o);
        PyErr_Format(PyExc_ImportError, "tavik.%s is not a class", name);
        return false;
    }
    slot = reinterpret_cast<PyTypeObject*>(o);  // kept for the life of the process
    return true;
}

}  // namespace

bool load_tavik_types(PyObject* m) {
    TavikTypes& t = types();
    return load(m, "Field", t.field) && load(m, "Pair", t.pair) && load(m, "Hand", t.hand) &&
           load(m, "ChainResult", t.chain_result);
}

PyTypeObject* tavik_field_type() { return types().field; }
PyTypeObject* tavik_pair_type() { return types().pair; }
PyTypeObject* tavik_hand_type() { return types().hand; }
PyTypeObject* tavik_chain_result_type() { return types().chain_result; }

PyObject* new_tavik_field(const BitField& field) { return new_object(tavik_field_type(), field); }

void add_functions(PyObject* module, PyMethodDef* functions) {
    if (PyModule_AddFunctions(module, functions) < 0) throw_python_error();
}

Hand hand_argument(PyObject* o, const char* where) {
    if (!PyObject_TypeCheck(o, tavik_hand_type()))
        raise(PyExc_TypeError, std::string(where) + ": expected tavik.Hand, got " + Py_TYPE(o)->tp_name);
    return copy_of<Hand>(o, tavik_hand_type());
}

BitField field_argument(PyObject* o, const char* where) {
    if (!PyObject_TypeCheck(o, tavik_field_type()))
        raise(PyExc_TypeError, std::string(where) + ": expected tavik.Field, got " + Py_TYPE(o)->tp_name);
    return copy_of<BitField>(o, tavik_field_type());
}

Ref sized_items(PyObject* o, const char* message) {
    if (!PyList_Check(o) && !PyTuple_Check(o)) {
        if (PyObject_Length(o) < 0) {
            PyErr_Clear();
            raise(PyExc_TypeError, message);
        }
    }
    // A tuple of our own, even for a list: the caller reads the items after
    // calls that may run Python code (an allocation may start the collector,
    // whose finalizers may empty the list), and a list's item array moves or
    // goes when the list changes.
    if (PyTuple_Check(o)) return Ref::borrow(o);
    // Any other sequence is read into a new list first.
    const Ref list = PyList_Check(o) ? Ref::borrow(o) : Ref::steal(PySequence_Fast(o, message));
    for (;;) {
        // Not PyList_AsTuple: it takes the item array before allocating the tuple.
        const Py_ssize_t n = PyList_GET_SIZE(list.get());
        Ref copy = Ref::steal(PyTuple_New(n));
        if (PyList_GET_SIZE(list.get()) != n) continue;  // changed by a finalizer while we allocated: again
        // Nothing below runs Python code.
        for (Py_ssize_t i = 0; i < n; ++i) PyTuple_SET_ITEM(copy.get(), i, Py_NewRef(PyList_GET_ITEM(list.get(), i)));
        return copy;
    }
}

void parse_with_defaults(const CallArgs& args, const char* location, std::initializer_list<const char*> names,
                         PyObject** out) {
    const std::size_t count = names.size();
    if (static_cast<std::size_t>(args.npos) > count)
        raise(PyExc_TypeError, std::string(location) + " takes at most " + std::to_string(count) + " arguments (" +
                                   std::to_string(args.npos) + " given)");
    // On the stack: this runs on every call of the small functions.
    std::bitset<MAX_DEFAULTED> given;
    if (count > MAX_DEFAULTED) panic("parse_with_defaults: too many parameters");
    for (Py_ssize_t i = 0; i < args.npos; ++i) {
        out[i] = args.items[i];
        given[static_cast<std::size_t>(i)] = true;
    }
    auto keyword = [&](PyObject* key, PyObject* value) {
        std::string_view k = PyUnicode_Check(key) ? str_view(key) : std::string_view{};
        std::size_t i = 0;
        for (const char* n : names) {
            if (k == n) break;
            ++i;
        }
        if (i == count)
            raise(PyExc_TypeError,
                  std::string(location) + " got an unexpected keyword argument '" + std::string(k) + "'");
        if (given[i])
            raise(PyExc_TypeError,
                  std::string(location) + " got multiple values for argument '" + std::string(k) + "'");
        out[i] = value;
        given[i] = true;
    };
    if (args.kwnames) {
        for (Py_ssize_t j = 0; j < PyTuple_GET_SIZE(args.kwnames); ++j)
            keyword(PyTuple_GET_ITEM(args.kwnames, j), args.items[args.npos + j]);
    } else if (args.kwdict) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(args.kwdict, &pos, &key, &value)) keyword(key, value);
    }
    std::size_t i = 0;
    for (const char* n : names) {
        if (!out[i]) raise(PyExc_TypeError, std::string(location) + " missing required argument '" + n + "'");
        ++i;
    }
}

std::uint64_t int_argument(PyObject* o, const char* where, const char* name, std::uint64_t low, std::uint64_t high) {
    if (!PyLong_Check(o) || PyBool_Check(o))
        raise(PyExc_TypeError, std::string(where) + ": " + name + " must be an int, got " + Py_TYPE(o)->tp_name);
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
    if (v == -1 && PyErr_Occurred()) throw_python_error();
    std::uint64_t u = 0;
    bool ok = overflow == 0 && v >= 0;
    if (ok) u = static_cast<std::uint64_t>(v);
    if (overflow > 0) {  // past long long: still fine when it fits 64 unsigned bits
        const unsigned long long w = PyLong_AsUnsignedLongLong(o);
        if (PyErr_Occurred())
            PyErr_Clear();
        else {
            u = w;
            ok = true;
        }
    }
    if (!ok || u < low || u > high)
        raise(PyExc_ValueError, std::string(where) + ": " + name + " must be from " + std::to_string(low) + " to " +
                                    std::to_string(high));
    return u;
}

bool truth_argument(PyObject* o) {
    const int truth = PyObject_IsTrue(o);
    if (truth < 0) throw_python_error();  // a __bool__ that raises (a NumPy array, say)
    return truth == 1;
}

}  // namespace tavik::py
