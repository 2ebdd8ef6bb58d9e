import json
import os
import random
import signal
import subprocess
import sys

import pytest

import tavik

distributed = pytest.importorskip("distributed")
dataset = pytest.importorskip("tavik_game.dataset")
from tavik_game.dataset import cluster  # noqa: E402


@pytest.fixture(scope="module")
def client():
    # One cluster for the whole module: starting one costs seconds.
    with distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None
    ) as cluster, distributed.Client(cluster) as c:
        yield c


def _random_fields(n, seed):
    rng = random.Random(seed)
    fields = []
    for _ in range(n):
        cols = []
        for _x in range(6):
            h = rng.randrange(0, 10)
            cols.append([rng.randrange(4, 8) for _ in range(h)] + [0] * (14 - h))
        fields.append(tavik.Field.from_array(cols))
    return fields


def _reference(field, depth):
    return max(((f.score, f.chain) for f in field.find_chain_recursive(depth)), default=(0, 0))


@pytest.mark.parametrize("depth", [1, 2])
def test_label_matches_per_field_search(client, depth):
    fields = _random_fields(40 if depth == 1 else 12, seed=depth)
    expected = [_reference(f, depth) for f in fields]
    assert dataset.label(fields, depth) == expected
    assert dataset.label(fields, depth, client=client) == expected
    assert any(score > 0 for score, _ in expected)


def test_label_empty_input(client):
    assert dataset.label([], 1, client=client) == []


@pytest.mark.parametrize(
    ("fields", "depth", "error"),
    [
        ([tavik.Field()], 0, ValueError),
        ([tavik.Field()], True, TypeError),
        ([tavik.Field()], 1.0, TypeError),
        (["not a field"], 1, TypeError),
    ],
)
def test_label_rejects_bad_arguments(fields, depth, error):
    with pytest.raises(error):
        dataset.label(fields, depth)


# ---------------------------------------------------------------- generate()

pq = pytest.importorskip("pyarrow.parquet")
cloudpickle = pytest.importorskip("cloudpickle")

# Small and quick: greedy games capped at 30 moves, 3 games per shard.
SMALL = dict(games=10, seed=7, bot="greedy", max_turns=30, shard_games=3)


def _shard_bytes(folder):
    return {p.name: p.read_bytes() for p in sorted(folder.glob("part-*.parquet"))}


@pytest.fixture(scope="module")
def reference(tmp_path_factory):
    """The small dataset made in this process, without Dask."""
    out = tmp_path_factory.mktemp("reference")
    result = dataset.generate(out, workers=0, **SMALL)
    return out, result


def test_rows_cover_every_game_and_turn_once(reference):
    out, result = reference
    table = pq.read_table(out)
    assert table.num_rows == result["rows"] == sum(e["rows"] for e in result["shards"])
    games = table.column("game").to_pylist()
    turns = table.column("turn").to_pylist()
    game_turns = table.column("game_turns").to_pylist()
    assert sorted(set(games)) == list(range(SMALL["games"]))
    for g in set(games):
        rows = [i for i, x in enumerate(games) if x == g]
        assert [turns[i] for i in rows] == list(range(len(rows)))
        assert {game_turns[i] for i in rows} == {len(rows)}
        scores = table.column("move_score").to_pylist()
        assert sum(scores[i] for i in rows) == table.column("game_score")[rows[0]].as_py()


def test_labels_match_the_python_search(reference):
    from tavik_game import from_numpy

    out, _ = reference
    table = pq.read_table(out / "part-00001.parquet")
    fields = dataset.fields_of(table)
    labels = list(zip(table.column("label_score").to_pylist(), table.column("label_chain").to_pylist()))
    picks = range(0, len(labels), 7)
    assert [labels[i] for i in picks] == [_reference(from_numpy(fields[i]), 1) for i in picks]
    assert any(score > 0 for score, _ in labels)


def test_shards_are_identical_with_one_and_two_workers(reference, client, tmp_path):
    ref, _ = reference
    dataset.generate(tmp_path / "two", client=client, **SMALL)
    dataset.generate(tmp_path / "one", workers=1, **SMALL)  # its own cluster, closed at the end
    expected = _shard_bytes(ref)
    assert len(expected) == 4
    assert _shard_bytes(tmp_path / "two") == expected
    assert _shard_bytes(tmp_path / "one") == expected
    assert (tmp_path / "two" / "_manifest.json").read_bytes() == (ref / "_manifest.json").read_bytes()


class KillFirstTask(distributed.WorkerPlugin):
    """Kills its worker process when the first task starts executing, once
    over the whole cluster: the marker file is created atomically."""

    name = "kill-first-task"

    def __init__(self, marker):
        self.marker = str(marker)

    def transition(self, key, start, finish, **kwargs):
        if finish != "executing":
            return
        try:
            os.close(os.open(self.marker, os.O_CREAT | os.O_EXCL | os.O_WRONLY))
        except FileExistsError:
            return
        os.kill(os.getpid(), signal.SIGKILL)


def test_a_killed_worker_loses_and_duplicates_nothing(reference, client, tmp_path):
    ref, _ = reference
    marker = tmp_path / "killed"
    # The workers cannot import this test module: send the plugin by value.
    cloudpickle.register_pickle_by_value(sys.modules[__name__])
    try:
        client.register_plugin(KillFirstTask(marker))
        result = dataset.generate(tmp_path / "out", client=client, **SMALL)
    finally:
        client.unregister_worker_plugin(KillFirstTask.name)
        cloudpickle.unregister_pickle_by_value(sys.modules[__name__])
    assert marker.exists()
    assert _shard_bytes(tmp_path / "out") == _shard_bytes(ref)
    table = pq.read_table(tmp_path / "out")
    keys = list(zip(table.column("game").to_pylist(), table.column("turn").to_pylist()))
    assert len(keys) == len(set(keys)) == result["rows"]


def test_a_rerun_makes_only_missing_or_damaged_shards(reference, tmp_path):
    ref, _ = reference
    out = tmp_path / "out"
    dataset.generate(out, workers=0, **SMALL)
    (out / "part-00001.parquet").unlink()
    damaged = out / "part-00002.parquet"
    damaged.write_bytes(damaged.read_bytes()[:-10])
    kept = out / "part-00000.parquet"
    kept_mtime = kept.stat().st_mtime_ns
    (out / ".part-00003.parquet.tmp").write_bytes(b"left by a killed run")
    # Killed after the rename, before the manifest named the shard.
    manifest = json.loads((out / "_manifest.json").read_text())
    manifest["shards"][3] = None
    (out / "_manifest.json").write_text(json.dumps(manifest))

    result = dataset.generate(out, workers=0, **SMALL)
    assert result["run"]["shards_made"] == 3 and result["complete"]
    assert kept.stat().st_mtime_ns == kept_mtime
    assert _shard_bytes(out) == _shard_bytes(ref)
    assert not list(out.glob(".*.tmp"))
    assert dataset.generate(out, workers=0, **SMALL)["run"]["shards_made"] == 0


@pytest.mark.parametrize(
    ("change", "error", "message"),
    [
        (dict(games=0), ValueError, "games must be from 1"),
        (dict(seed=-1), ValueError, "seed must be from 0"),
        (dict(seed=1.5), TypeError, "seed must be an int"),
        (dict(bot="beam:0"), ValueError, "width of bot 'beam:0' must be from 1"),
        (dict(bot="beam:\u0663"), ValueError, "bot must be"),  # an Arabic-Indic three
        (dict(bot="beam:1\udcff"), ValueError, "bot must be"),
        (dict(bot="beam:4,depth=2"), ValueError, "name it beam:WIDTH"),
        (dict(bot="minimax"), ValueError, "bot must be"),
        (dict(label_depth=0), ValueError, "label_depth must be from 1"),
        (dict(max_turns=0), ValueError, "max_turns must be from 1"),
        (dict(workers=-1), ValueError, "workers must be from 0"),
        (dict(client="tcp://localhost:8786"), TypeError, "client must be"),
    ],
)
def test_bad_arguments_fail_before_any_work(tmp_path, change, error, message):
    out = tmp_path / "out"
    args = {**SMALL, **change}
    if "client" not in change:
        args.setdefault("workers", 0)
    with pytest.raises(error, match=message):
        dataset.generate(out, **args)
    assert not out.exists()


def test_unusable_folders_fail_before_any_work(tmp_path):
    afile = tmp_path / "afile"
    afile.write_text("")
    with pytest.raises(ValueError, match="not a folder"):
        dataset.generate(afile, workers=0, **SMALL)
    with pytest.raises(PermissionError, match="cannot write into"):
        dataset.generate(afile / "sub", workers=0, **SMALL)
    out = tmp_path / "out"
    dataset.generate(out, workers=0, **{**SMALL, "games": 3})
    before = _shard_bytes(out)
    with pytest.raises(ValueError, match="other arguments \\(games 3 != 10\\)"):
        dataset.generate(out, workers=0, **SMALL)
    assert _shard_bytes(out) == before
    # A dataset begun by another tavik release is not continued by this one.
    manifest_path = out / dataset.MANIFEST
    manifest = json.loads(manifest_path.read_text())
    manifest["arguments"]["versions"]["tavik"] = "0.0.1"
    manifest_path.write_text(json.dumps(manifest))
    with pytest.raises(ValueError, match="other arguments \\(versions"):
        dataset.generate(out, workers=0, **{**SMALL, "games": 3})
    assert _shard_bytes(out) == before


def _command(*args, cwd):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    return subprocess.run(
        [sys.executable, "-m", "tavik_game.dataset", *args], cwd=cwd, env=env, capture_output=True, text=True
    )


def test_command_writes_the_dataset_and_the_report(tmp_path):
    done = _command(
        "--games", "4", "--seed", "3", "--out", "data", "--bot", "random", "--workers", "0",
        "--report", "report.html", "--quiet",
        cwd=tmp_path,
    )  # fmt: skip
    assert done.returncode == 0, done.stderr
    assert "positions in 1 shard in" in done.stdout
    page = (tmp_path / "report.html").read_text()
    assert page.count("<svg") == 2 and "positions/s" in page and "games (log scale)" in page
    assert 1 <= page.count('class="field"') <= 4 and "in 1 shard;" in page
    bad = _command("--games", "4", "--seed", "3", "--out", "data", "--bot", "greedy", cwd=tmp_path)
    assert bad.returncode == 2 and "other arguments (bot 'random' != 'greedy')" in bad.stderr


@pytest.mark.parametrize(("bot", "width"), [("random", 0), ("greedy", 0), ("beam", 8)])
def test_games_play_the_same_whatever_the_batch(bot, width):
    from tavik_game._native import play_games

    whole = play_games(11, 0, 4, bot, width, 12, 1, 3)
    parts = [play_games(11, first, 1, bot, width, 12, 1, 3) for first in range(4)]
    for name, column in whole.items():
        joined = [row for part in parts for row in part[name].tolist()]
        assert column.tolist() == joined, name
    assert set(whole["game"].tolist()) == {0, 1, 2, 3}
    assert ((0 <= whole["hand"]) & (whole["hand"] < 22)).all()


@pytest.mark.parametrize("shards, workers", [(1, 1), (20, 1), (20, 2), (64, 2), (3, 8), (200, 8), (1000, 3)])
def test_tasks_take_every_shard_once_and_shrink_to_single_shards(shards, workers):
    todo = list(range(0, 2 * shards, 2))  # the missing shards of a rerun need not be consecutive
    batches = cluster.batches(todo, workers)
    assert [k for b in batches for k in b] == todo
    sizes = [len(b) for b in batches]
    assert sizes == sorted(sizes, reverse=True) and sizes[-1] == 1
    assert max(sizes) <= -(-shards // 16)  # progress shows at least every sixteenth of the run
    if shards >= 64:  # the point: far fewer tasks, each costing Dask milliseconds
        assert len(batches) < shards / 2
