"""A dataset folder under pressure: two commands at once, a damaged manifest, a full disk, bad
arguments to the command; and rows that lead back to their games."""

import errno
import json
import os
import re
import signal
import subprocess
import sys

import pytest

pytest.importorskip("distributed")
pq = pytest.importorskip("pyarrow.parquet")

from tavik_game import dataset  # noqa: E402
from tavik_game.dataset import cli, manifest, shards  # noqa: E402

SMALL = dict(games=10, seed=7, bot="greedy", max_turns=30, shard_games=3)


def _shard_bytes(folder):
    return {p.name: p.read_bytes() for p in sorted(folder.glob("part-*.parquet"))}


@pytest.fixture(scope="module")
def made(tmp_path_factory):
    out = tmp_path_factory.mktemp("made")
    dataset.generate(out, workers=0, **SMALL)
    return out


def _copy(src, dst):
    dst.mkdir()
    for p in src.iterdir():
        (dst / p.name).write_bytes(p.read_bytes())
    return dst


_HOLD = """
import sys, time
from pathlib import Path
from tavik_game.dataset import manifest
with manifest.folder_lock(Path(sys.argv[1])):
    print("held", flush=True)
    time.sleep(600)
"""


def _holder(folder):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    proc = subprocess.Popen([sys.executable, "-c", _HOLD, str(folder)], stdout=subprocess.PIPE, text=True, env=env)
    assert proc.stdout.readline() == "held\n"
    return proc


def test_a_second_command_is_refused_at_once_and_a_dead_ones_lock_is_taken_over(made, tmp_path):
    out = _copy(made, tmp_path / "out")
    (out / "part-00001.parquet").unlink()
    proc = _holder(out)
    try:
        with pytest.raises(dataset.FolderBusy, match=f"in use by another dataset command \\(pid {proc.pid} on "):
            dataset.generate(out, workers=0, **SMALL)
        # Refused before any game: no shard made (a time limit would fail on a loaded machine).
        assert not (out / "part-00001.parquet").exists()
        done = cli_run(["--games", "10", "--seed", "7", "--bot", "greedy", "--max-turns", "30",
                        "--shard-games", "3", "--out", str(out), "--quiet"])  # fmt: skip
        assert done[0] == 2 and f"pid {proc.pid}" in done[2] and "started 20" in done[2]
    finally:
        proc.send_signal(signal.SIGKILL)
        proc.wait()
    assert dataset.generate(out, workers=0, **SMALL)["run"]["shards_made"] == 1
    assert _shard_bytes(out) == _shard_bytes(made)


def cli_run(argv):
    """(exit code, stdout, stderr) of the command run in this process."""
    import contextlib
    import io

    out, err = io.StringIO(), io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
        try:
            code = cli.main(argv)
        except SystemExit as e:
            code = e.code
    return code, out.getvalue(), err.getvalue()


def _damage(entries, how):
    if how == "outside":
        entries[1]["file"] = "../outside.parquet"
    elif how == "absolute":
        entries[1]["file"] = "/etc/passwd"
    elif how == "truncated":
        del entries[2:]
    elif how == "no sha256":
        del entries[0]["sha256"]
    elif how == "games moved":
        entries[1]["games"] = [0, 3]
    elif how == "string entry":
        entries[3] = "part-00003.parquet"
    elif how == "bad histogram":
        entries[0]["label_chain"] = [1, 2]


@pytest.mark.parametrize(
    ("how", "says"),
    [
        ("outside", "names the file '../outside.parquet'"),
        ("absolute", "names the file '/etc/passwd'"),
        ("truncated", "lists 2 shards where its arguments plan 4"),
        ("no sha256", "shard 0 has no sha256"),
        ("games moved", "shard 1 holds games [0, 3]"),
        ("string entry", "shard 3 is a str"),
        ("bad histogram", "label_chain is not 20 counts"),
    ],
)
def test_a_damaged_manifest_is_refused_with_what_is_wrong(made, tmp_path, how, says):
    out = _copy(made, tmp_path / "out")
    path = out / dataset.MANIFEST
    data = json.loads(path.read_text())
    _damage(data["shards"], how)
    path.write_text(json.dumps(data))
    before = _shard_bytes(out)
    with pytest.raises(dataset.DamagedManifest, match=re.escape(says)):
        dataset.generate(out, workers=0, **SMALL)
    with pytest.raises(dataset.DamagedManifest, match=re.escape(says)):
        dataset.write_report(out, tmp_path / "r.html")
    assert not (tmp_path / "r.html").exists()
    code, _, err = cli_run(["--games", "10", "--seed", "7", "--bot", "greedy", "--max-turns", "30",
                            "--shard-games", "3", "--out", str(out), "--quiet", "--workers", "0"])  # fmt: skip
    assert code == 2 and says in err and "Traceback" not in err
    assert _shard_bytes(out) == before


@pytest.mark.parametrize("text", ["not json {", "[1, 2]", '{"arguments": 5}'])
def test_a_manifest_that_is_no_manifest_is_refused(tmp_path, text):
    (tmp_path / dataset.MANIFEST).write_text(text)
    with pytest.raises(ValueError, match="not a dataset manifest"):
        dataset.generate(tmp_path, workers=0, **SMALL)


@pytest.mark.parametrize("where", [[], ["--workers", "2"]])
def test_a_full_disk_says_so_and_the_same_command_resumes(made, tmp_path, monkeypatch, where):
    out = tmp_path / "out"
    real = manifest.write_atomic
    writes = []

    def fills_up(path, data):
        writes.append(path.name)
        if len(writes) == 6:  # the third shard's file
            raise OSError(errno.ENOSPC, os.strerror(errno.ENOSPC), str(path))
        real(path, data)

    monkeypatch.setattr(manifest, "write_atomic", fills_up)
    code, _, err = cli_run(["--games", "10", "--seed", "7", "--bot", "greedy", "--max-turns", "30",
                            "--shard-games", "3", "--out", str(out), "--quiet", *where])  # fmt: skip
    assert code == 1 and "Traceback" not in err
    assert "is full" in err and "2 shards of 4 are complete and kept" in err
    assert "run the same command again" in err
    assert not list(out.glob(".*.tmp"))
    monkeypatch.setattr(manifest, "write_atomic", real)
    assert dataset.generate(out, workers=0, **SMALL)["run"]["shards_made"] == 2
    assert _shard_bytes(out) == _shard_bytes(made)


def test_a_partly_written_file_is_removed_when_the_write_fails(tmp_path, monkeypatch):
    def no_space(fd):
        raise OSError(errno.ENOSPC, "No space left on device")

    monkeypatch.setattr(os, "fsync", no_space)
    with pytest.raises(OSError):
        manifest.write_atomic(tmp_path / "x", b"data")
    assert list(tmp_path.iterdir()) == []


@pytest.mark.parametrize(
    ("extra", "says"),
    [
        (["--report", "."], "is a folder; name the HTML file"),
        (["--report", "missing/r.html"], "cannot write the report into"),
        (["--bot", "beam:\u0663"], "bot must be"),
        (["--bot", "beam:4\udcff"], "bot must be"),
        (["--games", "\u0663"], "--games must be a whole number"),
        (["--workers", "-1"], "--workers must be"),
    ],
)
def test_bad_command_arguments_fail_before_any_game(tmp_path, monkeypatch, extra, says):
    monkeypatch.chdir(tmp_path)
    code, out, err = cli_run(["--games", "3", "--seed", "1", "--bot", "random", "--out", "data", "--quiet", *extra])
    assert code == 2 and says in err and out == ""
    assert not (tmp_path / "data").exists()


def test_rows_lead_back_to_their_games(made):
    from tavik_game import to_numpy

    table = pq.read_table(made / "part-00001.parquet")
    fields = dataset.fields_of(table)
    assert fields.shape == (table.num_rows, 14, 6)
    rows = table.to_pylist()
    assert rows[0]["field"] == fields[0].tolist()  # a 2-D array as read by anyone
    hands = []
    for i, row in enumerate(rows):
        if row["turn"] == 0:
            hands = []
        game = dataset.game_of(row, hands)
        assert game.turn == row["turn"]
        assert (to_numpy(game.field) == fields[i]).all()
        pairs = [n for p in game.pairs for n in (int(p.child), int(p.axis))]
        assert pairs == row["pairs"]
        hands.append(row["hand"])
    assert shards.game_seed(SMALL["seed"], rows[0]["game"]) == rows[0]["game_seed"]
    replay = dataset.replay_of(rows)
    per_game = [sum(r["game"] == g for r in rows) for g in sorted({r["game"] for r in rows})]
    assert [g["moves"] for g in replay.games] == per_game
    assert [g["score"] for g in replay.games] == [r["game_score"] for r in rows if r["turn"] == 0]
    with pytest.raises(ValueError, match="must start at turn 0"):
        dataset.replay_of(rows[1:])


def test_the_report_shows_positions_of_different_games_and_an_unfinished_run(made, tmp_path):
    import re as re_

    page_path = tmp_path / "r.html"
    dataset.write_report(made, page_path)
    page = page_path.read_text()
    games = re_.findall(r"game (\d+), turn", page)
    assert len(games) == 4 and len(set(games)) == 4
    assert page.count('class="field"') == 4 and "(log scale)" in page and "incomplete" not in page
    out = _copy(made, tmp_path / "out")
    data = json.loads((out / dataset.MANIFEST).read_text())
    data["shards"][1:] = [None] * 3
    data["complete"] = False
    (out / dataset.MANIFEST).write_text(json.dumps(data))
    dataset.write_report(out, page_path)
    page = page_path.read_text()
    rows = data["shards"][0]["rows"]
    assert f"{rows:,} positions in 4 shards (incomplete" in page and ">1 of 4<" in page
