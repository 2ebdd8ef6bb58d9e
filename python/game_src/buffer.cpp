// Buffer checks of the arrays batch calls read and write.
#include "buffer.hpp"

#include <array>
#include <utility>

namespace tavik::py {

namespace {

struct ElementInfo {
    const char* name;
    Py_ssize_t size;
    std::string_view codes;  // the buffer format codes that mean it on this platform
};

ElementInfo info(Element e) {
    switch (e) {
        case Element::U8: return {"uint8", 1, "B"};
        case Element::I8: return {"int8", 1, "b"};
        case Element::BOOL: return {"bool", 1, "?"};
        case Element::I32: return {"int32", 4, "i"};
        case Element::I64: return {"int64", 8, "lq"};
        case Element::F64: return {"float64", 8, "d"};
    }
    return {"?", 0, ""};
}

std::string shape_text(const Py_ssize_t* shape, std::size_t ndim) {
    std::string out = "(";
    for (std::size_t i = 0; i < ndim; ++i) {
        if (i) out += ", ";
        out += std::to_string(shape[i]);
    }
    if (ndim == 1) out += ",";
    return out + ")";
}

// The format without its native byte-order prefix ("@", "=", "<" all mean
// native here: the extension only builds for little-endian x86-64).
std::string_view bare_format(const char* format) {
    std::string_view f = format ? format : "B";
    if (!f.empty() && (f[0] == '@' || f[0] == '=' || f[0] == '<')) f.remove_prefix(1);
    return f;
}

// Whether a view holds elements of `element` in the dimensions `shape`.
bool holds(const Py_buffer& view, Element element, std::span<const Py_ssize_t> shape) {
    const ElementInfo want = info(element);
    const std::string_view format = bare_format(view.format);
    if (view.itemsize != want.size || format.size() != 1 || want.codes.find(format[0]) == std::string_view::npos) {
        return false;
    }
    if (static_cast<std::size_t>(view.ndim) != shape.size()) return false;
    for (std::size_t i = 0; i < shape.size(); ++i)
        if (view.shape[i] != shape[i]) return false;
    return true;
}

}  // namespace

ArrayBuffer::ArrayBuffer(PyObject* array, std::string_view what, Element element, std::span<const Py_ssize_t> shape,
                         bool writable) {
    const ElementInfo want = info(element);
    // Messages are built only on failure: this runs on every step of an environment.
    auto expected = [&] {
        const std::vector<Py_ssize_t> dims(shape.begin(), shape.end());
        return std::string(writable ? "a C-contiguous writable " : "a C-contiguous ") + want.name + " array of shape " +
               shape_text(dims.data(), dims.size());
    };
    const int flags = PyBUF_FORMAT | PyBUF_STRIDES | (writable ? PyBUF_WRITABLE : 0);
    if (PyObject_GetBuffer(array, &view_, flags) != 0) {
        PyErr_Clear();
        if (PyObject_CheckBuffer(array)) raise(PyExc_ValueError, std::string(what) + " must be writable");
        raise(PyExc_TypeError, std::string(what) + " must be " + expected() + ", got " + Py_TYPE(array)->tp_name);
    }
    // Released here on a failed check: a throwing constructor runs no destructor.
    auto fail = [&](const std::string& message) {
        PyBuffer_Release(&view_);
        raise(PyExc_ValueError, message);
    };
    if (!holds(view_, element, shape)) {
        fail(std::string(what) + " must be " + expected() + ", got format '" + std::string(bare_format(view_.format)) +
             "' of shape " + shape_text(view_.shape, static_cast<std::size_t>(view_.ndim)));
    }
    if (!PyBuffer_IsContiguous(&view_, 'C')) fail(std::string(what) + " must be C-contiguous");
    held_ = true;
}

ArrayBuffer::~ArrayBuffer() {
    if (held_) PyBuffer_Release(&view_);
}

ArrayBuffer::ArrayBuffer(ArrayBuffer&& o) noexcept : view_(o.view_), held_(std::exchange(o.held_, false)) {}

PyObject* shape_tuple(std::span<const Py_ssize_t> shape) {
    Ref dims = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(shape.size())));
    Py_ssize_t i = 0;
    for (Py_ssize_t d : shape) PyTuple_SET_ITEM(dims.get(), i++, Ref::steal(PyLong_FromSsize_t(d)).release());
    return dims.release();
}

namespace {

// numpy.empty, numpy.ndarray and the dtype objects, made once: converting a
// scalar type or a name on every call costs as much as the allocation. Never
// released: the process may outlive the interpreter.
struct NumPy {
    PyObject* empty;
    PyObject* ndarray;
    std::array<PyObject*, 6> dtypes;
};

const NumPy& numpy() {
    static NumPy made{};
    if (!made.empty) {
        Ref module = Ref::steal(PyImport_ImportModule("numpy"));
        Ref dtype = Ref::steal(PyObject_GetAttrString(module.get(), "dtype"));
        NumPy n{};
        for (std::size_t e = 0; e < n.dtypes.size(); ++e) {
            Ref name = Ref::steal(PyUnicode_FromString(info(static_cast<Element>(e)).name));
            n.dtypes[e] = Ref::steal(PyObject_CallOneArg(dtype.get(), name.get())).release();
        }
        n.ndarray = Ref::steal(PyObject_GetAttrString(module.get(), "ndarray")).release();
        n.empty = Ref::steal(PyObject_GetAttrString(module.get(), "empty")).release();
        made = n;
    }
    return made;
}

}  // namespace

PyObject* new_array(PyObject* dims, Element element) {
    const NumPy& np = numpy();
    PyObject* args[] = {dims, np.dtypes[static_cast<std::size_t>(element)]};
    return Ref::steal(PyObject_Vectorcall(np.empty, args, 2, nullptr)).release();
}

PyObject* array_over(PyObject* dims, Element element, PyObject* owner, Py_ssize_t offset) {
    const NumPy& np = numpy();
    Ref at = Ref::steal(PyLong_FromSsize_t(offset));
    PyObject* args[] = {dims, np.dtypes[static_cast<std::size_t>(element)], owner, at.get()};
    return Ref::steal(PyObject_Vectorcall(np.ndarray, args, 4, nullptr)).release();
}

Py_ssize_t element_size(Element element) { return info(element).size; }

const char* element_name(Element element) { return info(element).name; }

bool still_view_of(PyObject* array, Element element, std::span<const Py_ssize_t> shape, const void* data) {
    Py_buffer view;
    if (PyObject_GetBuffer(array, &view, PyBUF_FORMAT | PyBUF_STRIDES | PyBUF_WRITABLE) != 0) {
        PyErr_Clear();
        return false;
    }
    const bool same = view.buf == data && holds(view, element, shape) && PyBuffer_IsContiguous(&view, 'C');
    PyBuffer_Release(&view);
    return same;
}

}  // namespace tavik::py
