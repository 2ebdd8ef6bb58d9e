import html.parser
import json
import random
import re

import pytest

import tavik

tg = pytest.importorskip("tavik_game")
from tavik_game.replay import Replay, cell_codes  # noqa: E402


class _Checker(html.parser.HTMLParser):
    """Every element closed in order, nothing loaded from outside."""

    def __init__(self):
        super().__init__()
        self.stack = []
        self.external = []
        self.tags = []

    def handle_starttag(self, tag, attrs):
        self.tags.append(tag)
        attrs = dict(attrs)
        if attrs.get("src") or (tag == "link" and attrs.get("href")):
            self.external.append(tag)
        if tag not in ("br", "meta", "input"):
            self.stack.append(tag)

    def handle_endtag(self, tag):
        assert self.stack and self.stack[-1] == tag, (tag, self.stack[-5:])
        self.stack.pop()


def page_data(page):
    return json.loads(re.search(r'<script type="application/json" id="data">(.*?)</script>', page, re.S).group(1))


def index(x, y):
    return y * 6 + x


RED = tavik.PuyoType.RED
# Two reds in column 1: a vertical red pair there fires a one-step chain.
CHAIN_ROWS = ["B     ", "BR    ", "BR    "]


@pytest.mark.parametrize("rows, hand_x, kinds", [
    (["      "], 3, ["move"]),
    (CHAIN_ROWS, 1, ["move", "step", "after"]),
])
def test_a_move_gives_a_frame_per_chain_step_with_its_marks(tmp_path, rows, hand_x, kinds):
    field = tavik.Field.from_str_array(rows)
    pair = tavik.Pair(RED, RED)
    replay = Replay()
    replay.start_game("g")
    replay.add_move(field, tavik.Hand(hand_x, tavik.Rotation.TOP), pair, [tavik.Pair(5, 6)])
    page = replay.html()
    frames = page_data(page)["games"][0]["frames"]
    assert [f["k"] for f in frames] == kinds
    placed = [index(hand_x, 11), index(hand_x, 10)] if rows is CHAIN_ROWS else [index(3, 12), index(3, 13)]
    assert sorted(frames[0]["m"]["placed"]) == sorted(placed)
    assert frames[0]["p"] == [[RED, RED], [5, 6]]
    if rows is CHAIN_ROWS:
        # Both placed reds join the group that vanishes, the blues stay.
        assert sorted(frames[0]["m"]["trigger"]) == sorted(placed)
        assert frames[1]["m"]["vanish"] == sorted([index(1, y) for y in (10, 11, 12, 13)])
        assert "move score 40" in frames[0]["s"] and "chain 1" in frames[0]["s"]
        assert frames[2]["c"] == cell_codes(tavik.Field.from_str_array(["B     "] * 3))
    else:
        assert frames[0]["m"]["trigger"] == []
    checker = _Checker()
    checker.feed(page)
    assert checker.stack == [] and checker.external == []
    out = tmp_path / "r.html"
    replay.write(str(out))
    assert out.read_text(encoding="utf-8") == page
    assert field == tavik.Field.from_str_array(rows)  # the recorded field is untouched


def test_names_cannot_break_out_of_the_page():
    replay = Replay("</script><script>alert(1)</script>")
    replay.start_game("</script><b>")
    replay.add_move(tavik.Field(), tavik.Hand(0, tavik.Rotation.TOP), tavik.Pair(RED, RED))
    page = replay.html()
    assert page_data(page)["games"][0]["name"] == "</script><b>"
    checker = _Checker()
    checker.feed(page)
    assert checker.stack == [] and "b" not in checker.tags and checker.tags.count("script") == 2


@pytest.mark.parametrize("seed", [3, 8])
def test_the_last_frame_of_every_move_is_the_games_field(seed):
    # Random play reaches the top rows, so row-0 removal and top-out are replayed too.
    rng = random.Random(seed)
    game = tg.Game(seed=seed, colours=3)
    replay = Replay()
    replay.start_game("g")
    while not game.over and game.turn < 120:
        before, pairs = game.field, game.pairs
        hand = rng.choice(game.legal_hands())
        move = game.play(hand)
        replay.add_move(before, hand, pairs[0], pairs[1:], move=move, total_score=game.score)
        last = replay.games[-1]["frames"][-1]
        assert last["c"] == cell_codes(game.field), (game.turn, hand)
    data = replay.games[-1]
    assert (data["moves"], data["score"], data["max_chain"], data["over"]) == (
        game.turn, game.score, game.max_chain, game.over)


def test_the_demo_page_marks_the_trigger_and_shows_every_chain_step(tmp_path):
    import runpy
    import types
    from pathlib import Path

    path = Path(__file__).resolve().parents[2] / "examples" / "demo.py"
    if not path.is_file():
        pytest.skip("the examples are not beside the tests")
    demo = types.SimpleNamespace(**runpy.run_path(str(path), run_name="demo"))
    out = tmp_path / "demo.html"
    # A vertical blue pair on two blues: find_chain drops the two missing blues.
    assert demo.main(["--html", str(out), "......", "......", "B.....", "B....."]) == 0
    page = out.read_text(encoding="utf-8")
    checker = _Checker()
    checker.feed(page)
    assert checker.stack == [] and checker.external == []
    best = page.split("<h2>The built-in")[0]
    assert best.count("c drop trigger") == 2 and best.count(" ghost") == 2
    assert "<b>step 1</b>" in best and "<b>step 2</b>" not in best
    assert page.count("<b>step ") == 1 + 19  # the best find's one step, the 19-chain's nineteen
