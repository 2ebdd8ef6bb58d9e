"""What the commands of tavik_game share: bot names, the seed and worker flags, checked numbers.

A bot is named the same way in every command and in code:

    random                      a random legal hand
    greedy                      the highest-scoring hand that does not lose; ties at random
    beam[:WIDTH][,depth=D][,threads=T][,queues=Q,horizon=H,queue_width=W,seed=N,fire_score=S,pairs=P]
                                the native beam search (width 100, depth 3, 1 thread unless given),
                                e.g. beam:100,depth=3,threads=2; queues > 0 searches H guessed pairs
                                past the visible ones in Q queues (see BeamBot)

Seeds, workers and progress take the same flags everywhere: ``--seed N`` (default 1),
``--workers K`` (default 0: in this process) or ``--scheduler ADDRESS``, and ``--no-progress``
(or ``--quiet``).
"""

from __future__ import annotations

import argparse
import random
import re
from dataclasses import dataclass
from typing import Any, Callable, Optional, Tuple

import tavik

U64 = 2**64
BOT_KINDS = ("beam", "greedy", "random")
BEAM_WIDTH_MAX = 100_000
BEAM_DEPTH_MAX = 8
BEAM_THREADS_MAX = 256
BOT_HELP = ("random, greedy, or beam[:WIDTH][,depth=D][,threads=T][,queues=Q][,horizon=H][,queue_width=W]"
            "[,seed=N][,fire_score=S][,pairs=P]")
# The lookahead options of a beam bot, with their bounds; 0 is each one's default.
LOOKAHEAD_OPTIONS = {"queues": 1024, "horizon": 128, "queue_width": BEAM_WIDTH_MAX, "seed": U64 - 1,
                     "fire_score": U64 - 1, "pairs": U64 - 1}

_DIGITS = re.compile(r"[0-9]+")  # str.isdigit() takes '٣' and '³' too


@dataclass(frozen=True)
class BotSpec:
    """A parsed bot name; str() gives its shortest spelling, which parses back to it."""

    kind: str
    width: int = 100
    depth: int = 3
    threads: int = 1
    queues: int = 0
    horizon: int = 0
    queue_width: int = 0
    seed: int = 0
    fire_score: int = 0
    pairs: int = 0

    def __str__(self) -> str:
        if self.kind != "beam":
            return self.kind
        text = f"beam:{self.width}"
        if self.depth != 3:
            text += f",depth={self.depth}"
        if self.threads != 1:
            text += f",threads={self.threads}"
        for key in LOOKAHEAD_OPTIONS:
            if getattr(self, key):
                text += f",{key}={getattr(self, key)}"
        return text

    def beam_bot(self) -> Any:
        """The BeamBot this settings names (a beam settings)."""
        from ._native import BeamBot

        return BeamBot(width=self.width, depth=self.depth, threads=self.threads, queues=self.queues,
                       horizon=self.horizon, queue_width=self.queue_width, seed=self.seed,
                       fire_score=self.fire_score, pairs=self.pairs)

    def describe(self) -> str:
        if self.kind == "greedy":
            return "greedy (the best-scoring hand that does not lose)"
        if self.kind == "random":
            return "random legal hands"
        threads = "thread" if self.threads == 1 else "threads"
        text = f"beam (width {self.width}, depth {self.depth}, {self.threads} {threads}"
        if self.queues:
            text += (f"; {self.queues} guessed queues of {self.horizon} pairs, width "
                     f"{self.queue_width or self.width}, seed {self.seed}, fire at {self.fire_score}, "
                     f"game of {self.pairs} pairs")
        return text + ")"


def _whole(text: str, what: str, low: int, high: int, name: str) -> int:
    if not _DIGITS.fullmatch(text):
        raise ValueError(f"{what} of bot {name!a} must be a whole number from {low} to {high}, got {text!a}")
    value = int(text)
    if not low <= value <= high:
        raise ValueError(f"{what} of bot {name!a} must be from {low} to {high}, got {value}")
    return value


def parse_bot(name: object) -> BotSpec:
    """A bot name (see the module's help) as a BotSpec; ValueError or TypeError says what is wrong."""
    if not isinstance(name, str):
        raise TypeError(f"bot must be a str, not {type(name).__name__}")
    if not name.isascii():
        raise ValueError(f"bot must be {BOT_HELP}, got {name!a}")
    head, *options = name.split(",")
    kind, sep, width_text = head.partition(":")
    if kind not in BOT_KINDS:
        raise ValueError(f"bot must be {BOT_HELP}, got {name!a}")
    if kind != "beam":
        if sep or options:
            raise ValueError(f"bot {kind!r} takes no width or options, got {name!a}")
        return BotSpec(kind)
    width = _whole(width_text, "the width", 1, BEAM_WIDTH_MAX, name) if sep else 100
    values = {"depth": 3, "threads": 1, **{key: 0 for key in LOOKAHEAD_OPTIONS}}
    highs = {"depth": BEAM_DEPTH_MAX, "threads": BEAM_THREADS_MAX, **LOOKAHEAD_OPTIONS}
    seen = set()
    for option in options:
        key, eq, value = option.partition("=")
        if key not in values or not eq:
            raise ValueError(f"bot {name!a}: options are depth=D and threads=T, and to look ahead "
                             f"{', '.join(LOOKAHEAD_OPTIONS)}; got {option!a}")
        if key in seen:
            raise ValueError(f"bot {name!a} gives {key} twice")
        seen.add(key)
        values[key] = _whole(value, key, 0 if key in LOOKAHEAD_OPTIONS else 1, highs[key], name)
    return BotSpec("beam", width, **values)


def bot_type(name: str) -> BotSpec:
    """parse_bot as an argparse type: a bad name is the usual argument error."""
    try:
        return parse_bot(name)
    except ValueError as e:
        raise argparse.ArgumentTypeError(str(e)) from None


def int_in(name: str, low: int, high: Optional[int] = None) -> Callable[[str], int]:
    """An argparse type: a whole number in [low, high], with a message naming the option."""

    def parse(text: str) -> int:
        if not _DIGITS.fullmatch(text.lstrip("-")):
            raise argparse.ArgumentTypeError(f"{name} must be a whole number, got {text!a}")
        value = int(text)
        if value < low or (high is not None and value > high):
            bound = f"from {low} to {high}" if high is not None else f"at least {low}"
            raise argparse.ArgumentTypeError(f"{name} must be {bound}, got {value}")
        return value

    return parse


def add_seed(parser: argparse.ArgumentParser, what: str = "the run's seed") -> None:
    parser.add_argument("--seed", type=int_in("--seed", 0, U64 - 1), default=1, help=f"{what} (1)")


def add_progress(parser: argparse.ArgumentParser) -> None:
    """--no-progress (or --quiet); args.no_progress."""
    parser.add_argument("--no-progress", "--quiet", dest="no_progress", action="store_true",
                        help="no progress bar on stderr")


def add_workers(parser: argparse.ArgumentParser) -> None:
    """--workers K or --scheduler ADDRESS; args.workers is 0 (this process) unless given."""
    where = parser.add_mutually_exclusive_group()
    where.add_argument("--workers", type=int_in("--workers", 0, 4096), default=0,
                       help="local worker processes; 0 plays in this process (0)")
    where.add_argument("--scheduler", metavar="ADDRESS",
                       help="address of a running Dask scheduler, e.g. tcp://HOST:8786")


# ---------------------------------------------------------------- bots as Python choosers

Chooser = Callable[[Any], tavik.Hand]


def greedy_bot(seed: int) -> Chooser:
    """The self-play games' greedy policy: the highest-scoring hand that does not lose, if one
    does not; ties at random (without ties it would stack the leftmost column while nothing
    scores). The tie-breaks come from its own stream, so its games are not the native ones."""
    rng = random.Random(seed)

    def choose(game: object) -> tavik.Hand:
        best: list[tavik.Hand] = []
        best_key: Tuple[bool, int] = (False, -1)
        for hand in game.legal_hands():  # type: ignore[attr-defined]
            trial = game.copy()  # type: ignore[attr-defined]
            move = trial.play(hand)
            key = (not move.over, move.score)
            if key > best_key:
                best, best_key = [hand], key
            elif key == best_key:
                best.append(hand)
        return best[rng.randrange(len(best))]

    return choose


def random_bot(seed: int) -> Chooser:
    rng = random.Random(seed)

    def choose(game: object) -> tavik.Hand:
        return rng.choice(game.legal_hands())  # type: ignore[attr-defined, no-any-return]

    return choose


def make_bot(settings: BotSpec, seed: int) -> Chooser:
    """A chooser for one player: greedy and random draw their choices from `seed`."""
    if settings.kind == "greedy":
        return greedy_bot(seed)
    if settings.kind == "random":
        return random_bot(seed)
    return settings.beam_bot().choose  # type: ignore[no-any-return]
