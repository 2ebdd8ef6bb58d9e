"""Tunes the beam bot's evaluation weights on the endless protocol, one weight at a time.

    python bench/tune_bot.py [--seeds N] [--first-seed S] [--bot beam:...] [--rounds R]
                             [--workers K | --scheduler ADDRESS]

Each candidate plays the same seeded games (first-seed + s) as the incumbent, on the Dask
machinery of the dataset command (map_jobs: the same results whatever the workers). A weight is
scaled by 0.5 and 2 (tried at a fixed step when it is 0); a candidate replaces the incumbent when
its mean score is higher. Prints one line per candidate, beside the incumbent's figure of the
same round, and the best weights as a BotWeights(...) call.
"""

from __future__ import annotations

import argparse
import statistics
from dataclasses import replace

import tavik_game as tg
from tavik_game._cli import add_workers, bot_type, int_in
from tavik_game._endless import EndlessResult, bot_for, play_endless
from tavik_game.bot import FEATURES
from tavik_game.dataset.cluster import map_jobs, open_client

# Steps for a weight that is 0 now: the scale of each feature's count.
ZERO_STEPS = {"chain": 300.0, "ridge": -100.0, "puyos": 20.0, "top": -100.0}


def play(job: tuple[object, tuple[float, ...], int]) -> EndlessResult:
    settings, weights, seed = job
    bot = tg.BeamBot(width=settings.width, depth=settings.depth, threads=1, weights=weights,  # type: ignore[attr-defined]
                     queues=settings.queues, horizon=settings.horizon, queue_width=settings.queue_width,  # type: ignore[attr-defined]
                     seed=settings.seed, fire_score=settings.fire_score, pairs=settings.pairs)  # type: ignore[attr-defined]
    return play_endless(tg.Game(seed=seed, visible=settings.depth), bot.choose, settings.pairs, 10_000)  # type: ignore[attr-defined]


def score(client: object, settings: object, w: tg.BotWeights, seeds: list[int]) -> tuple[float, float]:
    results = map_jobs(play, [(settings, tuple(w), s) for s in seeds], client=client)
    scores = [r.score for r in results]
    return statistics.fmean(scores), float(statistics.median(scores))


def main() -> None:
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--bot", default="beam:60,depth=2,queues=3,horizon=6,queue_width=30")
    p.add_argument("--seeds", type=int_in("--seeds", 1), default=16)
    p.add_argument("--first-seed", type=int_in("--first-seed", 0), default=5000,
                   help="seeds apart from the protocol's 1000..1099, so the figures there are not tuned on (5000)")
    p.add_argument("--rounds", type=int_in("--rounds", 1), default=1)
    p.add_argument("--only", default=",".join(FEATURES), help="the weights to tune, comma-separated")
    add_workers(p)
    args = p.parse_args()
    settings = bot_for(bot_type(args.bot), args.bot, 2, 10_000, 50)
    seeds = [args.first_seed + s for s in range(args.seeds)]
    best = tg.BotWeights()
    with open_client(args.workers, args.scheduler) as client:
        best_mean, best_median = score(client, settings, best, seeds)
        print(f"start       mean {best_mean:9.0f} median {best_median:9.0f}  {best.as_dict()}", flush=True)
        for round_ in range(args.rounds):
            for name in args.only.split(","):
                now = getattr(best, name)
                for value in ([now * 0.5, now * 2] if now else [ZERO_STEPS.get(name, 1.0)]):
                    trial = replace(best, **{name: value})
                    mean, median = score(client, settings, trial, seeds)
                    kept = mean > best_mean
                    print(f"r{round_} {name:>11} {now:9.1f} -> {value:9.1f}: mean {mean:9.0f} median {median:9.0f}"
                          f" (incumbent mean {best_mean:9.0f}){'  kept' if kept else ''}", flush=True)
                    if kept:
                        best, best_mean, best_median = trial, mean, median
    print("best: tg.BotWeights(" + ", ".join(f"{k}={v:g}" for k, v in best.as_dict().items()) + ")")
    print(f"best mean {best_mean:.0f}, median {best_median:.0f} over {len(seeds)} seeds from {args.first_seed}")


if __name__ == "__main__":
    main()
