"""The match command: two built-in players over many seeded two-player matches.

    python -m tavik_game match --p1 beam:100 --p2 greedy --matches 200 --seed 1

Match i of a run with seed s is dealt `match_seed(s, i)` (SplitMix64's output for s + i times
its increment), and each player draws its own choices from a seed made from that one, so a
match plays the same alone, in any order and on any number of workers.
"""

from __future__ import annotations

import argparse
import contextlib
import math
import time
from dataclasses import dataclass, field
from typing import Any, Dict, List, Optional, Sequence, TextIO, Tuple

import tavik

from . import _native
from ._cli import BOT_HELP, add_progress, add_seed, add_workers, bot_type, int_in, parse_bot
from ._versus import make_player

U64 = 2**64
MASK64 = U64 - 1
GOLDEN = 0x9E3779B97F4A7C15
FPS = 60
Z95 = 1.959963984540054
MAX_REPLAYS = 10


def splitmix64(x: int) -> int:
    """SplitMix64's output for state x (the increment already added)."""
    z = x & MASK64
    z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK64
    z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK64
    return z ^ (z >> 31)


def match_seed(seed: int, index: int) -> int:
    """The seed of match `index` of a run: output `index` of SplitMix64 started at `seed`."""
    return splitmix64(seed + (index + 1) * GOLDEN)


def player_seed(match: int, player: int) -> int:
    """Where player p of a match draws its own choices (random hands, greedy's tie-breaks)."""
    return splitmix64(match ^ ((player + 1) * GOLDEN & MASK64))


def wilson(successes: int, n: int, z: float = Z95) -> Tuple[float, float]:
    """The Wilson score interval of a binomial proportion."""
    if n == 0:
        return 0.0, 1.0
    p = successes / n
    denominator = 1 + z * z / n
    centre = (p + z * z / (2 * n)) / denominator
    half = z * math.sqrt(p * (1 - p) / n + z * z / (4 * n * n)) / denominator
    return max(0.0, centre - half), min(1.0, centre + half)


# ---------------------------------------------------------------- one match

@dataclass(frozen=True)
class MatchJob:
    index: int
    seed: int
    p1: str
    p2: str
    visible: int
    max_frames: int
    keep_hands: bool


@dataclass
class MatchResult:
    index: int
    seed: int
    winner: Optional[int]          # 0, 1, or None for a draw (or a match cut at max_frames)
    frames: int
    cut: bool
    max_chain: Tuple[int, int]
    sent: Tuple[int, int]
    hands: List[Tuple[int, ...]] = field(default_factory=list)  # per decision, Hand.enumerate indices


HANDS = tavik.Hand.enumerate()


def _hand_index(hand: tavik.Hand) -> int:
    return next(i for i, h in enumerate(HANDS) if h == hand)


def play_match(job: MatchJob) -> MatchResult:
    """Plays one match of the run; a module-level function, so it travels to workers."""
    m = _native.Match(seed=job.seed, visible=job.visible)
    players = [make_player(job.p1, player_seed(job.seed, 0)), make_player(job.p2, player_seed(job.seed, 1))]
    hands: List[Tuple[int, ...]] = []
    sent = [0, 0]
    while not m.over and m.frame < job.max_frames:
        due = m.due()
        chosen = {p: players[p](m, p) for p in due}
        if job.keep_hands:
            hands.append(tuple(_hand_index(chosen[p]) if p in chosen else -1 for p in (0, 1)))
        for ev in m.play(chosen):
            if ev.kind == "link":
                sent[ev.player] += ev.sent
    ps = m.players
    return MatchResult(job.index, job.seed, m.winner, m.frame, not m.over, (ps[0].max_chain, ps[1].max_chain),
                       (sent[0], sent[1]), hands)


def replay_match(result: MatchResult, visible: int) -> "_native.Match":
    """The match again from its recorded hands (for the replay page)."""
    m = _native.Match(seed=result.seed, visible=visible)
    for row in result.hands:
        m.play({p: HANDS[i] for p, i in enumerate(row) if i >= 0})
    return m


# ---------------------------------------------------------------- the command

def add_parser(commands: Any) -> None:
    match = commands.add_parser(
        "match",
        help="play two bots against each other over seeded versus matches",
        description="Play seeded two-player matches between two built-in players; print wins, draws "
        "and losses, the win rate with its 95 % Wilson interval, the mean match length and each "
        "player's mean longest chain and ojama sent; optionally write an HTML replay.",
    )
    match.add_argument("--p1", type=bot_type, default=parse_bot("beam:100"), help=f"player 1: {BOT_HELP}")
    match.add_argument("--p2", type=bot_type, default=parse_bot("greedy"), help="player 2, named as --p1 (greedy)")
    match.add_argument("--matches", type=int_in("--matches", 1, 1_000_000), default=100, help="matches to play (100)")
    add_seed(match, "the run's seed; match i is dealt match_seed(seed, i)")
    add_workers(match)
    match.add_argument("--max-seconds", type=int_in("--max-seconds", 1, 100_000), default=600,
                       help="game seconds after which a match is stopped and counted a draw (600)")
    match.add_argument("--html", metavar="PATH",
                       help=f"write an HTML replay of the first {MAX_REPLAYS} matches to PATH")
    add_progress(match)


def run(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    from ._progress import Progress
    from .dataset.cluster import open_client, run_jobs

    if args.html:
        from .__main__ import check_writable

        check_writable(args.html)
    p1, p2 = args.p1, args.p2
    visible = max([3] + [s.depth for s in (p1, p2) if s.kind == "beam"])
    jobs = [MatchJob(i, match_seed(args.seed, i), str(p1), str(p2), visible, args.max_seconds * FPS,
                     bool(args.html) and i < MAX_REPLAYS) for i in range(args.matches)]
    results: List[Optional[MatchResult]] = [None] * len(jobs)
    bar = Progress(len(jobs), out=err, enabled=not args.no_progress)
    started = time.perf_counter()
    interrupted = False
    done = 0
    try:
        with contextlib.ExitStack() as stack:
            client = stack.enter_context(open_client(args.workers, args.scheduler))
            for i, result in run_jobs(play_match, jobs, client=client):
                results[i] = result
                done += 1
                bar.update(done, f"matches, {done / max(1e-9, time.perf_counter() - started):.1f} a second")
    except KeyboardInterrupt:
        interrupted = True
        err.write("\ninterrupted: reporting the matches played so far\n")
    bar.close()
    seconds = time.perf_counter() - started
    played = [r for r in results if r is not None]
    if args.html:
        from .versus_replay import VersusReplay

        page = VersusReplay(f"tavik_game match: {p1} against {p2}")
        for r in played:
            if r.hands:
                page.add_match(replay_match(r, visible), f"match {r.index + 1} (seed {r.seed})", names=(str(p1), str(p2)))
        page.write(args.html)
    if played:
        report(out, args, played, seconds)
    return 130 if interrupted else 0


def summary(results: Sequence[MatchResult]) -> Dict[str, Any]:
    """The run's figures, in job order (so they do not depend on who finished first)."""
    results = sorted(results, key=lambda r: r.index)
    n = len(results)
    wins = sum(r.winner == 0 for r in results)
    losses = sum(r.winner == 1 for r in results)
    low, high = wilson(wins, n)
    return {
        "matches": n,
        "wins": wins,
        "draws": n - wins - losses,
        "losses": losses,
        "cut": sum(r.cut for r in results),
        "win_rate": wins / n,
        "interval": (low, high),
        "seconds": sum(r.frames for r in results) / n / FPS,
        "max_chain": tuple(sum(r.max_chain[p] for r in results) / n for p in (0, 1)),
        "sent": tuple(sum(r.sent[p] for r in results) / n for p in (0, 1)),
    }


def report(out: TextIO, args: argparse.Namespace, results: Sequence[MatchResult], seconds: float) -> None:
    s = summary(results)
    low, high = s["interval"]
    cut = f" ({s['cut']} stopped at {args.max_seconds} s)" if s["cut"] else ""
    lines = [
        ("p1", args.p1.describe()),
        ("p2", args.p2.describe()),
        ("matches", f"{s['matches']}, run seed {args.seed}"),
        ("p1 results", f"{s['wins']} wins, {s['draws']} draws{cut}, {s['losses']} losses"),
        ("p1 win rate", f"{100 * s['win_rate']:.1f} % (95 % Wilson interval {100 * low:.1f} % to {100 * high:.1f} %)"),
        ("match length", f"mean {s['seconds']:.1f} game seconds"),
        ("longest chain", f"mean p1 {s['max_chain'][0]:.2f}, p2 {s['max_chain'][1]:.2f}"),
        ("ojama sent", f"mean p1 {s['sent'][0]:.1f}, p2 {s['sent'][1]:.1f}"),
        ("time", f"{seconds:.1f} s"),
    ]
    if args.html:
        lines.append(("replay", args.html))
    for name, value in lines:
        out.write(f"{name:<14} {value}\n")


def play_run(p1: str, p2: str, matches: int, seed: int = 1, visible: int = 3,
             max_seconds: int = 600, client: Any = None, workers: int = 0) -> List[MatchResult]:
    """The command's matches from code: results in match order."""
    from .dataset.cluster import map_jobs

    jobs = [MatchJob(i, match_seed(seed, i), p1, p2, visible, max_seconds * FPS, False) for i in range(matches)]
    return map_jobs(play_match, jobs, client=client, workers=workers)
