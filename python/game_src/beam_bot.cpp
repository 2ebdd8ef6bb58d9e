// BeamBot: the reference bot of core/src/game/beam_bot.hpp as a Python class.
#include "python.hpp"
#include "game_module.hpp"

#include <string>

#include "game/beam_bot.hpp"

namespace tavik::py {

namespace {

// Past this a beam's slots (22 children of about 100 bytes per node) would
// take gigabytes.
constexpr std::uint64_t MAX_WIDTH = BeamBot::MAX_WIDTH;
constexpr std::uint64_t MAX_DEPTH = 64;
constexpr std::uint64_t MAX_THREADS = 256;

// Lets other Python threads run while the bot searches; taken back on any exit.
class AllowThreads {
public:
    AllowThreads() : state_(PyEval_SaveThread()) {}
    ~AllowThreads() { PyEval_RestoreThread(state_); }
    AllowThreads(const AllowThreads&) = delete;
    AllowThreads& operator=(const AllowThreads&) = delete;

private:
    PyThreadState* state_;
};

PyObject* bot_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return entry([&] {
        Ref width = Ref::steal(to_py(std::uint64_t{100})), depth = Ref::steal(to_py(std::uint64_t{3}));
        Ref threads = Ref::steal(to_py(std::uint64_t{1}));
        PyObject* a[3] = {width.get(), depth.get(), threads.get()};
        parse_with_defaults(CallArgs::from_tuple(args, kwargs), "BeamBot()", {"width", "depth", "threads"}, a);
        const auto w = static_cast<unsigned>(int_argument(a[0], "BeamBot()", "width", 1, MAX_WIDTH));
        const auto d = static_cast<unsigned>(int_argument(a[1], "BeamBot()", "depth", 1, MAX_DEPTH));
        const auto t = static_cast<unsigned>(int_argument(a[2], "BeamBot()", "threads", 1, MAX_THREADS));
        return new_object(type, BeamBot(w, d, t));
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

PyObject* bot_choose(PyObject* self, CallArgs args) {
    return entry([&] {
        auto [game_arg] = parse(args, "BeamBot.choose()", "game");
        if (!PyObject_TypeCheck(game_arg, game_type()))
            raise(PyExc_TypeError,
                  std::string("BeamBot.choose(): expected tavik_game.Game, got ") + Py_TYPE(game_arg)->tp_name);
        // Copies of both, so nothing Python owns is read while the lock is released.
        const Game game = copy_of<Game>(game_arg, game_type());
        const BeamBot bot = BorrowShared<BeamBot>(self).get();
        if (game.over()) raise(PyExc_ValueError, "BeamBot.choose(): the game is over");
        if (bot.depth() > game.visible())
            raise(PyExc_ValueError, "BeamBot.choose(): the bot's depth " + std::to_string(bot.depth()) +
                                        " exceeds the game's " + std::to_string(game.visible()) + " visible pairs");
        Hand hand;
        {
            AllowThreads unlocked;
            hand = bot.choose(game);
        }
        return new_object(tavik_hand_type(), hand);
    });
}

PyObject* bot_repr(PyObject* self) {
    return entry([&] {
        BorrowShared<BeamBot> b(self);
        return to_py_str("BeamBot(width=" + std::to_string(b->width()) + ", depth=" + std::to_string(b->depth()) +
                         ", threads=" + std::to_string(b->threads()) + ")");
    });
}

PyTypeObject* beam_bot_type() {
    static LazyType lazy;
    return create_once<BeamBot>(lazy, "BeamBot", "tavik_game.BeamBot", [](PyTypeObject& t) {
        static PyGetSetDef getters[] = {getter<bot_width>("width"), getter<bot_depth>("depth"),
                                        getter<bot_threads>("threads"), END_GETTERS};
        static PyMethodDef methods[] = {method<bot_choose>("choose"), END_METHODS};
        t.tp_new = bot_new;
        t.tp_repr = bot_repr;
        t.tp_getset = getters;
        t.tp_methods = methods;
    });
}

}  // namespace

void add_beam_bot(PyObject* module) {
    add_to_module(module, "BeamBot", Py_NewRef(reinterpret_cast<PyObject*>(beam_bot_type())));
}

}  // namespace tavik::py
