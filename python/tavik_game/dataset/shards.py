"""Self-play datasets: the plan of a run, its games played into Parquet shards, the run itself,
and the way back from a row to its game."""

from __future__ import annotations

import contextlib
import errno
import functools
import hashlib
import importlib.metadata
import json
import os
import time
from collections.abc import Mapping, Sequence
from pathlib import Path
from typing import Any

import tavik

from .._cli import parse_bot
from .._native import Game, game_seed, play_games
from .._progress import Progress
from ..replay import Replay
from . import manifest as mf
from .cluster import run_jobs

# 2: the field a (14, 6) array, and each row its game's seed.
_FORMAT = 2
_VISIBLE = 3
_COLOURS = 4
# Shards (and tasks) per run: a few per worker on clusters of up to ~20 cores,
# and a worker lost mid-run costs one shard of rework.
_TARGET_SHARDS = 64
# Games per shard at least: a task costs the client and scheduler about 5 ms
# of CPU, so a shard should hold a few hundred ms of games (random: ~0.4 ms a
# game, greedy: 1 to 7 ms, beam:100: seconds).
_MIN_SHARD_GAMES = {"random": 1000, "greedy": 100, "beam": 2}


class DiskFull(OSError):
    pass


def _int_arg(name: str, value: object, low: int, high: int) -> int:
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{name} must be an int, not {type(value).__name__}")
    if not low <= value <= high:
        raise ValueError(f"{name} must be from {low} to {high}, got {value}")
    return value


def plan(
    games: object, seed: object, bot: object, label_depth: object, max_turns: object, shard_games: object
) -> dict[str, Any]:
    """The arguments that fix a dataset's bytes, checked; stored in the manifest."""
    games = _int_arg("games", games, 1, 2**40)
    seed = _int_arg("seed", seed, 0, 2**64 - 1)
    settings = parse_bot(bot)
    if (settings.depth, settings.threads) != (3, 1):
        raise ValueError(
            f"bot {bot!r}: a dataset's beam bot looks at the {_VISIBLE} pairs a row records, on one thread "
            "per game (the workers give the parallelism); name it beam:WIDTH"
        )
    # Depth 3 already takes seconds per position.
    label_depth = _int_arg("label_depth", label_depth, 1, 3)
    max_turns = _int_arg("max_turns", max_turns, 1, 100_000)
    if shard_games is None:
        shard_games = min(games, max(-(-games // _TARGET_SHARDS), _MIN_SHARD_GAMES[settings.kind]))
    shard_games = _int_arg("shard_games", shard_games, 1, 2**40)
    return {
        "format": _FORMAT,
        "games": games,
        "seed": seed,
        "bot": str(settings),
        "colours": _COLOURS,
        "label_depth": label_depth,
        "max_turns": max_turns,
        "shard_games": shard_games,
        "visible": _VISIBLE,
        # Another tavik may play or label differently, another pyarrow write other
        # bytes: a rerun with either would mix shards of two kinds in one dataset.
        "versions": _versions(),
    }


def _versions() -> dict[str, str]:
    out = {}
    for package in ("tavik", "pyarrow"):
        try:
            out[package] = importlib.metadata.version(package)
        except importlib.metadata.PackageNotFoundError:
            out[package] = "unknown"
    return out


def _table(cols: dict[str, Any]) -> Any:
    import pyarrow as pa  # type: ignore[import-untyped]

    def fixed(values: Any, *shape: int) -> Any:
        array = pa.array(values.reshape(-1))
        for size in reversed(shape):
            array = pa.FixedSizeListArray.from_arrays(array, size)
        return array

    return pa.table(
        {
            "game": cols["game"],
            "game_seed": cols["game_seed"],
            "turn": cols["turn"],
            # Nested fixed-size lists: pandas, DuckDB and polars all see 14 rows of 6 cells.
            "field": fixed(cols["field"], 14, 6),
            "pairs": fixed(cols["pairs"], cols["pairs"].shape[1]),
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
    size = mf.MAX_CHAIN + 1
    return {
        "longest_chain": np.bincount(longest, minlength=size)[:size].tolist(),
        "label_chain": np.bincount(label_chain, minlength=size)[:size].tolist(),
    }


def play_shard(arguments: dict[str, Any], k: int) -> tuple[bytes, dict[str, Any]]:
    """Plays shard k's games; returns its Parquet bytes and its summary. Runs on
    a worker, which needs no access to the output folder: the caller writes."""
    import numpy as np
    import pyarrow as pa
    import pyarrow.parquet as pq  # type: ignore[import-untyped]

    first = k * arguments["shard_games"]
    count = min(arguments["shard_games"], arguments["games"] - first)
    settings = parse_bot(arguments["bot"])
    width = settings.width if settings.kind == "beam" else 0
    cols = play_games(
        arguments["seed"], first, count, settings.kind, width, arguments["max_turns"], arguments["label_depth"],
        arguments["visible"],
    )  # fmt: skip
    seeds = np.array([game_seed(arguments["seed"], g) for g in range(first, first + count)], dtype=np.uint64)
    cols["game_seed"] = seeds[cols["game"] - first]
    sink = pa.BufferOutputStream()
    pq.write_table(_table(cols), sink, compression="zstd")
    summary = {
        "file": mf.shard_name(k),
        "games": [first, first + count],
        "rows": len(cols["game"]),
        **_histograms(cols["game"], cols["move_chain"], cols["label_chain"]),
    }
    return sink.getvalue().to_pybytes(), summary


def _prepare(out: object, arguments: dict[str, Any]) -> tuple[Path, dict[str, Any]]:
    """Checks or creates the folder and reads its manifest; every failure here comes
    before any game is played. Changes nothing in a folder that exists."""
    if not isinstance(out, (str, os.PathLike)):
        raise TypeError(f"out must be a path, not {type(out).__name__}")
    path = Path(out)
    if path.exists() and not path.is_dir():
        raise ValueError(f"out {str(path)!r} exists and is not a folder")
    try:
        path.mkdir(parents=True, exist_ok=True)
        probe = path / f".write-check-{os.getpid()}.tmp"
        probe.write_bytes(b"")
        probe.unlink()
    except OSError as e:
        raise PermissionError(f"cannot write into the folder {str(path)!r}: {e.strerror or e}") from None
    manifest_path = path / MANIFEST
    if not manifest_path.exists():
        shards = mf.planned_shards(arguments)
        return path, {"arguments": arguments, "shards": [None] * shards, "rows": 0, "complete": False}
    try:
        manifest = json.loads(manifest_path.read_bytes())
        old = manifest["arguments"]
        diff = ", ".join(f"{key} {old.get(key)!r} != {arguments[key]!r}" for key in arguments
                         if old.get(key) != arguments[key])  # fmt: skip
    except (ValueError, KeyError, TypeError, AttributeError):
        raise ValueError(f"{str(manifest_path)!r} is not a dataset manifest; use an empty folder") from None
    if diff:
        raise ValueError(
            f"{str(path)!r} holds a dataset made with other arguments ({diff}); "
            "use another folder or the same arguments"
        )
    try:
        mf.check(manifest, arguments)
    except mf.DamagedManifest as e:
        raise mf.DamagedManifest(
            f"{str(manifest_path)!r} is damaged: {e}; delete it to make every shard again, or use another folder"
        ) from None
    return path, manifest


MANIFEST = mf.MANIFEST


def _missing(path: Path, manifest: dict[str, Any]) -> list[int]:
    """Shards to make: those the manifest lacks or whose file is missing or altered."""
    todo = []
    for k, entry in enumerate(manifest["shards"]):
        f = path / mf.shard_name(k)
        if entry is None or not f.is_file() or mf.sha256(f) != entry["sha256"]:
            manifest["shards"][k] = None
            todo.append(k)
    return todo


def check_folder(out: object, arguments: dict[str, Any]) -> None:
    """What generate() would refuse about the folder, refused now (the command's up-front check)."""
    path, _ = _prepare(out, arguments)
    with mf.folder_lock(path):
        pass


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
    Parquet shards in `out`, with a manifest. Without a client it plays in this
    process, or on a local cluster of `workers` processes when workers > 0. A
    rerun into the same folder makes only the missing shards; a second run on
    the folder while one runs is refused (FolderBusy). A full disk raises
    DiskFull (an OSError): what is written stays valid and a rerun completes it.
    Returns the manifest, plus "run": what this call did."""
    arguments = plan(games, seed, bot, label_depth, max_turns, shard_games)
    if workers is not None:
        workers = _int_arg("workers", workers, 0, 4096)
        if client is not None:
            raise ValueError("give either client or workers, not both")
    if client is not None and not hasattr(client, "submit"):
        raise TypeError(f"client must be a dask.distributed.Client, not {type(client).__name__}")
    path, manifest = _prepare(out, arguments)
    with mf.folder_lock(path):
        # Read again under the lock: another command may have written it since.
        path, manifest = _prepare(out, arguments)
        for stale in path.glob(".*.tmp"):
            stale.unlink()
        try:
            return _run(path, manifest, arguments, client, workers or 0, progress)
        except OSError as e:
            if e.errno not in (errno.ENOSPC, errno.EDQUOT):
                raise
            kept = sum(1 for entry in json.loads((path / MANIFEST).read_bytes())["shards"] if entry)
            raise DiskFull(
                e.errno,
                f"the disk holding {str(path)!r} is full ({e.strerror}): {_count(kept, 'shard')} of "
                f"{len(manifest['shards'])} are complete and kept; free some space and run the same "
                "command again to make the rest",
            ) from None


def _keep(path: Path, manifest: dict[str, Any], k: int, data: bytes, summary: dict[str, Any]) -> None:
    mf.write_atomic(path / mf.shard_name(k), data)
    summary["sha256"] = hashlib.sha256(data).hexdigest()
    summary["bytes"] = len(data)
    manifest["shards"][k] = summary
    # The manifest names a shard only once its file is complete.
    mf.write_atomic(path / MANIFEST, mf.manifest_bytes(manifest))


def _count(n: int, word: str) -> str:
    return f"{n} {word}" if n == 1 else f"{n} {word}s"


def _run(
    path: Path, manifest: dict[str, Any], arguments: dict[str, Any], client: object, workers: int, progress: bool
) -> dict[str, Any]:
    todo = _missing(path, manifest)
    if todo:
        manifest["complete"] = False
    manifest_path = path / MANIFEST
    mf.write_atomic(manifest_path, mf.manifest_bytes(manifest))

    bar = Progress(arguments["games"], enabled=progress)
    done_games = sum(e["games"][1] - e["games"][0] for e in manifest["shards"] if e)
    made_rows = 0
    used_workers = 0

    def started(n: int) -> None:
        nonlocal used_workers
        used_workers = n
        bar.restart_clock()  # starting a local cluster takes seconds

    # Closed on the way out, whatever stops the loop: a full disk must not leave tasks running.
    jobs = contextlib.closing(
        run_jobs(functools.partial(play_shard, arguments), todo, client=client, workers=workers, on_start=started)
    )
    with jobs as results:
        for k, (data, summary) in results:
            _keep(path, manifest, todo[k], data, summary)
            done_games += summary["games"][1] - summary["games"][0]
            made_rows += summary["rows"]
            rate = made_rows / max(bar.elapsed(), 1e-9)
            bar.update(done_games, f"games, {made_rows} positions, {rate:,.0f} positions/s")
    seconds = bar.elapsed() if todo else 0.0
    bar.close()

    manifest["rows"] = sum(e["rows"] for e in manifest["shards"])
    manifest["complete"] = True
    mf.write_atomic(manifest_path, mf.manifest_bytes(manifest))
    result = dict(manifest)
    result["run"] = {"shards_made": len(todo), "positions": made_rows, "seconds": seconds, "workers": used_workers}
    return result


# ---------------------------------------------------------------- from rows back to games


def fields_of(column: Any) -> Any:
    """The `field` column (a pyarrow Array, ChunkedArray or Table) as one (n, 14, 6) uint8 NumPy
    array of type numbers, row 0 first: the fastest way, with no Python object per row."""
    import pyarrow as pa

    if isinstance(column, pa.Table):
        column = column.column("field")
    if isinstance(column, pa.ChunkedArray):
        column = column.combine_chunks()
    return column.flatten().flatten().to_numpy().reshape(-1, 14, 6)


def game_of(row: Mapping[str, Any], hands: Sequence[int] = ()) -> Game:
    """The game a dataset row comes from, as dealt before its first move, with `hands` (indices
    in ``tavik.Hand.enumerate()`` order, as in the `hand` column) played: give the hands of the
    game's rows before this one to stand at this row's position. `row` is any mapping with the
    row's ``game_seed`` (a dict from ``Table.to_pylist()``, a pandas row)."""
    game = Game(seed=int(row["game_seed"]), colours=_COLOURS, visible=_VISIBLE)
    every = tavik.Hand.enumerate()
    for i in hands:
        game.play(every[int(i)])
    return game


def replay_of(rows: Sequence[Mapping[str, Any]], title: str = "tavik_game dataset") -> Replay:
    """An HTML replay (``.write(path)``) of the games the rows come from, each from its first
    row given in turn order: e.g. ``replay_of(table.filter(pc.field("game") == 3).to_pylist())``."""
    replay = Replay(title)
    every = tavik.Hand.enumerate()
    game: Game | None = None
    for row in rows:
        if game is None or row["turn"] == 0 or row["game_seed"] != game.seed or row["turn"] != game.turn:
            game = game_of(row)
            if row["turn"] != 0:
                raise ValueError(f"game {row['game']}: its rows must start at turn 0, not {row['turn']}")
            replay.start_game(f"game {row['game']} (seed {row['game_seed']})")
        hand = every[int(row["hand"])]
        before, pairs = game.field, game.pairs
        move = game.play(hand)
        replay.add_move(before, hand, pairs[0], pairs[1:], move=move, total_score=game.score, turn=game.turn - 1)
    return replay
