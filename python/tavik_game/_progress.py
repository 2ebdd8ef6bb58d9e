"""The progress bar of tavik_game's commands: a redrawn line on a terminal, plain lines elsewhere.

A log or a pipe gets no carriage returns: it gets a plain status line at most every `every`
seconds (none when `every` is None) and the lines the command writes with `line()`.
"""

from __future__ import annotations

import sys
import time
from typing import Optional, TextIO

_WIDTH = 30


class Progress:
    def __init__(
        self, total: int, *, out: Optional[TextIO] = None, enabled: bool = True, every: Optional[float] = 5.0
    ) -> None:
        self.total = max(1, total)
        self.out = sys.stderr if out is None else out
        self.enabled = enabled
        self.live = enabled and _isatty(self.out)
        self.every = every
        self.start = time.perf_counter()
        self._last = 0.0
        self._drawn = False

    def restart_clock(self) -> None:
        """Rates count from now (a cluster's start-up is not part of them)."""
        self.start = time.perf_counter()

    def elapsed(self) -> float:
        return time.perf_counter() - self.start

    def update(self, done: int, text: str = "", *, force: bool = False) -> None:
        """Shows `done` of the total with `text` after it: redrawn at most ten times a second on a
        terminal, a plain line every `every` seconds elsewhere."""
        if not self.enabled:
            return
        now = time.perf_counter()
        if self.live:
            if not force and now - self._last < 0.1:
                return
            self._last = now
            filled = _WIDTH * min(done, self.total) // self.total
            self.out.write(f"\r[{'#' * filled}{'.' * (_WIDTH - filled)}] {done}/{self.total} {text}\x1b[K")
            self._drawn = True
        else:
            if self.every is None or (not force and now - self._last < self.every):
                return
            self._last = now
            self.out.write(f"{done}/{self.total} {text}\n")
        self.out.flush()

    def line(self, text: str) -> None:
        """A line that stays: on a terminal the bar is cleared first and redrawn by the next update."""
        if not self.enabled:
            return
        if self._drawn:
            self.out.write("\r\x1b[K")
            self._drawn = False
        self.out.write(text + "\n")
        self.out.flush()

    def close(self) -> None:
        """Leaves the terminal's last bar on its own line."""
        if self._drawn:
            self.out.write("\n")
            self.out.flush()
            self._drawn = False


def _isatty(out: TextIO) -> bool:
    try:
        return out.isatty()
    except (AttributeError, ValueError):  # a closed or foreign stream
        return False
