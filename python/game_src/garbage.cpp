// Ojama: how many a score sends, and dropping them on a field.
#include "python.hpp"
#include "game_module.hpp"

#include "game/garbage.hpp"

namespace tavik::py {

namespace {

PyObject* ojama_from_score(PyObject*, CallArgs args) {
    return entry([&] {
        Ref zero = Ref::steal(to_py(std::uint64_t{0})), rate = Ref::steal(to_py(OJAMA_RATE));
        PyObject* a[3] = {nullptr, zero.get(), rate.get()};
        parse_with_defaults(args, "ojama_from_score()", {"score", "carry", "target"}, a);
        // Bounded so score + carry never wraps.
        constexpr std::uint64_t LIMIT = std::uint64_t{1} << 62;
        const std::uint64_t score = int_argument(a[0], "ojama_from_score()", "score", 0, LIMIT);
        const std::uint64_t carry = int_argument(a[1], "ojama_from_score()", "carry", 0, LIMIT);
        const std::uint64_t target = int_argument(a[2], "ojama_from_score()", "target", 1, LIMIT);
        const auto [ojama, rest] = tavik::ojama_from_score(score, carry, target);
        Ref o = Ref::steal(to_py(ojama)), r = Ref::steal(to_py(rest));
        return PyTuple_Pack(2, o.get(), r.get());
    });
}

PyObject* drop_ojama(PyObject*, CallArgs args) {
    return entry([&] {
        auto [field_arg, count_arg, seed_arg] = parse(args, "drop_ojama()", "field", "count", "seed");
        BitField field = field_argument(field_arg, "drop_ojama()");
        const std::uint64_t count = int_argument(count_arg, "drop_ojama()", "count", 0, UINT64_MAX);
        const std::uint64_t seed = int_argument(seed_arg, "drop_ojama()", "seed", 0, UINT64_MAX);
        tavik::drop_ojama(field, count, seed);
        return new_object(tavik_field_type(), field);
    });
}

}  // namespace

void add_garbage(PyObject* module) {
    static PyMethodDef functions[] = {
        method<ojama_from_score>("ojama_from_score"),
        method<drop_ojama>("drop_ojama"),
        END_METHODS,
    };
    add_functions(module, functions);
}

}  // namespace tavik::py
