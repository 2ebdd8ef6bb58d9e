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

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

tg = pytest.importorskip("tavik_game")
import tavik  # noqa: E402

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


class Boom(Exception):
    """Raised by the hostile objects below; must come out unchanged."""


class IndexRaises:
    def __index__(self):
        raise Boom("from __index__")


class IndexReturns:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


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


def check_game_rules(game):
    assert game.over == tg.is_dead(game.field)
    assert game.legal_mask() == (0 if game.over else tg.legal_mask(game.field))


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
    "fields": lambda: [fields(), [tg.Game(), tavik.Field()], []],
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
        check_game_rules(result)
        pickle.loads(pickle.dumps(result))
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
        check_game_rules(game)
        if isinstance(result, tg.Game):
            assert result == game and result is not game
    assert pickle.loads(pickle.dumps(game)) == game


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
    calls = [("expand", lambda s: tg.expand(tavik.Field(), tavik.Pair(4, 5), s))]
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


class ClearsOnIndex:
    """An int whose conversion empties the list it sits in."""

    def __init__(self, items):
        self.items = items

    def __index__(self):
        self.items.clear()
        return 1


class GrowsOnIndex(ClearsOnIndex):
    """An int whose conversion makes its list move to a larger block."""

    def __index__(self):
        self.items.extend(range(10_000))
        return 1


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
