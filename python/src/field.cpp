// Field: the bit field, with the chain finder's searches on top of the
// methods it shares with ArrayField; a 56-byte pickle state (the planes).
#include "python.hpp"
#include "chain/chain_finder.hpp"
#include "field/bit_field.hpp"
#include "field_common.hpp"
#include "found_chain.hpp"
#include "state.hpp"

namespace tavik::py {

namespace {

struct BitFieldClass {
    using Core = BitField;
    static constexpr LocationPrefix prefix = "PyField";
    static PyTypeObject* type() { return field_type(); }
    static std::string encode(const BitField& f) { return state::encode_planes(f.planes_bytes()); }
    static BitField decode(std::string_view bytes) { return BitField::from_planes(state::decode_planes(bytes)); }
};

using Methods = FieldClass<BitFieldClass>;

// The searches read the field under a shared borrow and never change it.
PyObject* find_chain(PyObject* self, PyObject*) {
    return entry([&] {
        BorrowShared<BitField> field(self);
        return found_chain_list(ChainFinder::find_by_extend(field.get()));
    });
}

// Deep searches can run for minutes: Ctrl-C must reach them. The lock is held
// throughout, so the signal handlers can run here; when one raises (e.g.
// KeyboardInterrupt) its exception is already set.
bool signal_raised(void*) { return PyErr_CheckSignals() == -1; }

PyObject* find_chain_recursive(PyObject* self, CallArgs args) {
    return entry([&] {
        BorrowShared<BitField> field(self);
        auto [depth] = parse(args, "PyField.find_chain_recursive()", "depth");
        try {
            return found_chain_list(
                ChainFinder::find_by_extend_recursive(field.get(), to_u64(depth), StopCheck{signal_raised, nullptr}));
        } catch (const SearchStopped&) {
            throw PythonError{};
        }
    });
}

PyObject* find_chain_by_removal(PyObject* self, PyObject*) {
    return entry([&] {
        BorrowShared<BitField> field(self);
        return found_chain_list(ChainFinder::find_by_removal(field.get()));
    });
}

}  // namespace

PyTypeObject* field_type() {
    static LazyType lazy;
    return create_once<BitField>(lazy, "Field", "tavik.Field", [](PyTypeObject& t) {
        static auto table = Methods::methods(method_noargs("find_chain_by_removal", find_chain_by_removal),
                                             method_noargs("find_chain", find_chain),
                                             method<find_chain_recursive>("find_chain_recursive"));
        Methods::fill(t, table);
    });
}

}  // namespace tavik::py
