// _VersusVector: the native half of VersusVectorEnv. It holds the matches and
// the arrays the environment owns (their buffers stay acquired for its
// lifetime), and steps with the interpreter lock released.
#include "buffer.hpp"
#include "game_module.hpp"
#include "game/observation.hpp"
#include "game/versus_vector.hpp"

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace tavik::py {

namespace {

struct VersusVectorCore {
    std::unique_ptr<VersusVectorGame> games;
    std::vector<ArrayBuffer> buffers;
    VersusStepOutput out{};
};

constexpr std::size_t OUTPUTS = 11;
constexpr std::array<const char*, OUTPUTS> OUTPUT_NAMES = {
    "field", "pairs", "mask", "ojama", "frames", "target", "due", "reward", "terminated", "truncated", "illegal"};
constexpr std::array<Element, OUTPUTS> ELEMENTS = {Element::U8,   Element::U8,   Element::I8,   Element::I32,
                                                   Element::I32,  Element::I32,  Element::BOOL, Element::F64,
                                                   Element::BOOL, Element::BOOL, Element::BOOL};

std::uint64_t bounded(PyObject* o, const char* name, std::uint64_t low, std::uint64_t high) {
    return int_argument(o, "_VersusVector()", name, low, high);
}

std::vector<std::uint64_t> seeds_of(PyObject* o, std::size_t n, const char* what) {
    Ref seq = sized_items(o, "seeds must be a sequence of ints");  // a private copy of the items
    if (static_cast<std::size_t>(PySequence_Fast_GET_SIZE(seq.get())) != n)
        raise(PyExc_ValueError, std::string(what) + " needs " + std::to_string(n) + " seeds");
    std::vector<std::uint64_t> seeds(n);
    for (std::size_t i = 0; i < n; ++i)
        seeds[i] =
            int_argument(PySequence_Fast_GET_ITEM(seq.get(), static_cast<Py_ssize_t>(i)), what, "seed", 0, UINT64_MAX);
    return seeds;
}

Opponent opponent_of(PyObject* o) {
    if (!PyUnicode_Check(o)) raise(PyExc_TypeError, "_VersusVector(): opponent must be a str");
    const std::string_view name = str_view(o);
    if (name == "self") return Opponent::SELF;
    if (name == "random") return Opponent::RANDOM;
    if (name == "greedy") return Opponent::GREEDY;
    if (name == "beam") return Opponent::BEAM;
    raise(PyExc_ValueError, "_VersusVector(): opponent must be self, random, greedy or beam");
}

PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return entry([&] {
        auto [n_arg, colours_arg, visible_arg, rules_arg, opponent_arg, width_arg, max_frames_arg, threads_arg,
              autoreset_arg, entropy_arg, field_arg, pairs_arg, mask_arg, ojama_arg, frames_arg, target_arg, due_arg,
              reward_arg, terminated_arg, truncated_arg, illegal_arg] =
            parse(CallArgs::from_tuple(args, kwargs), "_VersusVector()", "num_matches", "colours", "visible", "rules",
                  "opponent", "beam_width", "max_frames", "threads", "autoreset", "entropy", "field", "pairs", "mask",
                  "ojama", "frames", "target", "due", "reward", "terminated", "truncated", "illegal");
        const std::size_t n = bounded(n_arg, "num_matches", 1, 1 << 20);
        VersusVectorConfig config;
        config.colours = static_cast<unsigned>(bounded(colours_arg, "colours", 3, 4));
        config.visible = static_cast<unsigned>(bounded(visible_arg, "visible", 1, 16));
        if (!PyObject_TypeCheck(rules_arg, versus_rules_type()))
            raise(PyExc_TypeError, "_VersusVector(): rules must be a VersusRules");
        config.rules = copy_of<VersusRules>(rules_arg, versus_rules_type());
        config.opponent = opponent_of(opponent_arg);
        config.beam_width = static_cast<unsigned>(bounded(width_arg, "beam_width", 1, 100000));
        config.max_frames = bounded(max_frames_arg, "max_frames", 0, UINT64_MAX);
        const std::size_t threads = bounded(threads_arg, "threads", 1, 256);
        config.autoreset = truth_argument(autoreset_arg);
        const std::vector<std::uint64_t> entropy = seeds_of(entropy_arg, n, "_VersusVector()");

        const auto rows = static_cast<Py_ssize_t>(n);
        const Py_ssize_t seats = config.opponent == Opponent::SELF ? 2 : 1;
        const auto c = static_cast<Py_ssize_t>(config.colours);
        const std::vector<std::vector<Py_ssize_t>> shapes = {
            {rows, seats, 2, c + 1, observation::ROWS, observation::COLUMNS},
            {rows, seats, static_cast<Py_ssize_t>(config.visible), 2, c},
            {rows, seats, static_cast<Py_ssize_t>(VersusVectorGame::ACTIONS)},
            {rows, seats, static_cast<Py_ssize_t>(VersusVectorGame::OJAMA_VALUES)},
            {rows, seats, 2},
            {rows},
            {rows, seats},
            {rows, seats},
            {rows},
            {rows},
            {rows, seats},
        };
        PyObject* const arrays[OUTPUTS] = {field_arg, pairs_arg,  mask_arg,       ojama_arg,     frames_arg, target_arg,
                                           due_arg,   reward_arg, terminated_arg, truncated_arg, illegal_arg};
        VersusVectorCore core;
        for (std::size_t k = 0; k < OUTPUTS; ++k)
            core.buffers.emplace_back(arrays[k], OUTPUT_NAMES[k], ELEMENTS[k], shapes[k], true);
        auto at = [&](std::size_t k) { return core.buffers[k].data<void>(); };
        core.out = VersusStepOutput{
            static_cast<std::uint8_t*>(at(0)), static_cast<std::uint8_t*>(at(1)), static_cast<std::int8_t*>(at(2)),
            static_cast<std::int32_t*>(at(3)), static_cast<std::int32_t*>(at(4)), static_cast<std::int32_t*>(at(5)),
            static_cast<bool*>(at(6)),         static_cast<double*>(at(7)),       static_cast<bool*>(at(8)),
            static_cast<bool*>(at(9)),         static_cast<bool*>(at(10))};
        core.games = std::make_unique<VersusVectorGame>(n, config, threads, entropy);
        return new_object(type, std::move(core));
    });
}

PyObject* reset(PyObject* self, CallArgs args) {
    return entry([&] {
        auto [seeds_arg] = parse(args, "_VersusVector.reset()", "seeds");
        std::optional<std::vector<std::uint64_t>> seeds;
        if (seeds_arg != Py_None) {
            const std::size_t n = BorrowShared<VersusVectorCore>(self)->games->size();
            seeds = seeds_of(seeds_arg, n, "reset()");
        }
        BorrowExclusive<VersusVectorCore> core(self);
        if (seeds)
            core->games->reset(std::span<const std::uint64_t>(*seeds), core->out);
        else
            core->games->reset(std::nullopt, core->out);
        return py_none();
    });
}

PyObject* step(PyObject* self, CallArgs args) {
    return entry([&] {
        auto [actions_arg] = parse(args, "_VersusVector.step()", "actions");
        BorrowExclusive<VersusVectorCore> core(self);
        VersusVectorGame& games = *core->games;
        // A copy: another thread may write the caller's array while we step
        // without the lock. The borrow above refuses a second call on this object.
        std::vector<std::int64_t> actions;
        {
            ArrayBuffer buffer(actions_arg, "step(): actions", Element::I64,
                               {static_cast<Py_ssize_t>(games.size()), static_cast<Py_ssize_t>(games.seats())}, false);
            const std::int64_t* first = buffer.data<std::int64_t>();
            actions.assign(first, first + games.size() * games.seats());
        }
        if (std::optional<std::string> refused = games.check(actions)) raise(PyExc_ValueError, "step(): " + *refused);
        Py_BEGIN_ALLOW_THREADS games.step(actions, core->out);
        Py_END_ALLOW_THREADS return py_none();
    });
}

PyObject* match(PyObject* self, CallArgs args) {
    return entry([&] {
        auto [i_arg] = parse(args, "_VersusVector.match()", "i");
        BorrowShared<VersusVectorCore> core(self);
        const std::uint64_t i = int_argument(i_arg, "_VersusVector.match()", "i", 0, core->games->size() - 1);
        return new_match(core->games->match(i));
    });
}

PyObject* decisions(PyObject* self, PyObject*) {
    return entry([&] { return to_py(BorrowShared<VersusVectorCore>(self)->games->decisions()); });
}

PyTypeObject* versus_vector_type() {
    static LazyType lazy;
    return create_once<VersusVectorCore>(lazy, "_VersusVector", "tavik_game._native._VersusVector",
                                         [](PyTypeObject& t) {
                                             static PyMethodDef methods[] = {method<reset>("reset"),
                                                                             method<step>("step"),
                                                                             method<match>("match"),
                                                                             {"decisions", decisions, METH_NOARGS, ""},
                                                                             END_METHODS};
                                             t.tp_new = construct;
                                             t.tp_methods = methods;
                                         });
}

}  // namespace

void add_versus_env(PyObject* module) {
    add_to_module(module, "_VersusVector", Py_NewRef(reinterpret_cast<PyObject*>(versus_vector_type())));
}

}  // namespace tavik::py
