// _VectorGame: the native half of the Gymnasium environments. It holds the
// games and the arrays the environment owns (their buffers stay acquired for
// its lifetime, so NumPy refuses to resize them), and steps with the
// interpreter lock released.
#include "buffer.hpp"
#include "game_module.hpp"
#include "game/observation.hpp"
#include "game/vector_game.hpp"

#include <array>
#include <memory>
#include <new>
#include <vector>

namespace tavik::py {

namespace {

// Memory for the arrays of fresh steps, used again once they are dropped.
// A caller usually drops a step's arrays by the next step, and the pool
// steps every game on the same thread each time: memory used again is lines
// the writing thread's cache still holds. Memory fresh from the allocator is
// what the caller's own temporaries dirtied meanwhile, each line fetched
// from the caller's core by the worker that writes it.
class BlockStore {
public:
    explicit BlockStore(std::size_t size) : size_(size) {}
    ~BlockStore() {
        for (void* block : idle_) release(block);
    }
    BlockStore(const BlockStore&) = delete;
    BlockStore& operator=(const BlockStore&) = delete;

    void* take() {
        if (idle_.empty()) return ::operator new(size_, ALIGNMENT);
        void* block = idle_.back();
        idle_.pop_back();
        return block;
    }
    void give_back(void* block) {
        if (idle_.size() < KEEP) {
            idle_.push_back(block);
        } else {
            release(block);
        }
    }
    std::size_t size() const { return size_; }

private:
    static constexpr std::align_val_t ALIGNMENT{64};
    static constexpr std::size_t KEEP = 2;  // the step before the last may still be alive when the next begins
    static void release(void* block) { ::operator delete(block, ALIGNMENT); }
    std::size_t size_;
    std::vector<void*> idle_;  // only touched with the interpreter lock held
};

// One fresh step's block, the buffer its arrays are views of: back to the
// store when the last of them dies, even after the environment.
struct StepMemory {
    std::shared_ptr<BlockStore> store;
    void* block;
    explicit StepMemory(std::shared_ptr<BlockStore> s) : store(std::move(s)), block(store->take()) {}
    StepMemory(StepMemory&& o) noexcept : store(std::move(o.store)), block(std::exchange(o.block, nullptr)) {}
    StepMemory(const StepMemory&) = delete;
    StepMemory& operator=(const StepMemory&) = delete;
    StepMemory& operator=(StepMemory&&) = delete;
    ~StepMemory() {
        if (block) store->give_back(block);
    }
};

int step_memory_buffer(PyObject* self, Py_buffer* view, int flags) {
    const StepMemory& memory = as_object<StepMemory>(self)->value;
    return PyBuffer_FillInfo(view, self, memory.block, static_cast<Py_ssize_t>(memory.store->size()), 0, flags);
}

PyTypeObject* step_memory_type() {
    static LazyType lazy;
    static PyBufferProcs buffer = {step_memory_buffer, nullptr};
    return create_once<StepMemory>(lazy, "_StepMemory", "tavik_game._native._StepMemory",
                                   [](PyTypeObject& t) { t.tp_as_buffer = &buffer; });
}

// The outputs in StepOutput order, then the played flags, with their element
// types; the environment gives arrays for the outputs only.
constexpr std::size_t OUTPUTS = 8;
constexpr std::array<Element, OUTPUTS + 1> ELEMENTS = {Element::U8,   Element::U8,   Element::I8,
                                                       Element::F64,  Element::BOOL, Element::BOOL,
                                                       Element::BOOL, Element::I32,  Element::BOOL};
constexpr std::array<const char*, OUTPUTS> OUTPUT_NAMES = {"field",      "pairs",     "mask",    "reward",
                                                           "terminated", "truncated", "illegal", "chain"};

// Whether any weak reference to `o` lives; true for a type whose weak
// references this cannot see.
bool weakly_referenced(PyObject* o) {
    PyTypeObject* type = Py_TYPE(o);
    if (!PyType_SUPPORTS_WEAKREFS(type)) return false;
    const Py_ssize_t offset = type->tp_weaklistoffset;
    if (offset <= 0) return true;  // kept by the interpreter where this cannot look
    return *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(o) + offset) != nullptr;
}

struct VectorEnvCore {
    std::unique_ptr<VectorGame> games;
    std::vector<ArrayBuffer> buffers;  // kept for their acquired views
    StepOutput out;
    // The shape of each output, then of the played flags; as tuples for fresh arrays.
    std::vector<std::vector<Py_ssize_t>> shapes;
    std::vector<Ref> dims;
    // Where each of those starts in a fresh step's block, a cache line apart.
    std::vector<Py_ssize_t> offsets;
    std::shared_ptr<BlockStore> blocks;

    // A step's block with the arrays made over it, kept to be handed out
    // again once the caller holds none of them: making nine arrays was the
    // largest part of a step's serial work. Reserved at SETS, so pointers
    // into `sets` stay valid while a step runs.
    struct ArraySet {
        Ref memory;                           // a _StepMemory
        std::array<Ref, OUTPUTS + 1> arrays;  // in StepOutput order, then the played flags
    };
    static constexpr std::size_t SETS = 3;  // a step's arrays, the last step's, one more the caller keeps
    std::vector<ArraySet> sets;

    // A set the caller holds nothing of: no array, no weak reference to one,
    // no other reference to the block (an array's base); nullptr if none.
    ArraySet* dropped_set() {
        for (ArraySet& set : sets) {
            bool dropped = Py_REFCNT(set.memory.get()) == static_cast<Py_ssize_t>(1 + set.arrays.size());
            for (const Ref& a : set.arrays) dropped = dropped && Py_REFCNT(a.get()) == 1 && !weakly_referenced(a.get());
            if (dropped) return &set;
        }
        return nullptr;
    }
};

std::uint64_t bounded(PyObject* o, const char* name, std::uint64_t low, std::uint64_t high) {
    const std::uint64_t v = to_u64(o);
    if (v < low || v > high) {
        raise(PyExc_ValueError, std::string("_VectorGame: ") + name + " must be from " + std::to_string(low) + " to " +
                                    std::to_string(high) + ", got " + std::to_string(v));
    }
    return v;
}

// Seeds from a sequence of ints (any size that fits 64 bits).
std::vector<std::uint64_t> seeds_of(PyObject* o, std::size_t n, const char* what) {
    Ref seq = owned_items(o, "seeds must be a sequence of ints");
    if (static_cast<std::size_t>(PySequence_Fast_GET_SIZE(seq.get())) != n) {
        raise(PyExc_ValueError, std::string(what) + " needs " + std::to_string(n) + " seeds");
    }
    std::vector<std::uint64_t> seeds(n);
    for (std::size_t i = 0; i < n; ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(seq.get(), static_cast<Py_ssize_t>(i));
        const std::optional<std::uint64_t> v = try_u64(item);
        if (!v) {
            PyErr_Clear();
            raise(PyExc_ValueError, std::string(what) + ": seeds must be ints from 0 to 2**64 - 1");
        }
        seeds[i] = *v;
    }
    return seeds;
}

// The outputs at address at(k) of output k.
template <class At>
StepOutput output_at(At&& at) {
    return StepOutput{static_cast<std::uint8_t*>(at(0)), static_cast<std::uint8_t*>(at(1)),
                      static_cast<std::int8_t*>(at(2)),  static_cast<double*>(at(3)),
                      static_cast<bool*>(at(4)),         static_cast<bool*>(at(5)),
                      static_cast<bool*>(at(6)),         static_cast<std::int32_t*>(at(7))};
}

PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return entry([&] {
        auto [n_arg, colours_arg, visible_arg, max_pairs_arg, threads_arg, autoreset_arg, entropy_arg, field_arg,
              pairs_arg, mask_arg, reward_arg, terminated_arg, truncated_arg, illegal_arg, chain_arg] =
            parse(CallArgs::from_tuple(args, kwargs), "_VectorGame()", "num_envs", "colours", "visible", "max_pairs",
                  "threads", "autoreset", "entropy", "field", "pairs", "mask", "reward", "terminated", "truncated",
                  "illegal", "chain");
        const std::size_t n = bounded(n_arg, "num_envs", 1, 1 << 20);
        VectorGameConfig config;
        config.colours = static_cast<unsigned>(bounded(colours_arg, "colours", 3, 4));
        config.visible = static_cast<unsigned>(bounded(visible_arg, "visible", 1, 16));
        config.max_pairs = to_u64(max_pairs_arg);
        const std::size_t threads = bounded(threads_arg, "threads", 1, 256);
        config.autoreset = truth_argument(autoreset_arg);
        const std::vector<std::uint64_t> entropy = seeds_of(entropy_arg, n, "_VectorGame()");

        const auto rows = static_cast<Py_ssize_t>(n);
        const auto c = static_cast<Py_ssize_t>(config.colours);
        VectorEnvCore core;
        core.shapes = {
            {rows, c + 1, observation::ROWS, observation::COLUMNS},
            {rows, static_cast<Py_ssize_t>(config.visible), 2, c},
            {rows, static_cast<Py_ssize_t>(VectorGame::ACTIONS)},
            {rows},
            {rows},
            {rows},
            {rows},
            {rows},
            {rows},  // the played flags
        };
        PyObject* const arrays[] = {field_arg,      pairs_arg,     mask_arg,    reward_arg,
                                    terminated_arg, truncated_arg, illegal_arg, chain_arg};
        Py_ssize_t block_size = 0;
        for (std::size_t k = 0; k < core.shapes.size(); ++k) {
            if (k < OUTPUTS) core.buffers.emplace_back(arrays[k], OUTPUT_NAMES[k], ELEMENTS[k], core.shapes[k], true);
            core.dims.push_back(Ref::steal(shape_tuple(core.shapes[k])));
            Py_ssize_t bytes = element_size(ELEMENTS[k]);
            for (Py_ssize_t d : core.shapes[k]) bytes *= d;
            core.offsets.push_back(block_size);
            block_size += (bytes + 63) / 64 * 64;
        }
        core.blocks = std::make_shared<BlockStore>(static_cast<std::size_t>(block_size));
        core.sets.reserve(VectorEnvCore::SETS);
        core.out = output_at([&](std::size_t k) { return core.buffers[k].data<void>(); });
        core.games = std::make_unique<VectorGame>(n, config, threads, entropy);
        return new_object(type, std::move(core));
    });
}

PyObject* reset(PyObject* self, CallArgs args) {
    return entry([&] {
        BorrowExclusive<VectorEnvCore> core(self);
        auto [seeds_arg] = parse(args, "_VectorGame.reset()", "seeds");
        if (seeds_arg == Py_None) {
            core->games->reset(std::nullopt, core->out);
        } else {
            const std::vector<std::uint64_t> seeds = seeds_of(seeds_arg, core->games->size(), "reset()");
            core->games->reset(std::span<const std::uint64_t>(seeds), core->out);
        }
        return py_none();
    });
}

// Gymnasium's step result from the nine arrays (field, pairs, mask, reward,
// terminated, truncated, illegal, chain, played; played may be None):
// (obs, reward, terminated, truncated, info), info marking the action masks
// with `all_flags` and illegal and chain with the played games.
PyObject* gymnasium_result(const std::array<Ref, 9>& arrays, PyObject* all_flags) {
    // Never released: the process may outlive the interpreter.
    static const std::array<PyObject*, 8> keys = [] {
        std::array<PyObject*, 8> made{};
        const char* names[] = {"field",   "pairs",    "action_mask", "_action_mask",
                               "illegal", "_illegal", "chain",       "_chain"};
        for (std::size_t k = 0; k < made.size(); ++k) made[k] = PyUnicode_InternFromString(names[k]);
        return made;
    }();
    for (PyObject* key : keys)
        if (!key) throw_python_error();
    auto set = [](PyObject* dict, PyObject* key, PyObject* value) {
        if (PyDict_SetItem(dict, key, value) < 0) throw_python_error();
    };
    Ref obs = Ref::steal(PyDict_New());
    set(obs.get(), keys[0], arrays[0].get());
    set(obs.get(), keys[1], arrays[1].get());
    Ref info = Ref::steal(PyDict_New());
    set(info.get(), keys[2], arrays[2].get());
    set(info.get(), keys[3], all_flags);
    if (arrays[8].get() != Py_None) {
        set(info.get(), keys[4], arrays[6].get());
        set(info.get(), keys[5], arrays[8].get());
        set(info.get(), keys[6], arrays[7].get());
        set(info.get(), keys[7], arrays[8].get());
    }
    return Ref::steal(PyTuple_Pack(5, obs.get(), arrays[3].get(), arrays[4].get(), arrays[5].get(), info.get()))
        .release();
}

// step(actions, fresh, all_flags) -> (obs, reward, terminated, truncated,
// info), Gymnasium's vector step. With `fresh`, the outputs are new arrays the
// caller may keep (written by the worker threads: a copy afterwards would be
// the largest serial part of a step); without, the environment's own arrays.
// info's `_illegal` and `_chain` mark the games this step played rather than
// reset, and are left out when it reset them all; `all_flags` is its
// `_action_mask`.
PyObject* step(PyObject* self, CallArgs args) {
    return entry([&] {
        BorrowExclusive<VectorEnvCore> core(self);
        auto [actions_arg, fresh_arg, all_arg] = parse(args, "_VectorGame.step()", "actions", "fresh", "all_flags");
        VectorGame& games = *core->games;
        const auto rows = static_cast<Py_ssize_t>(games.size());
        // A copy: another thread may write the caller's array while we step
        // without the lock. The borrow above refuses a second call on this object.
        std::vector<std::int64_t> actions;
        {
            ArrayBuffer buffer(actions_arg, "step(): actions", Element::I64, {rows}, false);
            const std::int64_t* first = buffer.data<std::int64_t>();
            actions.assign(first, first + games.size());
        }
        if (std::optional<std::string> refused = games.check(actions)) raise(PyExc_ValueError, "step(): " + *refused);

        std::array<Ref, 9> arrays;
        if (!truth_argument(fresh_arg)) {
            for (std::size_t k = 0; k < core->buffers.size(); ++k) arrays[k] = Ref::borrow(core->buffers[k].array());
            Ref played = Ref::steal(new_array(core->dims.back().get(), Element::BOOL));
            // The array holds the memory: the view is only for its address.
            bool* flags = ArrayBuffer(played.get(), "played", Element::BOOL, core->shapes.back(), true).data<bool>();
            arrays[8] = games.playing(flags) ? std::move(played) : Ref::borrow(Py_None);
            Ref result = Ref::steal(gymnasium_result(arrays, all_arg));
            Py_BEGIN_ALLOW_THREADS games.step(actions, core->out);
            Py_END_ALLOW_THREADS return result.release();
        }

        // Fresh arrays are views of one block, made (with the result around
        // them) while the other threads already step their games: it is the
        // largest serial part of a step. The arrays of a set the caller has
        // dropped are handed out again instead, checked while the others step.
        // This thread lets the interpreter go once the result is made. Failing
        // to make it (out of memory) happens after the step was played.
        VectorEnvCore::ArraySet* reused = core->dropped_set();
        const bool pooled = reused || core->sets.size() < VectorEnvCore::SETS;
        Ref memory = reused ? Ref::borrow(reused->memory.get())
                            : Ref::steal(new_object(step_memory_type(), StepMemory(core->blocks)));
        std::byte* const block = static_cast<std::byte*>(as_object<StepMemory>(memory.get())->value.block);
        auto at = [&](std::size_t k) -> void* { return block + core->offsets[k]; };
        const StepOutput out = output_at(at);
        const bool any_played = games.playing(static_cast<bool*>(at(OUTPUTS)));
        Ref result;
        PyThreadState* released = nullptr;
        auto make_result = [&] {
            {
                std::array<Ref, OUTPUTS + 1> made;
                for (std::size_t k = 0; k < made.size(); ++k) {
                    PyObject* old = reused ? reused->arrays[k].get() : nullptr;
                    made[k] =
                        old && still_view_of(old, ELEMENTS[k], core->shapes[k], at(k))
                            ? Ref::borrow(old)
                            : Ref::steal(array_over(core->dims[k].get(), ELEMENTS[k], memory.get(), core->offsets[k]));
                    arrays[k] = k == OUTPUTS && !any_played ? Ref::borrow(Py_None) : Ref::borrow(made[k].get());
                }
                result = Ref::steal(gymnasium_result(arrays, all_arg));
                if (reused) {
                    reused->arrays = std::move(made);
                } else if (pooled) {
                    core->sets.push_back({Ref::borrow(memory.get()), std::move(made)});
                }
            }  // what is left in `made` (a step outside the sets) is dropped with the interpreter held
            released = PyEval_SaveThread();
        };
        try {
            games.step(actions, out, make_result);
        } catch (...) {
            if (released) PyEval_RestoreThread(released);
            throw;
        }
        PyEval_RestoreThread(released);
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
            raise(PyExc_ValueError, "step(): action is outside 0..21 (an index into Hand.enumerate())");
        }
        const std::int64_t action = a;
        const std::span<const std::int64_t> actions(&action, 1);
        if (std::optional<std::string> refused = games.check(actions)) {
            std::string text = *refused;
            const std::string prefix = " of environment 0";
            if (const std::size_t at = text.find(prefix); at != std::string::npos) text.erase(at, prefix.size());
            raise(PyExc_ValueError, "step(): " + text);
        }
        const StepOutput& out = core->out;
        games.step(actions, out);
        Ref reward = Ref::steal(PyFloat_FromDouble(out.reward[0]));
        Ref chain = Ref::steal(to_py(static_cast<std::uint64_t>(out.chain[0])));
        return Ref::steal(PyTuple_Pack(5, reward.get(), out.terminated[0] ? Py_True : Py_False,
                                       out.truncated[0] ? Py_True : Py_False, out.illegal[0] ? Py_True : Py_False,
                                       chain.get()))
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

}  // namespace

PyTypeObject* vector_game_type() {
    static LazyType lazy;
    return create_once<VectorEnvCore>(lazy, "_VectorGame", "tavik_game._native._VectorGame", [](PyTypeObject& t) {
        static PyMethodDef methods[] = {
            method<reset>("reset"), method<step>("step"), method<step_one>("step_one"),
            method<game>("game"),   END_METHODS,
        };
        t.tp_new = construct;
        t.tp_methods = methods;
    });
}

void add_vector_env(PyObject* module) {
    add_to_module(module, "_VectorGame", Py_NewRef(reinterpret_cast<PyObject*>(vector_game_type())));
}

}  // namespace tavik::py
