#include "python.hpp"
#include "frame.hpp"

#include <string>

namespace tavik::py {

void throw_python_error() { throw PythonError{}; }

void raise_bare(PyObject* type) {
    PyErr_SetNone(type);
    throw PythonError{};
}

void raise(PyObject* type, std::string_view message) {
    Ref text = Ref::steal(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    PyErr_SetObject(type, text.get());
    throw PythonError{};
}

std::string take_error_description() {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    Ref owned_value = Ref::steal(value ? value : Py_NewRef(Py_None));

    std::string out = "unknown error";
    if (PyObject* repr = PyObject_Repr(owned_value.get())) {
        Ref held = Ref::steal(repr);
        Py_ssize_t size = 0;
        if (const char* utf8 = PyUnicode_AsUTF8AndSize(repr, &size)) out.assign(utf8, static_cast<std::size_t>(size));
    }
    PyErr_Clear();  // a failing repr must not leave a second error behind
    return out;
}

// ---------------------------------------------------------------- parsing

namespace {

bool is_name(PyObject* key, const char* name) {
    return PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, name) == 0;
}

// The keywords of a call in their order, with the parameters that matched
// them marked as used.
class Keywords {
public:
    explicit Keywords(const CallArgs& args) : args_(args) {
        if (args.kwnames)
            count_ = PyTuple_GET_SIZE(args.kwnames);
        else if (args.kwdict)
            count_ = PyDict_GET_SIZE(args.kwdict);
    }

    Py_ssize_t count() const { return count_; }

    // The key and value of keyword i, in call order.
    std::pair<PyObject*, PyObject*> at(Py_ssize_t i) const {
        if (args_.kwnames) return {PyTuple_GET_ITEM(args_.kwnames, i), args_.items[args_.npos + i]};
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        for (Py_ssize_t k = 0; PyDict_Next(args_.kwdict, &pos, &key, &value); ++k)
            if (k == i) break;
        return {key, value};
    }

    Py_ssize_t find(const char* name) const {
        for (Py_ssize_t i = 0; i < count_; ++i)
            if (is_name(at(i).first, name)) return i;
        return -1;
    }

private:
    const CallArgs& args_;
    Py_ssize_t count_ = 0;
};

}  // namespace

void parse_into(const CallArgs& args, const char* location, const char* const* names, std::size_t count, PyObject** out,
                Py_ssize_t* extra) {
    const Keywords keywords(args);
    const Py_ssize_t given = args.npos;
    Py_ssize_t used_positional = 0;
    Py_ssize_t used_keywords = 0;
    // Bit k: keyword k was taken by a parameter (calls have few keywords; more
    // than 64 can only be unexpected ones, which never get a bit).
    std::uint64_t taken = 0;

    for (std::size_t i = 0; i < count; ++i) {
        const Py_ssize_t index = static_cast<Py_ssize_t>(i);
        const Py_ssize_t k = keywords.count() ? keywords.find(names[i]) : -1;
        if (k >= 0) {
            if (index < given)
                raise(PyExc_TypeError, std::string(location) + " got multiple values for argument: " + names[i]);
            out[i] = keywords.at(k).second;
            if (k < 64) taken |= std::uint64_t{1} << k;
            ++used_keywords;
        } else if (index < given) {
            out[i] = args.items[index];
            ++used_positional;
        } else {
            raise(PyExc_TypeError, std::string(location) + " missing required positional argument: " + names[i]);
        }
    }

    if (used_keywords < keywords.count()) {
        for (Py_ssize_t k = 0; k < keywords.count(); ++k) {
            if (k < 64 && (taken >> k & 1)) continue;
            // %U copies the name as it is: a lone surrogate cannot be encoded to UTF-8.
            Ref text = Ref::steal(PyObject_Str(keywords.at(k).first));
            if (!text) throw PythonError{};
            PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument: %U", location, text.get());
            throw PythonError{};
        }
    }

    if (used_positional < given) {
        if (extra) {
            *extra = given - used_positional;
            return;
        }
        raise(PyExc_TypeError, std::string(location) + " takes at most " + std::to_string(used_positional) +
                                   " positional argument" + (used_positional == 1 ? "" : "s") + " (" +
                                   std::to_string(given) + " given)");
    }
    if (extra) *extra = 0;
}

// ---------------------------------------------------------------- arguments

std::optional<std::uint64_t> try_u64(PyObject* o) {
    PyObject* index = PyNumber_Index(o);
    if (!index) return std::nullopt;
    const unsigned long long v = PyLong_AsUnsignedLongLong(index);
    Py_DECREF(index);
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return std::nullopt;
    return static_cast<std::uint64_t>(v);
}

std::string_view bytes_view(PyObject* o) {
    if (!PyBytes_Check(o)) raise_bare(PyExc_TypeError);
    return {PyBytes_AS_STRING(o), static_cast<std::size_t>(PyBytes_GET_SIZE(o))};
}

std::string_view str_view(PyObject* o) {
    if (!PyUnicode_Check(o)) raise_bare(PyExc_TypeError);
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(o, &size);
    if (!utf8) throw_python_error();
    return {utf8, static_cast<std::size_t>(size)};
}

// ---------------------------------------------------------------- results

PyObject* to_py(std::uint64_t v) {
    PyObject* o = PyLong_FromUnsignedLongLong(v);
    if (!o) throw_python_error();
    return o;
}

PyObject* to_py(bool v) { return Py_NewRef(v ? Py_True : Py_False); }

PyObject* to_py_str(std::string_view utf8) {
    PyObject* o = PyUnicode_FromStringAndSize(utf8.data(), static_cast<Py_ssize_t>(utf8.size()));
    if (!o) throw_python_error();
    return o;
}

PyObject* to_py_bytes(std::string_view bytes) {
    PyObject* o = PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()));
    if (!o) throw_python_error();
    return o;
}

PyObject* py_none() { return Py_NewRef(Py_None); }

// ---------------------------------------------------------------- class creation

namespace {

DocLookup doc_lookup = nullptr;

}  // namespace

void set_doc_lookup(DocLookup lookup) { doc_lookup = lookup; }

void fill_method_docs(PyMethodDef* methods, std::string_view owner) {
    if (!doc_lookup || !methods) return;
    std::string key;
    for (PyMethodDef* m = methods; m->ml_name; ++m) {
        key.assign(owner);
        if (!owner.empty()) key += '.';
        key += m->ml_name;
        if (const char* doc = doc_lookup(key)) m->ml_doc = doc;
    }
}

void fill_type_docs(PyTypeObject* type, const char* python_name) {
    if (!doc_lookup) return;
    if (const char* doc = doc_lookup(python_name)) type->tp_doc = doc;
    fill_method_docs(type->tp_methods, python_name);
    if (!type->tp_getset) return;
    std::string key;
    for (PyGetSetDef* g = type->tp_getset; g->name; ++g) {
        key = std::string(python_name) + '.' + g->name;
        if (const char* doc = doc_lookup(key)) g->doc = doc;
    }
}

void ready_type(PyTypeObject* type, const char* python_name) {
    if (PyType_Ready(type) < 0) {
        PyErr_PrintEx(0);
        panic(std::string("An error occurred while initializing class ") + python_name);
    }
}

void add_class_attribute(PyTypeObject* type, const char* python_name, const char* name, PyObject* value) {
    Ref held = Ref::steal(value);
    if (PyDict_SetItemString(type->tp_dict, name, held.get()) < 0) {
        PyErr_PrintEx(0);
        panic(std::string("An error occured while initializing `") + python_name + ".__dict__`");
    }
}

void finish_class_attributes(PyTypeObject* type) { PyType_Modified(type); }

// ---------------------------------------------------------------- module

namespace {

PyObject* module_all(PyObject* module) {
    PyObject* all = PyObject_GetAttrString(module, "__all__");
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_python_error();
        PyErr_Clear();
        Ref list = Ref::steal(PyList_New(0));
        if (PyObject_SetAttrString(module, "__all__", list.get()) < 0) throw_python_error();
        return list.release();
    }
    if (!PyList_Check(all)) {
        Py_DECREF(all);
        raise(PyExc_TypeError, "__all__ must be a list");
    }
    return all;
}

}  // namespace

void add_to_module(PyObject* module, const char* name, PyObject* value) {
    Ref held = Ref::steal(value);
    Ref all = Ref::steal(module_all(module));
    Ref text = Ref::steal(PyUnicode_FromString(name));
    if (PyList_Append(all.get(), text.get()) < 0) {
        PyErr_Clear();
        panic("could not append __name__ to __all__");
    }
    if (PyObject_SetAttrString(module, name, held.get()) < 0) throw_python_error();
}

}  // namespace tavik::py
