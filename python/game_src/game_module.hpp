#pragma once
// The pieces of tavik_game._native shared by its topic files. Each topic file
// registers its functions and classes through one add_* function called from
// the module init (module.cpp).
#include "python.hpp"
#include "frame.hpp"
#include "game/game.hpp"
#include "game/match.hpp"

#include <initializer_list>
#include <utility>

namespace tavik::py {

// The classes of the tavik module itself, taken from it at import, so fields,
// pairs and hands we return are ordinary tavik objects with the same layout.
PyTypeObject* tavik_field_type();
PyTypeObject* tavik_pair_type();
PyTypeObject* tavik_hand_type();
PyTypeObject* tavik_chain_result_type();
// Reads the classes above from the imported tavik module; false with an
// error set on failure.
bool load_tavik_types(PyObject* tavik_module);

PyTypeObject* game_type();
PyTypeObject* move_type();
PyTypeObject* pair_sequence_type();
PyObject* new_game(const Game& game);
PyObject* new_tavik_field(const BitField& field);

// Adds a function table (a function-local static) to the module.
void add_functions(PyObject* module, PyMethodDef* functions);

// A hand argument: a tavik.Hand (TypeError naming `where` otherwise).
Hand hand_argument(PyObject* o, const char* where);
BitField field_argument(PyObject* o, const char* where);
// The hands of a legal-hand mask as a list of tavik.Hand, in Hand.enumerate() order.
PyObject* legal_hands_list(std::uint32_t mask);

void add_rules(PyObject* module);
void add_game(PyObject* module);
void add_garbage(PyObject* module);
void add_numpy_obs(PyObject* module);
void add_selfplay(PyObject* module);
void add_vector_env(PyObject* module);
void add_beam_bot(PyObject* module);
void add_match(PyObject* module);
void add_versus_env(PyObject* module);

PyTypeObject* versus_rules_type();
PyObject* new_match(const Match& match);

}  // namespace tavik::py

namespace tavik::py {

// Parameters with defaults: out[i] keeps its value (a default, or nullptr for
// a required parameter) unless the call passes names[i]. TypeError for
// unknown, repeated, missing or too many arguments.
inline constexpr std::size_t MAX_DEFAULTED = 16;
void parse_with_defaults(const CallArgs& args, const char* location, std::initializer_list<const char*> names,
                         PyObject** out);

// An int argument in [low, high]: TypeError for a non-int, ValueError outside.
std::uint64_t int_argument(PyObject* o, const char* where, const char* name, std::uint64_t low, std::uint64_t high);

// The items of a list, tuple or other sequence with a length, as a tuple only
// the caller holds (PySequence_Fast_ITEMS reads it): reading an item may run
// Python code (`__index__`, a finalizer the collector starts) that empties the
// caller's list, and the items read must stay alive and in place.
// TypeError(`message`) for anything without a length:
// an endless iterable (a PairSequence, say) would be read until memory ran out.
Ref sized_items(PyObject* o, const char* message);

// The interpreter lock released while this lives, so other Python threads
// (a Dask worker's heartbeat among them) run; taken back on every exit, a
// C++ failure unwinding through included. Nothing Python owns may be touched
// meanwhile. Made LATER, it holds the lock until release().
class WithoutLock {
public:
    enum Later { LATER };
    WithoutLock() { release(); }
    explicit WithoutLock(Later) {}
    ~WithoutLock() { take_back(); }
    WithoutLock(const WithoutLock&) = delete;
    WithoutLock& operator=(const WithoutLock&) = delete;

    void release() { state_ = PyEval_SaveThread(); }
    void take_back() {
        if (state_) PyEval_RestoreThread(std::exchange(state_, nullptr));
    }

private:
    PyThreadState* state_ = nullptr;
};

// The truth of an argument; its own error when its __bool__ raises.
bool truth_argument(PyObject* o);

}  // namespace tavik::py
