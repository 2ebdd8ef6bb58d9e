"""Bulk labelling of positions: the best find of each field, here or across a Dask cluster.

A position's label is the best (score, chain) among the finds of
``find_chain_recursive(depth)`` on its field, (0, 0) when nothing fires.
Work travels to the workers in large batches: one task per field costs far
more in scheduling than the search itself.
"""

from __future__ import annotations

from array import array
from collections.abc import Sequence

import tavik

from .._native import label_fields
from .cluster import worker_count

# Batches per worker: enough to balance uneven batches and survive a lost
# worker without much rework, few enough that scheduling stays negligible.
_BATCHES_PER_WORKER = 4


def _label_batch(fields: Sequence[tavik.Field], depth: int) -> list[tuple[int, int]]:
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
    label_fields(fields, depth, flat)
    return flat.tobytes()


def _check_label_args(fields: object, depth: object) -> list[tavik.Field]:
    if isinstance(depth, bool) or not isinstance(depth, int):
        raise TypeError(f"depth must be an int, not {type(depth).__name__}")
    if depth < 1:
        raise ValueError(f"depth must be at least 1, got {depth}")
    if not hasattr(fields, "__len__"):  # an endless iterable would be read until memory ran out
        raise TypeError(f"fields must be a sequence of tavik.Field, not {type(fields).__name__}")
    items: list[object] = list(fields)  # type: ignore[call-overload]
    for i, f in enumerate(items):
        if not isinstance(f, tavik.Field):
            raise TypeError(f"fields[{i}] is a {type(f).__name__}, not a tavik.Field")
    return items  # type: ignore[return-value]


def label(fields: Sequence[tavik.Field], depth: int, client: object = None) -> list[tuple[int, int]]:
    """(score, chain) of the best ``find_chain_recursive(depth)`` find of each
    field, in the order given. Without a client the work runs in this process."""
    fields = _check_label_args(fields, depth)
    if client is None or not fields:
        return _label_batch(fields, depth)
    batches = _BATCHES_PER_WORKER * worker_count(client)
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
