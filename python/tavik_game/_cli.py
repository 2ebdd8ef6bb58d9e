"""What the commands of tavik_game share: bot names, the seed and worker flags, checked numbers.

A bot is named the same way in every command and in code:

    random                      a random legal hand
    greedy                      the highest-scoring hand that does not lose; ties at random
    beam[:WIDTH][,depth=D][,threads=T]
                                the native beam search (width 100, depth 3, 1 thread unless given),
                                e.g. beam:100,depth=3,threads=2

Seeds and workers take the same flags everywhere: ``--seed N`` (default 1) and
``--workers K`` (default 0: in this process) or ``--scheduler ADDRESS``.
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
BOT_HELP = "random, greedy, or beam[:WIDTH][,depth=D][,threads=T] (beam alone: beam:100)"

_DIGITS = re.compile(r"[0-9]+")  # str.isdigit() takes '٣' and '³' too


@dataclass(frozen=True)
class BotSpec:
    """A parsed bot name; str() gives its shortest spelling, which parses back to it."""

    kind: str
    width: int = 100
    depth: int = 3
    threads: int = 1

    def __str__(self) -> str:
        if self.kind != "beam":
            return self.kind
        text = f"beam:{self.width}"
        if self.depth != 3:
            text += f",depth={self.depth}"
        if self.threads != 1:
            text += f",threads={self.threads}"
        return text

    def describe(self) -> str:
        if self.kind == "greedy":
            return "greedy (the best-scoring hand that does not lose)"
        if self.kind == "random":
            return "random legal hands"
        threads = "thread" if self.threads == 1 else "threads"
        return f"beam (width {self.width}, depth {self.depth}, {self.threads} {threads})"


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
    values = {"depth": 3, "threads": 1}
    highs = {"depth": BEAM_DEPTH_MAX, "threads": BEAM_THREADS_MAX}
    seen = set()
    for option in options:
        key, eq, value = option.partition("=")
        if key not in values or not eq:
            raise ValueError(f"bot {name!a}: options are depth=D and threads=T, got {option!a}")
        if key in seen:
            raise ValueError(f"bot {name!a} gives {key} twice")
        seen.add(key)
        values[key] = _whole(value, key, 1, highs[key], name)
    return BotSpec("beam", width, values["depth"], values["threads"])


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


def make_bot(spec: BotSpec, seed: int) -> Chooser:
    """A chooser for one player: greedy and random draw their choices from `seed`."""
    if spec.kind == "greedy":
        return greedy_bot(seed)
    if spec.kind == "random":
        return random_bot(seed)
    from ._native import BeamBot

    return BeamBot(width=spec.width, depth=spec.depth, threads=spec.threads).choose
