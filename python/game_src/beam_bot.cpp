// BeamBot: the reference bot of core/src/game/beam_bot.hpp as a Python class.
#include "python.hpp"
#include "game_module.hpp"

#include <chrono>
#include <cmath>
#include <string>
#include <utility>

#include "game/beam_bot.hpp"

namespace tavik::py {

namespace {

// Past this a beam's slots (22 children of about 100 bytes per node) would
// take gigabytes.
constexpr std::uint64_t MAX_WIDTH = BeamBot::MAX_WIDTH;
constexpr std::uint64_t MAX_DEPTH = 64;
constexpr std::uint64_t MAX_THREADS = 256;

constexpr std::uint64_t MAX_QUEUES = 1024;
constexpr std::uint64_t MAX_HORIZON = 128;

// Weights as a sequence of BotWeights::COUNT finite numbers in NAMES order
// (a tavik_game.BotWeights is one); read from a private copy.
BotWeights weights_argument(PyObject* o, const char* where) {
    const std::string what = std::string(where) + ": weights must be a BotWeights or a sequence of " +
                             std::to_string(BotWeights::COUNT) + " numbers";
    Ref items = sized_items(o, what.c_str());  // an int subclass's __float__ may change the caller's list
    if (static_cast<std::size_t>(PyTuple_GET_SIZE(items.get())) != BotWeights::COUNT) raise(PyExc_ValueError, what);
    BotWeights w;
    const auto members = w.members();
    for (std::size_t k = 0; k < BotWeights::COUNT; ++k) {
        PyObject* item = PyTuple_GET_ITEM(items.get(), static_cast<Py_ssize_t>(k));
        if (!PyFloat_Check(item) && !PyLong_Check(item)) raise(PyExc_TypeError, what);
        const double v = PyFloat_AsDouble(item);
        if (v == -1.0 && PyErr_Occurred()) throw_python_error();
        if (!std::isfinite(v) || std::abs(v) > 1e12)
            raise(PyExc_ValueError, std::string(where) + ": weight " + std::string(BotWeights::NAMES[k]) +
                                        " must be finite and at most 1e12 in size");
        *members[k] = v;
    }
    return w;
}

PyObject* weights_tuple(const BotWeights& w) {
    const auto v = w.values();
    Ref t = Ref::steal(PyTuple_New(BotWeights::COUNT));
    for (std::size_t k = 0; k < BotWeights::COUNT; ++k) {
        PyObject* f = PyFloat_FromDouble(v[k]);
        if (!f) throw_python_error();
        PyTuple_SET_ITEM(t.get(), static_cast<Py_ssize_t>(k), f);
    }
    return t.release();
}

PyObject* bot_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return entry([&] {
        Ref width = Ref::steal(to_py(std::uint64_t{100})), depth = Ref::steal(to_py(std::uint64_t{3}));
        Ref one = Ref::steal(to_py(std::uint64_t{1})), zero = Ref::steal(to_py(std::uint64_t{0}));
        PyObject* a[10] = {width.get(), depth.get(), one.get(),  Py_None,    zero.get(),
                           zero.get(),  zero.get(),  zero.get(), zero.get(), zero.get()};
        parse_with_defaults(
            CallArgs::from_tuple(args, kwargs), "BeamBot()",
            {"width", "depth", "threads", "weights", "queues", "horizon", "queue_width", "seed", "fire_score", "pairs"},
            a);
        const auto w = static_cast<unsigned>(int_argument(a[0], "BeamBot()", "width", 1, MAX_WIDTH));
        const auto d = static_cast<unsigned>(int_argument(a[1], "BeamBot()", "depth", 1, MAX_DEPTH));
        const auto t = static_cast<unsigned>(int_argument(a[2], "BeamBot()", "threads", 1, MAX_THREADS));
        Lookahead look;
        look.queues = static_cast<unsigned>(int_argument(a[4], "BeamBot()", "queues", 0, MAX_QUEUES));
        look.horizon = static_cast<unsigned>(int_argument(a[5], "BeamBot()", "horizon", 0, MAX_HORIZON));
        look.width = static_cast<unsigned>(int_argument(a[6], "BeamBot()", "queue_width", 0, MAX_WIDTH));
        look.seed = int_argument(a[7], "BeamBot()", "seed", 0, UINT64_MAX);
        look.fire_score = int_argument(a[8], "BeamBot()", "fire_score", 0, UINT64_MAX);
        look.pairs = int_argument(a[9], "BeamBot()", "pairs", 0, UINT64_MAX);
        // Without weights, each search has its own: the plain one today's, the
        // lookahead the tuned ones.
        const BotWeights weights = a[3] == Py_None ? (look.queues ? BotWeights::tuned() : BotWeights::classic())
                                                   : weights_argument(a[3], "BeamBot()");
        return new_object(type, BeamBot(w, d, t, weights, look));
    });
}

PyObject* bot_width(PyObject* self) {
    return entry([&] { return to_py(std::uint64_t{BorrowShared<BeamBot>(self)->width()}); });
}
PyObject* bot_depth(PyObject* self) {
    return entry([&] { return to_py(std::uint64_t{BorrowShared<BeamBot>(self)->depth()}); });
}
PyObject* bot_threads(PyObject* self) {
    return entry([&] { return to_py(std::uint64_t{BorrowShared<BeamBot>(self)->threads()}); });
}

PyObject* bot_weights(PyObject* self) {
    return entry([&] { return weights_tuple(BorrowShared<BeamBot>(self)->weights()); });
}
template <std::uint64_t (*Read)(const Lookahead&)>
PyObject* lookahead_getter(PyObject* self) {
    return entry([&] { return to_py(Read(BorrowShared<BeamBot>(self)->lookahead())); });
}
std::uint64_t queues_of(const Lookahead& l) { return l.queues; }
std::uint64_t horizon_of(const Lookahead& l) { return l.horizon; }
std::uint64_t queue_width_of(const Lookahead& l) { return l.width; }
std::uint64_t seed_of(const Lookahead& l) { return l.seed; }
std::uint64_t fire_score_of(const Lookahead& l) { return l.fire_score; }
std::uint64_t pairs_of(const Lookahead& l) { return l.pairs; }

// The game and bot of a search call, copied so nothing Python owns is read
// while the lock is released.
std::pair<Game, BeamBot> search_arguments(PyObject* self, PyObject* game_arg, const char* where) {
    if (!PyObject_TypeCheck(game_arg, game_type()))
        raise(PyExc_TypeError, std::string(where) + ": expected tavik_game.Game, got " + Py_TYPE(game_arg)->tp_name);
    Game game = copy_of<Game>(game_arg, game_type());
    BeamBot bot = BorrowShared<BeamBot>(self).get();
    if (game.over()) raise(PyExc_ValueError, std::string(where) + ": the game is over");
    if (bot.depth() > game.visible())
        raise(PyExc_ValueError, std::string(where) + ": the bot's depth " + std::to_string(bot.depth()) +
                                    " exceeds the game's " + std::to_string(game.visible()) + " visible pairs");
    return {std::move(game), std::move(bot)};
}

PyObject* bot_analyse(PyObject* self, CallArgs args) {
    return entry([&] {
        auto [game_arg] = parse(args, "BeamBot.analyse()", "game");
        const auto [game, bot] = search_arguments(self, game_arg, "BeamBot.analyse()");
        std::vector<HandValue> ranked;
        SearchStats stats;
        const auto start = std::chrono::steady_clock::now();
        {
            WithoutLock unlocked;
            ranked = bot.analyse(game, &stats);
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        Ref hands = Ref::steal(PyList_New(0));
        for (const HandValue& v : ranked) {
            Ref h = Ref::steal(new_object(tavik_hand_type(), Hand::enumerate()[v.hand]));
            Ref value = Ref::steal(PyFloat_FromDouble(v.value));
            if (!value) throw_python_error();
            Ref t = Ref::steal(PyTuple_Pack(2, h.get(), value.get()));
            if (PyList_Append(hands.get(), t.get()) < 0) throw_python_error();
        }
        Ref info = Ref::steal(PyDict_New());
        auto put = [&](const char* key, PyObject* value) {
            Ref v = Ref::steal(value);
            if (!v) throw_python_error();
            if (PyDict_SetItemString(info.get(), key, v.get()) < 0) throw_python_error();
        };
        put("nodes", to_py(stats.nodes));
        put("merged", to_py(stats.merged));
        put("levels", to_py(stats.levels));
        put("fired", to_py(stats.fired));
        put("seconds", PyFloat_FromDouble(seconds));
        return PyTuple_Pack(2, hands.get(), info.get());
    });
}

// (value, features) of one field under the given weights.
PyObject* evaluate_field(PyObject*, CallArgs args) {
    return entry([&] {
        auto [field_arg, weights_arg] = parse(args, "_evaluate()", "field", "weights");
        const BitField field = field_argument(field_arg, "evaluate()");
        const BotWeights weights = weights_argument(weights_arg, "evaluate()");
        const bool quiet = field.is_quiet();
        const auto features = feature_values(BeamBot::features(field, quiet));
        Ref values = Ref::steal(PyTuple_New(BotWeights::COUNT));
        for (std::size_t k = 0; k < BotWeights::COUNT; ++k) {
            PyObject* v = PyLong_FromLongLong(features[k]);
            if (!v) throw_python_error();
            PyTuple_SET_ITEM(values.get(), static_cast<Py_ssize_t>(k), v);
        }
        Ref total = Ref::steal(PyLong_FromLongLong(BeamBot::evaluate(field, weights, quiet)));
        if (!total) throw_python_error();
        return PyTuple_Pack(2, total.get(), values.get());
    });
}

PyObject* tuned_weights(PyObject*, CallArgs args) {
    return entry([&] {
        parse(args, "_tuned_weights()");
        return weights_tuple(BotWeights::tuned());
    });
}

PyObject* bot_choose(PyObject* self, CallArgs args) {
    return entry([&] {
        auto [game_arg] = parse(args, "BeamBot.choose()", "game");
        const auto [game, bot] = search_arguments(self, game_arg, "BeamBot.choose()");
        Hand hand;
        {
            WithoutLock unlocked;
            hand = bot.choose(game);
        }
        return new_object(tavik_hand_type(), hand);
    });
}

PyObject* bot_repr(PyObject* self) {
    return entry([&] {
        BorrowShared<BeamBot> b(self);
        std::string text = "BeamBot(width=" + std::to_string(b->width()) + ", depth=" + std::to_string(b->depth()) +
                           ", threads=" + std::to_string(b->threads());
        const Lookahead& look = b->lookahead();
        if (look.queues) {
            text += ", queues=" + std::to_string(look.queues) + ", horizon=" + std::to_string(look.horizon) +
                    ", queue_width=" + std::to_string(look.width) + ", seed=" + std::to_string(look.seed) +
                    ", fire_score=" + std::to_string(look.fire_score) + ", pairs=" + std::to_string(look.pairs);
        }
        return to_py_str(text + ")");
    });
}

PyTypeObject* beam_bot_type() {
    static LazyType lazy;
    return create_once<BeamBot>(lazy, "BeamBot", "tavik_game.BeamBot", [](PyTypeObject& t) {
        static PyGetSetDef getters[] = {getter<bot_width>("width"),
                                        getter<bot_depth>("depth"),
                                        getter<bot_threads>("threads"),
                                        getter<bot_weights>("weights"),
                                        getter<lookahead_getter<queues_of>>("queues"),
                                        getter<lookahead_getter<horizon_of>>("horizon"),
                                        getter<lookahead_getter<queue_width_of>>("queue_width"),
                                        getter<lookahead_getter<seed_of>>("seed"),
                                        getter<lookahead_getter<fire_score_of>>("fire_score"),
                                        getter<lookahead_getter<pairs_of>>("pairs"),
                                        END_GETTERS};
        static PyMethodDef methods[] = {method<bot_choose>("choose"), method<bot_analyse>("analyse"), END_METHODS};
        t.tp_new = bot_new;
        t.tp_repr = bot_repr;
        t.tp_getset = getters;
        t.tp_methods = methods;
    });
}

}  // namespace

void add_beam_bot(PyObject* module) {
    add_to_module(module, "BeamBot", Py_NewRef(reinterpret_cast<PyObject*>(beam_bot_type())));
    static PyMethodDef functions[] = {method<evaluate_field>("_evaluate"), method<tuned_weights>("_tuned_weights"),
                                      END_METHODS};
    add_functions(module, functions);
}

}  // namespace tavik::py
