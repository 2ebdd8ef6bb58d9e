"""Game rules: reachability, top-out, row-0 removal, ojama, sequence determinism."""

import os
import pickle
import signal
import subprocess
import sys
import time

import pytest

tg = pytest.importorskip("tavik_game")
import tavik  # noqa: E402

HANDS = tavik.Hand.enumerate()


@pytest.mark.parametrize("wall, reachable", [(1, {2, 3, 4, 5}), (3, {0, 1, 2}), (4, {0, 1, 2, 3})])
def test_a_column_filled_to_the_top_visible_row_blocks_the_way(wall, reachable):
    f = tavik.Field()
    for y in range(2, 14):
        f.set(wall, y, tavik.PuyoType.OJAMA)
    cols = set()
    for h in tg.legal_hands(f):
        x = h.x
        cols.add(x)
        if h.rotation == tavik.Rotation.LEFT:
            cols.add(x - 1)
        if h.rotation == tavik.Rotation.RIGHT:
            cols.add(x + 1)
    assert cols == reachable
    assert tg.legal_mask(f) == sum(1 << i for i, h in enumerate(HANDS) if h in tg.legal_hands(f))


TOP, LEFT, BOTTOM, RIGHT = "top", "left", "bottom", "right"


@pytest.mark.parametrize(
    "top_row, legal",
    [
        # The top visible row (Python row 2), "#" taken; legal axis columns per rotation.
        ("......", {TOP: range(6), LEFT: range(1, 6), BOTTOM: range(6), RIGHT: range(5)}),
        (".#....", {TOP: [2, 3, 4, 5], LEFT: [3, 4, 5], BOTTOM: [2, 3, 4, 5], RIGHT: [2, 3, 4]}),
        ("...#..", {TOP: [0, 1, 2], LEFT: [1, 2], BOTTOM: [0, 1, 2], RIGHT: [0, 1]}),
        ("#....#", {TOP: [1, 2, 3, 4], LEFT: [2, 3, 4], BOTTOM: [1, 2, 3, 4], RIGHT: [1, 2, 3]}),
        (".#.#..", {TOP: [2], LEFT: [], BOTTOM: [2], RIGHT: []}),  # the spawn column alone
        ("#.#.#.", {}),  # the spawn cell taken: nothing
        ("....#.", {TOP: [0, 1, 2, 3], LEFT: [1, 2, 3], BOTTOM: [0, 1, 2, 3], RIGHT: [0, 1, 2]}),
    ],
)
def test_legal_hands_for_worked_patterns_of_the_top_visible_row(top_row, legal):
    f = tavik.Field()
    for x, cell in enumerate(top_row):
        if cell == "#":
            f.set(x, 2, tavik.PuyoType.RED if x % 2 else tavik.PuyoType.OJAMA)
    want = [h for h in HANDS if h.x in legal.get(str(h.rotation), ())]
    assert tg.legal_hands(f) == want
    assert tg.legal_mask(f) == sum(1 << HANDS.index(h) for h in want)


@pytest.mark.parametrize("seed, colours, visible", [(1, 4, 3), (7, 3, 1), (2**64 - 1, 4, 5)])
def test_random_play_keeps_every_game_invariant(seed, colours, visible):
    np = pytest.importorskip("numpy")
    from conftest import random_play_game

    random_play_game(tg.Game(seed=seed, colours=colours, visible=visible), np.random.default_rng(seed % 1000))


def test_an_illegal_hand_leaves_the_game_unchanged():
    g = tg.Game(seed=5)
    for _ in range(6):
        g.play(tavik.Hand(2, tavik.Rotation.TOP))
    before = g.copy()
    assert g.over and g.legal_mask() == 0
    with pytest.raises(ValueError):
        g.play(tavik.Hand(2, tavik.Rotation.TOP))
    assert g == before


def test_ojama_rows_then_remainder_in_distinct_columns():
    f = tg.drop_ojama(tavik.Field(), 8, 7)
    assert [f.get_height(x) for x in range(6)].count(2) == 2
    assert tg.ojama_from_score(139, carry=1) == (2, 0)


def test_sequence_is_the_same_in_another_process():
    code = "import tavik_game as tg; s = tg.PairSequence(42, 3); print([(p.child, p.axis) for p in (s[i] for i in range(50))])"
    env = dict(os.environ, PYTHONHASHSEED="123")
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, check=True).stdout
    s = tg.PairSequence(42, 3)
    assert out.strip() == str([(s[i].child, s[i].axis) for i in range(50)])


# ---------------------------------------------------------------- sequence kinds

R, B, Y, G = (getattr(tavik.PuyoType, n) for n in ("RED", "BLUE", "YELLOW", "GREEN"))


@pytest.mark.parametrize("seed", [0, 1, 7, 2**64 - 1])
def test_a_balanced_sequence_holds_64_of_each_colour_and_opens_with_three(seed):
    s = tg.PairSequence(seed, kind="balanced")
    pairs = [s[i] for i in range(128)]
    puyos = [c for p in pairs for c in (p.child, p.axis)]
    assert sorted(puyos.count(c) for c in (R, B, Y, G)) == [64] * 4
    assert len({c for p in pairs[:2] for c in (p.child, p.axis)}) <= 3
    assert [s[128 + i] for i in range(5)] == pairs[:5]
    assert s.kind == "balanced" and s != tg.PairSequence(seed)


def test_sequences_of_every_kind_pickle_and_play_alike():
    listed = [tavik.Pair(R, B), tavik.Pair(G, G), tavik.Pair(Y, R)]
    for seq in (tg.PairSequence(3), tg.PairSequence(3, kind="balanced"), tg.PairSequence(0, pairs=listed)):
        assert pickle.loads(pickle.dumps(seq)) == seq
        game = tg.Game(sequence=seq, visible=2)
        assert game.pairs == [seq[0], seq[1]] and game.sequence == seq
        game.play(game.legal_hands()[0])
        copy = pickle.loads(pickle.dumps(game))
        assert copy == game and copy.pairs == [seq[1], seq[2]]


def test_a_game_on_a_list_repeats_it():
    game = tg.Game(sequence=[tavik.Pair(R, B), tavik.Pair(Y, Y)], visible=3)
    assert game.pairs == [tavik.Pair(R, B), tavik.Pair(Y, Y), tavik.Pair(R, B)]
    assert game.colours == 3 and game.sequence.kind == "list"


@pytest.mark.parametrize(
    "kwargs, error",
    [
        ({"kind": "shuffled"}, ValueError),
        ({"kind": "balanced", "colours": 3}, ValueError),
        ({"kind": 4}, TypeError),
        ({"pairs": []}, ValueError),
        ({"pairs": [tavik.Pair(R, tavik.PuyoType.OJAMA)]}, ValueError),
        ({"pairs": [1, 2]}, TypeError),
        ({"pairs": [tavik.Pair(R, B)], "kind": "balanced"}, ValueError),
    ],
)
def test_bad_sequences_are_refused(kwargs, error):
    with pytest.raises(error):
        tg.PairSequence(1, **kwargs)


COLOURS = [tavik.PuyoType.RED, tavik.PuyoType.BLUE, tavik.PuyoType.YELLOW, tavik.PuyoType.GREEN]


@pytest.mark.parametrize("colours", [3, 4])
def test_a_pair_is_in_the_sequence_exactly_when_it_is_of_its_colours(colours):
    seq = tg.PairSequence(0, colours=colours)
    seen = {(seq[i].child, seq[i].axis) for i in range(2000)}
    for child in range(9):
        for axis in range(9):
            dealt = {child, axis} <= set(COLOURS[:colours])
            assert (tavik.Pair(child, axis) in seq) == dealt, (child, axis)
            assert ((child, axis) in seen) == dealt  # the answer agrees with the pairs dealt
    assert None not in seq and (4, 4) not in seq and "RR" not in seq


CONSUMES_ENDLESSLY = """
import collections, signal, tavik_game as tg
signal.signal(signal.SIGINT, signal.default_int_handler)  # see test_interrupt.py
try:
    print("started", flush=True)
    collections.deque(tg.PairSequence(0, colours=3), maxlen=0)  # a loop in C, no bytecode
except KeyboardInterrupt:
    print("interrupted", flush=True)
"""


def test_ctrl_c_stops_a_loop_in_c_over_the_endless_sequence():
    proc = subprocess.Popen([sys.executable, "-c", CONSUMES_ENDLESSLY], stdout=subprocess.PIPE, text=True)
    try:
        assert proc.stdout.readline().strip() == "started"
        time.sleep(0.5)  # inside the loop by now
        proc.send_signal(signal.SIGINT)
        out, _ = proc.communicate(timeout=20)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    assert out.strip() == "interrupted"


TOP_LIMIT = 2**64 - 1


def scoring_state(score=0, turn=0, pending=0):
    """A game whose first hand (column 0, upright) fires a chain."""
    g = tg.Game(seed=1)
    g.__setstate__((tavik.Field(), turn, 0, 0, False, 0))
    axis = " OWIRBYGP"[g.pairs[0].axis]
    g.__setstate__((tavik.Field.from_str_array([axis * 3 + "   "]), turn, score, 0, False, pending))
    return g


@pytest.mark.parametrize("score, turn, pending", [
    (TOP_LIMIT, 0, 0),             # wrapped, this move scored 40 and left the game at 39
    (TOP_LIMIT - 30, TOP_LIMIT, 0),
    (100, 5, 2100),                # an owed all-clear bonus is paid with the chain
])
def test_counters_stop_at_the_top_instead_of_wrapping(score, turn, pending):
    chain_score = scoring_state(0, turn).play(tavik.Hand(0, tavik.Rotation.TOP)).score
    g = scoring_state(score, turn, pending)
    move = g.play(tavik.Hand(0, tavik.Rotation.TOP))
    assert move.score == chain_score + pending
    assert (g.score, g.turn) == (min(score + move.score, TOP_LIMIT), min(turn + 1, TOP_LIMIT))


@pytest.mark.parametrize("pending", [1, 2099, 2101, 2**64 - 1])
def test_a_pending_bonus_no_move_can_owe_is_refused(pending):
    g = tg.Game(seed=1)
    before = g.copy()
    with pytest.raises(ValueError, match="pending bonus must be 0 or the all-clear bonus 2100"):
        g.__setstate__((tavik.Field(), 0, 0, 0, False, pending))
    assert g == before
    tg.Game(seed=1, all_clear_bonus=pending % 2**32).__setstate__((tavik.Field(), 0, 0, 0, False, pending % 2**32))
