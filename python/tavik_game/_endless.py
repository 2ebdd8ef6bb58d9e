"""The endless protocol: one-player games of at most P pairs that stop at the first chain of at
least S points and score that chain (0 if none), over seeded games; the figures bots are
compared by.

    python -m tavik_game endless --bot beam:100,queues=4,horizon=10 --seeds 100 --visible 2

Game s uses seed first_seed + s, so a run is repeatable and comparable across bots.
"""

from __future__ import annotations

import argparse
import statistics
import time
from concurrent.futures import ProcessPoolExecutor
from dataclasses import dataclass
from typing import Any, Callable, Sequence, TextIO

import tavik

import tavik_game as tg

BEAM_OPTIONS = ("depth", "threads", "queues", "horizon", "queue_width", "seed", "fire_score", "pairs")
BOT_HELP = ("beam[:WIDTH][,depth=D][,threads=T][,queues=Q][,horizon=H][,queue_width=W][,seed=N]"
            "[,fire_score=S][,pairs=P]; depth defaults to the visible pairs; with queues, fire_score to "
            "--stop and pairs to --pairs")


@dataclass(frozen=True)
class EndlessResult:
    """One game: the chain that stopped it (score 0, chain 0 when none did), its moves and bot time."""

    score: int
    chain: int
    moves: int
    seconds: float


@dataclass(frozen=True)
class EndlessSummary:
    games: int
    median: float
    mean: float
    at_least_80k: int
    at_least_100k: int
    none_fired: int
    mean_chain: float  # over the games that fired
    ms_per_move: float


def summarise(results: Sequence[EndlessResult]) -> EndlessSummary:
    if not results:
        raise ValueError("summarise(): no games")
    scores = [r.score for r in results]
    fired = [r.chain for r in results if r.score > 0]
    moves = sum(r.moves for r in results)
    seconds = sum(r.seconds for r in results)
    return EndlessSummary(
        games=len(results),
        median=float(statistics.median(scores)),
        mean=statistics.fmean(scores),
        at_least_80k=sum(s >= 80_000 for s in scores),
        at_least_100k=sum(s >= 100_000 for s in scores),
        none_fired=len(results) - len(fired),
        mean_chain=statistics.fmean(fired) if fired else 0.0,
        ms_per_move=1000.0 * seconds / moves if moves else 0.0,
    )


def parse_beam(name: str, visible: int, stop: int = 0, pairs: int = 0) -> dict[str, Any]:
    """BeamBot's keyword arguments from a bot name; ValueError says what is wrong. A lookahead
    bot is told the game's rules unless the name says otherwise: a chain of `stop` ends the
    game (fire_score) and so does pair number `pairs`."""
    head, *options = name.split(",")
    kind, sep, width = head.partition(":")
    if kind != "beam":
        raise ValueError(f"bot must be {BOT_HELP}, got {name!r}")
    kwargs: dict[str, Any] = {"width": _whole(width, "width", name) if sep else 100, "depth": visible}
    for option in options:
        key, eq, value = option.partition("=")
        if key not in BEAM_OPTIONS or not eq:
            raise ValueError(f"bot {name!r}: options are {', '.join(BEAM_OPTIONS)}, got {option!r}")
        kwargs[key] = _whole(value, key, name)
    if kwargs.get("queues"):
        kwargs.setdefault("fire_score", stop)
        kwargs.setdefault("pairs", pairs)
    return kwargs


def _whole(text: str, what: str, name: str) -> int:
    if not (text.isascii() and text.isdigit()):
        raise ValueError(f"{what} of bot {name!r} must be a whole number, got {text!r}")
    return int(text)


def play_endless(game: tg.Game, choose: Callable[[tg.Game], tavik.Hand], pairs: int, stop: int) -> EndlessResult:
    """Plays until a chain scores at least `stop`, the game tops out or `pairs` pairs are played."""
    seconds = 0.0
    while game.turn < pairs and not game.over:
        started = time.perf_counter()
        hand = choose(game)
        seconds += time.perf_counter() - started
        move = game.play(hand)
        if move.score >= stop:
            return EndlessResult(move.score, move.chain, game.turn, seconds)
    return EndlessResult(0, 0, game.turn, seconds)


def _run(job: tuple[dict[str, Any], int, int, int, int]) -> EndlessResult:
    kwargs, seed, visible, pairs, stop = job
    bot = tg.BeamBot(**kwargs)
    return play_endless(tg.Game(seed=seed, visible=visible), bot.choose, pairs, stop)


def add_parser(commands: "argparse._SubParsersAction[argparse.ArgumentParser]",
               int_in: Callable[..., Callable[[str], int]]) -> None:
    p = commands.add_parser(
        "endless",
        help="the endless protocol: score of the first big chain over seeded games",
        description="Play seeded one-player games that stop at the first chain of at least --stop "
        "points and score it (0 if none within --pairs pairs); print the median and mean score, the "
        "games at 80,000 and 100,000 or more, the games that fired nothing, the mean chain and ms per move.",
    )
    p.add_argument("--bot", default="beam:100", help=f"the bot: {BOT_HELP} (beam:100)")
    p.add_argument("--seeds", type=int_in("--seeds", 1, 1_000_000), default=100, help="games (100)")
    p.add_argument("--first-seed", type=int_in("--first-seed", 0, 2**64 - 1_000_001), default=1000,
                   help="seed of the first game; game s uses first + s (1000)")
    p.add_argument("--visible", type=int_in("--visible", 1, 64), default=2, help="pairs the bot sees (2)")
    p.add_argument("--stop", type=int_in("--stop", 1), default=10_000,
                   help="a chain of at least this many points ends the game and is its score (10000)")
    p.add_argument("--pairs", type=int_in("--pairs", 1, 1_000_000), default=50, help="pairs per game at most (50)")
    p.add_argument("--workers", type=int_in("--workers", 0, 4096), default=0,
                   help="worker processes; 0 plays in this process (0)")


def run(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    try:
        kwargs = parse_beam(args.bot, args.visible, args.stop, args.pairs)
        bot = tg.BeamBot(**kwargs)
    except (ValueError, TypeError) as e:
        err.write(f"endless: {e}\n")
        return 2
    jobs = [(kwargs, args.first_seed + s, args.visible, args.pairs, args.stop) for s in range(args.seeds)]
    started = time.perf_counter()
    if args.workers > 0:
        with ProcessPoolExecutor(args.workers) as pool:
            results = list(pool.map(_run, jobs))
    else:
        results = [_run(job) for job in jobs]
    wall = time.perf_counter() - started
    report(out, args, repr(bot), summarise(results), wall)
    return 0


def report(out: TextIO, args: argparse.Namespace, bot: str, s: EndlessSummary, wall: float) -> None:
    lines = [
        ("bot", bot),
        ("games", f"{s.games}: seeds {args.first_seed} to {args.first_seed + s.games - 1}, {args.visible} visible, "
                  f"at most {args.pairs} pairs, stop at {args.stop}"),
        ("median score", f"{s.median:,.0f}"),
        ("mean score", f"{s.mean:,.0f}"),
        (">= 80,000", f"{s.at_least_80k} of {s.games} ({100 * s.at_least_80k / s.games:.0f} %)"),
        (">= 100,000", f"{s.at_least_100k} of {s.games} ({100 * s.at_least_100k / s.games:.0f} %)"),
        ("none fired", f"{s.none_fired} of {s.games}"),
        ("mean chain", f"{s.mean_chain:.2f}"),
        ("ms per move", f"{s.ms_per_move:.1f}"),
        ("wall", f"{wall:.1f} s"),
    ]
    for name, value in lines:
        out.write(f"{name:<14} {value}\n")
