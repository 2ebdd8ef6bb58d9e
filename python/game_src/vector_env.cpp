// _VectorGame: the binding of VectorGame for the Gymnasium environments. It
// converts the configuration and the actions, steps with the interpreter lock
// released, and hands out the arrays of StepArrays (step_arrays.hpp).
#include "buffer.hpp"
#include "game_module.hpp"
#include "game/vector_game.hpp"
#include "step_arrays.hpp"

#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace tavik::py {

namespace {

constexpr std::uint64_t MAX_ENVS = 1 << 20;
constexpr std::uint64_t MAX_THREADS = 256;

struct VectorEnvCore {
    std::unique_ptr<VectorGame> games;
    std::unique_ptr<StepArrays> arrays;
    StepOutput own;  // where the environment's own set lies
};

// Where a step writes into `set`.
StepOutput outputs_in(const StepArrays& arrays, const StepArrays::Set& set) {
    StepOutput out;
    for (std::size_t k = 0; k < out.data.size(); ++k) out.data[k] = arrays.data(set, k);
    return out;
}

// Seeds from a sequence of ints (any size that fits 64 bits).
std::vector<std::uint64_t> seeds_of(PyObject* o, std::size_t n, const char* what) {
    Ref seq = sized_items(o, "seeds must be a sequence of ints");
    if (static_cast<std::size_t>(PyTuple_GET_SIZE(seq.get())) != n) {
        raise(PyExc_ValueError, std::string(what) + " needs " + std::to_string(n) + " seeds");
    }
    std::vector<std::uint64_t> seeds(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::optional<std::uint64_t> v = try_u64(PyTuple_GET_ITEM(seq.get(), static_cast<Py_ssize_t>(i)));
        if (!v) {
            PyErr_Clear();
            raise(PyExc_ValueError, std::string(what) + ": seeds must be ints from 0 to 2**64 - 1");
        }
        seeds[i] = *v;
    }
    return seeds;
}

// _VectorGame(num_envs, *, colours=4, visible=3, max_pairs=0, threads=1,
// autoreset=True, entropy=0). num_envs is checked before anything is made.
PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return entry([&] {
        PyObject* a[] = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
        Ref defaults[] = {Ref::steal(PyLong_FromLong(4)), Ref::steal(PyLong_FromLong(3)),
                          Ref::steal(PyLong_FromLong(0)), Ref::steal(PyLong_FromLong(1)),
                          Ref::steal(PyLong_FromLong(0))};
        a[1] = defaults[0].get();
        a[2] = defaults[1].get();
        a[3] = defaults[2].get();
        a[4] = defaults[3].get();
        a[5] = Py_True;
        a[6] = defaults[4].get();
        const char* const where = "_VectorGame()";
        parse_with_defaults(CallArgs::from_tuple(args, kwargs), where,
                            {"num_envs", "colours", "visible", "max_pairs", "threads", "autoreset", "entropy"}, a);
        VectorGameConfig config;
        config.games = int_argument(a[0], where, "num_envs", 1, MAX_ENVS);
        config.colours = static_cast<unsigned>(int_argument(a[1], where, "colours", 3, 4));
        config.visible = static_cast<unsigned>(int_argument(a[2], where, "visible", 1, Game::MAX_VISIBLE));
        config.max_pairs = int_argument(a[3], where, "max_pairs", 0, UINT64_MAX);
        config.threads = int_argument(a[4], where, "threads", 1, MAX_THREADS);
        config.autoreset = truth_argument(a[5]);
        config.entropy = int_argument(a[6], where, "entropy", 0, UINT64_MAX);

        VectorEnvCore core;
        core.arrays = std::make_unique<StepArrays>(tokopuyo_step::TABLE, config.sizes());
        core.own = outputs_in(*core.arrays, core.arrays->own());
        core.games = std::make_unique<VectorGame>(config);
        return new_object(type, std::move(core));
    });
}

// reset(seeds, fresh) -> (obs, info): with `fresh`, arrays the caller may
// keep; without, the environment's own.
PyObject* reset(PyObject* self, CallArgs args) {
    return entry([&] {
        BorrowExclusive<VectorEnvCore> core(self);
        auto [seeds_arg, fresh_arg] = parse(args, "_VectorGame.reset()", "seeds", "fresh");
        std::optional<std::vector<std::uint64_t>> seeds;
        if (seeds_arg != Py_None) seeds = seeds_of(seeds_arg, core->games->size(), "reset()");
        const bool fresh = truth_argument(fresh_arg);
        StepArrays& arrays = *core->arrays;
        StepArrays::Set spare;
        StepArrays::Set* set = &arrays.own();
        if (fresh) {
            set = arrays.reusable();
            if (!set) set = &(spare = arrays.new_set());
            arrays.make_arrays(*set);
        }
        if (seeds) {
            core->games->reset(std::span<const std::uint64_t>(*seeds), outputs_in(arrays, *set));
        } else {
            core->games->reset(std::nullopt, outputs_in(arrays, *set));
        }
        arrays.write_flags(*set, nullptr);
        return arrays.reset_result(*set);
    });
}

// The actions as the step reads them: a copy, since another thread may write
// the caller's array while we step without the lock (the borrow refuses a
// second call on this object).
std::vector<std::int64_t> actions_of(PyObject* o, std::size_t n) {
    ArrayBuffer buffer(o, "step(): actions", Element::I64, {static_cast<Py_ssize_t>(n)}, false);
    const std::int64_t* first = buffer.data<std::int64_t>();
    return {first, first + n};
}

// step(actions, fresh) -> (obs, reward, terminated, truncated, info),
// Gymnasium's vector step. With `fresh`, the outputs are arrays the caller may
// keep (written by the worker threads: a copy afterwards would be the largest
// serial part of a step); without, the environment's own arrays. info's
// flags of illegal and chain mark the games this step played rather than
// reset, and both are left out when it reset them all.
PyObject* step(PyObject* self, CallArgs args) {
    return entry([&] {
        BorrowExclusive<VectorEnvCore> core(self);
        auto [actions_arg, fresh_arg] = parse(args, "_VectorGame.step()", "actions", "fresh");
        VectorGame& games = *core->games;
        const std::vector<std::int64_t> actions = actions_of(actions_arg, games.size());
        if (const std::optional<Refusal> refused = games.check(actions))
            raise(PyExc_ValueError, "step(): " + refused->display(true));
        const bool fresh = truth_argument(fresh_arg);
        StepArrays& arrays = *core->arrays;
        // The played flags first: the step changes them.
        std::unique_ptr<bool[]> played(new bool[games.size()]);
        const bool any_played = games.playing(played.get());

        if (!fresh) {
            StepArrays::Set& set = arrays.own();
            arrays.write_flags(set, played.get());
            Ref result = Ref::steal(arrays.step_result(set, any_played));
            {
                WithoutLock unlocked;
                games.step(actions, core->own);
            }
            return result.release();
        }

        // The arrays (and the result around them) are made, or checked for
        // reuse, while the pool's other threads already step their games: it
        // is the largest serial part of a step. This thread lets the
        // interpreter go once the result is made. Failing to make it (out of
        // memory) happens after the step was played.
        StepArrays::Set spare;
        StepArrays::Set* set = arrays.reusable();
        if (!set) set = &(spare = arrays.new_set());
        arrays.write_flags(*set, played.get());
        Ref result;
        WithoutLock unlocked(WithoutLock::LATER);
        games.step(actions, outputs_in(arrays, *set), [&] {
            arrays.make_arrays(*set);
            result = Ref::steal(arrays.step_result(*set, any_played));
            unlocked.release();
        });
        unlocked.take_back();
        return result.release();
    });
}

// One game's step for the single environment: the action as a Python int,
// the flags returned as a tuple so the caller builds nothing.
PyObject* step_one(PyObject* self, CallArgs args) {
    return entry([&] {
        BorrowExclusive<VectorEnvCore> core(self);
        auto [action_arg] = parse(args, "step()", "action");
        VectorGame& games = *core->games;
        if (games.size() != 1) raise(PyExc_ValueError, "step_one() needs a single game");
        const long long a = PyLong_AsLongLong(action_arg);
        if (a == -1 && PyErr_Occurred()) {
            if (!PyErr_ExceptionMatches(PyExc_OverflowError)) throw_python_error();
            PyErr_Clear();
            raise(PyExc_ValueError, "step(): " + Refusal{Refusal::ACTION_OUTSIDE, 0, a}.display(false));
        }
        const std::int64_t action = a;
        const std::span<const std::int64_t> actions(&action, 1);
        if (const std::optional<Refusal> refused = games.check(actions))
            raise(PyExc_ValueError, "step(): " + refused->display(false));
        const StepOutput& out = core->own;
        games.step(actions, out);
        using namespace tokopuyo_step;
        Ref reward = Ref::steal(PyFloat_FromDouble(out.at<REWARD>()[0]));
        Ref chain = Ref::steal(PyLong_FromLongLong(out.at<CHAIN>()[0]));
        return Ref::steal(PyTuple_Pack(5, reward.get(), out.at<TERMINATED>()[0] ? Py_True : Py_False,
                                       out.at<TRUNCATED>()[0] ? Py_True : Py_False,
                                       out.at<ILLEGAL>()[0] ? Py_True : Py_False, chain.get()))
            .release();
    });
}

PyObject* game(PyObject* self, CallArgs args) {
    return entry([&] {
        BorrowShared<VectorEnvCore> core(self);
        auto [i_arg] = parse(args, "game()", "i");
        const std::uint64_t i = to_u64(i_arg);
        if (i >= core->games->size()) raise(PyExc_IndexError, "game(): no environment " + std::to_string(i));
        return new_game(core->games->game(i));
    });
}

// The environment's own arrays by name, the flags `_name` among them.
PyObject* outputs(PyObject* self, CallArgs args) {
    return entry([&] {
        BorrowShared<VectorEnvCore> core(self);
        parse(args, "outputs()");
        return core->arrays->by_name(core->arrays->own());
    });
}

// ((name, dtype, role, shape), ...) of the step's outputs for this configuration.
PyObject* layout(PyObject* self, CallArgs args) {
    return entry([&] {
        BorrowShared<VectorEnvCore> core(self);
        parse(args, "layout()");
        return core->arrays->layout();
    });
}

}  // namespace

PyTypeObject* vector_game_type() {
    static LazyType lazy;
    return create_once<VectorEnvCore>(lazy, "_VectorGame", "tavik_game._native._VectorGame", [](PyTypeObject& t) {
        static PyMethodDef methods[] = {
            method<reset>("reset"),
            method<step>("step"),
            method<step_one>("step_one"),
            method<game>("game"),
            method<outputs>("outputs"),
            method<layout>("layout"),
            END_METHODS,
        };
        t.tp_new = construct;
        t.tp_methods = methods;
    });
}

void add_vector_env(PyObject* module) {
    add_to_module(module, "_VectorGame", Py_NewRef(reinterpret_cast<PyObject*>(vector_game_type())));
}

}  // namespace tavik::py
