"""Bulk labelling of positions, on one core or across a Dask cluster.

A position's label is the best (score, chain) among the finds of
``find_chain_recursive(depth)`` on its field, (0, 0) when nothing fires.
Fields travel to the workers in large batches: one task per field costs far
more in scheduling than the search itself.
"""

from __future__ import annotations

from collections.abc import Sequence

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
        from tavik_game._native import label_fields  # type: ignore[attr-defined]
    except ImportError:
        return [_best(f, depth) for f in fields]
    scores, chains = label_fields(list(fields), depth)
    return list(zip((int(s) for s in scores), (int(c) for c in chains)))


def _check_label_args(fields: object, depth: object) -> list[tavik.Field]:
    if isinstance(depth, bool) or not isinstance(depth, int):
        raise TypeError(f"depth must be an int, not {type(depth).__name__}")
    if depth < 1:
        raise ValueError(f"depth must be at least 1, got {depth}")
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
    # pure=False: identical batches are still separate work, never deduplicated.
    futures = client.map(_label_batch, chunks, depth=depth, pure=False)  # type: ignore[attr-defined]
    out: list[tuple[int, int]] = []
    for part in client.gather(futures):  # type: ignore[attr-defined]
        out.extend(tuple(x) for x in part)  # type: ignore[misc]
    return out
