#pragma once
// The frame every Python-callable entry of the extension is built on:
// instance layout, borrow guards, argument parsing and conversion, result
// conversion, comparison and the guard that maps C++ failures to Python.
//
// Usage, for a method `get(x, y)` of a class wrapping `F`:
//
//   PyObject* get(PyObject* self, CallArgs args) {
//       return entry([&] {
//           BorrowExclusive<F> field(self);                 // 1. borrow
//           auto [x, y] = parse(args, "PyField.get()", "x", "y");  // 2. parse
//           const std::uint64_t gx = to_u64(x) + 1;          // 3. convert
//           const std::uint64_t gy = to_u64(y) + 1;
//           return to_py(std::uint64_t{field->get(gx, gy).number()});  // 4. call, convert
//       });
//   }
//   ...
//   static PyMethodDef methods[] = {method<get>("get"), ..., END_METHODS};
//
// Rules:
// - Anything that leaves a Python error set throws PythonError; tavik::Panic
//   (or any std::exception) becomes PanicException. `entry` catches both and
//   returns nullptr, after every guard and Ref on the way has been released.
// - `parse` returns borrowed references, valid for the whole call.
// - Converters (`to_u64`, `copy_of`, `bytes_view`, `str_view`) throw on failure;
//   `to_py*` return new references and throw on failure.
// - Method tables, getters and type objects are filled inside the type getter
//   (function-local statics), never as namespace-scope globals: those could run
//   at load time, before the processor check.

#include "python.hpp"
#include <array>
#include <cstdint>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "exceptions.hpp"
#include "panic.hpp"

namespace tavik::py {

// ---------------------------------------------------------------- failures

// Thrown after a Python exception has been set.
struct PythonError {};

[[noreturn]] void throw_python_error();
// Sets `type` with no arguments (TypeError, borrow errors) and throws.
[[noreturn]] void raise_bare(PyObject* type);
[[noreturn]] void raise(PyObject* type, std::string_view message);
// Fetches and clears the pending Python error and describes it, as in
// OverflowError("can't convert negative int to unsigned").
std::string take_error_description();

// Runs `body` (returning PyObject*) and maps every failure to a Python
// exception: the result is nullptr with exactly one exception set.
template <class Body>
PyObject* entry(Body&& body) noexcept {
    try {
        return body();
    } catch (const PythonError&) {
    } catch (const Panic& p) {
        set_panic(p.text());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();  // out of memory is an ordinary Exception callers can catch
    } catch (const std::exception& e) {
        set_panic(e.what());
    } catch (...) {
        set_panic("unknown C++ exception");
    }
    return nullptr;
}

// ---------------------------------------------------------------- references

// An owned (strong) reference, released on scope exit.
class Ref {
public:
    Ref() = default;
    // Takes ownership of a new reference; nullptr means a Python error is set.
    static Ref steal(PyObject* p) {
        if (!p) throw_python_error();
        return Ref(p);
    }
    static Ref borrow(PyObject* p) {
        Py_XINCREF(p);
        return Ref(p);
    }
    Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Ref& operator=(Ref&& o) noexcept {
        if (this != &o) {
            Py_XDECREF(p_);
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const { return p_; }
    // Hands the reference to the caller (for returning from an entry).
    PyObject* release() { return std::exchange(p_, nullptr); }
    explicit operator bool() const { return p_ != nullptr; }

private:
    explicit Ref(PyObject* p) : p_(p) {}
    PyObject* p_ = nullptr;
};

// ---------------------------------------------------------------- instances

// Every instance: the header, the borrow flag, the core value by value.
template <class T>
struct Object {
    PyObject_HEAD
        // 0 free, n > 0 shared borrows, -1 one exclusive borrow.
        std::int64_t borrow;
    T value;
};

template <class T>
Object<T>* as_object(PyObject* o) {
    return reinterpret_cast<Object<T>*>(o);
}

// A new instance of `type` (which must wrap T) holding `value`.
template <class T>
PyObject* new_object(PyTypeObject* type, T value) {
    PyObject* o = type->tp_alloc(type, 0);
    if (!o) throw_python_error();
    Object<T>* obj = as_object<T>(o);
    obj->borrow = 0;
    try {
        new (&obj->value) T(std::move(value));
    } catch (...) {
        type->tp_free(o);
        throw;
    }
    return o;
}

template <class T>
void dealloc(PyObject* self) {
    std::destroy_at(&as_object<T>(self)->value);
    Py_TYPE(self)->tp_free(self);
}

// ---------------------------------------------------------------- borrows

// Shared borrow of an instance: PyBorrowError while it is borrowed exclusively.
template <class T>
class BorrowShared {
public:
    explicit BorrowShared(PyObject* self) : obj_(as_object<T>(self)) {
        if (obj_->borrow < 0) raise_bare(borrow_error());
        ++obj_->borrow;
    }
    ~BorrowShared() { --obj_->borrow; }
    BorrowShared(const BorrowShared&) = delete;
    BorrowShared& operator=(const BorrowShared&) = delete;

    const T& get() const { return obj_->value; }
    const T& operator*() const { return obj_->value; }
    const T* operator->() const { return &obj_->value; }

private:
    Object<T>* obj_;
};

// Exclusive borrow: PyBorrowMutError while any other borrow is in progress.
template <class T>
class BorrowExclusive {
public:
    explicit BorrowExclusive(PyObject* self) : obj_(as_object<T>(self)) {
        if (obj_->borrow != 0) raise_bare(borrow_mut_error());
        obj_->borrow = -1;
    }
    ~BorrowExclusive() { obj_->borrow = 0; }
    BorrowExclusive(const BorrowExclusive&) = delete;
    BorrowExclusive& operator=(const BorrowExclusive&) = delete;

    T& get() const { return obj_->value; }
    T& operator*() const { return obj_->value; }
    T* operator->() const { return &obj_->value; }

private:
    Object<T>* obj_;
};

// ---------------------------------------------------------------- parsing

// The arguments of one call, whichever calling convention delivered them.
struct CallArgs {
    PyObject* const* items = nullptr;  // positional, then (fast calls) keyword values
    Py_ssize_t npos = 0;
    PyObject* kwnames = nullptr;  // fast calls: tuple of keyword names, or nullptr
    PyObject* kwdict = nullptr;   // tuple calls: dict of keywords, or nullptr

    static CallArgs from_tuple(PyObject* args, PyObject* kwargs) {
        return {&PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args), nullptr, kwargs};
    }
};

// Fills out[i] with the argument of parameter names[i]. The check order, and
// so the error reported first, is fixed: repeated, missing, unexpected
// keyword, too many positional. With allow_extra the unused positional
// arguments are allowed and *extra receives how many there were.
void parse_into(const CallArgs& args, const char* location, const char* const* names, std::size_t count, PyObject** out,
                Py_ssize_t* extra = nullptr);

// auto [x, y] = parse(args, "PyField.get()", "x", "y");
template <class... Names>
std::array<PyObject*, sizeof...(Names)> parse(const CallArgs& args, const char* location, Names... names) {
    const char* const list[] = {names..., nullptr};
    std::array<PyObject*, sizeof...(Names)> out{};
    parse_into(args, location, list, sizeof...(Names), out.data());
    return out;
}

// An empty parameter list that passes positional arguments on (constructors
// that take positional arguments only): rejects keywords, returns the count.
inline Py_ssize_t parse_positional_only(const CallArgs& args, const char* location) {
    Py_ssize_t extra = 0;
    parse_into(args, location, nullptr, 0, nullptr, &extra);
    return extra;
}

// ---------------------------------------------------------------- arguments

// __index__, then an unsigned 64-bit value; the interpreter's TypeError or
// OverflowError is left set on failure.
std::optional<std::uint64_t> try_u64(PyObject* o);
inline std::uint64_t to_u64(PyObject* o) {
    std::optional<std::uint64_t> v = try_u64(o);
    if (!v) throw_python_error();
    return *v;
}

// The bytes of a `bytes` object (or subclass); TypeError without message otherwise.
std::string_view bytes_view(PyObject* o);
// The UTF-8 text of a `str` (or subclass); TypeError without message otherwise.
std::string_view str_view(PyObject* o);

// An argument that must be an instance of `type` (wrapping T): TypeError
// without message otherwise; borrowed shared while the value is copied.
template <class T>
T copy_of(PyObject* o, PyTypeObject* type) {
    if (!PyObject_TypeCheck(o, type)) raise_bare(PyExc_TypeError);
    BorrowShared<T> borrowed(o);
    return borrowed.get();
}

// ---------------------------------------------------------------- results

PyObject* to_py(std::uint64_t v);
PyObject* to_py(bool v);
PyObject* to_py_str(std::string_view utf8);
PyObject* to_py_bytes(std::string_view bytes);
PyObject* py_none();

// A new list of convert(element) for each element; convert returns a new reference.
template <class Range, class Convert>
PyObject* to_list(const Range& range, Convert&& convert) {
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(std::size(range))));
    Py_ssize_t i = 0;
    for (const auto& element : range) {
        PyObject* item = convert(element);
        if (!item) throw_python_error();
        PyList_SET_ITEM(list.get(), i++, item);
    }
    return list.release();
}

// ---------------------------------------------------------------- comparison

// tp_richcompare for classes that support == and != only: a foreign operand
// on either side is a TypeError without message, never NotImplemented.
template <class T, class Equal>
PyObject* compare_equality(PyObject* self, PyObject* other, int op, Equal&& equal) {
    return entry([&]() -> PyObject* {
        if (op < Py_LT || op > Py_GE) raise(PyExc_ValueError, "tp_richcompare called with invalid comparison operator");
        if (!PyObject_TypeCheck(other, Py_TYPE(self))) raise_bare(PyExc_TypeError);
        BorrowShared<T> theirs(other);
        BorrowShared<T> mine(self);
        if (op != Py_EQ && op != Py_NE) panic_not_implemented();
        const bool same = equal(mine.get(), theirs.get());
        return to_py(op == Py_EQ ? same : !same);
    });
}

template <class T>
PyObject* compare_by_value(PyObject* self, PyObject* other, int op) {
    return compare_equality<T>(self, other, op, [](const T& a, const T& b) { return a == b; });
}

// ---------------------------------------------------------------- class creation

// Entry signatures that class files write; the adapters below register them.
using MethodFn = PyObject* (*)(PyObject* self, CallArgs args);
using GetterFn = PyObject* (*)(PyObject* self);

template <MethodFn Fn>
PyObject* fast_adapter(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return Fn(self, CallArgs{args, nargs, kwnames, nullptr});
}

template <MethodFn Fn>
PyObject* tuple_adapter(PyObject* self, PyObject* args, PyObject* kwargs) {
    return Fn(self, CallArgs::from_tuple(args, kwargs));
}

template <GetterFn Fn>
PyObject* getter_adapter(PyObject* self, void*) {
    return Fn(self);
}

// A parsed method (or, with METH_CLASS, class method; `self` is then the class).
template <MethodFn Fn>
PyMethodDef method(const char* name, int extra_flags = 0) {
    return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&fast_adapter<Fn>)),
            METH_FASTCALL | METH_KEYWORDS | extra_flags, ""};
}

// A method without parameters: the interpreter rejects any argument itself.
inline PyMethodDef method_noargs(const char* name, PyCFunction fn) { return {name, fn, METH_NOARGS, ""}; }

inline constexpr PyMethodDef END_METHODS = {nullptr, nullptr, 0, nullptr};

// A read-only attribute.
template <GetterFn Fn>
PyGetSetDef getter(const char* name) {
    return {name, &getter_adapter<Fn>, nullptr, "", nullptr};
}

inline constexpr PyGetSetDef END_GETTERS = {nullptr, nullptr, nullptr, nullptr, nullptr};

// Creates a static class once. `fill` sets the slots (after the frame set the
// name, size, dealloc, base and flags); after PyType_Ready, `attributes` stores
// the class attributes. While they are being stored the class is already
// returned to nested requests, since they may be instances of the class itself.
struct LazyType {
    PyTypeObject type;
    enum State : std::uint8_t { Blank, Filling, Ready } state;
};

void ready_type(PyTypeObject* type, const char* python_name);

// Runtime documentation by key: "name" for a module function, "Class" and
// "Class.member" for a class. A module that sets none keeps the empty docs
// (tavik's own classes stay undocumented at run time).
using DocLookup = const char* (*)(std::string_view key);
void set_doc_lookup(DocLookup lookup);
// Fills the docs of a method table (owner "" for module functions) and of a
// class, its methods and its attributes; called before PyType_Ready.
void fill_method_docs(PyMethodDef* methods, std::string_view owner);
void fill_type_docs(PyTypeObject* type, const char* python_name);
// Stores one class attribute (a new reference, consumed) in the type's dict.
void add_class_attribute(PyTypeObject* type, const char* python_name, const char* name, PyObject* value);
void finish_class_attributes(PyTypeObject* type);

template <class T, class Fill, class Attributes>
PyTypeObject* create_once(LazyType& lazy, const char* python_name, const char* type_name, Fill&& fill,
                          Attributes&& attributes) {
    PyTypeObject* type = &lazy.type;
    if (lazy.state != LazyType::Blank) return type;
    Py_SET_REFCNT(reinterpret_cast<PyObject*>(type), 1);  // a static type is never freed
    type->tp_name = type_name;
    type->tp_basicsize = sizeof(Object<T>);
    type->tp_itemsize = 0;
    type->tp_dealloc = &dealloc<T>;
    type->tp_base = &PyBaseObject_Type;
    type->tp_flags = Py_TPFLAGS_DEFAULT;
    type->tp_doc = "";
    fill(*type);
    fill_type_docs(type, python_name);
    ready_type(type, python_name);
    lazy.state = LazyType::Filling;
    attributes(*type);
    finish_class_attributes(type);
    lazy.state = LazyType::Ready;
    return type;
}

template <class T, class Fill>
PyTypeObject* create_once(LazyType& lazy, const char* python_name, const char* type_name, Fill&& fill) {
    return create_once<T>(lazy, python_name, type_name, std::forward<Fill>(fill), [](PyTypeObject&) {});
}

// ---------------------------------------------------------------- module

// Adds `value` (a new reference, consumed) as module attribute `name` and
// appends the name to the module's __all__.
void add_to_module(PyObject* module, const char* name, PyObject* value);

}  // namespace tavik::py
