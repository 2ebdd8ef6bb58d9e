"""The two-player match against the one-player game, measured in the same run.

    python bench/bench_versus.py [--states N] [--rounds R] [--envs N] [--steps S]

- Match.play for one player (only player 0 due) against Game.play of the same hand on the same
  field (the match's `game(0)`): both on copies made before the clock starts, alternately, for
  `--rounds` rounds; the median of the per-round ratios is reported.
- VersusVectorEnv(N, opponent="random") against TokopuyoVectorEnv(N), 1 and 2 threads, stepped
  alternately with random legal actions; learner decisions per second (each VersusVectorEnv
  step also plays the opponent's turns natively), and the 2-thread / 1-thread ratio.
"""

from __future__ import annotations

import argparse
import copy
import gc
import random
import statistics
import time

import numpy as np

import tavik_game as tg
from tavik_game.envs import TokopuyoVectorEnv, VersusVectorEnv


def one_player_states(count: int, seed: int) -> list[tuple[tg.Match, tg.Game, object]]:
    """Matches where only player 0 decides, each with its side as a Game and a legal hand."""
    rng = random.Random(seed)
    states = []
    m = tg.Match(seed=seed)
    while len(states) < count:
        if m.over:
            m = tg.Match(seed=rng.randrange(2**32))
            continue
        due = m.due()
        if due == (0,):
            h = rng.choice(m.legal_hands(0))
            states.append((copy.copy(m), m.game(0), h))
        m.play({p: rng.choice(m.legal_hands(p)) for p in due})
    return states


def time_plays(states, rounds: int, tries: int = 5) -> list[float]:
    """Per round, the sum over the states of the fastest of `tries` Match.play calls over that
    of the fastest of `tries` Game.play calls, the two alternating call by call, each on a copy
    made before its clock starts, with the collector off. The fastest call of each state keeps
    the stalls of a loaded machine out; the empty call's time (the clock's own) is taken off."""

    def fastest(call, arg_of, state) -> float:
        best = float("inf")
        for _ in range(tries):
            target, arg = arg_of(state)
            t0 = time.perf_counter()
            call(target, arg)
            best = min(best, time.perf_counter() - t0)
        return best

    match_arg = lambda st: (copy.copy(st[0]), {0: st[2]})  # noqa: E731
    game_arg = lambda st: (copy.copy(st[1]), st[2])  # noqa: E731
    play = lambda target, arg: target.play(arg)  # noqa: E731
    empty = lambda target, arg: None  # noqa: E731
    ratios = []
    for _ in range(rounds):
        match_s = game_s = clock_s = 0.0
        gc.disable()
        try:
            for st in states:
                match_s += fastest(play, match_arg, st)
                game_s += fastest(play, game_arg, st)
                clock_s += fastest(empty, game_arg, st)
        finally:
            gc.enable()
        ratios.append((match_s - clock_s) / (game_s - clock_s))
    return ratios


def step_rate(env, steps: int, rng: np.random.Generator) -> tuple[float, float]:
    """(learner decisions/s, all decisions/s: the native opponent's too)."""
    obs, info = env.reset(seed=1)
    mask = info["action_mask"]
    played = env.decisions() if hasattr(env, "decisions") else 0
    t0 = time.perf_counter()
    for _ in range(steps):
        actions = np.argmax(mask * rng.random(mask.shape), axis=-1)
        obs, reward, terminated, truncated, info = env.step(actions)
        mask = info["action_mask"]
    seconds = time.perf_counter() - t0
    learner = steps * env.num_envs
    every = env.decisions() - played if hasattr(env, "decisions") else learner
    return learner / seconds, every / seconds


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--states", type=int, default=2000)
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--envs", type=int, default=256)
    parser.add_argument("--steps", type=int, default=400)
    args = parser.parse_args()

    states = one_player_states(args.states, 1)
    ratios = time_plays(states, args.rounds)
    print(f"Match.play (one player) / Game.play, same hands and fields: median {statistics.median(ratios):.2f}x "
          f"(rounds {', '.join(f'{r:.2f}' for r in ratios)})")

    rng = np.random.default_rng(0)
    n = args.envs
    envs = {
        "TokopuyoVectorEnv t=1": TokopuyoVectorEnv(n, threads=1),
        "VersusVectorEnv t=1": VersusVectorEnv(n, threads=1, opponent="random"),
        "TokopuyoVectorEnv t=2": TokopuyoVectorEnv(n, threads=2),
        "VersusVectorEnv t=2": VersusVectorEnv(n, threads=2, opponent="random"),
    }
    rates: dict[str, list[float]] = {name: [] for name in envs}
    every: dict[str, list[float]] = {name: [] for name in envs}
    for _ in range(args.rounds):
        for name, env in envs.items():
            learner, both = step_rate(env, args.steps, rng)
            rates[name].append(learner)
            every[name].append(both)
    med = {name: statistics.median(r) for name, r in rates.items()}
    med_every = {name: statistics.median(r) for name, r in every.items()}
    for name, rate in med.items():
        print(f"{name}: {rate:,.0f} learner decisions/s, {med_every[name]:,.0f} decisions/s of both sides")
    for t in (1, 2):
        v, k = f"VersusVectorEnv t={t}", f"TokopuyoVectorEnv t={t}"
        print(f"VersusVectorEnv / TokopuyoVectorEnv, {t} thread(s): learner decisions {med[v] / med[k]:.2f}x, "
              f"all decisions {med_every[v] / med_every[k]:.2f}x")
    per_round = [b / a for a, b in zip(rates["VersusVectorEnv t=1"], rates["VersusVectorEnv t=2"])]
    print(f"VersusVectorEnv 2 threads / 1 thread: median {statistics.median(per_round):.2f}x "
          f"(rounds {', '.join(f'{r:.2f}' for r in per_round)})")


if __name__ == "__main__":
    main()
