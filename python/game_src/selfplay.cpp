// Bindings of self-play and bulk labelling: inputs copied out with the lock
// held, the games and searches run without it, the columns land in NumPy arrays.
#include "buffer.hpp"
#include "game_module.hpp"
#include "game/beam_bot.hpp"
#include "game/selfplay.hpp"

#include <cstring>
#include <exception>
#include <vector>

namespace tavik::py {

namespace {

// A new (rows, width) array, or (rows,) without a width, filled from `values`.
template <class T>
PyObject* column_array(const std::vector<T>& values, Py_ssize_t rows, Py_ssize_t width) {
    const std::vector<Py_ssize_t> shape = width ? std::vector<Py_ssize_t>{rows, width} : std::vector<Py_ssize_t>{rows};
    Ref array = Ref::steal(new_array(Ref::steal(shape_tuple(shape)).get(), element_of<T>()));
    ArrayBuffer out(array.get(), "play_games()", element_of<T>(), shape, true);
    if (!values.empty()) std::memcpy(out.data<T>(), values.data(), values.size() * sizeof(T));
    return array.release();
}

selfplay::BotKind bot_kind(PyObject* o) {
    if (!PyUnicode_Check(o)) raise(PyExc_TypeError, "play_games(): bot must be a str");
    const std::string_view name = str_view(o);
    if (name == "random") return selfplay::BotKind::RANDOM;
    if (name == "greedy") return selfplay::BotKind::GREEDY;
    if (name == "beam") return selfplay::BotKind::BEAM;
    raise(PyExc_ValueError, "play_games(): bot must be 'random', 'greedy' or 'beam', got '" + std::string(name) + "'");
}

// play_games(seed, first_game, games, bot, beam_width, max_turns, label_depth, visible)
// -> dict of column name: array, one row per position.
PyObject* play_games(PyObject*, CallArgs args) {
    return entry([&] {
        auto [seed, first, games, bot, width, max_turns, depth, visible] =
            parse(args, "play_games()", "seed", "first_game", "games", "bot", "beam_width", "max_turns", "label_depth",
                  "visible");
        selfplay::Options o;
        o.seed = int_argument(seed, "play_games()", "seed", 0, UINT64_MAX);
        o.first_game = int_argument(first, "play_games()", "first_game", 0, INT64_MAX);
        o.games = int_argument(games, "play_games()", "games", 0, INT64_MAX - o.first_game);
        o.bot = bot_kind(bot);
        // The other bots ignore the width; the beam bot's is checked as BeamBot() checks it.
        const bool beam = o.bot == selfplay::BotKind::BEAM;
        o.beam_width = static_cast<unsigned>(
            int_argument(width, "play_games()", "beam_width", beam ? 1 : 0, beam ? BeamBot::MAX_WIDTH : 1u << 20));
        o.max_turns = int_argument(max_turns, "play_games()", "max_turns", 1, INT32_MAX);
        o.label_depth = int_argument(depth, "play_games()", "label_depth", 1, 16);
        o.visible = static_cast<unsigned>(int_argument(visible, "play_games()", "visible", 1, Game::MAX_VISIBLE));
        selfplay::Columns c;
        {
            WithoutLock unlocked;
            c = selfplay::play_games(o);
        }

        const auto n = static_cast<Py_ssize_t>(c.positions());
        Ref result = Ref::steal(PyDict_New());
        auto put = [&](const char* name, PyObject* array) {
            Ref a = Ref::steal(array);
            if (PyDict_SetItemString(result.get(), name, a.get()) < 0) throw_python_error();
        };
        put("game", column_array(c.game, n, 0));
        put("turn", column_array(c.turn, n, 0));
        put("field", column_array(c.field, n, static_cast<Py_ssize_t>(selfplay::FIELD_CELLS)));
        put("pairs", column_array(c.pairs, n, static_cast<Py_ssize_t>(2 * o.visible)));
        put("hand", column_array(c.hand, n, 0));
        put("move_chain", column_array(c.move_chain, n, 0));
        put("move_score", column_array(c.move_score, n, 0));
        put("label_score", column_array(c.label_score, n, 0));
        put("label_chain", column_array(c.label_chain, n, 0));
        put("game_score", column_array(c.game_score, n, 0));
        put("game_turns", column_array(c.game_turns, n, 0));
        return result.release();
    });
}

// label_fields(fields, depth, out): out (int64, length 2 × len(fields)) gets
// score, chain of each field's label in turn.
PyObject* label_fields(PyObject*, CallArgs args) {
    return entry([&] {
        auto [fields_arg, depth_arg, out_arg] = parse(args, "label_fields()", "fields", "depth", "out");
        const std::uint64_t depth = int_argument(depth_arg, "label_fields()", "depth", 1, 16);
        Ref seq = sized_items(fields_arg, "label_fields() takes a list of tavik.Field");
        const Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
        PyObject** items = PySequence_Fast_ITEMS(seq.get());
        std::vector<BitField> fields;
        fields.reserve(static_cast<std::size_t>(n));
        for (Py_ssize_t i = 0; i < n; ++i) fields.push_back(field_argument(items[i], "label_fields()"));
        ArrayBuffer out(out_arg, "label_fields(): out", Element::I64, {2 * n}, true);
        std::int64_t* labels = out.data<std::int64_t>();
        {
            WithoutLock unlocked;
            for (std::size_t i = 0; i < fields.size(); ++i) {
                const selfplay::Label l = selfplay::label(fields[i], depth);
                labels[2 * i] = static_cast<std::int64_t>(l.score);
                labels[2 * i + 1] = static_cast<std::int64_t>(l.chain);
            }
        }
        return py_none();
    });
}

// game_seed(seed, game) -> the seed of game `game` of run `seed`, the one its Game is made with.
PyObject* game_seed(PyObject*, CallArgs args) {
    return entry([&] {
        auto [seed, game] = parse(args, "game_seed()", "seed", "game");
        return to_py(selfplay::game_seed(int_argument(seed, "game_seed()", "seed", 0, UINT64_MAX),
                                         int_argument(game, "game_seed()", "game", 0, UINT64_MAX)));
    });
}

}  // namespace

void add_selfplay(PyObject* module) {
    static PyMethodDef functions[] = {
        method<play_games>("play_games"),
        method<label_fields>("label_fields"),
        method<game_seed>("game_seed"),
        END_METHODS,
    };
    add_functions(module, functions);
}

}  // namespace tavik::py
