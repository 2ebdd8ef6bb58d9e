"""Command line of tavik_game: play seeded games with a bot and write an HTML replay.

    python -m tavik_game play --games 20 --pairs 100 --seed 1 --bot beam:100 --html replay.html
    python -m tavik_game match --p1 beam:100 --p2 greedy --matches 200 --seed 1

Game i uses seed + i, so a run is repeatable and its games can be compared across bots.
"""

from __future__ import annotations

import argparse
import os
import sys
import time
from dataclasses import replace
from typing import Optional, Sequence, TextIO

import tavik_game as tg

from . import _endless
from ._cli import (
    BEAM_DEPTH_MAX,
    BEAM_THREADS_MAX,
    BEAM_WIDTH_MAX,
    BOT_HELP,
    U64,
    BotSpec,
    add_progress,
    add_seed,
    bot_type,
    int_in,
    make_bot,
)
from ._progress import Progress
from .replay import Replay

def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="python -m tavik_game", description="tavik_game tools.")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    commands.required = True
    play = commands.add_parser(
        "play",
        help="play seeded games with a bot and report its figures",
        description="Play seeded one-player games with a bot; print games, moves per second, "
        "mean and best score and longest chain; optionally write an HTML replay.",
    )
    play.add_argument("--games", type=int_in("--games", 1, 100_000), default=20, help="games to play (20)")
    play.add_argument("--pairs", type=int_in("--pairs", 1, 1_000_000), default=100,
                      help="pairs per game at most; a game also ends when it tops out (100)")
    add_seed(play, "seed of the first game; game i uses seed + i")
    play.add_argument("--bot", type=bot_type, default=BotSpec("beam"),
                      help=f"{BOT_HELP}; the beam bot's depth is the number of pairs it sees (beam:100)")
    # The old spellings, kept for stored scripts: they change the beam bot's settings.
    play.add_argument("--beam", type=int_in("--beam", 1, BEAM_WIDTH_MAX), help=argparse.SUPPRESS)
    play.add_argument("--depth", type=int_in("--depth", 1, BEAM_DEPTH_MAX), help=argparse.SUPPRESS)
    play.add_argument("--threads", type=int_in("--threads", 1, BEAM_THREADS_MAX), help=argparse.SUPPRESS)
    play.add_argument("--colours", type=int, choices=(3, 4), default=4, help="colours in the pair sequence (4)")
    play.add_argument("--html", metavar="PATH", help="write an HTML replay of every game to PATH")
    add_progress(play)
    _endless.add_parser(commands)
    from ._match import add_parser as add_match_parser

    add_match_parser(commands)
    return parser


def bot_of(args: argparse.Namespace, err: TextIO) -> BotSpec:
    """args.bot with the deprecated --beam, --depth and --threads folded in (with a warning)."""
    settings: BotSpec = args.bot
    old = {k: getattr(args, k) for k in ("beam", "depth", "threads") if getattr(args, k) is not None}
    if not old:
        return settings
    if settings.kind != "beam":
        raise ValueError(f"{', '.join('--' + k for k in old)} only apply to the beam bot")
    settings = replace(settings, width=old.get("beam", settings.width), depth=old.get("depth", settings.depth),
                   threads=old.get("threads", settings.threads))
    given = " ".join(f"--{k} {v}" for k, v in old.items())
    err.write(f"play: {given} is deprecated; say --bot {settings}\n")
    return settings


# ---------------------------------------------------------------- play

def check_writable(path: str) -> None:
    """Fails now rather than after an hour of play; leaves no file behind."""
    existed = os.path.exists(path)
    try:
        with open(path, "a", encoding="utf-8"):
            pass
    except OSError as e:
        raise SystemExit(f"play: cannot write the replay to {path}: {e.strerror or e}") from None
    if not existed:
        os.unlink(path)


def play(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    if args.html:
        check_writable(args.html)
    settings: BotSpec = args.bot
    choose = make_bot(settings, args.seed)
    bot_name = settings.describe()
    replay = Replay(f"tavik_game: {bot_name}") if args.html else None
    # Piped, the bar is one plain line per finished game.
    progress = Progress(args.games * args.pairs, out=err, enabled=not args.no_progress, every=None)
    visible = max(3, settings.depth)
    games: list[tg.Game] = []
    moves = 0
    seconds = 0.0
    interrupted = False
    try:
        for i in range(args.games):
            seed = (args.seed + i) % U64
            game = tg.Game(seed=seed, colours=args.colours, visible=visible)
            games.append(game)
            if replay:
                replay.start_game(f"game {i + 1} (seed {seed})")
            while game.turn < args.pairs and not game.over:
                before = game.field if replay else None
                pairs = game.pairs if replay else None
                started = time.perf_counter()
                hand = choose(game)
                move = game.play(hand)
                seconds += time.perf_counter() - started
                moves += 1
                if replay and before is not None and pairs is not None:
                    replay.add_move(before, hand, pairs[0], pairs[1:], move=move, total_score=game.score,
                                    turn=game.turn - 1)
                rate = moves / seconds if seconds > 0 else 0.0
                progress.update(i * args.pairs + game.turn,
                                f"game {i + 1}/{args.games} pair {game.turn}/{args.pairs} {rate:7.1f} moves/s")
            progress.line(f"game {i + 1}/{args.games}: {game.turn} moves, score {game.score}, "
                          f"longest chain {game.max_chain}{', topped out' if game.over else ''}")
    except KeyboardInterrupt:
        # What was played so far is still worth a report and a replay.
        interrupted = True
        progress.close()
        err.write("\ninterrupted: reporting the games played so far\n")
        if games and games[-1].turn == 0:
            games.pop()
            if replay:
                replay.games.pop()
    if replay:
        replay.write(args.html)
    if games:
        report(out, args, bot_name, games, moves, seconds)
    return 130 if interrupted else 0


def report(out: TextIO, args: argparse.Namespace, bot: str, games: Sequence[tg.Game], moves: int,
           seconds: float) -> None:
    scores = [g.score for g in games]
    chains = [g.max_chain for g in games]
    rate = moves / seconds if seconds > 0 else float("inf")
    lines = [
        ("bot", bot),
        ("games", f"{len(games)} of at most {args.pairs} pairs, seeds {args.seed} to "
                  f"{(args.seed + len(games) - 1) % U64}, {args.colours} colours"),
        ("moves", f"{moves} in {seconds:.2f} s: {rate:.1f} moves per second"),
        ("score", f"mean {sum(scores) / len(scores):.1f}, best {max(scores)}"),
        ("longest chain", f"mean {sum(chains) / len(chains):.2f}, best {max(chains)}"),
        ("topped out", f"{sum(g.over for g in games)} of {len(games)} games"),
    ]
    if args.html:
        lines.append(("replay", args.html))
    for name, value in lines:
        out.write(f"{name:<14} {value}\n")


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    if args.command == "endless":
        return _endless.run(args, sys.stdout, sys.stderr)
    try:
        if args.command == "match":
            from ._match import run as run_match

            return run_match(args, sys.stdout, sys.stderr)
        try:
            args.bot = bot_of(args, sys.stderr)
        except ValueError as e:
            parser.error(str(e))
        return play(args, sys.stdout, sys.stderr)
    except KeyboardInterrupt:
        sys.stderr.write("\ninterrupted\n")
        return 130


if __name__ == "__main__":
    sys.exit(main())
