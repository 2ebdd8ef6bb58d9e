"""The match command and the versus replay."""

import io
import json
import re

import pytest

import tavik
import tavik_game as tg

if not hasattr(tg, "Match"):
    pytest.skip("the native match is not built yet", allow_module_level=True)

from tavik_game import _match  # noqa: E402
from tavik_game.versus_replay import VersusReplay  # noqa: E402

import versus_model as vm  # noqa: E402


@pytest.mark.parametrize("wins, n, low, high", [
    (5, 10, 0.2366, 0.7634),
    (0, 10, 0.0, 0.2775),
    (10, 10, 0.7225, 1.0),
    (120, 200, 0.5308, 0.6654),
])
def test_wilson_interval(wins, n, low, high):
    got = _match.wilson(wins, n)
    assert got == pytest.approx((low, high), abs=5e-5)


def test_match_seeds_differ_by_match_and_run():
    seeds = {_match.match_seed(s, i) for s in (0, 1) for i in range(1000)}
    assert len(seeds) == 2000 and all(0 <= s < 2**64 for s in seeds)


def test_a_match_plays_the_same_alone_and_within_a_run():
    run = _match.play_run("greedy", "random", 6, seed=9)
    job = _match.MatchJob(4, _match.match_seed(9, 4), "greedy", "random", 3, 600 * 60, False)
    assert _match.play_match(job) == run[4]
    assert [r.index for r in run] == list(range(6))


def test_results_do_not_depend_on_the_number_of_workers():
    pytest.importorskip("distributed")
    here = _match.play_run("random", "greedy", 10, seed=3)
    assert _match.play_run("random", "greedy", 10, seed=3, workers=2) == here
    assert _match.summary(here) == _match.summary(list(reversed(here)))


def run_command(argv):
    from tavik_game.__main__ import main

    out = io.StringIO()
    import contextlib

    with contextlib.redirect_stdout(out):
        code = main(argv)
    return code, out.getvalue()


def test_the_command_reports_a_run_and_writes_its_replay(tmp_path):
    page = tmp_path / "vs.html"
    code, out = run_command(["match", "--p1", "greedy", "--p2", "random", "--matches", "12", "--seed", "1",
                             "--no-progress", "--html", str(page)])
    assert code == 0
    fields = dict(re.findall(r"^(\S.{13}) (.*)$", out, re.M))
    fields = {k.strip(): v for k, v in fields.items()}
    wins, draws, losses = (int(x) for x in re.findall(r"(\d+) (?:wins|draws|losses)", fields["p1 results"]))
    assert wins + draws + losses == 12
    assert fields["p1 win rate"].startswith(f"{100 * wins / 12:.1f} %")
    assert re.fullmatch(r"mean p1 \d+\.\d\d, p2 \d+\.\d\d", fields["longest chain"])
    data = json.loads(re.search(r'<script type="application/json" id="data">(.*?)</script>', page.read_text(),
                                re.S).group(1))
    assert len(data["matches"]) == 10  # the first ten are replayed


@pytest.mark.parametrize("argv, message", [
    (["--p1", "beam:0"], "width"),
    (["--matches", "0"], "--matches"),
    (["--workers", "2", "--scheduler", "tcp://x:1"], "not allowed with"),
])
def test_the_command_refuses_bad_arguments(argv, message, capsys):
    with pytest.raises(SystemExit):
        run_command(["match", *argv])
    assert message in capsys.readouterr().err


# ---------------------------------------------------------------- the replay

def test_the_replay_rebuilds_each_decisions_field_and_the_trays():
    m = tg.Match(seed=4, rules=tg.VersusRules(target_points=20, margin_time=10.0))
    choose = _match.make_player("greedy", 1)
    seen = []  # (player, field at its decision)
    while not m.over:
        hands = {p: choose(m, p) for p in m.due()}
        seen += [(p, m.players[p].field) for p in m.due()]
        m.play(hands)
    replay = VersusReplay()
    replay.add_match(m, "m", names=("a", "b"))
    steps = replay.matches[0]["steps"]
    assert len(steps) == len(m.events) + 1
    places = [(s["p"], s) for s in steps if s["k"] == "place"]
    seq = m.sequence
    turns = [0, 0]
    for (p, step), (q, field) in zip(places, seen):
        assert p == q
        ev = next(e for e in m.events if e.kind == "place" and e.player == p and e.frame == step["f"])
        placed = vm.place(field, ev.hand, seq[turns[p]])
        turns[p] += 1
        assert step["c"][p] == "".join(str(placed.to_array()[x][y]) for y in range(14) for x in range(6))
    last = steps[-1]["s"]
    assert [(s["pending"], s["fixed"], s["score"]) for s in last] == [
        (p.pending_ojama, p.fixed_ojama, p.score) for p in m.players]
    assert any(s["k"] == "garbage" and s["m"][s["p"]]["garbage"] for s in steps)
    html = replay.html()
    assert "</script>" not in html.split('id="data">', 1)[1].split("</script>", 1)[0]
