// Field-level functions: the legal hands of a field, placing every legal hand
// at once, the best find and a hashable key.
#include "python.hpp"
#include "game_module.hpp"

#include <algorithm>
#include <string>

#include "chain/chain_finder.hpp"
#include "game/rules.hpp"

namespace tavik::py {

namespace {

PyObject* hand_object(std::size_t index) { return new_object(tavik_hand_type(), Hand::enumerate()[index]); }

PyObject* legal_hands(PyObject*, CallArgs args) {
    return entry([&] {
        auto [field] = parse(args, "legal_hands()", "field");
        return legal_hands_list(rules::legal_mask(field_argument(field, "legal_hands()")));
    });
}

PyObject* legal_mask(PyObject*, CallArgs args) {
    return entry([&] {
        auto [field] = parse(args, "legal_mask()", "field");
        return to_py(std::uint64_t{rules::legal_mask(field_argument(field, "legal_mask()"))});
    });
}

PyObject* is_dead(PyObject*, CallArgs args) {
    return entry([&] {
        auto [field] = parse(args, "is_dead()", "field");
        return to_py(rules::is_dead(field_argument(field, "is_dead()")));
    });
}

// The hands to try, as indices into Hand::enumerate(): every hand for None.
std::vector<std::size_t> hand_indices(PyObject* hands) {
    std::vector<std::size_t> out;
    if (hands == Py_None) {
        for (std::size_t i = 0; i < Hand::COUNT; ++i) out.push_back(i);
        return out;
    }
    Ref seq = sized_items(hands, "expand(): hands must be a sequence of tavik.Hand or None");
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
    for (Py_ssize_t k = 0; k < n; ++k) {
        const Hand h = hand_argument(PySequence_Fast_GET_ITEM(seq.get(), k), "expand() hands");
        const int i = rules::hand_index(h);
        if (i >= 0) out.push_back(static_cast<std::size_t>(i));
    }
    return out;
}

PyObject* expand(PyObject*, CallArgs args) {
    return entry([&] {
        PyObject* a[] = {nullptr, nullptr, Py_None};
        parse_with_defaults(args, "expand()", {"field", "pair", "hands"}, a);
        PyObject* const field_arg = a[0];
        PyObject* const pair_arg = a[1];
        PyObject* const hands_arg = a[2];
        const BitField field = field_argument(field_arg, "expand()");
        if (!PyObject_TypeCheck(pair_arg, tavik_pair_type()))
            raise(PyExc_TypeError, std::string("expand(): expected tavik.Pair, got ") + Py_TYPE(pair_arg)->tp_name);
        const Pair pair = copy_of<Pair>(pair_arg, tavik_pair_type());
        const std::vector<std::size_t> indices = hand_indices(hands_arg);
        const std::uint32_t mask = rules::legal_mask(field);
        Ref list = Ref::steal(PyList_New(0));
        for (std::size_t i : indices) {
            if (!(mask >> i & 1)) continue;
            BitField placed = field;
            rules::place(placed, Hand::enumerate()[i], pair);
            ChainResult result = placed.chain();
            Ref h = Ref::steal(hand_object(i));
            Ref f = Ref::steal(new_object(tavik_field_type(), placed));
            Ref r = Ref::steal(new_object(tavik_chain_result_type(), std::move(result)));
            Ref t = Ref::steal(PyTuple_Pack(3, h.get(), f.get(), r.get()));
            if (PyList_Append(list.get(), t.get()) < 0) throw_python_error();
        }
        return list.release();
    });
}

PyObject* best_find(PyObject*, CallArgs args) {
    return entry([&] {
        auto [field_arg] = parse(args, "best_find()", "field");
        const BitField field = field_argument(field_arg, "best_find()");
        const BestFind best = ChainFinder::best_by_extend(field);
        Ref s = Ref::steal(to_py(best.score));
        Ref c = Ref::steal(to_py(best.chain));
        return PyTuple_Pack(2, s.get(), c.get());
    });
}

PyObject* field_key(PyObject*, CallArgs args) {
    return entry([&] {
        auto [field_arg] = parse(args, "field_key()", "field");
        const auto planes = field_argument(field_arg, "field_key()").planes_bytes();
        std::string bytes;
        for (const auto& p : planes) bytes.append(reinterpret_cast<const char*>(p.data()), p.size());
        return to_py_bytes(bytes);
    });
}

}  // namespace

PyObject* legal_hands_list(std::uint32_t mask) {
    Ref list = Ref::steal(PyList_New(0));
    for (std::size_t i = 0; i < Hand::COUNT; ++i) {
        if (!(mask >> i & 1)) continue;
        Ref h = Ref::steal(hand_object(i));
        if (PyList_Append(list.get(), h.get()) < 0) throw_python_error();
    }
    return list.release();
}

void add_rules(PyObject* module) {
    static PyMethodDef functions[] = {
        method<legal_hands>("legal_hands"),
        method<legal_mask>("legal_mask"),
        method<is_dead>("is_dead"),
        method<expand>("expand"),
        method<best_find>("best_find"),
        method<field_key>("field_key"),
        END_METHODS,
    };
    add_functions(module, functions);
}

}  // namespace tavik::py
