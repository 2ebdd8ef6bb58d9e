"""label() on a two-worker LocalCluster against the per-position Dask script
(one task per field) and a plain loop, same fields, same run.

    python bench/bench_dataset.py [--fields 10000] [--depth 1]
"""

from __future__ import annotations

import argparse
import logging
import random
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "python"))

import distributed  # noqa: E402

import tavik  # noqa: E402
from tavik_game import dataset  # noqa: E402


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


def main() -> None:
    ap = argparse.ArgumentParser()
    ap.add_argument("--fields", type=int, default=10_000)
    ap.add_argument("--depth", type=int, default=1)
    args = ap.parse_args()
    # Closing the cluster logs harmless heartbeat errors.
    logging.getLogger("distributed").setLevel(logging.CRITICAL)
    fields = random_fields(args.fields, 1)

    t = time.perf_counter()
    loop = [one_position(f, args.depth) for f in fields]
    t_loop = time.perf_counter() - t

    with distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None
    ) as cluster, distributed.Client(cluster) as client:
        dataset.label(fields[:100], args.depth, client=client)  # warm the workers
        # Median of five: one run lasts a fraction of a second on a shared machine.
        runs = []
        for _ in range(5):
            t = time.perf_counter()
            batched = dataset.label(fields, args.depth, client=client)
            runs.append(time.perf_counter() - t)
        t_batched = sorted(runs)[2]

        t = time.perf_counter()
        futures = client.map(one_position, fields, depth=args.depth, pure=False)
        naive = client.gather(futures)
        t_naive = time.perf_counter() - t

    assert batched == loop == [tuple(x) for x in naive], "labels differ"
    n = len(fields)
    print(f"{n} fields, depth {args.depth}, same labels")
    print(f"plain loop, 1 process      : {n / t_loop:12.0f} positions/s")
    print(f"per-position Dask, 2 workers: {n / t_naive:12.0f} positions/s")
    print(f"label(), 2 workers          : {n / t_batched:12.0f} positions/s")
    print(f"label() / per-position Dask : {t_naive / t_batched:8.1f}x")
    print(f"label() / plain loop        : {t_loop / t_batched:8.2f}x")


if __name__ == "__main__":
    main()
