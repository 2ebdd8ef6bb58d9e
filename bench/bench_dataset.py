"""Datasets on a LocalCluster against their baselines, same machine, same run.

generate(): two workers against one (positions per second), and one worker
against the same shards made in a plain loop in this process, without Dask;
measured in alternation, medians reported. label(): 10,000 fields on two
workers against the per-position Dask script a user writes first (one task per
field) and a plain loop.

    python bench/bench_dataset.py [--games 8000] [--bot greedy] [--rounds 5] [--fields 10000] [--depth 1]
"""

from __future__ import annotations

import argparse
import contextlib
import logging
import os
import random
import statistics
import sys
import tempfile
import time
from pathlib import Path

try:
    from tavik_game import dataset
    from tavik_game.dataset import cluster as dataset_cluster
except ImportError:  # not installed: a dev build in the clone
    sys.path.insert(0, str(next(Path(__file__).resolve().parents[1].glob("build/*/python"))))
    from tavik_game import dataset
    from tavik_game.dataset import cluster as dataset_cluster
import distributed  # noqa: E402

import cores  # noqa: E402  (bench/cores.py, beside this script)

import tavik  # noqa: E402


def random_fields(n: int, seed: int) -> list[tavik.Field]:
    rng = random.Random(seed)
    out = []
    for _ in range(n):
        cols = []
        for _x in range(6):
            h = rng.randrange(0, 10)
            cols.append([rng.randrange(4, 8) for _ in range(h)] + [0] * (14 - h))
        out.append(tavik.Field.from_array(cols))
    return out


def one_position(field: tavik.Field, depth: int) -> tuple[int, int]:
    # What a user writes first: one task per position.
    return max(((f.score, f.chain) for f in field.find_chain_recursive(depth)), default=(0, 0))


def cluster(workers: int):
    """A client of the LocalCluster the command starts itself, with its settings."""
    return dataset_cluster.local_client(workers)


def plain_rate(games: int, bot: str, max_turns: int) -> float:
    """Positions per second of generate() in a plain loop (in a process of its own)."""
    with tempfile.TemporaryDirectory() as tmp:
        t = time.perf_counter()
        rows = dataset.generate(Path(tmp, "out"), games=games, seed=1, bot=bot, max_turns=max_turns,
                                workers=0)["rows"]
        return rows / (time.perf_counter() - t)


def bench_generate(args: argparse.Namespace) -> None:
    kw = dict(games=args.games, seed=1, bot=args.bot, max_turns=args.max_turns)
    rates: dict[str, list[float]] = {"loop": [], "1 worker": [], "2 workers": []}
    # Positions per CPU second (this process and the workers): on a machine
    # shared with other jobs, wall time says how many cores we were given,
    # CPU time how much work each position cost.
    cpu_rates: dict[str, list[float]] = {name: [] for name in rates}
    overhead: list[float] = []
    shards: dict[str, bytes] = {}
    # Each round starts its clusters afresh, one at a time, as the command does: two clusters
    # alive in one process share its event loop, and the idle one's traffic delays the other's
    # replies by tens of milliseconds.
    with tempfile.TemporaryDirectory() as tmp:
        for r in range(args.rounds):
            for name, workers in (("loop", 0), ("1 worker", 1), ("2 workers", 2)):
                with cluster(workers) if workers else contextlib.nullcontext() as client:
                    how = dict(client=client) if client else dict(workers=0)
                    # A first run unmeasured: imports and caches in every worker.
                    dataset.generate(Path(tmp, f"warm-{r}", name), **{**kw, "games": 100}, **how)
                    out = Path(tmp, f"{r}", name)
                    cpu = time.process_time() + (sum(client.run(time.process_time).values()) if client else 0)
                    stream = distributed.get_task_stream(client) if workers == 1 else contextlib.nullcontext()
                    with stream as tasks:
                        t = time.perf_counter()
                        result = dataset.generate(out, **kw, **how)
                        wall = time.perf_counter() - t
                    rates[name].append(result["rows"] / wall)
                    if workers == 1:
                        # The share of the run the worker spent outside the tasks' own compute.
                        busy = sum(
                            s["stop"] - s["start"] for d in tasks.data for s in d["startstops"] if s["action"] == "compute"
                        )
                        overhead.append(1 - busy / wall)
                    cpu = time.process_time() + (sum(client.run(time.process_time).values()) if client else 0) - cpu
                    cpu_rates[name].append(result["rows"] / cpu)
                data = b"".join(p.read_bytes() for p in sorted(out.glob("part-*.parquet")))
                assert shards.setdefault("bytes", data) == data, f"{name}: shards differ"
    rows = result["rows"]
    med = {name: statistics.median(v) for name, v in rates.items()}
    print(f"generate(): {args.games} games, bot {args.bot}, {rows} positions, {len(result['shards'])} shards, "
          f"median of {args.rounds} alternating rounds, identical shards")
    for name, v in rates.items():
        print(f"  {name:10}: {med[name]:10.0f} positions/s   (runs: {', '.join(f'{x:.0f}' for x in v)})")
    print(f"  2 workers / 1 worker     : {med['2 workers'] / med['1 worker']:5.2f}x   (target >= 1.8)")
    print(f"  1 worker / plain loop    : {med['1 worker'] / med['loop']:5.2f}x   (target >= 0.95)")
    # What the machine allows: two plain loops in two processes share nothing.
    bound = cores.two_process_ratio(plain_rate, args.games // 2, args.bot, args.max_turns)
    print(f"  two plain loops at once  : {bound:5.2f}x one (this machine's bound for this work); "
          f"2 workers reach {med['2 workers'] / med['1 worker'] / bound:.0%} of it")
    print(f"  task overhead, 1 worker  : {100 * statistics.median(overhead):5.1f} % of the run outside task compute")
    cpu = {name: statistics.median(v) for name, v in cpu_rates.items()}
    print("  per CPU second (this process + workers):")
    for name in rates:
        print(f"  {name:10}: {cpu[name]:10.0f} positions/CPU-s")
    print(f"  2 workers / 1 worker     : {cpu['2 workers'] / cpu['1 worker']:5.2f}x of the work per position")
    print(f"  1 worker / plain loop    : {cpu['1 worker'] / cpu['loop']:5.2f}x")


def bench_label(args: argparse.Namespace) -> None:
    fields = random_fields(args.fields, 1)
    t = time.perf_counter()
    loop = [one_position(f, args.depth) for f in fields]
    t_loop = time.perf_counter() - t

    with cluster(2) as client:
        dataset.label(fields[:100], args.depth, client=client)  # warm the workers
        # Median of five: one run lasts a fraction of a second on a shared machine.
        runs = []
        for _ in range(5):
            t = time.perf_counter()
            batched = dataset.label(fields, args.depth, client=client)
            runs.append(time.perf_counter() - t)
        t_batched = statistics.median(runs)

        t = time.perf_counter()
        futures = client.map(one_position, fields, depth=args.depth, pure=False)
        naive = client.gather(futures)
        t_naive = time.perf_counter() - t

    assert batched == loop == [tuple(x) for x in naive], "labels differ"
    n = len(fields)
    print(f"label(): {n} fields, depth {args.depth}, same labels")
    print(f"  plain loop, 1 process       : {n / t_loop:12.0f} positions/s")
    print(f"  per-position Dask, 2 workers: {n / t_naive:12.0f} positions/s")
    print(f"  label(), 2 workers          : {n / t_batched:12.0f} positions/s")
    print(f"  label() / per-position Dask : {t_naive / t_batched:8.1f}x   (target >= 50)")
    print(f"  label() / plain loop        : {t_loop / t_batched:8.2f}x")


def main() -> None:
    ap = argparse.ArgumentParser()
    # 8000 greedy games: 1.5 million positions in the 64 shards the command makes of a run
    # that size. Smaller runs have fewer, 100-game shards (40 at 4000 games), and a worker
    # waiting on the other's last shard weighs more.
    ap.add_argument("--games", type=int, default=8000)
    ap.add_argument("--bot", default="greedy")
    ap.add_argument("--max-turns", type=int, default=200)
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--fields", type=int, default=10_000)
    ap.add_argument("--depth", type=int, default=1)
    ap.add_argument("--only", choices=["generate", "label"])
    args = ap.parse_args()
    # Closing a cluster logs harmless heartbeat errors.
    logging.getLogger("distributed").setLevel(logging.CRITICAL)
    print(f"{os.cpu_count()} cores, load average {os.getloadavg()[0]:.1f} at the start")
    if args.only != "label":
        bench_generate(args)
    if args.only != "generate":
        bench_label(args)


if __name__ == "__main__":
    main()
