"""The project's build backend: scikit-build-core's, with an sdist of the files git tracks.

scikit-build-core packs whatever lies in the tree unless .gitignore names it, so a virtual
environment or a scratch file in a clone went into the sdist. In a git checkout the sdist takes
exactly the tracked files; anywhere else (building from the sdist itself) nothing changes.
"""

from __future__ import annotations

import os
import re
import subprocess
from pathlib import Path

from scikit_build_core import build as _backend
from scikit_build_core.build import *  # noqa: F403  (every hook scikit-build-core offers)


def _tracked_files() -> list[str] | None:
    """The files git tracks here, or None outside a checkout whose top is this folder."""
    here = Path.cwd().resolve()

    def git(*args: str) -> str:
        return subprocess.run(["git", *args], cwd=here, capture_output=True, text=True, check=True).stdout

    try:
        if Path(git("rev-parse", "--show-toplevel").strip()).resolve() != here:
            return None  # an unpacked sdist inside some other repository
        listed = git("ls-files", "-z", "--cached")
    except (OSError, subprocess.CalledProcessError):
        return None
    # A file deleted but not yet committed as deleted is not there to pack.
    return [f for f in listed.split("\0") if f and os.path.lexists(here / f)]


def _pattern(path: str) -> str:
    """A gitignore pattern matching exactly `path`, from the top of the tree."""
    return "/" + re.sub(r"([\\*?\[ ])", r"\\\1", path)


def build_sdist(sdist_directory: str, config_settings: dict[str, str | list[str]] | None = None) -> str:
    tracked = _tracked_files()
    if tracked is not None:
        # The inclusion modes need the newer settings; they change nothing else of an sdist.
        config_settings = {**(config_settings or {}), "minimum-version": "1.0", "sdist.inclusion-mode": "explicit",
                           "sdist.include": [_pattern(f) for f in tracked]}
    return _backend.build_sdist(sdist_directory, config_settings)
