"""Command line of tavik_game: play seeded games with a bot and write an HTML replay.

    python -m tavik_game play --games 20 --pairs 100 --seed 1 --beam 100 --html replay.html
    python -m tavik_game match --p1 beam:100 --p2 greedy --matches 200 --seed 1

Game i uses seed + i, so a run is repeatable and its games can be compared across bots.
"""

from __future__ import annotations

import argparse
import os
import random
import sys
import time
from typing import Callable, Optional, Sequence, TextIO

import tavik

import tavik_game as tg

from .replay import Replay

BOTS = ("beam", "greedy", "random")
U64 = 2**64


def _int_in(name: str, low: int, high: Optional[int] = None) -> Callable[[str], int]:
    """An argparse type: an int in [low, high], with a message naming the option."""

    def parse(text: str) -> int:
        try:
            value = int(text, 10)
        except ValueError:
            raise argparse.ArgumentTypeError(f"{name} must be a whole number, got {text!r}") from None
        if value < low or (high is not None and value > high):
            bound = f"from {low} to {high}" if high is not None else f"at least {low}"
            raise argparse.ArgumentTypeError(f"{name} must be {bound}, got {value}")
        return value

    return parse


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
    play.add_argument("--games", type=_int_in("--games", 1, 100_000), default=20, help="games to play (20)")
    play.add_argument("--pairs", type=_int_in("--pairs", 1, 1_000_000), default=100,
                      help="pairs per game at most; a game also ends when it tops out (100)")
    play.add_argument("--seed", type=_int_in("--seed", 0, U64 - 1), default=1,
                      help="seed of the first game; game i uses seed + i (1)")
    play.add_argument("--bot", choices=BOTS, default="beam",
                      help="beam: the native beam search; greedy: one move ahead, in Python; random (beam)")
    play.add_argument("--beam", type=_int_in("--beam", 1, 100_000), default=100, help="beam width (100)")
    play.add_argument("--depth", type=_int_in("--depth", 1, 8), default=3,
                      help="pairs the beam bot looks at; the game shows max(3, depth) pairs (3)")
    play.add_argument("--threads", type=_int_in("--threads", 1, 256), default=1,
                      help="worker threads of the beam bot (1)")
    play.add_argument("--colours", type=int, choices=(3, 4), default=4, help="colours in the pair sequence (4)")
    play.add_argument("--html", metavar="PATH", help="write an HTML replay of every game to PATH")
    play.add_argument("--no-progress", action="store_true", help="no progress bar on stderr")
    from ._match import add_parser as add_match_parser

    add_match_parser(commands)
    return parser


# ---------------------------------------------------------------- bots

Chooser = Callable[["tg.Game"], tavik.Hand]


def greedy_value(move_score: int, field: tavik.Field) -> float:
    """One move ahead: what the move scores, what the field could still fire, and room at the top."""
    if tg.is_dead(field):
        return -1e12
    potential, _ = tg.best_find(field)
    heights = [field.get_height(x) for x in range(6)]
    bumps = sum(abs(a - b) for a, b in zip(heights, heights[1:]))
    danger = max(0, heights[2] - 8) + max(0, heights[3] - 9)
    return move_score + 0.5 * potential - 30.0 * bumps - 400.0 * danger


def greedy_bot() -> Chooser:
    def choose(game: tg.Game) -> tavik.Hand:
        options = tg.expand(game.field, game.pairs[0])
        return max(options, key=lambda o: greedy_value(o[2].score, o[1]))[0]

    return choose


def random_bot(seed: int) -> Chooser:
    rng = random.Random(seed)

    def choose(game: tg.Game) -> tavik.Hand:
        return rng.choice(game.legal_hands())

    return choose


def make_bot(args: argparse.Namespace) -> tuple[Chooser, str]:
    if args.bot == "greedy":
        return greedy_bot(), "greedy (one move ahead, Python)"
    if args.bot == "random":
        return random_bot(args.seed), "random legal hands"
    beam_bot = getattr(tg, "BeamBot", None)
    if beam_bot is None:
        raise SystemExit("play: this build of tavik_game has no BeamBot; use --bot greedy or --bot random")
    bot = beam_bot(width=args.beam, depth=args.depth, threads=args.threads)
    threads = "thread" if args.threads == 1 else "threads"
    return bot.choose, f"beam (width {args.beam}, depth {args.depth}, {args.threads} {threads})"


# ---------------------------------------------------------------- progress

class Progress:
    """A one-line bar on a terminal; one line per finished game elsewhere (logs stay short)."""

    def __init__(self, out: TextIO, total_games: int, pairs: int, enabled: bool) -> None:
        self.out, self.total_games, self.pairs, self.enabled = out, total_games, pairs, enabled
        self.live = enabled and out.isatty()
        self.last = 0.0

    def update(self, game: int, turn: int, moves: int, seconds: float, force: bool = False) -> None:
        if not self.live:
            return
        now = time.monotonic()
        if not force and now - self.last < 0.1:
            return
        self.last = now
        done = (game + turn / self.pairs) / self.total_games
        bar = "#" * int(30 * done)
        rate = moves / seconds if seconds > 0 else 0.0
        self.out.write(f"\r[{bar:<30}] game {game + 1}/{self.total_games} pair {turn}/{self.pairs} "
                       f"{rate:7.1f} moves/s")
        self.out.flush()

    def game_done(self, game: int, g: tg.Game) -> None:
        if not self.enabled:
            return
        if self.live:
            self.out.write("\r\x1b[K")
        self.out.write(f"game {game + 1}/{self.total_games}: {g.turn} moves, score {g.score}, "
                       f"longest chain {g.max_chain}{', topped out' if g.over else ''}\n")
        self.out.flush()


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
    choose, bot_name = make_bot(args)
    replay = Replay(f"tavik_game: {bot_name}") if args.html else None
    progress = Progress(err, args.games, args.pairs, not args.no_progress)
    visible = max(3, args.depth)
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
                progress.update(i, game.turn, moves, seconds)
            progress.game_done(i, game)
    except KeyboardInterrupt:
        # What was played so far is still worth a report and a replay.
        interrupted = True
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
    args = build_parser().parse_args(argv)
    try:
        if args.command == "match":
            from ._match import run as run_match

            return run_match(args, sys.stdout, sys.stderr)
        return play(args, sys.stdout, sys.stderr)
    except KeyboardInterrupt:
        sys.stderr.write("\ninterrupted\n")
        return 130


if __name__ == "__main__":
    sys.exit(main())
