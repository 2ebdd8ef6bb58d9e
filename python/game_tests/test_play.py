"""`python -m tavik_game play` end to end, on a couple of short games."""

import json
import os
import re
import subprocess
import sys

import pytest

tg = pytest.importorskip("tavik_game")
from tavik_game.__main__ import main  # noqa: E402

BOTS = ["greedy", "random", "beam:4"]


def figures(text):
    return {m.group(1): m.group(2) for m in re.finditer(r"^(\w[\w ]*?)\s{2,}(.*)$", text, re.M)}


@pytest.mark.parametrize("bot", BOTS)
def test_play_reports_the_games_and_writes_their_replay(tmp_path, capsys, bot):
    page = tmp_path / "replay.html"
    args = ["play", "--games", "2", "--pairs", "6", "--seed", "7", "--bot", bot, "--html", str(page)]
    assert main(args) == 0
    out, err = capsys.readouterr()
    shown = figures(out)
    assert shown["games"].startswith("2 of at most 6 pairs, seeds 7 to 8")
    assert shown["moves"].startswith("12 in ") and "moves per second" in shown["moves"]
    assert re.fullmatch(r"mean \d+\.\d, best \d+", shown["score"])
    assert re.fullmatch(r"mean \d+\.\d\d, best \d+", shown["longest chain"])
    assert err.count("game ") == 2  # one progress line per game when stderr is no terminal
    data = json.loads(re.search(r'id="data">(.*?)</script>', page.read_text(encoding="utf-8"), re.S).group(1))
    assert [g["name"] for g in data["games"]] == ["game 1 (seed 7)", "game 2 (seed 8)"]
    for game, seed in zip(data["games"], (7, 8)):
        assert [f["t"] for f in game["frames"] if f["k"] == "move"] == list(range(6))
        # The first frame shows the first pair of the seeded sequence and the two after it.
        first = [tg.PairSequence(seed)[i] for i in range(3)]
        assert game["frames"][0]["p"] == [[p.child, p.axis] for p in first]
    # Same seeds, same games.
    assert main(args) == 0
    again = figures(capsys.readouterr().out)
    assert (again["score"], again["longest chain"]) == (shown["score"], shown["longest chain"])


@pytest.mark.parametrize("bad, says", [
    (["--games", "0"], "--games must be from 1"),
    (["--pairs", "ten"], "--pairs must be a whole number"),
    (["--seed", "-1"], "--seed must be from 0"),
    (["--threads", "0"], "--threads must be from 1"),
    (["--colours", "5"], "--colours: invalid choice"),
    (["--bot", "smart"], "--bot: bot must be random, greedy, or beam"),
    (["--bot", "beam:\u0663"], "--bot: bot must be"),
    (["--bot", "beam:4,width=3"], "options are depth=D and threads=T"),
    (["--bot", "greedy", "--beam", "4"], "--beam only apply to the beam bot"),
])
def test_bad_values_are_refused_with_the_option_named(capsys, bad, says):
    with pytest.raises(SystemExit) as exit_:
        main(["play", *bad])
    assert exit_.value.code == 2
    assert says in capsys.readouterr().err


def test_an_unwritable_replay_path_fails_before_playing(tmp_path, capsys):
    path = tmp_path / "missing" / "r.html"
    with pytest.raises(SystemExit) as exit_:
        main(["play", "--bot", "random", "--games", "50", "--html", str(path)])
    out, err = capsys.readouterr()
    assert "cannot write the replay to" in str(exit_.value.code) and out == "" and "game 1" not in err
    assert not path.parent.exists()


def test_the_module_runs_as_a_command(tmp_path):
    env = {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)}
    done = subprocess.run([sys.executable, "-m", "tavik_game", "play", "--games", "1", "--pairs", "3",
                           "--bot", "random", "--no-progress"],
                          capture_output=True, text=True, env=env, cwd=tmp_path, timeout=120)
    assert done.returncode == 0, done.stderr
    assert done.stderr == "" and figures(done.stdout)["moves"].startswith("3 in ")


def test_ctrl_c_still_reports_and_writes_the_games_played(tmp_path, capsys, monkeypatch):
    import tavik_game.__main__ as command

    make_bot = command.make_bot

    def stops_at_the_eighth_move(settings, seed):
        play = make_bot(settings, seed)
        calls = []

        def choose(game):
            calls.append(1)
            if len(calls) == 8:
                raise KeyboardInterrupt
            return play(game)

        return choose

    monkeypatch.setattr(command, "make_bot", stops_at_the_eighth_move)
    page = tmp_path / "r.html"
    assert main(["play", "--games", "3", "--pairs", "5", "--bot", "random", "--html", str(page)]) == 130
    shown = figures(capsys.readouterr().out)
    assert shown["games"].startswith("2 of at most 5 pairs") and shown["moves"].startswith("7 in ")
    data = json.loads(re.search(r'id="data">(.*?)</script>', page.read_text(encoding="utf-8"), re.S).group(1))
    assert [g["moves"] for g in data["games"]] == [5, 2]
