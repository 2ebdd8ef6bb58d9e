// Game, Move and PairSequence: the one-player game as Python values.
#include "python.hpp"
#include "game_module.hpp"

#include <string>
#include <utility>
#include <vector>

namespace tavik::py {

namespace {

// Equality between two instances of one class; anything else is left to the
// other operand, and ordering is not defined.
template <class T>
PyObject* compare(PyObject* self, PyObject* other, int op) {
    return entry([&]() -> PyObject* {
        if ((op != Py_EQ && op != Py_NE) || !PyObject_TypeCheck(other, Py_TYPE(self))) Py_RETURN_NOTIMPLEMENTED;
        BorrowShared<T> a(self);
        BorrowShared<T> b(other);
        const bool same = *a == *b;
        return to_py(op == Py_EQ ? same : !same);
    });
}

PyObject* pair_object(Pair p) { return new_object(tavik_pair_type(), p); }

// ---------------------------------------------------------------- Move

PyObject* move_chain(PyObject* self) {
    return entry([&] { return to_py(BorrowShared<Move>(self)->chain); });
}
PyObject* move_score(PyObject* self) {
    return entry([&] { return to_py(BorrowShared<Move>(self)->score); });
}
PyObject* move_all_clear(PyObject* self) {
    return entry([&] { return to_py(BorrowShared<Move>(self)->all_clear); });
}
PyObject* move_over(PyObject* self) {
    return entry([&] { return to_py(BorrowShared<Move>(self)->over); });
}

std::string bool_text(bool b) { return b ? "True" : "False"; }

PyObject* move_repr(PyObject* self) {
    return entry([&] {
        BorrowShared<Move> m(self);
        return to_py_str("Move(chain=" + std::to_string(m->chain) + ", score=" + std::to_string(m->score) +
                         ", all_clear=" + bool_text(m->all_clear) + ", over=" + bool_text(m->over) + ")");
    });
}

PyObject* move_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return entry([&] {
        PyObject* a[4] = {nullptr, nullptr, Py_False, Py_False};
        parse_with_defaults(CallArgs::from_tuple(args, kwargs), "Move()", {"chain", "score", "all_clear", "over"}, a);
        Move m;
        m.chain = int_argument(a[0], "Move()", "chain", 0, 19);
        m.score = int_argument(a[1], "Move()", "score", 0, UINT64_MAX);
        m.all_clear = truth_argument(a[2]);
        m.over = truth_argument(a[3]);
        return new_object(type, m);
    });
}

PyObject* move_reduce(PyObject* self, PyObject*) {
    return entry([&] {
        BorrowShared<Move> m(self);
        Ref c = Ref::steal(to_py(m->chain)), s = Ref::steal(to_py(m->score));
        Ref a = Ref::steal(to_py(m->all_clear)), o = Ref::steal(to_py(m->over));
        Ref t = Ref::steal(PyTuple_Pack(4, c.get(), s.get(), a.get(), o.get()));
        return PyTuple_Pack(2, reinterpret_cast<PyObject*>(Py_TYPE(self)), t.get());
    });
}

// ---------------------------------------------------------------- PairSequence

// An explicit list of pairs, read from a private copy: at least one, each a
// tavik.Pair of colours.
PairSequence listed_sequence(PyObject* pairs, const char* where) {
    const std::string what = std::string(where) + ": pairs must be a non-empty sequence of tavik.Pair of colours";
    Ref items = sized_items(pairs, what.c_str());
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(items.get());
    if (n == 0) raise(PyExc_ValueError, what);
    std::vector<Pair> out;
    out.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t k = 0; k < n; ++k) {
        PyObject* item = PySequence_Fast_GET_ITEM(items.get(), k);
        if (!PyObject_TypeCheck(item, tavik_pair_type())) raise(PyExc_TypeError, what);
        const Pair p = copy_of<Pair>(item, tavik_pair_type());
        for (PuyoType t : {p.child(), p.axis()})
            if (!t.is_color() || t == PuyoType::PURPLE) raise(PyExc_ValueError, what);
        out.push_back(p);
    }
    return PairSequence::from_pairs(std::move(out));
}

// PairSequence(seed, colours, kind) or, with pairs, the list.
PairSequence sequence_of(PyObject* seed_arg, PyObject* colours_arg, PyObject* kind_arg, PyObject* pairs_arg,
                         const char* where) {
    const std::uint64_t seed = int_argument(seed_arg, where, "seed", 0, UINT64_MAX);
    const std::uint64_t colours = int_argument(colours_arg, where, "colours", 3, 4);
    if (!PyUnicode_Check(kind_arg)) raise(PyExc_TypeError, std::string(where) + ": kind must be a str");
    const char* kind_text = PyUnicode_AsUTF8(kind_arg);
    if (!kind_text) throw_python_error();
    const std::string kind = kind_text;
    if (pairs_arg != Py_None) {
        if (kind != "list" && kind != "uniform")
            raise(PyExc_ValueError, std::string(where) + ": pairs make a list sequence, not " + kind);
        return listed_sequence(pairs_arg, where);
    }
    if (kind == "uniform") return PairSequence(seed, static_cast<unsigned>(colours));
    if (kind == "balanced") {
        if (colours != 4) raise(PyExc_ValueError, std::string(where) + ": a balanced sequence has 4 colours");
        return PairSequence::balanced(seed);
    }
    raise(PyExc_ValueError,
          std::string(where) + ": kind must be 'uniform' or 'balanced' (or pairs given), got '" + kind + "'");
}

PyObject* sequence_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return entry([&] {
        Ref four = Ref::steal(to_py(std::uint64_t{4})), uniform = Ref::steal(to_py_str("uniform"));
        PyObject* a[4] = {nullptr, four.get(), uniform.get(), Py_None};
        parse_with_defaults(CallArgs::from_tuple(args, kwargs), "PairSequence()", {"seed", "colours", "kind", "pairs"},
                            a);
        return new_object(type, sequence_of(a[0], a[1], a[2], a[3], "PairSequence()"));
    });
}

PyObject* sequence_item(PyObject* self, Py_ssize_t i) {
    return entry([&] {
        // Iteration runs through here and never ends: a loop in C (deque(seq),
        // list(seq)) checks no signal of its own, so Ctrl-C is noticed here.
        if (PyErr_CheckSignals() < 0) throw_python_error();
        BorrowShared<PairSequence> s(self);
        if (i < 0) raise(PyExc_IndexError, "PairSequence index must be >= 0 (the sequence is endless)");
        return pair_object(s->at(static_cast<std::uint64_t>(i)));
    });
}

// Answered without a search: SplitMix64 gives every 64-bit value once in its
// period and each 32-bit half maps onto every colour, so each pair of the
// sequence's colours comes somewhere, and no other pair ever does.
int sequence_contains(PyObject* self, PyObject* value) {
    PyObject* found = entry([&] {
        BorrowShared<PairSequence> s(self);
        if (!PyObject_TypeCheck(value, tavik_pair_type())) return to_py(false);
        const Pair p = copy_of<Pair>(value, tavik_pair_type());
        const auto dealt = [&](PuyoType t) {
            return t.number() >= PuyoType::RED && t.number() < PuyoType::RED + s->colours();
        };
        return to_py(dealt(p.axis()) && dealt(p.child()));
    });
    if (!found) return -1;
    const int answer = found == Py_True;
    Py_DECREF(found);
    return answer;
}

PyObject* sequence_seed(PyObject* self) {
    return entry([&] { return to_py(BorrowShared<PairSequence>(self)->seed()); });
}
PyObject* sequence_colours(PyObject* self) {
    return entry([&] { return to_py(std::uint64_t{BorrowShared<PairSequence>(self)->colours()}); });
}
PyObject* sequence_kind(PyObject* self) {
    return entry([&] { return to_py_str(BorrowShared<PairSequence>(self)->kind_name()); });
}

PyObject* pairs_list(const std::vector<Pair>& pairs) {
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(pairs.size())));
    for (std::size_t k = 0; k < pairs.size(); ++k) {
        PyObject* p = pair_object(pairs[k]);
        if (!p) throw_python_error();
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(k), p);
    }
    return list.release();
}

PyObject* sequence_repr(PyObject* self) {
    return entry([&] {
        BorrowShared<PairSequence> s(self);
        if (s->kind() == PairSequence::LIST)
            return to_py_str("PairSequence(kind='list', " + std::to_string(s->pairs().size()) + " pairs)");
        const std::string kind =
            s->kind() == PairSequence::UNIFORM ? "" : ", kind='" + std::string(s->kind_name()) + "'";
        return to_py_str("PairSequence(seed=" + std::to_string(s->seed()) +
                         ", colours=" + std::to_string(s->colours()) + kind + ")");
    });
}

PyObject* sequence_reduce(PyObject* self, PyObject*) {
    return entry([&] {
        BorrowShared<PairSequence> s(self);
        Ref a = Ref::steal(to_py(s->seed())), b = Ref::steal(to_py(std::uint64_t{s->colours()}));
        if (s->kind() == PairSequence::UNIFORM) {
            Ref t = Ref::steal(PyTuple_Pack(2, a.get(), b.get()));
            return PyTuple_Pack(2, reinterpret_cast<PyObject*>(Py_TYPE(self)), t.get());
        }
        Ref k = Ref::steal(to_py_str(s->kind_name()));
        Ref p = s->kind() == PairSequence::LIST ? Ref::steal(pairs_list(s->pairs())) : Ref::steal(Py_NewRef(Py_None));
        Ref t = Ref::steal(PyTuple_Pack(4, a.get(), b.get(), k.get(), p.get()));
        return PyTuple_Pack(2, reinterpret_cast<PyObject*>(Py_TYPE(self)), t.get());
    });
}

// ---------------------------------------------------------------- Game

PyObject* game_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return entry([&] {
        Ref zero = Ref::steal(to_py(std::uint64_t{0})), four = Ref::steal(to_py(std::uint64_t{4}));
        Ref three = Ref::steal(to_py(std::uint64_t{3}));
        Ref bonus = Ref::steal(to_py(rules::ALL_CLEAR_BONUS));
        PyObject* a[5] = {zero.get(), four.get(), three.get(), bonus.get(), Py_None};
        parse_with_defaults(CallArgs::from_tuple(args, kwargs), "Game()",
                            {"seed", "colours", "visible", "all_clear_bonus", "sequence"}, a);
        const std::uint64_t seed = int_argument(a[0], "Game()", "seed", 0, UINT64_MAX);
        const std::uint64_t colours = int_argument(a[1], "Game()", "colours", 3, 4);
        const std::uint64_t visible = int_argument(a[2], "Game()", "visible", 1, Game::MAX_VISIBLE);
        const std::uint64_t all_clear = int_argument(a[3], "Game()", "all_clear_bonus", 0, UINT32_MAX);
        // A sequence (a PairSequence, or a list of pairs) stands for seed and colours.
        if (a[4] != Py_None) {
            PairSequence sequence = PyObject_TypeCheck(a[4], pair_sequence_type())
                                        ? copy_of<PairSequence>(a[4], pair_sequence_type())
                                        : listed_sequence(a[4], "Game()");
            return new_object(type, Game(std::move(sequence), static_cast<unsigned>(visible), all_clear));
        }
        return new_object(type, Game(seed, static_cast<unsigned>(colours), static_cast<unsigned>(visible), all_clear));
    });
}

PyObject* game_field(PyObject* self) {
    return entry([&] { return new_object(tavik_field_type(), BorrowShared<Game>(self)->field()); });
}

PyObject* game_pairs(PyObject* self) {
    return entry([&] {
        BorrowShared<Game> g(self);
        Ref list = Ref::steal(PyList_New(g->visible()));
        for (unsigned k = 0; k < g->visible(); ++k) PyList_SET_ITEM(list.get(), k, pair_object(g->pair(k)));
        return list.release();
    });
}

PyObject* game_sequence(PyObject* self) {
    return entry([&] { return new_object(pair_sequence_type(), BorrowShared<Game>(self)->sequence()); });
}

PyObject* game_seed(PyObject* self) {
    return entry([&] { return to_py(BorrowShared<Game>(self)->sequence().seed()); });
}
PyObject* game_colours(PyObject* self) {
    return entry([&] { return to_py(std::uint64_t{BorrowShared<Game>(self)->sequence().colours()}); });
}
PyObject* game_visible(PyObject* self) {
    return entry([&] { return to_py(std::uint64_t{BorrowShared<Game>(self)->visible()}); });
}
PyObject* game_turn(PyObject* self) {
    return entry([&] { return to_py(BorrowShared<Game>(self)->turn()); });
}
PyObject* game_score(PyObject* self) {
    return entry([&] { return to_py(BorrowShared<Game>(self)->score()); });
}
PyObject* game_max_chain(PyObject* self) {
    return entry([&] { return to_py(BorrowShared<Game>(self)->max_chain()); });
}
PyObject* game_over(PyObject* self) {
    return entry([&] { return to_py(BorrowShared<Game>(self)->over()); });
}
PyObject* game_pending_bonus(PyObject* self) {
    return entry([&] { return to_py(BorrowShared<Game>(self)->pending_bonus()); });
}
PyObject* game_all_clear_bonus(PyObject* self) {
    return entry([&] { return to_py(BorrowShared<Game>(self)->all_clear_bonus()); });
}

PyObject* game_legal_mask(PyObject* self, PyObject*) {
    return entry([&] { return to_py(std::uint64_t{BorrowShared<Game>(self)->legal_mask()}); });
}

PyObject* game_legal_hands(PyObject* self, PyObject*) {
    return entry([&] { return legal_hands_list(BorrowShared<Game>(self)->legal_mask()); });
}

PyObject* game_play(PyObject* self, CallArgs args) {
    return entry([&] {
        auto [hand_arg] = parse(args, "Game.play()", "hand");
        const Hand hand = hand_argument(hand_arg, "Game.play()");
        BorrowExclusive<Game> g(self);
        if (g->over()) raise(PyExc_ValueError, "Game.play(): the game is over");
        const std::optional<Move> m = g->play(hand);
        if (!m) raise(PyExc_ValueError, "Game.play(): hand " + hand.display() + " is not legal on this field");
        return new_object(move_type(), *m);
    });
}

PyObject* game_copy(PyObject* self, PyObject*) {
    return entry([&] { return new_game(*BorrowShared<Game>(self)); });
}

PyObject* game_deepcopy(PyObject* self, PyObject*) { return game_copy(self, nullptr); }

// Pickles as Game(seed, colours, visible, all_clear_bonus) plus a state of the
// field (a tavik.Field) and the counters.
PyObject* game_reduce(PyObject* self, PyObject*) {
    return entry([&] {
        BorrowShared<Game> g(self);
        Ref seed = Ref::steal(to_py(g->sequence().seed()));
        Ref colours = Ref::steal(to_py(std::uint64_t{g->sequence().colours()}));
        Ref visible = Ref::steal(to_py(std::uint64_t{g->visible()}));
        Ref bonus = Ref::steal(to_py(g->all_clear_bonus()));
        Ref sequence = g->sequence().kind() == PairSequence::UNIFORM
                           ? Ref::steal(Py_NewRef(Py_None))
                           : Ref::steal(new_object(pair_sequence_type(), g->sequence()));
        Ref ctor = Ref::steal(PyTuple_Pack(5, seed.get(), colours.get(), visible.get(), bonus.get(), sequence.get()));
        Ref field = Ref::steal(new_object(tavik_field_type(), g->field()));
        Ref turn = Ref::steal(to_py(g->turn())), score = Ref::steal(to_py(g->score()));
        Ref max_chain = Ref::steal(to_py(g->max_chain())), over = Ref::steal(to_py(g->over()));
        Ref pending = Ref::steal(to_py(g->pending_bonus()));
        Ref state = Ref::steal(
            PyTuple_Pack(6, field.get(), turn.get(), score.get(), max_chain.get(), over.get(), pending.get()));
        return PyTuple_Pack(3, reinterpret_cast<PyObject*>(Py_TYPE(self)), ctor.get(), state.get());
    });
}

// Checks the types, the ranges, `over` against the field and the pending bonus
// (none, or the game's own all-clear bonus: no move owes anything else). A
// score or turn no game reaches is taken as it is; both stop at 2**64 - 1.
PyObject* game_setstate(PyObject* self, CallArgs args) {
    return entry([&] {
        auto [state] = parse(args, "Game.__setstate__()", "state");
        const char* where = "Game.__setstate__()";
        if (!PyTuple_Check(state) || PyTuple_GET_SIZE(state) != 6)
            raise(PyExc_TypeError, "Game.__setstate__(): state must be a tuple of 6 items");
        const BitField field = field_argument(PyTuple_GET_ITEM(state, 0), where);
        const std::uint64_t turn = int_argument(PyTuple_GET_ITEM(state, 1), where, "turn", 0, UINT64_MAX);
        const std::uint64_t score = int_argument(PyTuple_GET_ITEM(state, 2), where, "score", 0, UINT64_MAX);
        const std::uint64_t max_chain = int_argument(PyTuple_GET_ITEM(state, 3), where, "max_chain", 0, 19);
        PyObject* over_arg = PyTuple_GET_ITEM(state, 4);
        if (!PyBool_Check(over_arg)) raise(PyExc_TypeError, "Game.__setstate__(): over must be a bool");
        const bool over = over_arg == Py_True;
        const std::uint64_t pending = int_argument(PyTuple_GET_ITEM(state, 5), where, "pending bonus", 0, UINT64_MAX);
        if (over != rules::is_dead(field))
            raise(PyExc_ValueError, "Game.__setstate__(): over must say whether the spawn cell is occupied");
        BorrowExclusive<Game> g(self);
        if (pending != 0 && pending != g->all_clear_bonus())
            raise(PyExc_ValueError, "Game.__setstate__(): pending bonus must be 0 or the all-clear bonus " +
                                        std::to_string(g->all_clear_bonus()) + ", got " + std::to_string(pending));
        *g = Game::from_parts(g->sequence(), g->visible(), g->all_clear_bonus(), field, turn, score, max_chain, over,
                              pending);
        return py_none();
    });
}

PyObject* game_repr(PyObject* self) {
    return entry([&] {
        BorrowShared<Game> g(self);
        return to_py_str("<Game seed=" + std::to_string(g->sequence().seed()) +
                         " colours=" + std::to_string(g->sequence().colours()) + " turn=" + std::to_string(g->turn()) +
                         " score=" + std::to_string(g->score()) + " over=" + bool_text(g->over()) + ">");
    });
}

}  // namespace

PyObject* new_game(const Game& game) { return new_object(game_type(), game); }

PyTypeObject* move_type() {
    static LazyType lazy;
    return create_once<Move>(lazy, "Move", "tavik_game.Move", [](PyTypeObject& t) {
        static PyGetSetDef getters[] = {getter<move_chain>("chain"), getter<move_score>("score"),
                                        getter<move_all_clear>("all_clear"), getter<move_over>("over"), END_GETTERS};
        static PyMethodDef methods[] = {{"__reduce__", move_reduce, METH_NOARGS, ""}, END_METHODS};
        t.tp_new = move_new;
        t.tp_repr = move_repr;
        t.tp_richcompare = compare<Move>;
        t.tp_getset = getters;
        t.tp_methods = methods;
    });
}

PyTypeObject* pair_sequence_type() {
    static LazyType lazy;
    return create_once<PairSequence>(lazy, "PairSequence", "tavik_game.PairSequence", [](PyTypeObject& t) {
        static PySequenceMethods sequence{};
        sequence.sq_item = sequence_item;
        sequence.sq_contains = sequence_contains;
        static PyGetSetDef getters[] = {getter<sequence_seed>("seed"), getter<sequence_colours>("colours"),
                                        getter<sequence_kind>("kind"), END_GETTERS};
        static PyMethodDef methods[] = {{"__reduce__", sequence_reduce, METH_NOARGS, ""}, END_METHODS};
        t.tp_new = sequence_new;
        t.tp_repr = sequence_repr;
        t.tp_richcompare = compare<PairSequence>;
        t.tp_as_sequence = &sequence;
        t.tp_getset = getters;
        t.tp_methods = methods;
    });
}

PyTypeObject* game_type() {
    static LazyType lazy;
    return create_once<Game>(lazy, "Game", "tavik_game.Game", [](PyTypeObject& t) {
        static PyGetSetDef getters[] = {getter<game_field>("field"),
                                        getter<game_pairs>("pairs"),
                                        getter<game_sequence>("sequence"),
                                        getter<game_seed>("seed"),
                                        getter<game_colours>("colours"),
                                        getter<game_visible>("visible"),
                                        getter<game_turn>("turn"),
                                        getter<game_score>("score"),
                                        getter<game_max_chain>("max_chain"),
                                        getter<game_over>("over"),
                                        getter<game_pending_bonus>("pending_bonus"),
                                        getter<game_all_clear_bonus>("all_clear_bonus"),
                                        END_GETTERS};
        static PyMethodDef methods[] = {{"legal_mask", game_legal_mask, METH_NOARGS, ""},
                                        {"legal_hands", game_legal_hands, METH_NOARGS, ""},
                                        method<game_play>("play"),
                                        {"copy", game_copy, METH_NOARGS, ""},
                                        {"__copy__", game_copy, METH_NOARGS, ""},
                                        {"__deepcopy__", game_deepcopy, METH_O, ""},
                                        {"__reduce__", game_reduce, METH_NOARGS, ""},
                                        method<game_setstate>("__setstate__"),
                                        END_METHODS};
        t.tp_new = game_new;
        t.tp_repr = game_repr;
        t.tp_richcompare = compare<Game>;
        t.tp_getset = getters;
        t.tp_methods = methods;
    });
}

void add_game(PyObject* module) {
    add_to_module(module, "Game", Py_NewRef(reinterpret_cast<PyObject*>(game_type())));
    add_to_module(module, "Move", Py_NewRef(reinterpret_cast<PyObject*>(move_type())));
    add_to_module(module, "PairSequence", Py_NewRef(reinterpret_cast<PyObject*>(pair_sequence_type())));
}

}  // namespace tavik::py
