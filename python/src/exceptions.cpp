#include "python.hpp"
#include "exceptions.hpp"

namespace tavik::py {

namespace {

PyObject* lazy_exception(PyObject*& slot, const char* name, PyObject* base) {
    // Runs under the interpreter lock, so a plain check is enough. A failed
    // creation leaves the slot empty and is retried next time.
    if (!slot) slot = PyErr_NewException(name, base, nullptr);
    return slot;
}

}  // namespace

PyObject* panic_exception() {
    static PyObject* type = nullptr;
    return lazy_exception(type, "nivo_runtime.PanicException", PyExc_BaseException);
}

PyObject* borrow_error() {
    static PyObject* type = nullptr;
    return lazy_exception(type, "nivo_runtime.PyBorrowError", PyExc_RuntimeError);
}

PyObject* borrow_mut_error() {
    static PyObject* type = nullptr;
    return lazy_exception(type, "nivo_runtime.PyBorrowMutError", PyExc_RuntimeError);
}

void set_panic(std::string_view text) {
    PyObject* type = panic_exception();
    if (!type) return;  // the creation error stays set
    PyObject* message = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
    if (!message) return;
    // A non-tuple value becomes the exception's single argument.
    PyErr_SetObject(type, message);
    Py_DECREF(message);
}

}  // namespace tavik::py
