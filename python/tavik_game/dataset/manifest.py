"""A dataset folder's manifest, its atomic writes and its lock.

The manifest names a shard only once its file is complete, with the file's sha256, so a run
killed anywhere leaves a folder the same command completes. It is read as untrusted input:
every entry must be the one the arguments plan, with the command's own file name.
"""

from __future__ import annotations

import contextlib
import datetime
import errno
import hashlib
import json
import os
import re
import socket
from collections.abc import Iterator
from pathlib import Path
from typing import Any

# Leading underscore or dot: readers of the folder as one Parquet dataset skip it.
MANIFEST = "_manifest.json"
LOCK = ".lock"
MAX_CHAIN = 19
_SHA256 = re.compile(r"[0-9a-f]{64}")


class DamagedManifest(ValueError):
    pass


class FolderBusy(RuntimeError):
    pass


def shard_name(k: int) -> str:
    return f"part-{k:05d}.parquet"


def planned_shards(arguments: dict[str, Any]) -> int:
    return -(-int(arguments["games"]) // int(arguments["shard_games"]))


def sha256(path: Path) -> str:
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def write_atomic(path: Path, data: bytes) -> None:
    # A reader (or a rerun) sees the old file or the whole new one, never a
    # part; the dot keeps the partial file out of a read of the whole folder.
    tmp = path.with_name("." + path.name + ".tmp")
    try:
        with open(tmp, "wb") as f:
            f.write(data)
            f.flush()
            os.fsync(f.fileno())
        os.replace(tmp, path)
    except BaseException:
        # A full disk should not also keep the part it could write.
        with contextlib.suppress(OSError):
            tmp.unlink()
        raise


def manifest_bytes(manifest: dict[str, Any]) -> bytes:
    # One line per shard: readable, and diffable between runs.
    head = {k: v for k, v in manifest.items() if k != "shards"}
    lines = [json.dumps(head, indent=1, sort_keys=True)[:-2] + ',\n "shards": [']
    shards = ["  " + json.dumps(e, sort_keys=True) for e in manifest["shards"]]
    lines.append(",\n".join(shards))
    lines.append(" ]\n}\n")
    return "\n".join(lines).encode()


def _is_count(value: object) -> bool:
    return isinstance(value, int) and not isinstance(value, bool) and value >= 0


def _entry_fault(k: int, entry: object, arguments: dict[str, Any]) -> str | None:
    """What is wrong with shard k's entry, or None."""
    if entry is None:
        return None
    if not isinstance(entry, dict):
        return f"shard {k} is a {type(entry).__name__}, not an entry"
    if entry.get("file") != shard_name(k):
        return f"shard {k} names the file {entry.get('file')!r}, not {shard_name(k)!r}"
    first = k * arguments["shard_games"]
    games = [first, min(first + arguments["shard_games"], arguments["games"])]
    if entry.get("games") != games:
        return f"shard {k} holds games {entry.get('games')!r}, not {games}"
    if not isinstance(entry.get("sha256"), str) or not _SHA256.fullmatch(entry["sha256"]):
        return f"shard {k} has no sha256" if "sha256" not in entry else f"shard {k}'s sha256 is not one"
    for key in ("rows", "bytes"):
        if not _is_count(entry.get(key)):
            return f"shard {k}'s {key} is not a count"
    for key in ("longest_chain", "label_chain"):
        counts = entry.get(key)
        if not isinstance(counts, list) or len(counts) != MAX_CHAIN + 1 or not all(map(_is_count, counts)):
            return f"shard {k}'s {key} is not {MAX_CHAIN + 1} counts"
    return None


def check(manifest: object, arguments: dict[str, Any] | None = None) -> dict[str, Any]:
    """The manifest if it is whole and agrees with its own (or the given) arguments' plan of
    shards; DamagedManifest saying what is wrong otherwise."""
    if not isinstance(manifest, dict) or not isinstance(manifest.get("arguments"), dict):
        raise DamagedManifest("it is not a dataset manifest")
    arguments = manifest["arguments"] if arguments is None else arguments
    for key in ("games", "shard_games"):
        if not isinstance(arguments.get(key), int) or arguments[key] < 1:
            raise DamagedManifest(f"its arguments have no {key}")
    shards = manifest.get("shards")
    if not isinstance(shards, list):
        raise DamagedManifest("it has no list of shards")
    planned = planned_shards(arguments)
    if len(shards) != planned:
        raise DamagedManifest(f"it lists {len(shards)} shards where its arguments plan {planned}")
    for k, entry in enumerate(shards):
        fault = _entry_fault(k, entry, arguments)
        if fault:
            raise DamagedManifest(fault)
    if not _is_count(manifest.get("rows")) or not isinstance(manifest.get("complete"), bool):
        raise DamagedManifest("its rows or complete flag are missing")
    return manifest


def read(folder: Path) -> dict[str, Any]:
    """The checked manifest of a dataset folder; ValueError with a clear message otherwise."""
    path = folder / MANIFEST
    try:
        data = json.loads(path.read_bytes())
    except FileNotFoundError:
        raise ValueError(f"{str(folder)!r} holds no dataset ({MANIFEST} is missing)") from None
    except ValueError:
        raise DamagedManifest(f"{str(path)!r} is damaged: it is not JSON") from None
    try:
        return check(data)
    except DamagedManifest as e:
        raise DamagedManifest(f"{str(path)!r} is damaged: {e}") from None


def _holder(lock_path: Path) -> str:
    try:
        info = json.loads(lock_path.read_text())
        return f"pid {info['pid']} on {info['host']}, started {info['started']}"
    except (OSError, ValueError, KeyError, TypeError):
        return "a process that has not yet said who it is"


@contextlib.contextmanager
def folder_lock(folder: Path) -> Iterator[None]:
    """Holds the folder for one command; another is refused at once with who holds it.

    The kernel drops the lock of a process that dies however it dies, so a lock left by a
    killed command is simply taken over; the file's text only says who holds it.
    """
    import fcntl

    lock_path = folder / LOCK
    fd = os.open(lock_path, os.O_RDWR | os.O_CREAT, 0o644)
    try:
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError as e:
            if e.errno not in (errno.EWOULDBLOCK, errno.EACCES):
                raise
            raise FolderBusy(
                f"{str(folder)!r} is in use by another dataset command ({_holder(lock_path)}); "
                "wait for it to finish or use another folder"
            ) from None
        started = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M:%S UTC")
        text = json.dumps({"pid": os.getpid(), "host": socket.gethostname(), "started": started})
        os.ftruncate(fd, 0)
        os.pwrite(fd, text.encode(), 0)
        try:
            yield
        finally:
            os.ftruncate(fd, 0)
    finally:
        os.close(fd)  # releases the lock
