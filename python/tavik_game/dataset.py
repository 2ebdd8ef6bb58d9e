"""Training data at scale: self-play datasets and bulk labelling of positions,
on every core of one machine or across a Dask cluster.

A position's label is the best (score, chain) among the finds of
``find_chain_recursive(depth)`` on its field, (0, 0) when nothing fires.
Work travels to the workers in large batches: one task per field or per game
costs far more in scheduling than the search itself.

    python -m tavik_game.dataset --games 1000 --seed 1 --out data/
"""

from __future__ import annotations

import contextlib
import hashlib
import html
import json
import os
import sys
import time
from array import array
from collections.abc import Iterator, Sequence
from pathlib import Path
from typing import Any

import tavik

# Batches per worker: enough to balance uneven batches and survive a lost
# worker without much rework, few enough that scheduling stays negligible.
_BATCHES_PER_WORKER = 4


def _best(field: tavik.Field, depth: int) -> tuple[int, int]:
    best = (0, 0)
    for found in field.find_chain_recursive(depth):
        key = (found.score, found.chain)
        if key > best:
            best = key
    return best


def _label_batch(fields: Sequence[tavik.Field], depth: int) -> list[tuple[int, int]]:
    try:
        from tavik_game._native import label_fields
    except ImportError:  # a build without the game module
        return [_best(f, depth) for f in fields]
    flat = array("q", bytes(16 * len(fields)))
    label_fields(list(fields), depth, flat)
    return list(zip(flat[0::2], flat[1::2]))


def _label_packed(blob: bytes, count: int, depth: int) -> bytes:
    size = len(blob) // count if count else 0
    fields = []
    for i in range(count):
        f = tavik.Field()
        f.__setstate__(blob[i * size : (i + 1) * size])
        fields.append(f)
    # Results go back packed too: a list of tuples crosses the wire item by item.
    flat = array("q", bytes(16 * count))
    try:
        from tavik_game._native import label_fields
    except ImportError:
        for i, (score, chain) in enumerate(_label_batch(fields, depth)):
            flat[2 * i], flat[2 * i + 1] = score, chain
    else:
        label_fields(fields, depth, flat)
    return flat.tobytes()


def _check_label_args(fields: object, depth: object) -> list[tavik.Field]:
    if isinstance(depth, bool) or not isinstance(depth, int):
        raise TypeError(f"depth must be an int, not {type(depth).__name__}")
    if depth < 1:
        raise ValueError(f"depth must be at least 1, got {depth}")
    if not hasattr(fields, "__len__"):  # an endless iterable would be read until memory ran out
        raise TypeError(f"fields must be a sequence of tavik.Field, not {type(fields).__name__}")
    fields = list(fields)  # type: ignore[call-overload]
    for i, f in enumerate(fields):
        if not isinstance(f, tavik.Field):
            raise TypeError(f"fields[{i}] is a {type(f).__name__}, not a tavik.Field")
    return fields


def _worker_count(client: object) -> int:
    info = client.scheduler_info()  # type: ignore[attr-defined]
    return max(1, len(info.get("workers", {})))


def label(fields: Sequence[tavik.Field], depth: int, client: object = None) -> list[tuple[int, int]]:
    """(score, chain) of the best ``find_chain_recursive(depth)`` find of each
    field, in the order given. Without a client the work runs in this process."""
    fields = _check_label_args(fields, depth)
    if client is None or not fields:
        return _label_batch(fields, depth)
    batches = _BATCHES_PER_WORKER * _worker_count(client)
    size = -(-len(fields) // batches)
    chunks = [fields[i : i + size] for i in range(0, len(fields), size)]
    # One bytes object per batch: Dask serialises a list element by element,
    # which costs more than the searches.
    blobs = [b"".join(f.__getstate__() for f in c) for c in chunks]
    counts = [len(c) for c in chunks]
    # pure=False: identical batches are still separate work, never deduplicated.
    futures = client.map(_label_packed, blobs, counts, depth=depth, pure=False)  # type: ignore[attr-defined]
    out: list[tuple[int, int]] = []
    for part in client.gather(futures):  # type: ignore[attr-defined]
        flat = array("q")
        flat.frombytes(part)
        out.extend(zip(flat[0::2], flat[1::2]))
    return out


# ---------------------------------------------------------------- self-play datasets

# Leading underscore: readers of the folder as one Parquet dataset skip it.
MANIFEST = "_manifest.json"
_FORMAT = 1
_VISIBLE = 3
_MAX_CHAIN = 19
# Shards (and tasks) per run: a few per worker on clusters of up to ~20 cores,
# and a worker lost mid-run costs one shard of rework.
_TARGET_SHARDS = 64
# Games per shard at least: a task costs the client and scheduler about 5 ms
# of CPU, so a shard should hold a few hundred ms of games (random: ~0.4 ms a
# game, greedy: 1 to 7 ms, beam:100: seconds).
_MIN_SHARD_GAMES = {"random": 1000, "greedy": 100, "beam": 2}
_BEAM_WIDTH_MAX = 10_000


def _shard_name(k: int) -> str:
    return f"part-{k:05d}.parquet"


def _parse_bot(bot: object) -> tuple[str, int]:
    if not isinstance(bot, str):
        raise TypeError(f"bot must be a str, not {type(bot).__name__}")
    if bot in ("random", "greedy"):
        return bot, 0
    name, sep, width = bot.partition(":")
    if name == "beam" and sep and width.isdigit() and 1 <= int(width) <= _BEAM_WIDTH_MAX:
        return "beam", int(width)
    raise ValueError(f"bot must be 'random', 'greedy' or 'beam:WIDTH' (WIDTH 1 to {_BEAM_WIDTH_MAX}), got {bot!r}")


def _int_arg(name: str, value: object, low: int, high: int) -> int:
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{name} must be an int, not {type(value).__name__}")
    if not low <= value <= high:
        raise ValueError(f"{name} must be from {low} to {high}, got {value}")
    return value


def _plan(
    games: object, seed: object, bot: object, label_depth: object, max_turns: object, shard_games: object
) -> dict[str, Any]:
    """The arguments that fix a dataset's bytes, checked; stored in the manifest."""
    games = _int_arg("games", games, 1, 2**40)
    seed = _int_arg("seed", seed, 0, 2**64 - 1)
    kind, _ = _parse_bot(bot)
    # Depth 3 already takes seconds per position.
    label_depth = _int_arg("label_depth", label_depth, 1, 3)
    max_turns = _int_arg("max_turns", max_turns, 1, 100_000)
    if shard_games is None:
        shard_games = min(games, max(-(-games // _TARGET_SHARDS), _MIN_SHARD_GAMES[kind]))
    shard_games = _int_arg("shard_games", shard_games, 1, 2**40)
    return {
        "format": _FORMAT,
        "games": games,
        "seed": seed,
        "bot": bot,
        "label_depth": label_depth,
        "max_turns": max_turns,
        "shard_games": shard_games,
        "visible": _VISIBLE,
        # Another tavik may play or label differently, another pyarrow write other
        # bytes: a rerun with either would mix shards of two kinds in one dataset.
        "versions": _versions(),
    }


def _versions() -> dict[str, str]:
    import importlib.metadata

    out = {}
    for package in ("tavik", "pyarrow"):
        try:
            out[package] = importlib.metadata.version(package)
        except importlib.metadata.PackageNotFoundError:
            out[package] = "unknown"
    return out


def _table(cols: dict[str, Any]) -> Any:
    import pyarrow as pa

    def fixed(values: Any) -> Any:
        return pa.FixedSizeListArray.from_arrays(pa.array(values.reshape(-1)), values.shape[1])

    return pa.table(
        {
            "game": cols["game"],
            "turn": cols["turn"],
            "field": fixed(cols["field"]),
            "pairs": fixed(cols["pairs"]),
            "hand": cols["hand"],
            "move_chain": cols["move_chain"],
            "move_score": cols["move_score"],
            "label_score": cols["label_score"],
            "label_chain": cols["label_chain"],
            "game_score": cols["game_score"],
            "game_turns": cols["game_turns"],
        }
    )


def _histograms(game: Any, move_chain: Any, label_chain: Any) -> dict[str, list[int]]:
    import numpy as np

    starts = np.flatnonzero(np.diff(game, prepend=-1))
    longest = np.maximum.reduceat(move_chain, starts) if len(starts) else move_chain
    size = _MAX_CHAIN + 1
    return {
        "longest_chain": np.bincount(longest, minlength=size)[:size].tolist(),
        "label_chain": np.bincount(label_chain, minlength=size)[:size].tolist(),
    }


def _play_shard(plan: dict[str, Any], k: int) -> tuple[bytes, dict[str, Any]]:
    """Plays shard k's games; returns its Parquet bytes and its summary. Runs on
    a worker, which needs no access to the output folder: the caller writes."""
    import pyarrow as pa
    import pyarrow.parquet as pq

    from tavik_game._native import play_games

    first = k * plan["shard_games"]
    count = min(plan["shard_games"], plan["games"] - first)
    kind, width = _parse_bot(plan["bot"])
    cols = play_games(plan["seed"], first, count, kind, width, plan["max_turns"], plan["label_depth"], plan["visible"])
    sink = pa.BufferOutputStream()
    pq.write_table(_table(cols), sink, compression="zstd")
    summary = {
        "file": _shard_name(k),
        "games": [first, first + count],
        "rows": len(cols["game"]),
        **_histograms(cols["game"], cols["move_chain"], cols["label_chain"]),
    }
    return sink.getvalue().to_pybytes(), summary


def _play_shards(plan: dict[str, Any], shards: list[int]) -> list[tuple[bytes, dict[str, Any]]]:
    """Plays several shards in one task: a task costs the worker and this process
    about 5 ms of CPU each, a few per cent of a run made of one-shard tasks."""
    return [_play_shard(plan, k) for k in shards]


def _batches(todo: list[int], workers: int) -> list[list[int]]:
    """The shards to make, cut into tasks that shrink as the run goes on: each
    about half of what is left per worker, so the workers finish together on
    small tasks; none more than a sixteenth of the run, so progress shows."""
    most = max(1, -(-len(todo) // 16))
    batches = []
    at = 0
    while at < len(todo):
        size = min(most, max(1, -(-(len(todo) - at) // (2 * max(1, workers)))))
        batches.append(todo[at : at + size])
        at += size
    return batches


def _sha256(path: Path) -> str:
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def _write_atomic(path: Path, data: bytes) -> None:
    # A reader (or a rerun) sees the old file or the whole new one, never a
    # part; the dot keeps the partial file out of a read of the whole folder.
    tmp = path.with_name("." + path.name + ".tmp")
    with open(tmp, "wb") as f:
        f.write(data)
        f.flush()
        os.fsync(f.fileno())
    os.replace(tmp, path)


def _manifest_bytes(manifest: dict[str, Any]) -> bytes:
    # One line per shard: readable, and diffable between runs.
    head = {k: v for k, v in manifest.items() if k != "shards"}
    lines = [json.dumps(head, indent=1, sort_keys=True)[:-2] + ',\n "shards": [']
    shards = ["  " + json.dumps(e, sort_keys=True) for e in manifest["shards"]]
    lines.append(",\n".join(shards))
    lines.append(" ]\n}\n")
    return "\n".join(lines).encode()


def _prepare(out: object, plan: dict[str, Any]) -> tuple[Path, dict[str, Any]]:
    """Creates or reopens the folder and its manifest; every failure here comes
    before any game is played."""
    if not isinstance(out, (str, os.PathLike)):
        raise TypeError(f"out must be a path, not {type(out).__name__}")
    path = Path(out)
    if path.exists() and not path.is_dir():
        raise ValueError(f"out {str(path)!r} exists and is not a folder")
    try:
        path.mkdir(parents=True, exist_ok=True)
        probe = path / ".write-check.tmp"
        probe.write_bytes(b"")
        probe.unlink()
    except OSError as e:
        raise PermissionError(f"cannot write into the folder {str(path)!r}: {e.strerror or e}") from None
    shards = -(-plan["games"] // plan["shard_games"])
    manifest_path = path / MANIFEST
    if manifest_path.exists():
        try:
            manifest = json.loads(manifest_path.read_text())
            old_plan = manifest["arguments"]
        except (ValueError, KeyError, TypeError):
            raise ValueError(f"{str(manifest_path)!r} is not a dataset manifest; use an empty folder") from None
        if old_plan != plan:
            diff = ", ".join(
                f"{key} {old_plan.get(key)!r} != {plan[key]!r}" for key in plan if old_plan.get(key) != plan[key]
            )
            raise ValueError(
                f"{str(path)!r} holds a dataset made with other arguments ({diff}); "
                "use another folder or the same arguments"
            )
    else:
        manifest = {"arguments": plan, "shards": [None] * shards, "rows": 0, "complete": False}
    for stale in path.glob(".*.tmp"):
        stale.unlink()
    return path, manifest


def _missing(path: Path, manifest: dict[str, Any]) -> list[int]:
    """Shards to make: those the manifest lacks or whose file is missing or altered."""
    todo = []
    for k, entry in enumerate(manifest["shards"]):
        f = path / _shard_name(k)
        if entry is None or not f.is_file() or _sha256(f) != entry["sha256"]:
            manifest["shards"][k] = None
            todo.append(k)
    return todo


class _Progress:
    """One line on stderr: games done and positions per second."""

    def __init__(self, total: int, enabled: bool) -> None:
        self.total = total
        self.enabled = enabled
        self.tty = enabled and sys.stderr.isatty()
        self.start = time.perf_counter()
        self.last = 0.0

    def show(self, games: int, positions: int, final: bool = False) -> None:
        if not self.enabled:
            return
        now = time.perf_counter()
        if not final and now - self.last < (0.2 if self.tty else 5.0):
            return
        self.last = now
        rate = positions / max(now - self.start, 1e-9)
        width = 30
        filled = width * games // self.total
        line = (
            f"[{'#' * filled}{'.' * (width - filled)}] {games}/{self.total} games, "
            f"{positions} positions, {rate:,.0f} positions/s"
        )
        end = "\n" if final or not self.tty else ""
        print(("\r" if self.tty else "") + line, end=end, file=sys.stderr, flush=True)


# Settings of the cluster generate() starts itself. This process (scheduler and
# client) and the workers share the machine's cores, so Dask's own background
# work comes out of the positions per second: the workers' sampling profiler
# (a stack walk every 10 ms), compression of shards Parquet has already
# compressed, and event-loop ticks and heartbeats at their defaults of a few
# tens of milliseconds, cost a tenth of the CPU of a two-worker run together.
_LOCAL_CLUSTER_CONFIG = {
    "distributed.worker.profile.enabled": False,
    "distributed.comm.compression": False,
    "distributed.admin.tick.interval": "1s",
    "distributed.client.heartbeat": "5s",
    "distributed.worker.memory.monitor-interval": "1s",
    # Each process samples its CPU and memory for the dashboard: every 5 s
    # instead of 0.5 s halves what an idle cluster costs the cores.
    "distributed.admin.system-monitor.interval": "5s",
    # Tasks of equal size, queued on the scheduler: nothing for stealing to balance.
    "distributed.scheduler.work-stealing": False,
}


@contextlib.contextmanager
def _cluster(workers: int | None) -> Iterator[Any]:
    import dask
    import distributed

    n = workers or os.cpu_count() or 1
    # One single-threaded process per core: the searches release the
    # interpreter lock, but Parquet encoding and task handling do not.
    # The dashboard on a free port: the usual one may be taken by another cluster.
    with dask.config.set(_LOCAL_CLUSTER_CONFIG), distributed.LocalCluster(
        n_workers=n, threads_per_worker=1, processes=True, dashboard_address=":0"
    ) as cluster, distributed.Client(cluster, direct_to_workers=True) as client:
        yield client


def generate(
    out: str | os.PathLike[str],
    games: int,
    seed: int,
    bot: str = "beam:100",
    label_depth: int = 1,
    client: object = None,
    *,
    max_turns: int = 500,
    shard_games: int | None = None,
    workers: int | None = None,
    progress: bool = False,
) -> dict[str, Any]:
    """Plays `games` self-play games and writes their labelled positions to
    Parquet shards in `out`, with a manifest. Without a client it starts a
    LocalCluster of `workers` processes (default: one per core); workers=0
    plays in this process. A rerun into the same folder makes only the missing
    shards. Returns the manifest, plus "run": what this call did."""
    plan = _plan(games, seed, bot, label_depth, max_turns, shard_games)
    if workers is not None:
        workers = _int_arg("workers", workers, 0, 4096)
        if client is not None:
            raise ValueError("give either client or workers, not both")
    if client is not None and not hasattr(client, "submit"):
        raise TypeError(f"client must be a dask.distributed.Client, not {type(client).__name__}")
    path, manifest = _prepare(out, plan)
    todo = _missing(path, manifest)
    if todo:
        manifest["complete"] = False
    manifest_path = path / MANIFEST
    _write_atomic(manifest_path, _manifest_bytes(manifest))

    bar = _Progress(plan["games"], progress)
    done_games = sum(e["games"][1] - e["games"][0] for e in manifest["shards"] if e)
    made_rows = 0
    start = time.perf_counter()

    def finish(made: list[tuple[bytes, dict[str, Any]]]) -> None:
        nonlocal done_games, made_rows
        for data, summary in made:
            k = int(summary["file"][5:10])
            _write_atomic(path / summary["file"], data)
            summary["sha256"] = hashlib.sha256(data).hexdigest()
            summary["bytes"] = len(data)
            manifest["shards"][k] = summary
            done_games += summary["games"][1] - summary["games"][0]
            made_rows += summary["rows"]
        # The manifest names a shard only once its file is complete: once per
        # task, each write being a flush to the disk.
        _write_atomic(manifest_path, _manifest_bytes(manifest))
        bar.show(done_games, made_rows)

    used_workers = 0
    if todo and client is None and workers == 0:
        for k in todo:
            finish([_play_shard(plan, k)])
    elif todo:
        import distributed

        with contextlib.ExitStack() as stack:
            c: Any = client if client is not None else stack.enter_context(_cluster(workers))
            used_workers = _worker_count(c)
            # Throughput counts from here: starting a local cluster takes seconds.
            start = bar.start = time.perf_counter()
            batches = _batches(todo, used_workers)
            futures = c.map(_play_shards, [plan] * len(batches), batches)
            for future in distributed.as_completed(futures):
                finish(future.result())
                future.release()
    seconds = time.perf_counter() - start
    bar.show(done_games, made_rows, final=True)

    manifest["rows"] = sum(e["rows"] for e in manifest["shards"])
    manifest["complete"] = True
    _write_atomic(manifest_path, _manifest_bytes(manifest))
    result = dict(manifest)
    result["run"] = {
        "shards_made": len(todo),
        "positions": made_rows,
        "seconds": seconds,
        "workers": used_workers,
    }
    return result


# ---------------------------------------------------------------- report


def _svg_histogram(title: str, counts: list[int], xlabel: str) -> str:
    # Trailing empty bins say nothing; keep at least up to 5.
    last = max([i for i, c in enumerate(counts) if c] + [4])
    counts = counts[: last + 1]
    top = max(counts) or 1
    bar, gap, height, pad = 28, 4, 160, 30
    width = pad + len(counts) * (bar + gap)
    parts = [
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height + 2 * pad}" role="img">',
        f"<title>{html.escape(title)}</title>",
    ]
    for i, c in enumerate(counts):
        h = round(height * c / top)
        x = pad + i * (bar + gap)
        y = pad + height - h
        parts.append(f'<rect x="{x}" y="{y}" width="{bar}" height="{h}" fill="#4a7bd0"><title>{c}</title></rect>')
        parts.append(f'<text x="{x + bar / 2}" y="{pad + height + 14}" font-size="11" text-anchor="middle">{i}</text>')
        if c:
            parts.append(f'<text x="{x + bar / 2}" y="{y - 3}" font-size="9" text-anchor="middle">{c}</text>')
    parts.append(
        f'<text x="{width / 2}" y="{pad + height + 28}" font-size="12" text-anchor="middle">{html.escape(xlabel)}</text>'
    )
    parts.append("</svg>")
    return "\n".join(parts)


def _examples(path: Path, manifest: dict[str, Any], count: int) -> list[tuple[str, dict[str, int]]]:
    """The positions with the best labels in the first shard, drawn by tavik."""
    import numpy as np
    import pyarrow.parquet as pq

    from .arrays import from_numpy

    entry = next((e for e in manifest["shards"] if e and e["rows"]), None)
    if entry is None:
        return []
    table = pq.read_table(path / entry["file"])
    scores = table.column("label_score").to_numpy()
    # Stable sort: the same examples on every run.
    picks = np.argsort(-scores, kind="stable")[:count]
    fields = table.column("field").combine_chunks().flatten().to_numpy().reshape(-1, 14, 6)
    out = []
    for i in picks.tolist():
        info = {name: table.column(name)[i].as_py() for name in ("game", "turn", "label_score", "label_chain")}
        out.append((from_numpy(fields[i]).get_html_string(), info))
    return out


def write_report(out: str | os.PathLike[str], report: str | os.PathLike[str], run: dict[str, Any] | None = None) -> None:
    """An HTML page about the dataset in `out`: histograms of the longest chain
    per game and of the labels, the throughput of `run` (generate()'s "run"),
    and a few example positions."""
    path = Path(out)
    manifest = json.loads((path / MANIFEST).read_text())
    a = manifest["arguments"]
    size = _MAX_CHAIN + 1
    longest = [0] * size
    labels = [0] * size
    for e in manifest["shards"]:
        if e:
            longest = [x + y for x, y in zip(longest, e["longest_chain"])]
            labels = [x + y for x, y in zip(labels, e["label_chain"])]
    body = [
        f"<h1>Self-play dataset: {a['games']} games, seed {a['seed']}, bot {html.escape(str(a['bot']))}</h1>",
        f"<p>{manifest['rows']} positions in {len(manifest['shards'])} shards; labels: best chain of "
        f"find_chain_recursive({a['label_depth']}); at most {a['max_turns']} moves per game.</p>",
    ]
    if run and run.get("positions"):
        rate = run["positions"] / max(run["seconds"], 1e-9)
        where = f"{run['workers']} Dask workers" if run.get("workers") else "this process"
        body.append(
            f"<h2>Throughput</h2><p>This run made {run['shards_made']} shards, {run['positions']} positions "
            f"in {run['seconds']:.2f} s on {where}: {rate:,.0f} positions/s.</p>"
        )
    body.append("<h2>Longest chain per game</h2>")
    body.append(_svg_histogram("longest chain per game", longest, "longest chain of the game"))
    body.append("<h2>Labels</h2>")
    body.append(_svg_histogram("label chain per position", labels, "chain of the best find"))
    body.append("<h2>Example positions (best labels of the first shard)</h2>")
    for drawing, info in _examples(path, manifest, 3):
        body.append(
            f"<div style='display:inline-block;margin:1em'>{drawing}<p>game {info['game']}, turn {info['turn']}: "
            f"label {info['label_chain']} chain, {info['label_score']} points</p></div>"
        )
    page = (
        "<!DOCTYPE html>\n<html><head><meta charset='utf-8'><title>tavik dataset</title></head>"
        "<body style='font-family:sans-serif'>\n" + "\n".join(body) + "\n</body></html>\n"
    )
    Path(report).write_text(page, encoding="utf-8")


# ---------------------------------------------------------------- command line


def main(argv: Sequence[str] | None = None) -> int:
    import argparse

    ap = argparse.ArgumentParser(
        prog="python -m tavik_game.dataset",
        description="Self-play games labelled with their best chains, written as Parquet shards.",
    )
    ap.add_argument("--games", type=int, required=True, help="number of games")
    ap.add_argument("--seed", type=int, required=True, help="run seed; each game's seed derives from it")
    ap.add_argument("--out", required=True, help="output folder (a rerun completes it)")
    where = ap.add_mutually_exclusive_group()
    where.add_argument("--workers", type=int, help="local worker processes (default: one per core; 0: no Dask)")
    where.add_argument("--scheduler", help="address of a running Dask scheduler, e.g. tcp://HOST:8786")
    ap.add_argument("--bot", default="beam:100", help="random, greedy or beam:WIDTH (default beam:100)")
    ap.add_argument("--label-depth", type=int, default=1, help="depth of the labelling search (default 1)")
    ap.add_argument("--max-turns", type=int, default=500, help="moves after which a game ends (default 500)")
    ap.add_argument("--shard-games", type=int, help="games per shard (default: from --games and --bot)")
    ap.add_argument("--report", help="write an HTML report to this file")
    ap.add_argument("--quiet", action="store_true", help="no progress bar")
    args = ap.parse_args(argv)

    import logging

    # Closing a cluster logs harmless connection errors.
    logging.getLogger("distributed").setLevel(logging.ERROR)
    try:
        plan = _plan(args.games, args.seed, args.bot, args.label_depth, args.max_turns, args.shard_games)
        if args.workers is not None:
            _int_arg("--workers", args.workers, 0, 4096)
        if args.report:
            report_dir = Path(args.report).resolve().parent
            if not report_dir.is_dir() or not os.access(report_dir, os.W_OK):
                raise PermissionError(f"cannot write the report into {str(report_dir)!r}")
        _prepare(args.out, plan)
    except (TypeError, ValueError, OSError) as e:
        ap.error(str(e))

    with contextlib.ExitStack() as stack:
        client = None
        if args.scheduler:
            import distributed

            try:
                client = stack.enter_context(distributed.Client(args.scheduler, timeout=10))
            except OSError as e:
                ap.error(f"cannot reach the scheduler {args.scheduler}: {e}")
        try:
            result = generate(
                args.out,
                args.games,
                args.seed,
                args.bot,
                args.label_depth,
                client,
                max_turns=args.max_turns,
                shard_games=args.shard_games,
                workers=args.workers,
                progress=not args.quiet,
            )
        except KeyboardInterrupt:
            manifest = json.loads((Path(args.out) / MANIFEST).read_text())
            kept = sum(1 for e in manifest["shards"] if e)
            print(
                f"\ninterrupted: {kept} of {len(manifest['shards'])} shards complete; "
                "the same command again makes the rest",
                file=sys.stderr,
            )
            return 130
    run = result["run"]
    print(
        f"{result['rows']} positions in {len(result['shards'])} shards in {args.out} "
        f"({run['shards_made']} made this run, {run['positions'] / max(run['seconds'], 1e-9):,.0f} positions/s)"
    )
    if args.report:
        write_report(args.out, args.report, run)
        print(f"report: {args.report}")
    return 0


if __name__ == "__main__":
    # Run under the package's name, so the tasks pickle as
    # tavik_game.dataset._play_shard, which workers can import.
    from tavik_game import dataset as _dataset

    raise SystemExit(_dataset.main())
