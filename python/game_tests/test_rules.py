"""Game rules: reachability, top-out, row-0 removal, ojama, sequence determinism."""

import os
import subprocess
import sys

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
