// Bindings of the array writers: fields (or games) in, bytes written into
// arrays the Python side allocated.
#include "buffer.hpp"
#include "game_module.hpp"
#include "game/observation.hpp"

#include <algorithm>
#include <array>
#include <vector>

namespace tavik::py {

namespace {

void check_item(PyObject* o, const char* what) {
    if (!PyObject_TypeCheck(o, tavik_field_type()) && !PyObject_TypeCheck(o, game_type()))
        raise(PyExc_TypeError, std::string(what) + " takes tavik.Field or Game items, got " + Py_TYPE(o)->tp_name);
}

// The field of a tavik.Field or of a Game, copied while borrowed.
BitField field_of(PyObject* o, const char* what) {
    check_item(o, what);
    if (PyObject_TypeCheck(o, tavik_field_type())) return copy_of<BitField>(o, tavik_field_type());
    BorrowShared<Game> game(o);
    return game->field();
}

unsigned colours_of(PyObject* o, const char* what) {
    const std::uint64_t c = to_u64(o);
    if (c != 3 && c != 4)
        raise(PyExc_ValueError, std::string(what) + ": colours must be 3 or 4, got " + std::to_string(c));
    return static_cast<unsigned>(c);
}

// A new uint8 array of `shape`. The last shape asked for is kept: a caller
// observes the same number of fields call after call, and building the tuple
// costs a tenth of a one-field call.
PyObject* new_u8_array(std::initializer_list<Py_ssize_t> shape) {
    static std::array<Py_ssize_t, 4> last_shape{};
    static PyObject* last_dims = nullptr;  // never released: the process may outlive the interpreter
    if (!last_dims || !std::equal(shape.begin(), shape.end(), last_shape.begin(), last_shape.end())) {
        PyObject* dims = shape_tuple(std::span<const Py_ssize_t>(shape.begin(), shape.size()));
        std::copy(shape.begin(), shape.end(), last_shape.begin());
        Py_XSETREF(last_dims, dims);
    }
    return new_array(last_dims, Element::U8);
}

// Below this many fields the writes take less time than handing the lock over.
constexpr std::size_t RELEASE_FROM = 16;

// The rows an array argument holds (its first dimension), 0 for a scalar.
Py_ssize_t rows_of(PyObject* array) {
    Py_buffer view;
    if (PyObject_GetBuffer(array, &view, PyBUF_FORMAT | PyBUF_STRIDES) != 0) {
        PyErr_Clear();
        return 0;  // ArrayBuffer says what is wrong with it
    }
    const Py_ssize_t n = view.ndim > 0 ? view.shape[0] : 0;
    PyBuffer_Release(&view);
    return n;
}

// observe() of an (n, 14, 6) uint8 array of type numbers, as a dataset's field
// column reads: no field object per row, so a batch costs what the writes cost.
PyObject* observe_types(PyObject* types_arg, unsigned colours, PyObject* out_arg) {
    const Py_ssize_t n = rows_of(types_arg);
    ArrayBuffer types(types_arg, "observe(): fields", Element::U8,
                      {n, static_cast<Py_ssize_t>(observation::ALL_ROWS), observation::COLUMNS}, false);
    const std::initializer_list<Py_ssize_t> shape = {n, static_cast<Py_ssize_t>(colours + 1), observation::ROWS,
                                                     observation::COLUMNS};
    Ref result = out_arg == Py_None ? Ref::steal(new_u8_array(shape)) : Ref::borrow(out_arg);
    ArrayBuffer out(result.get(), "observe(): out", Element::U8, shape, true);
    const std::uint8_t* in = types.data<std::uint8_t>();
    std::uint8_t* bytes = out.data<std::uint8_t>();
    const std::size_t rows = static_cast<std::size_t>(n);
    const std::size_t cells = observation::ALL_ROWS * observation::COLUMNS;
    const std::size_t stride = observation::field_bytes(colours);
    // Every row is checked before the first byte is written: a refused call leaves `out` as it was.
    std::size_t bad = rows;
    auto work = [&] {
        for (std::size_t i = 0; i < rows && bad == rows; ++i)
            if (!observation::valid_types(in + i * cells)) bad = i;
        if (bad != rows) return;
        for (std::size_t i = 0; i < rows; ++i)
            observation::write_field_from_types(in + i * cells, colours, bytes + i * stride);
    };
    if (rows < RELEASE_FROM) {
        work();
    } else {
        WithoutLock unlocked;
        work();
    }
    if (bad != rows) {
        raise(PyExc_ValueError,
              "observe(): fields[" + std::to_string(bad) + "] holds a byte that is not a type number 0 to 7");
    }
    return result.release();
}

PyObject* observe_into(PyObject*, CallArgs args) {
    return entry([&] {
        static PyObject* const four = PyLong_FromLong(4);  // a small int: cached, never fails
        PyObject* a[] = {nullptr, four, Py_None};          // fields, colours, out
        parse_with_defaults(args, "observe()", {"fields", "colours", "out"}, a);
        PyObject* const fields_arg = a[0];
        PyObject* const out_arg = a[2];
        const unsigned colours = colours_of(a[1], "observe()");
        if (PyObject_CheckBuffer(fields_arg)) return observe_types(fields_arg, colours, out_arg);
        Ref seq = sized_items(fields_arg, "observe() takes a list of tavik.Field or Game");
        const Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
        PyObject** items = PySequence_Fast_ITEMS(seq.get());
        const std::initializer_list<Py_ssize_t> shape = {n, static_cast<Py_ssize_t>(colours + 1), observation::ROWS,
                                                         observation::COLUMNS};
        Ref result = out_arg == Py_None ? Ref::steal(new_u8_array(shape)) : Ref::borrow(out_arg);
        ArrayBuffer out(result.get(), "observe(): out", Element::U8, shape, true);
        std::uint8_t* bytes = out.data<std::uint8_t>();
        const std::size_t stride = observation::field_bytes(colours);
        if (static_cast<std::size_t>(n) < RELEASE_FROM) {
            // Every item is checked before the first byte is written.
            for (Py_ssize_t i = 0; i < n; ++i) check_item(items[i], "observe()");
            for (Py_ssize_t i = 0; i < n; ++i)
                observation::write_field(field_of(items[i], "observe()"), colours, bytes + i * stride);
            return result.release();
        }
        std::vector<BitField> fields;
        fields.reserve(static_cast<std::size_t>(n));
        for (Py_ssize_t i = 0; i < n; ++i) fields.push_back(field_of(items[i], "observe()"));
        {
            WithoutLock unlocked;
            for (std::size_t i = 0; i < fields.size(); ++i)
                observation::write_field(fields[i], colours, bytes + i * stride);
        }
        return result.release();
    });
}

PyObject* write_types(PyObject*, CallArgs args) {
    return entry([&] {
        auto [field_arg, out_arg] = parse(args, "to_numpy()", "field", "out");
        if (!PyObject_TypeCheck(field_arg, tavik_field_type())) {
            raise(PyExc_TypeError, std::string("to_numpy() takes a tavik.Field, got ") + Py_TYPE(field_arg)->tp_name);
        }
        const BitField field = copy_of<BitField>(field_arg, tavik_field_type());
        ArrayBuffer out(out_arg, "to_numpy(): out", Element::U8, {observation::ALL_ROWS, observation::COLUMNS}, true);
        observation::write_types(field, out.data<std::uint8_t>());
        return py_none();
    });
}

PyObject* field_from_types(PyObject*, CallArgs args) {
    return entry([&] {
        auto [array_arg] = parse(args, "from_numpy()", "array");
        ArrayBuffer in(array_arg, "from_numpy(): array", Element::U8, {observation::ALL_ROWS, observation::COLUMNS},
                       false);
        const std::uint8_t* types = in.data<std::uint8_t>();
        BitField field;
        for (std::uint64_t y = 0; y < observation::ALL_ROWS; ++y) {
            for (std::uint64_t x = 0; x < observation::COLUMNS; ++x) {
                const std::uint8_t t = types[y * observation::COLUMNS + x];
                if (t > PuyoType::GREEN) {
                    raise(PyExc_ValueError, "from_numpy(): cell (x=" + std::to_string(x) + ", y=" + std::to_string(y) +
                                                ") holds " + std::to_string(t) + ", not a type number 0 to 7");
                }
                field.set(x + 1, y + 1, PuyoType::from_number_unchecked(t));
            }
        }
        return new_tavik_field(field);
    });
}

}  // namespace

void add_numpy_obs(PyObject* module) {
    static PyMethodDef functions[] = {
        method<observe_into>("observe"),
        method<write_types>("_write_types"),
        method<field_from_types>("_field_from_types"),
        END_METHODS,
    };
    add_functions(module, functions);
}

}  // namespace tavik::py
