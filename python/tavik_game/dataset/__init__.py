"""Training data at scale: self-play datasets and bulk labelling of positions,
in this process, on local worker processes or across a Dask cluster.

    python -m tavik_game.dataset --games 1000 --seed 1 --out data/

Rooms: labelling (label), shards (plan, play, generate, game_of), manifest (the
folder's manifest, atomic writes and lock), cluster (run_jobs: many independent
jobs over workers), report (write_report), cli (the command).
"""

from .cluster import map_jobs, run_jobs
from .labelling import label
from .manifest import MANIFEST, DamagedManifest, FolderBusy
from .report import write_report
from .shards import DiskFull, fields_of, game_of, generate, replay_of

__all__ = [
    "MANIFEST",
    "DamagedManifest",
    "DiskFull",
    "FolderBusy",
    "fields_of",
    "game_of",
    "generate",
    "label",
    "map_jobs",
    "replay_of",
    "run_jobs",
    "write_report",
]
