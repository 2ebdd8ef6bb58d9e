#pragma once
// Arrays the Python side allocates, reached through the buffer protocol so the
// build needs no NumPy headers: checked once for element type, shape,
// C-contiguity and writability, then written as plain memory.
#include "frame.hpp"
#include "game/step_table.hpp"

#include <cstddef>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tavik::py {

class ArrayBuffer {
public:
    // `what` names the argument in errors, e.g. "observe(): out".
    ArrayBuffer(PyObject* array, std::string_view what, Element element, std::span<const Py_ssize_t> shape,
                bool writable);
    ArrayBuffer(PyObject* array, std::string_view what, Element element, std::initializer_list<Py_ssize_t> shape,
                bool writable)
        : ArrayBuffer(array, what, element, std::span<const Py_ssize_t>(shape.begin(), shape.size()), writable) {}
    ~ArrayBuffer();
    ArrayBuffer(ArrayBuffer&& o) noexcept;
    ArrayBuffer(const ArrayBuffer&) = delete;
    ArrayBuffer& operator=(const ArrayBuffer&) = delete;
    ArrayBuffer& operator=(ArrayBuffer&&) = delete;

    template <class T>
    T* data() const {
        return static_cast<T*>(view_.buf);
    }
    Py_ssize_t length() const { return view_.shape ? view_.shape[0] : 0; }
    PyObject* array() const { return view_.obj; }  // borrowed: the view holds it

private:
    Py_buffer view_{};
    bool held_ = false;
};

// A shape as a tuple of ints, for new_array.
PyObject* shape_tuple(std::span<const Py_ssize_t> shape);

// numpy.empty(dims, dtype of `element`): NumPy is imported on the first call,
// and the dtype objects are made once (numpy.empty converts a scalar type or a
// name on every call, which costs as much as the allocation).
PyObject* new_array(PyObject* dims, Element element);
// numpy.ndarray(dims, dtype of `element`, owner, offset): an array over the
// writable buffer `owner` exports, starting `offset` bytes in; it keeps
// `owner` alive.
PyObject* array_over(PyObject* dims, Element element, PyObject* owner, Py_ssize_t offset);
Py_ssize_t element_size(Element element);
const char* element_name(Element element);  // NumPy's name: "int8"
// Whether `array` still exports the writable C-contiguous view of `element`
// and `shape` at `data` it was made as: its holder may have reshaped it,
// changed its dtype or made it read-only. Never raises.
bool still_view_of(PyObject* array, Element element, std::span<const Py_ssize_t> shape, const void* data);

}  // namespace tavik::py
