"""Hostile arguments to every tavik_game function and Game method.

Only TypeError, ValueError, OverflowError (IndexError for a sequence index) or the caller's
own exception come out; no call changes a field passed to it; a failed call leaves its game
as it was; a game never holds a state the rules forbid; the interpreter survives.
"""

from __future__ import annotations

import copy
import gc
import os
import pickle
import sys

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

tg = pytest.importorskip("tavik_game")
import tavik  # noqa: E402
from conftest import check_game_invariants  # noqa: E402
from hostile import Boom, ClearsOnIndex, GrowsOnIndex, IndexRaises, IndexReturns  # noqa: E402

# A lighter profile for slow builds (sanitizers); scripts/sanitize.sh selects it.
settings.register_profile("sanitize", max_examples=15, deadline=None, suppress_health_check=list(HealthCheck))
if os.environ.get("HYPOTHESIS_PROFILE"):
    settings.load_profile(os.environ["HYPOTHESIS_PROFILE"])
# Half the default examples: there are many entries, and CI runs this on four Pythons.
FUZZ = settings(max_examples=max(3, settings.default.max_examples // 2), deadline=None,
                suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])

try:
    import numpy
except ImportError:  # the array entries need it; the rules do not
    numpy = None


class SequenceRaises:
    def __len__(self):
        return 2

    def __getitem__(self, i):
        raise Boom("from __getitem__")

    def __iter__(self):
        raise Boom("from __iter__")


ALLOWED = (TypeError, ValueError, OverflowError, Boom)
TOP, LEFT, RIGHT = tavik.Rotation.TOP, tavik.Rotation.LEFT, tavik.Rotation.RIGHT


def tall_field():
    """Columns 1 and 4 reach row 2: only columns 2 and 3 can be reached."""
    f = tavik.Field()
    for x in (1, 4):
        for y in range(2, 14):
            f.set(x, y, tavik.PuyoType.OJAMA)
    return f


def dead_field():
    return tavik.Field().set(2, 2, tavik.PuyoType.RED)


def fixed_values():
    """Fresh objects each example, so a call that wrongly changed one cannot leak into the next."""
    game = tg.Game(seed=3)
    game.play(tavik.Hand(0, TOP))
    values = [
        tavik.Field(), tall_field(), dead_field(), tavik.ArrayField(),
        tavik.Field.from_str_array(["RRR   ", "BBBR  "]),
        tavik.Pair(tavik.PuyoType.RED, tavik.PuyoType.BLUE), tavik.Pair(tavik.PuyoType.OJAMA, 8),
        tavik.Hand(2, TOP), tavik.Hand(5, LEFT), tavik.Hand(0, RIGHT), TOP,
        tg.Game(), game, tg.Move(1, 40), tg.PairSequence(1), tavik.Field().chain(),
        IndexRaises(), IndexReturns(3), IndexReturns(-1), IndexReturns(2**64), SequenceRaises(),
        [], [tavik.Hand(1, TOP), tavik.Hand(3, RIGHT)], [tavik.Hand(2, TOP), 5], (tavik.Hand(4, TOP),),
        {}, object(), None, True, 1.5, float("nan"), "2", b"\x00" * 48, tavik.Hand,
    ]
    if numpy is not None:
        values += [numpy.zeros((14, 6), numpy.uint8), numpy.full((14, 6), 9, numpy.int64),
                   numpy.zeros((2, 5, 13, 6), numpy.uint8), numpy.zeros((14, 6), numpy.float32)]
    return values


INTS = st.one_of(
    st.integers(-(2**70), 2**70),
    st.sampled_from([0, 1, 2, 3, 4, 5, 6, 13, 14, 19, 22, 30, 64, 65, 70, -1, 2**32, 2**63, 2**64 - 1, 2**64]),
)


@st.composite
def argument(draw):
    if draw(st.integers(0, 2)) == 0:
        return draw(INTS)
    return draw(st.sampled_from(range(len(fixed_values())))), None


def realise(arg, pool):
    return pool[arg[0]] if isinstance(arg, tuple) and arg[1] is None else arg


def snapshot(value):
    if isinstance(value, (tavik.Field, tavik.ArrayField)):
        return value.clone()
    if isinstance(value, tg.Game):
        return copy.copy(value)
    return None


BOT = tg.BeamBot(width=2, depth=1)


def over_game():
    game = tg.Game(seed=5)
    game.__setstate__((dead_field(), 9, 120, 1, True, 0))
    return game


def fields():
    return [tavik.Field(), tall_field(), dead_field(), tavik.Field.from_str_array(["RRR   ", "BBBR  "])]


# Well-formed values of each parameter, made fresh per call; a drawn argument is one of these
# or, a third of the time, anything at all.
GOOD = {
    "field": fields,
    "pair": lambda: [tavik.Pair(4, 5), tavik.Pair(7, 7)],
    "hands": lambda: [None, [tavik.Hand(2, TOP)], tavik.Hand.enumerate()[::3], []],
    "score": lambda: [0, 69, 70, 10**6], "carry": lambda: [0, 1, 69], "target": lambda: [1, 70, 120],
    "count": lambda: [0, 5, 6, 29, 30, 31, 200], "seed": lambda: [0, 1, 2**64 - 1],
    "colours": lambda: [3, 4], "visible": lambda: [1, 2, 3, 5], "all_clear_bonus": lambda: [0, 2100],
    "chain": lambda: [0, 1, 19], "all_clear": lambda: [False, True], "over": lambda: [False, True],
    "width": lambda: [1, 3], "depth": lambda: [1, 2, 3], "threads": lambda: [1, 2],
    "game": lambda: [tg.Game(seed=2), tg.Game(seed=4, visible=1), over_game()],
    "fields": lambda: [fields(), [tg.Game(), tavik.Field()], [], [tavik.Field(), tall_field()]],
    "rules": lambda: [None, tg.VersusRules(), tg.VersusRules(target_points=1, margin_time=None, max_ojama_drop=6)],
    "target_points": lambda: [1, 70, 120], "margin_time": lambda: [None, 0.0, 96.0, 5],
    "max_ojama_drop": lambda: [1, 30], "hand": lambda: [tavik.Hand(2, TOP), tavik.Hand(0, RIGHT)],
    "frame": lambda: [0, 5760, 10**9], "player": lambda: [0, 1],
    "kind": lambda: ["place", "link", "lose", "offset"],
    "data": lambda: [None, {"chain": 1, "score": 40, "sent": 0}, {"hand": tavik.Hand(2, TOP), "frames": 44}],
    "out": lambda: [None] + ([numpy.zeros((14, 6), numpy.uint8)] if numpy is not None else []),
    "array": lambda: [numpy.zeros((14, 6), numpy.uint8), numpy.full((14, 6), 4, numpy.int32)] if numpy else [],
}
FUNCTIONS = {
    "legal_hands": (tg.legal_hands, ["field"]), "legal_mask": (tg.legal_mask, ["field"]),
    "is_dead": (tg.is_dead, ["field"]), "expand": (tg.expand, ["field", "pair", "hands"]),
    "best_find": (tg.best_find, ["field"]), "field_key": (tg.field_key, ["field"]),
    "ojama_from_score": (tg.ojama_from_score, ["score", "carry", "target"]),
    "drop_ojama": (tg.drop_ojama, ["field", "count", "seed"]),
    "Game": (tg.Game, ["seed", "colours", "visible", "all_clear_bonus"]),
    "Move": (tg.Move, ["chain", "score", "all_clear", "over"]),
    "PairSequence": (tg.PairSequence, ["seed", "colours"]),
    "BeamBot": (tg.BeamBot, ["width", "depth", "threads"]), "choose": (BOT.choose, ["game"]),
    "VersusRules": (tg.VersusRules, ["target_points", "margin_time", "all_clear_bonus", "max_ojama_drop"]),
    "Match": (tg.Match, ["seed", "colours", "visible", "rules", "fields"]),
    "Event": (tg.Event, ["frame", "player", "kind", "data"]),
    "placement_frames": (tg.placement_frames, ["field", "hand"]), "settle_frames": (tg.settle_frames, ["field"]),
}
if numpy is not None:
    FUNCTIONS.update(observe=(tg.observe, ["fields", "colours", "out"]), to_numpy=(tg.to_numpy, ["field", "out"]),
                     from_numpy=(tg.from_numpy, ["array"]))


def call_checked(fn, args, kwargs, values):
    """Calls fn; checks what may come out and that no field or game passed in changed."""
    before = [(v, snapshot(v)) for v in values]
    try:
        result = fn(*args, **kwargs)
    except ALLOWED:
        result = None
    except RuntimeError as e:
        # A tavik.Pair given for a list iterates as its two items, then its own indexing
        # raises this; like Boom, an argument's own error passes through.
        assert str(e) == "Invalid index 2", e
        result = None
    for value, old in before:
        if old is not None:
            assert value == old, f"{fn!r} changed an argument"
    if isinstance(result, tg.Game):
        check_game_invariants(result)
        pickle.loads(pickle.dumps(result))
    if isinstance(result, (tg.Match, tg.Event, tg.VersusRules)):
        assert pickle.loads(pickle.dumps(result)) == result
    return result


@pytest.mark.parametrize("name", sorted(FUNCTIONS))
@FUZZ
@given(data=st.data())
def test_functions_take_hostile_arguments(name, data):
    fn, params = FUNCTIONS[name]
    pool = fixed_values()
    values = []
    for param in params:
        good = GOOD[param]()
        hostile = not good or data.draw(st.integers(0, 2), label=f"{param} hostile") == 0
        values.append(realise(data.draw(argument()), pool) if hostile else data.draw(st.sampled_from(good)))
    # Drop trailing parameters, add a stray one, and pass some by keyword.
    cut = data.draw(st.integers(0, len(params)), label="given") if data.draw(st.booleans()) else len(params)
    names, values = params[:cut], values[:cut]
    if data.draw(st.integers(0, 4)) == 0:
        names, values = [*names, "bogus"], [*values, 1]
    split = data.draw(st.integers(0, len(names)), label="positional")
    args, kwargs = values[:split], dict(zip(names[split:], values[split:]))
    if data.draw(st.integers(0, 5)) == 0:
        args.append(realise(data.draw(argument()), pool))  # one positional too many, or out of place
    call_checked(fn, args, kwargs, [*args, *kwargs.values()])


GAME_METHODS = ["play", "legal_hands", "legal_mask", "copy", "__copy__", "__deepcopy__", "__setstate__",
                "__reduce__", "__eq__", "pairs"]


@FUZZ
@given(data=st.data())
def test_games_survive_hostile_calls_and_keep_to_the_rules(data):
    game = tg.Game(seed=data.draw(st.integers(0, 2**64 - 1)), colours=data.draw(st.sampled_from([3, 4])))
    for _ in range(data.draw(st.integers(1, 25))):
        pool = fixed_values()
        name = data.draw(st.sampled_from(GAME_METHODS))
        if name == "play" and data.draw(st.booleans()) and game.legal_hands():
            args = [data.draw(st.sampled_from(game.legal_hands()))]
        elif name == "__setstate__" and data.draw(st.booleans()):
            # A state of the right shape with hostile items.
            state = list(game.__reduce__()[2])
            i = data.draw(st.integers(0, 5))
            state[i] = realise(data.draw(argument()), pool)
            args = [tuple(state)]
        else:
            args = [realise(a, pool) for a in data.draw(st.lists(argument(), max_size=2))]
        before = copy.copy(game)
        method = getattr(game, name)
        try:
            result = method(*args) if callable(method) else method
            changed = name in ("play", "__setstate__")
        except ALLOWED:
            result, changed = None, False
        if not changed:
            assert game == before, name
        check_game_invariants(game)
        if isinstance(result, tg.Game):
            assert result == game and result is not game
    assert pickle.loads(pickle.dumps(game)) == game


class ShrinksOnIndex(int):
    """A player key whose conversion empties the dict it came from, if anything converts it."""

    target: dict = {}

    def __index__(self):
        self.target.clear()
        return int(self)


def hostile_hands(match, data, pool):
    due = match.due()
    shape = data.draw(st.integers(0, 4))
    if shape == 0 and due:
        return {p: data.draw(st.sampled_from(match.legal_hands(p))) for p in due}
    if shape == 1:
        hands = {ShrinksOnIndex(p): tavik.Hand(2, TOP) for p in due}
        ShrinksOnIndex.target = hands
        return hands
    if shape == 2:
        key, value = realise(data.draw(argument()), pool), realise(data.draw(argument()), pool)
        try:
            return {key: value}
        except TypeError:  # an unhashable key: the value itself is hostile enough
            return value
    return realise(data.draw(argument()), pool)


MATCH_METHODS = ["play", "legal_hands", "legal_mask", "game", "due", "copy", "__copy__", "__deepcopy__",
                 "__setstate__", "__reduce__", "__eq__", "players", "events"]


@FUZZ
@given(data=st.data())
def test_matches_survive_hostile_calls(data):
    match = tg.Match(seed=data.draw(st.integers(0, 2**64 - 1)), colours=data.draw(st.sampled_from([3, 4])),
                     rules=data.draw(st.sampled_from(GOOD["rules"]())))
    for _ in range(data.draw(st.integers(1, 30))):
        pool = fixed_values()
        name = data.draw(st.sampled_from(MATCH_METHODS))
        if name == "play":
            args = [hostile_hands(match, data, pool)]
        elif name == "__setstate__" and data.draw(st.booleans()):
            args = [data.draw(st.binary(max_size=6))]
        else:
            args = [realise(a, pool) for a in data.draw(st.lists(argument(), max_size=2))]
        before = copy.copy(match)
        method = getattr(match, name)
        try:
            result = method(*args) if callable(method) else method
            changed = name in ("play", "__setstate__")
        except ALLOWED:
            result, changed = None, False
        if not changed:
            assert match == before and match.events == before.events, name
        if isinstance(result, tg.Match):
            assert result == match and result is not match
    assert pickle.loads(pickle.dumps(match)) == match


@FUZZ
@given(index=st.one_of(INTS, st.sampled_from([IndexRaises(), IndexReturns(5), "1", None, 1.0])))
def test_pair_sequence_indexes_hostile_values(index):
    seq = tg.PairSequence(7, 3)
    try:
        pair = seq[index]
    except (*ALLOWED, IndexError):
        return
    assert pair == tg.PairSequence(7, 3)[int(index)]


class TruthRaises:
    def __bool__(self):
        raise Boom("from __bool__")


def test_a_truth_value_that_raises_comes_out_as_it_is():
    with pytest.raises(Boom):
        tg.Move(1, 40, all_clear=TruthRaises())
    with pytest.raises(Boom):
        tg.Move(1, 40, over=TruthRaises())


def _endless_consumers():
    calls = [("expand", lambda s: tg.expand(tavik.Field(), tavik.Pair(4, 5), s)),
             ("PairSequence pairs", lambda s: tg.PairSequence(0, pairs=s)),
             ("BeamBot weights", lambda s: tg.BeamBot(2, 1, weights=s))]
    if numpy is not None:
        calls.append(("observe", lambda s: tg.observe(s)))
        try:
            from tavik_game.envs import TokopuyoVectorEnv
        except ImportError:  # no gymnasium
            pass
        else:
            calls.append(("vector reset", lambda s: TokopuyoVectorEnv(2, threads=1).reset(seed=s)))
    try:
        from tavik_game import dataset
    except ImportError:  # no dask or pyarrow
        pass
    else:
        calls.append(("label", lambda s: dataset.label(s, 1)))
    return calls


@pytest.mark.parametrize("name, call", _endless_consumers(), ids=lambda v: v if isinstance(v, str) else "")
def test_an_endless_sequence_is_refused_not_read(name, call):
    # PairSequence indexes without end, so reading it as a list would fill the memory.
    with pytest.raises(TypeError):
        call(tg.PairSequence(1))


# ---------------------------------------------------------------- arguments that change while read

class IndexEmpties:
    def __init__(self, items, value):
        self.items, self.value = items, value

    def __index__(self):
        self.items.clear()
        return self.value


class BufferEmpties:
    """An `out` array whose buffer, when taken, empties `items` (Python 3.12 and later)."""

    def __init__(self, items, array):
        self.items, self.array = items, array

    def __buffer__(self, flags):
        self.items.clear()
        return memoryview(self.array)


def _field_list(n):
    return [tavik.Field.from_str_array(["RRBB", "GY  "[: 1 + i % 4]]) for i in range(n)]


def _observe(make, colours):
    def call(items, how):
        if how == "__index__":
            return tg.observe(items, IndexEmpties(items, colours))
        if how == "__buffer__":
            out = numpy.zeros((len(items), colours + 1, 13, 6), numpy.uint8)
            return tg.observe(items, colours, out=BufferEmpties(items, out)) and out
        return tg.observe(items, colours)
    return make, call


def _label(items, how):
    from tavik_game._native import label_fields

    out = numpy.zeros(2 * len(items), numpy.int64)
    label_fields(items, 1, BufferEmpties(items, out) if how == "__buffer__" else out)
    return out


def _sequence_cases():
    expand = (lambda: [tavik.Hand(h, TOP) for h in range(6)],
              lambda items, how: tg.expand(tavik.Field(), tavik.Pair(4, 5), items))
    cases = [("expand", *expand, "finalizer")]
    if numpy is not None:
        # 20 and 5 fields: observe writes many fields without the lock and few with it.
        entries = {"observe many": _observe(lambda: _field_list(20), 3),
                   "observe few": _observe(lambda: _field_list(5), 3),
                   "observe games": _observe(lambda: [tg.Game(seed=s) for s in range(18)], 4),
                   "label_fields": (lambda: _field_list(6), _label)}
        hows = ["finalizer", "__index__"] + (["__buffer__"] if sys.version_info >= (3, 12) else [])
        # label_fields takes its depth as an int only, so no __index__ runs there.
        cases += [(name, make, call, how) for name, (make, call) in entries.items() for how in hows
                  if (name, how) != ("label_fields", "__index__")]
    return cases


def same_result(a, b):
    if numpy is not None and isinstance(a, numpy.ndarray):
        return a.shape == b.shape and bool((a == b).all())
    # expand's (hand, field, chain result) triples: a ChainResult has no equality.
    return [(h, f, c.score) for h, f, c in a] == [(h, f, c.score) for h, f, c in b]


@pytest.mark.parametrize("name, make, call, how", _sequence_cases(),
                         ids=lambda v: v if isinstance(v, str) else "")
def test_a_list_emptied_during_the_call_is_read_as_it_was_or_as_empty(name, make, call, how):
    # Either way the call works on one consistent list: the items it was given, or none.
    whole, empty = call(make(), None), call([], None)
    items = make()
    threshold = gc.get_threshold()
    try:
        if how == "finalizer":
            _collector_clears(items)
        result = call(items, how)
    finally:
        gc.set_threshold(*threshold)
    if how == "__buffer__":  # the out array was sized for the whole list
        assert same_result(result, whole)
    else:
        assert same_result(result, whole) or same_result(result, empty)


# In a new interpreter observe's first array imports NumPy: thousands of allocations, so the
# collector certainly runs inside the call, and its finalizer empties the list being read.
EMPTIED_DURING_OBSERVE = """
import gc, tavik, tavik_game as tg
items = {items}
expected = [tavik.Field(f.field) if isinstance(f, tg.Game) else f.clone() for f in items]
class Trap:
    def __del__(self):
        items.clear()
trap = Trap(); trap.self = trap; del trap
gc.set_threshold(1)
result = tg.observe(items, 3)
gc.set_threshold(700)
whole, empty = tg.observe(expected, 3), tg.observe([], 3)
same = lambda a, b: a.shape == b.shape and (a == b).all()
print("whole" if same(result, whole) else "empty" if same(result, empty) else "neither")
"""


@pytest.mark.skipif(numpy is None, reason="observe needs NumPy")
@pytest.mark.parametrize("items", [
    '[tavik.Field.from_str_array(["RRBB"]) for _ in range(20)]',   # many: converted, then written unlocked
    '[tavik.Field.from_str_array(["RRBB"]) for _ in range(5)]',
    '[tg.Game(seed=s) for s in range(18)]',
], ids=["many fields", "few fields", "games"])
def test_observe_reads_the_fields_given_when_a_finalizer_empties_the_list(items):
    import subprocess

    code = EMPTIED_DURING_OBSERVE.format(items=items)
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr[-3000:]
    assert done.stdout.split()[-1:] in (["whole"], ["empty"]), done.stdout


# play_games(seed, first_game, games, bot, beam_width, max_turns, label_depth, visible)
PLAY = dict(seed=1, first_game=0, games=1, bot="beam", beam_width=2, max_turns=3, label_depth=1, visible=3)


@pytest.mark.parametrize("changes, error", [
    ({"beam_width": 0}, ValueError),              # the beam bot needs a beam
    ({"beam_width": 100_001}, ValueError),        # wider than BeamBot() takes
    ({"beam_width": -1, "bot": "random"}, ValueError),
    ({"max_turns": 0}, ValueError), ({"label_depth": 0}, ValueError), ({"label_depth": 17}, ValueError),
    ({"visible": 0}, ValueError), ({"visible": 65}, ValueError), ({"first_game": -1}, ValueError),
    ({"games": 2**63, "first_game": 1}, ValueError), ({"seed": 2**64}, ValueError),
    ({"beam_width": 1.0}, TypeError), ({"bot": "beam:3"}, ValueError),
])
def test_play_games_refuses_what_it_cannot_play_with_the_usual_errors(changes, error):
    from tavik_game._native import play_games

    with pytest.raises(error):
        play_games(**{**PLAY, **changes})


@pytest.mark.parametrize("bot, width", [("beam", 1), ("random", 0), ("greedy", 0)])
def test_play_games_takes_the_narrowest_width_each_bot_allows(bot, width):
    from tavik_game._native import play_games

    assert len(play_games(**{**PLAY, "bot": bot, "beam_width": width})["turn"]) == 3


# ---------------------------------------------------------------- any field at all

def with_cells(field, cells):
    """`field` with each (grid column, grid row, type number) written into its state bytes, the
    frame included: bit 16x + 15 - y of plane k holds bit k of the cell's type."""
    state = bytearray(field.__getstate__())
    for x, y, t in cells:
        bit = 16 * x + 15 - y
        for k in range(3):
            byte = 8 + 16 * k + bit // 8
            state[byte] = state[byte] | (1 << bit % 8) if t >> k & 1 else state[byte] & ~(1 << bit % 8)
    out = tavik.Field()
    out.__setstate__(bytes(state))
    return out


FRAME = [(x, y) for x in range(8) for y in range(16) if x in (0, 7) or y in (0, 15)]
DAMAGED_FRAMES = {
    "left wall hole": [(0, 12, 0)], "right wall hole": [(7, 13, 0)], "floor holes": [(1, 15, 0), (2, 15, 0)],
    "ceiling hole": [(1, 0, 0)], "red in the wall": [(0, 13, 4), (0, 12, 4), (7, 14, 4)],
    "no frame": [(x, y, 0) for x, y in FRAME],
}


def every_entry_on(field):
    """Runs each entry that takes a field on `field`; each may refuse it, none may misbehave."""
    g = tg.Game(seed=1)
    g.__setstate__((field, 0, 0, 0, tg.is_dead(field), 0))
    calls = [lambda: tg.legal_hands(field), lambda: tg.expand(field, tavik.Pair(4, 5)),
             lambda: tg.best_find(field), lambda: tg.drop_ojama(field, 30, 1), lambda: tg.field_key(field),
             lambda: field.clone().chain(), lambda: field.find_chain_recursive(1), lambda: field.find_chain()]
    if not g.over:
        calls += [lambda: tg.BeamBot(5, 2).choose(g), lambda: [g.copy().play(h) for h in g.legal_hands()]]
    if numpy is not None:
        from tavik_game._native import label_fields

        calls += [lambda: tg.observe([field, g] * 10), lambda: tg.to_numpy(field),
                  lambda: label_fields([field], 2, numpy.zeros(2, numpy.int64))]
    for call in calls:
        try:
            call()
        except ALLOWED:
            pass


@pytest.mark.parametrize("cells", DAMAGED_FRAMES.values(), ids=DAMAGED_FRAMES)
def test_a_field_whose_frame_is_damaged_is_searched_without_undefined_behaviour(cells):
    # The sanitizer pass catches what a plain build lets through (a negative shift was one).
    every_entry_on(with_cells(tavik.Field.from_str_array(["R     ", "R     ", "BY    "]), cells))


@FUZZ
@given(cells=st.lists(st.tuples(st.integers(0, 7), st.integers(0, 15), st.integers(0, 7)), max_size=60),
       frame=st.lists(st.sampled_from(FRAME), max_size=8))
def test_any_field_is_searched_without_undefined_behaviour(cells, frame):
    every_entry_on(with_cells(tavik.Field(), [*cells, *((x, y, 0) for x, y in frame)]))


def test_the_native_errors_can_be_caught_by_name():
    from tavik_game import _native

    assert tg.PanicException is _native.PanicException and not issubclass(tg.PanicException, Exception)
    assert issubclass(tg.PyBorrowError, RuntimeError) and issubclass(tg.PyBorrowMutError, RuntimeError)
    assert tg.PyBorrowError is not tg.PyBorrowMutError
    assert {"PanicException", "PyBorrowError", "PyBorrowMutError"} <= set(tg.__all__)


def _collector_clears(items):
    """A cycle whose finalizer empties `items` at the next collection, and a collector that runs
    at every allocation; the caller restores the threshold."""

    class Trap:
        def __del__(self):
            items.clear()

    trap = Trap()
    trap.self = trap
    del trap
    gc.set_threshold(1)


def _vector_sequence_entries():
    """Every vector-env native entry that reads a sequence, as a call of that sequence."""
    if numpy is None:
        return []
    try:
        from tavik_game.envs import TokopuyoVectorEnv
    except ImportError:  # no gymnasium
        return []
    return [
        ("_VectorGame.reset", lambda seq: TokopuyoVectorEnv(4, threads=1)._core.reset(seq, True)),
        ("_VectorGame.reset own", lambda seq: TokopuyoVectorEnv(4, threads=1)._core.reset(seq, False)),
        ("TokopuyoVectorEnv.reset", lambda seq: TokopuyoVectorEnv(4, threads=1).reset(seed=seq)),
    ]


@pytest.mark.parametrize("mutation", ["clears on __index__", "grows on __index__", "finalizer clears"])
@pytest.mark.parametrize("name, call", _vector_sequence_entries(), ids=lambda v: v if isinstance(v, str) else "")
def test_vector_entries_read_a_sequence_that_changes_under_them_safely(name, call, mutation):
    seq: list = []
    if mutation == "clears on __index__":
        seq += [ClearsOnIndex(seq), 2, 3, 4]
    elif mutation == "grows on __index__":
        seq += [GrowsOnIndex(seq), 2, 3, 4]
    else:
        seq += [1, 2, 3, 4]
    threshold = gc.get_threshold()
    try:
        if mutation == "finalizer clears":
            _collector_clears(seq)
        call(seq)
    except ALLOWED:
        pass
    finally:
        gc.set_threshold(*threshold)
        gc.collect()
