import html.parser

import pytest
import tavik

from tavik_game.replay import Replay, field_grid


class _Checker(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.stack = []
        self.external = []

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if attrs.get("src") or (tag == "link" and attrs.get("href")):
            self.external.append(tag)
        if tag not in ("br", "meta"):
            self.stack.append(tag)

    def handle_endtag(self, tag):
        assert self.stack and self.stack[-1] == tag, (tag, self.stack[-5:])
        self.stack.pop()


# Two reds in column 1: a vertical red pair there fires a chain.
CHAIN_ROWS = ["B     ", "BR    ", "BR    "]


@pytest.mark.parametrize("rows, hand_x", [(["      "], 3), (CHAIN_ROWS, 1)])
def test_replay_frames_and_valid_page(tmp_path, rows, hand_x):
    field = tavik.Field.from_str_array(rows)
    pair = tavik.Pair(tavik.PuyoType.RED, tavik.PuyoType.RED)
    hand = tavik.Hand(hand_x, tavik.Rotation.TOP)
    replay = Replay()
    replay.start_game("g")
    replay.add_move(field, hand, pair, [pair, pair])
    page = replay.html()
    chain = field.clone().put_hand(hand, pair).chain().chain
    assert chain == (1 if rows is CHAIN_ROWS else 0)
    # one frame for the placed pair, at least one per chain step
    assert page.count('class="frame"') >= 1 + chain
    assert (' fire' in page) == bool(chain)
    checker = _Checker()
    checker.feed(page)
    assert checker.stack == [] and checker.external == []
    out = tmp_path / "r.html"
    replay.write(str(out))
    assert out.read_text(encoding="utf-8") == page
    # The recorded field is untouched.
    assert field == tavik.Field.from_str_array(rows)


def test_field_grid_marks_exactly_the_given_cells():
    field = tavik.Field.from_str_array(["R     "])
    grid = field_grid(field, [(0, 13), (5, 13)])
    assert grid.count(' mark') == 2
    assert grid.count('class="c') == 6 * 14
