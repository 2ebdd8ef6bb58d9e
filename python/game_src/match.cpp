// VersusRules, Event, Player and Match: the two-player match as Python values.
#include "python.hpp"
#include "game_module.hpp"

#include <bit>
#include <cmath>
#include <string>
#include <string_view>

#include "game/match.hpp"
#include "game/rules.hpp"

namespace tavik::py {

namespace {

constexpr std::uint64_t MAX_VISIBLE = 64;
constexpr double MAX_MARGIN_TIME = 1e6;

// What Match.players hands out: one side as it stands, with what it sees.
struct PlayerView {
    VersusPlayer state;
    PairSequence sequence;
    unsigned visible = 3;
    std::uint64_t next_frame = 0;
    bool operator==(const PlayerView&) const = default;
};

PyTypeObject* rules_type();
PyTypeObject* event_type();
PyTypeObject* player_type();
PyTypeObject* match_type();

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

PyObject* to_py_float(double v) { return PyFloat_FromDouble(v); }

// 0 or 1; `where` names the call.
unsigned player_argument(PyObject* o, const char* where) {
    return static_cast<unsigned>(int_argument(o, where, "player", 0, 1));
}

// ---------------------------------------------------------------- VersusRules

// margin_time: None, or an int or float in [0, MAX_MARGIN_TIME]. Only exact
// numbers are read, so no __float__ runs.
void read_margin(PyObject* o, VersusRules& rules) {
    if (o == Py_None) {
        rules.margin = false;
        rules.margin_time = 0;
        rules.margin_frame = 0;
        return;
    }
    double t = 0;
    if (PyFloat_Check(o)) {
        t = PyFloat_AS_DOUBLE(o);
    } else if (PyLong_Check(o) && !PyBool_Check(o)) {
        t = PyLong_AsDouble(o);
        if (t == -1.0 && PyErr_Occurred()) {
            PyErr_Clear();
            t = -1.0;
        }
    } else {
        raise(PyExc_TypeError,
              std::string("VersusRules(): margin_time must be a number or None, got ") + Py_TYPE(o)->tp_name);
    }
    if (!(t >= 0 && t <= MAX_MARGIN_TIME))
        raise(PyExc_ValueError, "VersusRules(): margin_time must be from 0 to 1000000 seconds, or None");
    rules.margin = true;
    rules.margin_time = t;
    // The first frame at or after it; the tolerance keeps 0.1 s at frame 6.
    rules.margin_frame = static_cast<std::uint64_t>(std::ceil(t * versus::FRAMES_PER_SECOND - 1e-9));
}

PyObject* rules_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return entry([&] {
        const char* where = "VersusRules()";
        Ref target = Ref::steal(to_py(std::uint64_t{70})), margin = Ref::steal(to_py_float(96.0));
        Ref bonus = Ref::steal(to_py(std::uint64_t{2100})), drop = Ref::steal(to_py(std::uint64_t{30}));
        PyObject* a[4] = {target.get(), margin.get(), bonus.get(), drop.get()};
        parse_with_defaults(CallArgs::from_tuple(args, kwargs), where,
                            {"target_points", "margin_time", "all_clear_bonus", "max_ojama_drop"}, a);
        VersusRules rules;
        rules.target_points = int_argument(a[0], where, "target_points", 1, UINT32_MAX);
        read_margin(a[1], rules);
        rules.all_clear_bonus = int_argument(a[2], where, "all_clear_bonus", 0, UINT32_MAX);
        rules.max_ojama_drop = int_argument(a[3], where, "max_ojama_drop", 1, 30);
        return new_object(type, rules);
    });
}

PyObject* rules_target_points(PyObject* self) {
    return entry([&] { return to_py(BorrowShared<VersusRules>(self)->target_points); });
}
PyObject* rules_margin_time(PyObject* self) {
    return entry([&] {
        BorrowShared<VersusRules> r(self);
        return r->margin ? to_py_float(r->margin_time) : py_none();
    });
}
PyObject* rules_all_clear_bonus(PyObject* self) {
    return entry([&] { return to_py(BorrowShared<VersusRules>(self)->all_clear_bonus); });
}
PyObject* rules_max_ojama_drop(PyObject* self) {
    return entry([&] { return to_py(BorrowShared<VersusRules>(self)->max_ojama_drop); });
}

PyObject* rules_target_at(PyObject* self, CallArgs args) {
    return entry([&] {
        auto [frame] = parse(args, "VersusRules.target_at()", "frame");
        const std::uint64_t f = int_argument(frame, "VersusRules.target_at()", "frame", 0, UINT64_MAX);
        return to_py(BorrowShared<VersusRules>(self)->target_at(f));
    });
}

// The constructor's arguments, for pickling and the match's own.
Ref rules_arguments(const VersusRules& r) {
    Ref target = Ref::steal(to_py(r.target_points));
    Ref margin = Ref::steal(r.margin ? to_py_float(r.margin_time) : py_none());
    Ref bonus = Ref::steal(to_py(r.all_clear_bonus)), drop = Ref::steal(to_py(r.max_ojama_drop));
    return Ref::steal(PyTuple_Pack(4, target.get(), margin.get(), bonus.get(), drop.get()));
}

PyObject* rules_reduce(PyObject* self, PyObject*) {
    return entry([&] {
        Ref a = rules_arguments(*BorrowShared<VersusRules>(self));
        return PyTuple_Pack(2, reinterpret_cast<PyObject*>(Py_TYPE(self)), a.get());
    });
}

std::string margin_text(const VersusRules& r) {
    if (!r.margin) return "None";
    Ref f = Ref::steal(to_py_float(r.margin_time));
    Ref text = Ref::steal(PyObject_Repr(f.get()));
    return std::string(str_view(text.get()));
}

PyObject* rules_repr(PyObject* self) {
    return entry([&] {
        BorrowShared<VersusRules> r(self);
        return to_py_str("VersusRules(target_points=" + std::to_string(r->target_points) + ", margin_time=" +
                         margin_text(*r) + ", all_clear_bonus=" + std::to_string(r->all_clear_bonus) +
                         ", max_ojama_drop=" + std::to_string(r->max_ojama_drop) + ")");
    });
}

// ---------------------------------------------------------------- Event

PyObject* new_event(const MatchEvent& e) { return new_object(event_type(), e); }

PyObject* event_value(const MatchEvent& e, unsigned i) { return to_py(e.values[i]); }

// The event's numbers by name, in the kind's order.
PyObject* event_dict(const MatchEvent& e) {
    Ref dict = Ref::steal(PyDict_New());
    const MatchEvent::KindInfo& info = e.info();
    if (info.has_hand) {
        Ref hand = Ref::steal(new_object(tavik_hand_type(), e.hand));
        if (PyDict_SetItemString(dict.get(), "hand", hand.get()) < 0) throw_python_error();
    }
    for (unsigned i = 0; i < info.count; ++i) {
        Ref v = Ref::steal(event_value(e, i));
        const std::string name(info.values[i]);
        if (PyDict_SetItemString(dict.get(), name.c_str(), v.get()) < 0) throw_python_error();
    }
    return dict.release();
}

// Reads `data` (a dict) into the event's hand and values: exactly the kind's
// names. The items are copied first, so no callback can change them under us.
void read_event_data(PyObject* data, MatchEvent& e, const char* where) {
    const MatchEvent::KindInfo& info = e.info();
    const std::size_t expected = info.count + (info.has_hand ? 1 : 0);
    if (data == Py_None) {
        if (expected == 0) return;
        raise(PyExc_ValueError, std::string(where) + ": a " + std::string(info.name) + " event needs its data");
    }
    if (!PyDict_Check(data))
        raise(PyExc_TypeError, std::string(where) + ": data must be a dict, got " + Py_TYPE(data)->tp_name);
    Ref items = Ref::steal(PyDict_Items(data));
    const Py_ssize_t n = PyList_GET_SIZE(items.get());
    if (static_cast<std::size_t>(n) != expected)
        raise(PyExc_ValueError, std::string(where) + ": a " + std::string(info.name) + " event has " +
                                    std::to_string(expected) + " numbers, got " + std::to_string(n));
    for (Py_ssize_t j = 0; j < n; ++j) {
        PyObject* item = PyList_GET_ITEM(items.get(), j);
        PyObject* key = PyTuple_GET_ITEM(item, 0);
        PyObject* value = PyTuple_GET_ITEM(item, 1);
        if (!PyUnicode_Check(key)) raise(PyExc_TypeError, std::string(where) + ": data keys must be str");
        const std::string name(str_view(key));
        if (info.has_hand && name == "hand") {
            e.hand = hand_argument(value, where);
            continue;
        }
        unsigned i = 0;
        while (i < info.count && info.values[i] != name) ++i;
        if (i == info.count)
            raise(PyExc_ValueError,
                  std::string(where) + ": a " + std::string(info.name) + " event has no number '" + name + "'");
        e.values[i] = int_argument(value, where, info.values[i].data(), 0, UINT64_MAX);
    }
}

PyObject* event_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return entry([&] {
        const char* where = "Event()";
        PyObject* a[4] = {nullptr, nullptr, nullptr, Py_None};
        parse_with_defaults(CallArgs::from_tuple(args, kwargs), where, {"frame", "player", "kind", "data"}, a);
        MatchEvent e;
        e.frame = int_argument(a[0], where, "frame", 0, UINT64_MAX);
        e.player = static_cast<std::uint8_t>(player_argument(a[1], where));
        if (!PyUnicode_Check(a[2]))
            raise(PyExc_TypeError, std::string(where) + ": kind must be a str, got " + Py_TYPE(a[2])->tp_name);
        const std::optional<MatchEvent::Kind> kind = MatchEvent::kind_from_name(str_view(a[2]));
        if (!kind)
            raise(PyExc_ValueError, std::string(where) + ": unknown kind '" + std::string(str_view(a[2])) +
                                        "' (place, link, all_clear, offset, chain_end, garbage or lose)");
        e.kind = *kind;
        read_event_data(a[3], e, where);
        return new_object(type, e);
    });
}

PyObject* event_frame(PyObject* self) {
    return entry([&] { return to_py(BorrowShared<MatchEvent>(self)->frame); });
}
PyObject* event_player(PyObject* self) {
    return entry([&] { return to_py(std::uint64_t{BorrowShared<MatchEvent>(self)->player}); });
}
PyObject* event_kind(PyObject* self) {
    return entry([&] { return to_py_str(BorrowShared<MatchEvent>(self)->info().name); });
}
PyObject* event_data(PyObject* self) {
    return entry([&] { return event_dict(*BorrowShared<MatchEvent>(self)); });
}

// Every name a kind's number has: each is an attribute of the events whose
// kind has it, an AttributeError on the others.
constexpr std::array<std::string_view, 13> NUMBER_NAMES = {
    "hand",         "frames",      "chain", "score",   "sent", "bonus",    "cancel_pending",
    "cancel_fixed", "to_opponent", "fixed", "dropped", "lost", "remaining"};

PyObject* event_number(PyObject* self, void* closure) {
    return entry([&]() -> PyObject* {
        const std::string_view n = NUMBER_NAMES[reinterpret_cast<std::uintptr_t>(closure)];
        BorrowShared<MatchEvent> e(self);
        const MatchEvent::KindInfo& info = e->info();
        if (info.has_hand && n == "hand") return new_object(tavik_hand_type(), e->hand);
        for (unsigned i = 0; i < info.count; ++i)
            if (info.values[i] == n) return event_value(*e, i);
        raise(PyExc_AttributeError,
              "a " + std::string(info.name) + " event has no " + std::string(n) + " (see Event.data)");
    });
}

std::string event_text(const MatchEvent& e) {
    std::string out = "Event(frame=" + std::to_string(e.frame) + ", player=" + std::to_string(e.player) + ", kind='";
    out += e.info().name;
    out += "'";
    if (e.info().has_hand) {
        Ref hand = Ref::steal(new_object(tavik_hand_type(), e.hand));
        Ref text = Ref::steal(PyObject_Repr(hand.get()));
        out += ", hand=";
        out += str_view(text.get());
    }
    for (unsigned i = 0; i < e.info().count; ++i) {
        out += ", ";
        out += e.info().values[i];
        out += "=" + std::to_string(e.values[i]);
    }
    return out + ")";
}

PyObject* event_repr(PyObject* self) {
    return entry([&] { return to_py_str(event_text(*BorrowShared<MatchEvent>(self))); });
}

PyObject* event_reduce(PyObject* self, PyObject*) {
    return entry([&] {
        BorrowShared<MatchEvent> e(self);
        Ref frame = Ref::steal(to_py(e->frame)), player = Ref::steal(to_py(std::uint64_t{e->player}));
        Ref kind = Ref::steal(to_py_str(e->info().name)), data = Ref::steal(event_dict(*e));
        Ref a = Ref::steal(PyTuple_Pack(4, frame.get(), player.get(), kind.get(), data.get()));
        return PyTuple_Pack(2, reinterpret_cast<PyObject*>(Py_TYPE(self)), a.get());
    });
}

// ---------------------------------------------------------------- Player

template <std::uint64_t VersusPlayer::*Member>
PyObject* player_number(PyObject* self) {
    return entry([&] { return to_py(BorrowShared<PlayerView>(self)->state.*Member); });
}

PyObject* player_field(PyObject* self) {
    return entry([&] { return new_tavik_field(BorrowShared<PlayerView>(self)->state.field); });
}
PyObject* player_pairs(PyObject* self) {
    return entry([&] {
        BorrowShared<PlayerView> v(self);
        Ref list = Ref::steal(PyList_New(v->visible));
        for (unsigned k = 0; k < v->visible; ++k)
            PyList_SET_ITEM(list.get(), k, new_object(tavik_pair_type(), v->sequence.at(v->state.turn + k)));
        return list.release();
    });
}
PyObject* player_next_frame(PyObject* self) {
    return entry([&] { return to_py(BorrowShared<PlayerView>(self)->next_frame); });
}
PyObject* player_over(PyObject* self) {
    return entry([&] { return to_py(BorrowShared<PlayerView>(self)->state.lost()); });
}

PyObject* player_repr(PyObject* self) {
    return entry([&] {
        BorrowShared<PlayerView> v(self);
        const VersusPlayer& s = v->state;
        return to_py_str("<Player turn=" + std::to_string(s.turn) + " score=" + std::to_string(s.score) +
                         " pending_ojama=" + std::to_string(s.pending) + " fixed_ojama=" + std::to_string(s.fixed) +
                         " next_frame=" + std::to_string(v->next_frame) + " over=" + (s.lost() ? "True" : "False") +
                         ">");
    });
}

// ---------------------------------------------------------------- Match

PyObject* match_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return entry([&] {
        const char* where = "Match()";
        Ref zero = Ref::steal(to_py(std::uint64_t{0})), four = Ref::steal(to_py(std::uint64_t{4}));
        Ref three = Ref::steal(to_py(std::uint64_t{3}));
        PyObject* a[5] = {zero.get(), four.get(), three.get(), Py_None, Py_None};
        parse_with_defaults(CallArgs::from_tuple(args, kwargs), where,
                            {"seed", "colours", "visible", "rules", "fields"}, a);
        const std::uint64_t seed = int_argument(a[0], where, "seed", 0, UINT64_MAX);
        const std::uint64_t colours = int_argument(a[1], where, "colours", 3, 4);
        const std::uint64_t visible = int_argument(a[2], where, "visible", 1, MAX_VISIBLE);
        VersusRules rules;
        if (a[3] != Py_None) {
            if (!PyObject_TypeCheck(a[3], rules_type()))
                raise(PyExc_TypeError,
                      std::string(where) + ": rules must be a VersusRules or None, got " + Py_TYPE(a[3])->tp_name);
            rules = copy_of<VersusRules>(a[3], rules_type());
        }
        std::array<BitField, 2> fields{};
        if (a[4] != Py_None) {
            // A private tuple of the items: nothing can shrink it while we read.
            Ref items = sized_items(a[4], "Match(): fields must be a sequence of two tavik.Fields or None");
            if (PySequence_Fast_GET_SIZE(items.get()) != 2)
                raise(PyExc_ValueError, std::string(where) + ": fields must hold two fields, got " +
                                            std::to_string(PySequence_Fast_GET_SIZE(items.get())));
            for (Py_ssize_t p = 0; p < 2; ++p) {
                fields[static_cast<std::size_t>(p)] = field_argument(PySequence_Fast_GET_ITEM(items.get(), p), where);
                if (!Match::field_fits(fields[static_cast<std::size_t>(p)]))
                    raise(PyExc_ValueError, std::string(where) + ": field " + std::to_string(p) +
                                                " must be settled, with no group to vanish and column 2, row 2 free");
            }
        }
        return new_object(type,
                          Match(seed, static_cast<unsigned>(colours), static_cast<unsigned>(visible), rules, fields));
    });
}

PyObject* match_frame(PyObject* self) {
    return entry([&] { return to_py(BorrowShared<Match>(self)->frame()); });
}
PyObject* match_seed(PyObject* self) {
    return entry([&] { return to_py(BorrowShared<Match>(self)->seed()); });
}
PyObject* match_colours(PyObject* self) {
    return entry([&] { return to_py(std::uint64_t{BorrowShared<Match>(self)->sequence().colours()}); });
}
PyObject* match_visible(PyObject* self) {
    return entry([&] { return to_py(std::uint64_t{BorrowShared<Match>(self)->visible()}); });
}
PyObject* match_rules(PyObject* self) {
    return entry([&] { return new_object(rules_type(), BorrowShared<Match>(self)->rules()); });
}
PyObject* match_sequence(PyObject* self) {
    return entry([&] { return new_object(pair_sequence_type(), BorrowShared<Match>(self)->sequence()); });
}
PyObject* match_over(PyObject* self) {
    return entry([&] { return to_py(BorrowShared<Match>(self)->over()); });
}
PyObject* match_winner(PyObject* self) {
    return entry([&] {
        const std::optional<unsigned> w = BorrowShared<Match>(self)->winner();
        return w ? to_py(std::uint64_t{*w}) : py_none();
    });
}

PyObject* match_players(PyObject* self) {
    return entry([&] {
        BorrowShared<Match> m(self);
        Ref views[2];
        for (unsigned p = 0; p < 2; ++p)
            views[p] = Ref::steal(
                new_object(player_type(), PlayerView{m->player(p), m->sequence(), m->visible(), m->next_frame(p)}));
        return PyTuple_Pack(2, views[0].get(), views[1].get());
    });
}

PyObject* event_list(const std::vector<MatchEvent>& events, std::size_t from) {
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(events.size() - from)));
    for (std::size_t i = from; i < events.size(); ++i)
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i - from), new_event(events[i]));
    return list.release();
}

PyObject* match_events(PyObject* self) {
    return entry([&] { return event_list(BorrowShared<Match>(self)->events(), 0); });
}

PyObject* match_due(PyObject* self, PyObject*) {
    return entry([&] {
        const unsigned due = BorrowShared<Match>(self)->due();
        Ref tuple = Ref::steal(PyTuple_New(std::popcount(due)));
        Py_ssize_t i = 0;
        for (unsigned p = 0; p < 2; ++p)
            if (due >> p & 1) PyTuple_SET_ITEM(tuple.get(), i++, to_py(std::uint64_t{p}));
        return tuple.release();
    });
}

PyObject* match_legal_mask(PyObject* self, CallArgs args) {
    return entry([&] {
        auto [player] = parse(args, "Match.legal_mask()", "player");
        const unsigned p = player_argument(player, "Match.legal_mask()");
        return to_py(std::uint64_t{BorrowShared<Match>(self)->legal_mask(p)});
    });
}

PyObject* match_legal_hands(PyObject* self, CallArgs args) {
    return entry([&] {
        auto [player] = parse(args, "Match.legal_hands()", "player");
        const unsigned p = player_argument(player, "Match.legal_hands()");
        return legal_hands_list(BorrowShared<Match>(self)->legal_mask(p));
    });
}

std::string due_text(unsigned due) {
    if (due == 3) return "(0, 1)";
    return due == 1 ? "(0,)" : due == 2 ? "(1,)" : "()";
}

// The hands of a play() argument, read in full before the match is touched.
std::array<std::optional<Hand>, 2> hands_argument(PyObject* o, const char* where) {
    if (!PyDict_Check(o))
        raise(PyExc_TypeError,
              std::string(where) + ": hands must be a dict {player: tavik.Hand}, got " + Py_TYPE(o)->tp_name);
    // The borrowed items are read without running any Python code (an int's
    // value and a Hand's bytes), so nothing can change the dict meanwhile; a
    // refused item raises and ends the reading.
    std::array<std::optional<Hand>, 2> hands;
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(o, &pos, &key, &value)) {
        const unsigned p = player_argument(key, where);
        hands[p] = hand_argument(value, where);
    }
    return hands;
}

PyObject* match_play(PyObject* self, CallArgs args) {
    return entry([&] {
        const char* where = "Match.play()";
        auto [hands_arg] = parse(args, where, "hands");
        const std::array<std::optional<Hand>, 2> hands = hands_argument(hands_arg, where);
        BorrowExclusive<Match> m(self);
        const unsigned due = m->due();
        switch (m->check(hands)) {
            case PlayError::NONE: break;
            case PlayError::OVER: raise(PyExc_ValueError, std::string(where) + ": the match is over");
            case PlayError::MISSING:
            case PlayError::NOT_DUE:
                raise(PyExc_ValueError, std::string(where) + ": give a hand for exactly the due players " +
                                            due_text(due) + " at frame " + std::to_string(m->frame()));
            case PlayError::ILLEGAL:
                for (unsigned p = 0; p < 2; ++p)
                    if (hands[p] && !rules::is_legal(m->player(p).field, *hands[p]))
                        raise(PyExc_ValueError, std::string(where) + ": hand " + hands[p]->display() +
                                                    " is not legal on player " + std::to_string(p) + "'s field");
                break;
        }
        const std::size_t from = m->events().size();
        m->play_checked(hands);
        return event_list(m->events(), from);
    });
}

PyObject* match_game(PyObject* self, CallArgs args) {
    return entry([&] {
        auto [player] = parse(args, "Match.game()", "player");
        const unsigned p = player_argument(player, "Match.game()");
        return new_game(BorrowShared<Match>(self)->game(p));
    });
}

PyObject* match_copy(PyObject* self, PyObject*) {
    return entry([&] { return new_object(Py_TYPE(self), *BorrowShared<Match>(self)); });
}
PyObject* match_deepcopy(PyObject* self, PyObject*) { return match_copy(self, nullptr); }

// Pickles as Match(seed, colours, visible, rules, fields) and the hands played
// (bytes of Hand.enumerate() indices): replaying them rebuilds every state
// the rules allow, and nothing else.
PyObject* match_reduce(PyObject* self, PyObject*) {
    return entry([&] {
        BorrowShared<Match> m(self);
        if (!m->recording())
            raise(PyExc_ValueError, "Match.__reduce__(): a match taken from a vector environment keeps no hands");
        Ref seed = Ref::steal(to_py(m->seed())), colours = Ref::steal(to_py(std::uint64_t{m->sequence().colours()}));
        Ref visible = Ref::steal(to_py(std::uint64_t{m->visible()}));
        Ref rules = Ref::steal(new_object(rules_type(), m->rules()));
        Ref f0 = Ref::steal(new_tavik_field(m->start_fields()[0])),
            f1 = Ref::steal(new_tavik_field(m->start_fields()[1]));
        Ref fields = Ref::steal(PyTuple_Pack(2, f0.get(), f1.get()));
        Ref ctor = Ref::steal(PyTuple_Pack(5, seed.get(), colours.get(), visible.get(), rules.get(), fields.get()));
        const std::vector<std::uint8_t>& h = m->history();
        Ref state = Ref::steal(to_py_bytes(std::string_view(reinterpret_cast<const char*>(h.data()), h.size())));
        return PyTuple_Pack(3, reinterpret_cast<PyObject*>(Py_TYPE(self)), ctor.get(), state.get());
    });
}

PyObject* match_setstate(PyObject* self, CallArgs args) {
    return entry([&] {
        const char* where = "Match.__setstate__()";
        auto [state] = parse(args, where, "state");
        if (!PyBytes_Check(state)) raise(PyExc_TypeError, std::string(where) + ": state must be bytes");
        const std::string history(bytes_view(state));
        BorrowExclusive<Match> m(self);
        Match replay(m->seed(), m->sequence().colours(), m->visible(), m->rules(), m->start_fields());
        std::size_t at = 0;
        while (at < history.size()) {
            std::array<std::optional<Hand>, 2> hands;
            for (unsigned p = 0; p < 2; ++p) {
                if (!(replay.due() >> p & 1)) continue;
                if (at == history.size())
                    raise(PyExc_ValueError, std::string(where) + ": the hands do not make a match");
                const auto index = static_cast<std::uint8_t>(history[at++]);
                if (index >= Hand::enumerate().size())
                    raise(PyExc_ValueError, std::string(where) + ": the hands do not make a match");
                hands[p] = Hand::enumerate()[index];
            }
            if (replay.play(hands) != PlayError::NONE)
                raise(PyExc_ValueError, std::string(where) + ": the hands do not make a match");
        }
        *m = std::move(replay);
        return py_none();
    });
}

PyObject* match_repr(PyObject* self) {
    return entry([&] {
        BorrowShared<Match> m(self);
        const std::optional<unsigned> w = m->winner();
        return to_py_str("<Match seed=" + std::to_string(m->seed()) + " frame=" + std::to_string(m->frame()) +
                         " over=" + (m->over() ? "True" : "False") +
                         " winner=" + (w ? std::to_string(*w) : std::string("None")) + ">");
    });
}

// ---------------------------------------------------------------- functions

PyObject* placement_frames(PyObject*, CallArgs args) {
    return entry([&] {
        const char* where = "placement_frames()";
        auto [field_arg, hand_arg] = parse(args, where, "field", "hand");
        const BitField field = field_argument(field_arg, where);
        const Hand hand = hand_argument(hand_arg, where);
        if (!rules::is_legal(field, hand))
            raise(PyExc_ValueError, std::string(where) + ": hand " + hand.display() + " is not legal on this field");
        return to_py(tavik::placement_frames(field, hand));
    });
}

PyObject* settle_frames(PyObject*, CallArgs args) {
    return entry([&] {
        auto [field_arg] = parse(args, "settle_frames()", "field");
        return to_py(tavik::settle_frames(field_argument(field_arg, "settle_frames()")));
    });
}

// ---------------------------------------------------------------- classes

PyTypeObject* rules_type() {
    static LazyType lazy;
    return create_once<VersusRules>(lazy, "VersusRules", "tavik_game.VersusRules", [](PyTypeObject& t) {
        static PyGetSetDef getters[] = {getter<rules_target_points>("target_points"),
                                        getter<rules_margin_time>("margin_time"),
                                        getter<rules_all_clear_bonus>("all_clear_bonus"),
                                        getter<rules_max_ojama_drop>("max_ojama_drop"), END_GETTERS};
        static PyMethodDef methods[] = {
            method<rules_target_at>("target_at"), {"__reduce__", rules_reduce, METH_NOARGS, ""}, END_METHODS};
        t.tp_new = rules_new;
        t.tp_repr = rules_repr;
        t.tp_richcompare = compare<VersusRules>;
        t.tp_getset = getters;
        t.tp_methods = methods;
    });
}

PyTypeObject* event_type() {
    static LazyType lazy;
    return create_once<MatchEvent>(lazy, "Event", "tavik_game.Event", [](PyTypeObject& t) {
        static PyGetSetDef getters[4 + NUMBER_NAMES.size() + 1] = {
            getter<event_frame>("frame"), getter<event_player>("player"), getter<event_kind>("kind"),
            getter<event_data>("data")};
        for (std::size_t i = 0; i < NUMBER_NAMES.size(); ++i)
            getters[4 + i] = {NUMBER_NAMES[i].data(), event_number, nullptr, "",
                              reinterpret_cast<void*>(static_cast<std::uintptr_t>(i))};
        getters[4 + NUMBER_NAMES.size()] = END_GETTERS;
        static PyMethodDef methods[] = {{"__reduce__", event_reduce, METH_NOARGS, ""}, END_METHODS};
        t.tp_new = event_new;
        t.tp_repr = event_repr;
        t.tp_richcompare = compare<MatchEvent>;
        t.tp_getset = getters;
        t.tp_methods = methods;
    });
}

PyTypeObject* player_type() {
    static LazyType lazy;
    return create_once<PlayerView>(lazy, "Player", "tavik_game.Player", [](PyTypeObject& t) {
        static PyGetSetDef getters[] = {getter<player_field>("field"),
                                        getter<player_pairs>("pairs"),
                                        getter<player_number<&VersusPlayer::turn>>("turn"),
                                        getter<player_number<&VersusPlayer::score>>("score"),
                                        getter<player_number<&VersusPlayer::consumed>>("consumed"),
                                        getter<player_number<&VersusPlayer::pending>>("pending_ojama"),
                                        getter<player_number<&VersusPlayer::fixed>>("fixed_ojama"),
                                        getter<player_next_frame>("next_frame"),
                                        getter<player_number<&VersusPlayer::max_chain>>("max_chain"),
                                        getter<player_over>("over"),
                                        END_GETTERS};
        t.tp_repr = player_repr;
        t.tp_richcompare = compare<PlayerView>;
        t.tp_getset = getters;
    });
}

PyTypeObject* match_type() {
    static LazyType lazy;
    return create_once<Match>(lazy, "Match", "tavik_game.Match", [](PyTypeObject& t) {
        static PyGetSetDef getters[] = {getter<match_frame>("frame"),
                                        getter<match_seed>("seed"),
                                        getter<match_colours>("colours"),
                                        getter<match_visible>("visible"),
                                        getter<match_rules>("rules"),
                                        getter<match_sequence>("sequence"),
                                        getter<match_players>("players"),
                                        getter<match_over>("over"),
                                        getter<match_winner>("winner"),
                                        getter<match_events>("events"),
                                        END_GETTERS};
        static PyMethodDef methods[] = {{"due", match_due, METH_NOARGS, ""},
                                        method<match_legal_mask>("legal_mask"),
                                        method<match_legal_hands>("legal_hands"),
                                        method<match_play>("play"),
                                        method<match_game>("game"),
                                        {"copy", match_copy, METH_NOARGS, ""},
                                        {"__copy__", match_copy, METH_NOARGS, ""},
                                        {"__deepcopy__", match_deepcopy, METH_O, ""},
                                        {"__reduce__", match_reduce, METH_NOARGS, ""},
                                        method<match_setstate>("__setstate__"),
                                        END_METHODS};
        t.tp_new = match_new;
        t.tp_repr = match_repr;
        t.tp_richcompare = compare<Match>;
        t.tp_getset = getters;
        t.tp_methods = methods;
    });
}

}  // namespace

PyTypeObject* versus_rules_type() { return rules_type(); }
PyObject* new_match(const Match& match) { return new_object(match_type(), match); }

void add_match(PyObject* module) {
    add_to_module(module, "VersusRules", Py_NewRef(reinterpret_cast<PyObject*>(rules_type())));
    add_to_module(module, "Event", Py_NewRef(reinterpret_cast<PyObject*>(event_type())));
    add_to_module(module, "Player", Py_NewRef(reinterpret_cast<PyObject*>(player_type())));
    add_to_module(module, "Match", Py_NewRef(reinterpret_cast<PyObject*>(match_type())));
    static PyMethodDef functions[] = {method<placement_frames>("placement_frames"),
                                      method<settle_frames>("settle_frames"), END_METHODS};
    add_functions(module, functions);
}

}  // namespace tavik::py
