#pragma once
// The methods that Field and ArrayField share, written once over the core
// field type. A class file supplies a traits type:
//
//   struct Traits {
//       using Core = BitField;                        // the wrapped field
//       static constexpr LocationPrefix prefix = "PyField";
//       static PyTypeObject* type();                  // the class itself
//       static std::string encode(const Core&);       // pickle state bytes
//       static Core decode(std::string_view);         // panics on bad bytes
//   };
//
// and builds its method table with `field_methods<Traits>(extra...)`.
// Python columns and rows are grid ones minus one; the shift wraps modulo 2^64.
#include "python.hpp"
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "classes.hpp"
#include "frame.hpp"
#include "hand.hpp"
#include "pair.hpp"
#include "puyotype.hpp"
#include "rotation.hpp"

namespace tavik::py {

// A string literal usable as a template argument, for location names built at
// compile time ("PyField" + "." + "get()").
template <std::size_t N>
struct LocationPrefix {
    char text[N]{};
    constexpr LocationPrefix(const char (&s)[N]) {
        for (std::size_t i = 0; i < N; ++i) text[i] = s[i];
    }
    static constexpr std::size_t length = N - 1;
};

template <LocationPrefix Prefix, LocationPrefix Operation>
inline constexpr auto location_name = [] {
    std::array<char, Prefix.length + 1 + Operation.length + 1> out{};
    std::size_t n = 0;
    for (std::size_t i = 0; i < Prefix.length; ++i) out[n++] = Prefix.text[i];
    out[n++] = '.';
    for (std::size_t i = 0; i < Operation.length; ++i) out[n++] = Operation.text[i];
    return out;
}();

// Capped: a sequence may claim any length.
inline std::size_t size_hint(PyObject* sequence) {
    const Py_ssize_t n = PySequence_Size(sequence);
    if (n < 0) PyErr_Clear();
    return n < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(n), 64);
}

// The items of a sequence argument, taken by iteration into `out`; its length
// is asked only as a size hint. A non-sequence is a TypeError without message.
template <class Out, class Convert>
void collect_items(PyObject* sequence, Out& out, Convert&& convert) {
    if (!PySequence_Check(sequence)) raise_bare(PyExc_TypeError);
    out.reserve(size_hint(sequence));
    Ref iterator = Ref::steal(PyObject_GetIter(sequence));
    while (PyObject* next = PyIter_Next(iterator.get())) {
        const Ref item = Ref::steal(next);
        out.push_back(convert(item.get()));
    }
    if (PyErr_Occurred()) throw_python_error();
}

inline std::vector<std::string> rows_argument(PyObject* s) {
    std::vector<std::string> rows;
    // Copied: the UTF-8 view lives in the item.
    collect_items(s, rows, [](PyObject* item) { return std::string(str_view(item)); });
    return rows;
}

inline std::vector<std::vector<std::uint64_t>> columns_argument(PyObject* s) {
    std::vector<std::vector<std::uint64_t>> columns;
    collect_items(s, columns, [](PyObject* item) {
        std::vector<std::uint64_t> column;
        collect_items(item, column, to_u64);
        return column;
    });
    return columns;
}

inline PuyoType puyotype_argument(PyObject* o) { return unwrap(PuyoType::from_number(to_u64(o))); }

inline PyObject* type_number(PuyoType t) { return to_py(std::uint64_t{t.number()}); }

template <class Traits>
struct FieldClass {
    using F = typename Traits::Core;

    template <LocationPrefix Operation>
    static constexpr const char* at() {
        return location_name<Traits::prefix, Operation>.data();
    }

    static PyObject* self_ref(PyObject* self) { return Py_NewRef(self); }

    static PyObject* construct(PyTypeObject* type, PyObject*, PyObject*) {
        return entry([&] { return new_object(type, F{}); });
    }

    static PyObject* from_str_array(PyObject* cls, CallArgs args) {
        return entry([&] {
            auto [s] = parse(args, at<"from_str_array()">(), "s");
            const std::vector<std::string> rows = rows_argument(s);
            return new_object(reinterpret_cast<PyTypeObject*>(cls), unwrap(F::from_str_array(rows)));
        });
    }

    static PyObject* from_array(PyObject* cls, CallArgs args) {
        return entry([&] {
            auto [s] = parse(args, at<"from_array()">(), "s");
            auto built = F::from_array(columns_argument(s));
            if (built.is_err() && built.error().is_size_error()) raise(PyExc_RuntimeError, built.error().display());
            return new_object(reinterpret_cast<PyTypeObject*>(cls), unwrap(std::move(built)));
        });
    }

    static PyObject* clone(PyObject* self, PyObject*) {
        return entry([&] { return new_object(Traits::type(), BorrowShared<F>(self).get()); });
    }

    static PyObject* get(PyObject* self, CallArgs args) {
        return entry([&] {
            BorrowExclusive<F> field(self);
            auto [x, y] = parse(args, at<"get()">(), "x", "y");
            const std::uint64_t gx = to_u64(x) + 1;
            const std::uint64_t gy = to_u64(y) + 1;
            return type_number(field->get(gx, gy));
        });
    }

    static PyObject* set(PyObject* self, CallArgs args) {
        return entry([&] {
            BorrowExclusive<F> field(self);
            auto [x, y, value] = parse(args, at<"set()">(), "x", "y", "value");
            const std::uint64_t gx = to_u64(x) + 1;
            const std::uint64_t gy = to_u64(y) + 1;
            const PuyoType t = puyotype_argument(value);
            field->set(gx, gy, t);
            return self_ref(self);
        });
    }

    static PyObject* put(PyObject* self, CallArgs args) {
        return entry([&] {
            BorrowExclusive<F> field(self);
            auto [x, value] = parse(args, at<"put()">(), "x", "value");
            const std::uint64_t gx = to_u64(x) + 1;
            const PuyoType t = puyotype_argument(value);
            field->put(gx, t);
            return self_ref(self);
        });
    }

    static PyObject* to_array(PyObject* self, PyObject*) {
        return entry([&] {
            const FieldArray cells = BorrowShared<F>(self)->to_array();
            return to_list(cells, [](const auto& column) { return to_list(column, type_number); });
        });
    }

    static PyObject* get_height(PyObject* self, CallArgs args) {
        return entry([&] {
            BorrowShared<F> field(self);
            auto [x] = parse(args, at<"get_height()">(), "x");
            return to_py(field->get_height(to_u64(x) + 1));
        });
    }

    static PyObject* get_num_puyos(PyObject* self, PyObject*) {
        return entry([&] { return to_py(BorrowShared<F>(self)->get_num_puyos()); });
    }

    static PyObject* is_all_clear(PyObject* self, PyObject*) {
        return entry([&] { return to_py(BorrowShared<F>(self)->is_all_clear()); });
    }

    static PyObject* has_type(PyObject* self, CallArgs args) {
        return entry([&] {
            BorrowShared<F> field(self);
            auto [puyotype] = parse(args, at<"has_type()">(), "puyotype");
            return to_py(field->has_type(puyotype_argument(puyotype)));
        });
    }

    static PyObject* placed(PyObject* self, Result<void, FieldError> result) {
        if (result.is_err()) raise(PyExc_RuntimeError, result.error().display());
        return self_ref(self);
    }

    static PyObject* put_pair(PyObject* self, CallArgs args) {
        return entry([&] {
            BorrowExclusive<F> field(self);
            auto [x, rotation, pair] = parse(args, at<"put_pair()">(), "x", "rotation", "pair");
            const std::uint64_t gx = to_u64(x) + 1;
            const std::string text(str_view(rotation));
            const Pair p = copy_of<Pair>(pair, pair_type());
            const Rotation r = unwrap(Rotation::from_str(text));
            return placed(self, field->put_pair(gx, r, p));
        });
    }

    static PyObject* put_hand(PyObject* self, CallArgs args) {
        return entry([&] {
            BorrowExclusive<F> field(self);
            auto [hand, pair] = parse(args, at<"put_hand()">(), "hand", "pair");
            const Hand h = copy_of<Hand>(hand, hand_type());
            const Pair p = copy_of<Pair>(pair, pair_type());
            return placed(self, field->put_hand(h, p));
        });
    }

    static PyObject* step_chain(PyObject* self, CallArgs args) {
        return entry([&] {
            BorrowExclusive<F> field(self);
            auto [num_chain] = parse(args, at<"step_chain()">(), "num_chain");
            const std::uint64_t n = to_u64(num_chain);
            return new_object(chain_step_result_type(), field->step_chain(n));
        });
    }

    static PyObject* chain(PyObject* self, PyObject*) {
        return entry([&] { return new_object(chain_result_type(), BorrowExclusive<F>(self)->chain()); });
    }

    static PyObject* equals_without_fuzzy(PyObject* self, CallArgs args) {
        return entry([&] {
            BorrowShared<F> field(self);
            auto [other] = parse(args, at<"equals_without_fuzzy()">(), "other");
            if (!PyObject_TypeCheck(other, Traits::type())) raise_bare(PyExc_TypeError);
            BorrowShared<F> theirs(other);
            return to_py(field->equals_without_fuzzy(theirs.get()));
        });
    }

    static PyObject* get_pretty_string(PyObject* self, PyObject*) {
        return entry([&] { return to_py_str(BorrowShared<F>(self)->get_pretty_string()); });
    }

    static PyObject* get_html_string(PyObject* self, PyObject*) {
        return entry([&] { return to_py_str(BorrowShared<F>(self)->get_html_string()); });
    }

    static PyObject* getstate(PyObject* self, CallArgs args) {
        return entry([&] {
            BorrowShared<F> field(self);
            parse(args, at<"__getstate__()">());
            return to_py_bytes(Traits::encode(field.get()));
        });
    }

    static PyObject* setstate(PyObject* self, CallArgs args) {
        return entry([&] {
            BorrowExclusive<F> field(self);
            auto [state] = parse(args, at<"__setstate__()">(), "state");
            *field = Traits::decode(bytes_view(state));  // replaced only once fully decoded
            return py_none();
        });
    }

    static constexpr std::size_t COMMON_METHODS = 20;

    // The shared methods, then `extra` (a class's own), then the end marker.
    template <class... Extra>
    static std::array<PyMethodDef, COMMON_METHODS + sizeof...(Extra) + 1> methods(Extra... extra) {
        return {
            method<from_str_array>("from_str_array", METH_CLASS),
            method<from_array>("from_array", METH_CLASS),
            method_noargs("clone", clone),
            method<get>("get"),
            method<set>("set"),
            method<put>("put"),
            method_noargs("to_array", to_array),
            method<get_height>("get_height"),
            method_noargs("get_num_puyos", get_num_puyos),
            method_noargs("is_all_clear", is_all_clear),
            method<has_type>("has_type"),
            method<put_pair>("put_pair"),
            method<put_hand>("put_hand"),
            method<step_chain>("step_chain"),
            method_noargs("chain", chain),
            method<equals_without_fuzzy>("equals_without_fuzzy"),
            method_noargs("get_pretty_string", get_pretty_string),
            method_noargs("get_html_string", get_html_string),
            method<getstate>("__getstate__"),
            method<setstate>("__setstate__"),
            extra...,
            END_METHODS,
        };
    }

    // Slots and methods of the class; `table` must outlive the type.
    template <std::size_t N>
    static void fill(PyTypeObject& t, std::array<PyMethodDef, N>& table) {
        t.tp_new = construct;
        t.tp_richcompare = compare_by_value<F>;
        t.tp_methods = table.data();
    }
};

}  // namespace tavik::py
