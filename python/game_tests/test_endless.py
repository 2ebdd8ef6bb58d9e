"""The endless protocol command: its arithmetic on scripted games, its stop rule, its arguments."""

from dataclasses import replace

import pytest

tg = pytest.importorskip("tavik_game")
from tavik_game import _endless  # noqa: E402
from tavik_game.__main__ import main  # noqa: E402
from tavik_game._cli import parse_bot  # noqa: E402

R = _endless.EndlessResult


def test_summary_arithmetic_on_scripted_games():
    results = [R(0, 0, 50, 0.5), R(85_000, 14, 40, 0.3), R(100_840, 15, 45, 0.2), R(12_000, 6, 30, 0.0)]
    s = _endless.summarise(results)
    assert s.games == 4
    assert s.median == (12_000 + 85_000) / 2
    assert s.mean == (85_000 + 100_840 + 12_000) / 4
    assert (s.at_least_80k, s.at_least_100k, s.none_fired) == (2, 1, 1)
    assert s.mean_chain == pytest.approx((14 + 15 + 6) / 3)
    assert s.ms_per_move == pytest.approx(1000 * 1.0 / 165)
    with pytest.raises(ValueError):
        _endless.summarise([])


class Scripted:
    """A game whose moves score as scripted; every move is legal."""

    def __init__(self, scores):
        self.scores, self.turn, self.over = list(scores), 0, False

    def play(self, hand):
        score = self.scores[self.turn]
        self.turn += 1
        return tg.Move(chain=score // 10_000, score=score)


@pytest.mark.parametrize(
    "scores, pairs, expected",
    [
        ([0, 9_999, 10_000, 50_000], 10, (10_000, 1, 3)),  # the first chain at the stop ends it
        ([0, 400, 9_000], 3, (0, 0, 3)),                      # none by the last pair: 0
        ([70_000, 90_000], 1, (70_000, 7, 1)),
    ],
)
def test_a_game_stops_at_its_first_big_chain(scores, pairs, expected):
    r = _endless.play_endless(Scripted(scores), lambda g: None, pairs, 10_000)
    assert (r.score, r.chain, r.moves) == expected


@pytest.mark.parametrize(
    "name, changed",
    [
        ("beam", {"depth": 2}),
        # A lookahead bot is told the game's end and stop unless its name says otherwise.
        ("beam:40,queues=3,horizon=8,fire_score=70000", {"depth": 2, "pairs": 50}),
        ("beam:40,depth=1,queues=3", {"fire_score": 10000, "pairs": 50}),
        ("beam:5,depth=1,threads=2", {}),
    ],
)
def test_the_bot_is_told_the_protocol(name, changed):
    settings = parse_bot(name)
    assert _endless.bot_for(settings, name, 2, 10000, 50) == replace(settings, **changed)


def test_only_the_beam_bot_plays_it():
    with pytest.raises(ValueError, match="beam"):
        _endless.bot_for(parse_bot("greedy"), "greedy", 2, 10000, 50)


def test_command_prints_the_figures(capsys):
    assert main(["endless", "--bot", "beam:4", "--seeds", "2", "--pairs", "6", "--stop", "40",
                 "--sequence", "balanced"]) == 0
    out = capsys.readouterr().out
    for label in ("median score", "mean score", ">= 80,000", ">= 100,000", "none fired", "mean chain",
                  "ms per move"):
        assert label in out
    assert "balanced seeds 1000 to 1001" in out
