"""The endless protocol: one-player games of at most P pairs that stop at the first chain of at
least S points and score that chain (0 if none), over seeded games; the figures bots are
compared by.

    python -m tavik_game endless --bot beam:100,queues=4,horizon=8,queue_width=60 --seeds 100 --visible 2

Game s uses seed first_seed + s, so a run is repeatable and comparable across bots.
"""

from __future__ import annotations

import argparse
import statistics
import time
from dataclasses import dataclass, replace
from typing import Callable, Sequence, TextIO

import tavik

import tavik_game as tg

from ._cli import BOT_HELP, BotSpec, add_workers, int_in, parse_bot

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


def bot_for(settings: BotSpec, name: str, visible: int, stop: int, pairs: int) -> BotSpec:
    """The beam bot of `settings` for this protocol: depth is the visible pairs unless `name` gives
    it, and a lookahead bot is told that a chain of `stop` ends the game (fire_score) and so does
    pair number `pairs`, unless `name` says otherwise. ValueError for a bot that is not beam."""
    if settings.kind != "beam":
        raise ValueError(f"endless plays the beam bot, got {name!a}")
    given = {option.partition("=")[0] for option in name.split(",")[1:]}
    told = settings.queues > 0
    return replace(settings, depth=settings.depth if "depth" in given else visible,
                   fire_score=stop if told and "fire_score" not in given else settings.fire_score,
                   pairs=pairs if told and "pairs" not in given else settings.pairs)


def beam_bot(settings: BotSpec) -> tg.BeamBot:
    bot: tg.BeamBot = settings.beam_bot()
    return bot


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


def _run(job: tuple[BotSpec, int, int, int, int, str]) -> EndlessResult:
    settings, seed, visible, pairs, stop, kind = job
    game = tg.Game(sequence=tg.PairSequence(seed, kind=kind), visible=visible)
    return play_endless(game, beam_bot(settings).choose, pairs, stop)


def add_parser(commands: "argparse._SubParsersAction[argparse.ArgumentParser]") -> None:
    p = commands.add_parser(
        "endless",
        help="the endless protocol: score of the first big chain over seeded games",
        description="Play seeded one-player games that stop at the first chain of at least --stop "
        "points and score it (0 if none within --pairs pairs); print the median and mean score, the "
        "games at 80,000 and 100,000 or more, the games that fired nothing, the mean chain and ms per move.",
    )
    p.add_argument("--bot", default="beam:100",
                   help=f"the bot: {BOT_HELP}; depth defaults to --visible, and with queues fire_score to "
                   "--stop and pairs to --pairs (beam:100)")
    p.add_argument("--seeds", type=int_in("--seeds", 1, 1_000_000), default=100, help="games (100)")
    p.add_argument("--first-seed", type=int_in("--first-seed", 0, 2**64 - 1_000_001), default=1000,
                   help="seed of the first game; game s uses first + s (1000)")
    p.add_argument("--visible", type=int_in("--visible", 1, 64), default=2, help="pairs the bot sees (2)")
    p.add_argument("--stop", type=int_in("--stop", 1), default=10_000,
                   help="a chain of at least this many points ends the game and is its score (10000)")
    p.add_argument("--pairs", type=int_in("--pairs", 1, 1_000_000), default=50, help="pairs per game at most (50)")
    p.add_argument("--sequence", choices=("uniform", "balanced"), default="uniform",
                   help="uniform: independent random pairs; balanced: the arcade machines' 128 pairs, "
                   "64 puyos of each colour (uniform)")
    add_workers(p)


def run(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    try:
        settings = bot_for(parse_bot(args.bot), args.bot, args.visible, args.stop, args.pairs)
        bot = beam_bot(settings)
    except (ValueError, TypeError) as e:
        err.write(f"endless: {e}\n")
        return 2
    jobs = [(settings, args.first_seed + s, args.visible, args.pairs, args.stop, args.sequence)
            for s in range(args.seeds)]
    started = time.perf_counter()
    if args.workers or args.scheduler:
        from .dataset.cluster import map_jobs, open_client

        with open_client(args.workers, args.scheduler) as client:
            results = map_jobs(_run, jobs, client=client)
    else:
        results = [_run(job) for job in jobs]
    wall = time.perf_counter() - started
    report(out, args, repr(bot), summarise(results), wall)
    return 0


def report(out: TextIO, args: argparse.Namespace, bot: str, s: EndlessSummary, wall: float) -> None:
    lines = [
        ("bot", bot),
        ("games", f"{s.games}: {args.sequence} seeds {args.first_seed} to {args.first_seed + s.games - 1}, "
                  f"{args.visible} visible, at most {args.pairs} pairs, stop at {args.stop}"),
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
