"""Observation and environment speed of tavik_game, each beside a baseline from the same run.

    python bench/bench_rl.py [--steps N] [--repeat N]

- Observation: `observe([field])` and `observe(256 fields)` per field, as a multiple of one
  `clone().chain()` of the 19-chain; and per row of a dataset's (256, 14, 6) type numbers,
  `observe(types)` beside `from_numpy` per row then `observe`, and a NumPy one-hot.
- Single environment, random legal actions: the hand-written environment a user would write on
  the public API (field from `Game`, observation from 78 `get()` calls per plane set) against
  `TokopuyoEnv`.
- Batches of --envs games: a plain Python loop over that many `TokopuyoEnv`, Gymnasium's
  `SyncVectorEnv` of them, and `TokopuyoVectorEnv` with 1 and 2 threads.
Steps per second count time inside `step` only (one game's step is one step); the agent's own
action choice is timed apart; beside the batches, the process's CPU time per step inside `step`
(all threads), which a busy machine leaves unchanged. Every figure is the median of --repeat runs,
taken in alternation.
"""

from __future__ import annotations

import argparse
import os
import statistics
import sys
import time

# NumPy's BLAS threads spin after start-up and would compete with the vector environment's.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

try:
    import gymnasium as gym
    import numpy as np
except ImportError as e:  # pragma: no cover
    sys.exit(f"bench_rl needs numpy and gymnasium ({e}); pip install 'tavik[rl]'")

import cores  # bench/cores.py, beside this script
import tavik
import tavik_game as tg
from tavik_game.envs import TokopuyoEnv, TokopuyoVectorEnv

NINETEEN_CHAIN = (
    ".G.BRG GBRRYR RRYYBY RGYRBR YGYRBY YGBGYR GRBGYR BRBYBY RYYBYY BRBYBR BGBYRR YGBGBG RBGBGG"
).split()
HANDS = tavik.Hand.enumerate()


class HandWrittenEnv(gym.Env):
    """What a user writes on the public API: the game from Game, the observation cell by cell."""

    def __init__(self, colours: int = 4, visible: int = 3) -> None:
        self.colours, self.visible = colours, visible
        self.observation_space = gym.spaces.Dict(
            {
                "field": gym.spaces.MultiBinary((colours + 1, 13, 6)),
                "pairs": gym.spaces.MultiBinary((visible, 2, colours)),
            }
        )
        self.action_space = gym.spaces.Discrete(22)
        self.game = None

    def _obs(self):
        field = self.game.field
        planes = np.zeros((self.colours + 1, 13, 6), np.uint8)
        for y in range(1, 14):
            for x in range(6):
                t = field.get(x, y)
                if t >= 4:
                    planes[t - 4, y - 1, x] = 1
                elif t == 1:
                    planes[self.colours, y - 1, x] = 1
        pairs = np.zeros((self.visible, 2, self.colours), np.uint8)
        for i, p in enumerate(self.game.pairs):
            pairs[i, 0, p.child - 4] = 1
            pairs[i, 1, p.axis - 4] = 1
        legal = self.game.legal_hands()
        mask = np.array([h in legal for h in HANDS], np.int8)
        return {"field": planes, "pairs": pairs}, {"action_mask": mask}

    def reset(self, *, seed=None, options=None):
        super().reset(seed=seed)
        self.game = tg.Game(seed=0 if seed is None else seed, colours=self.colours, visible=self.visible)
        return self._obs()

    def step(self, action):
        move = self.game.play(HANDS[action])
        obs, info = self._obs()
        return obs, float(move.score), bool(move.over), False, info


def interleaved(blocks: dict, rounds: int) -> dict[str, float]:
    """Per call (or per item): each block's fastest of `rounds` runs, the blocks run in turn."""
    best = {name: float("inf") for name in blocks}
    for _ in range(rounds):
        for name, (fn, number, per) in blocks.items():
            t = time.perf_counter()
            for _ in range(number):
                fn()
            best[name] = min(best[name], (time.perf_counter() - t) / number / per * 1e9)
    return best


def single_rate(env, steps: int, seed: int) -> tuple[float, float, float]:
    """(steps per second inside step, steps per second of the whole loop, NaN). Reading the CPU
    clock is a system call of about a microsecond: too dear to wrap around one game's step."""
    rng = np.random.default_rng(seed)
    picks = rng.random(steps)
    _, info = env.reset(seed=seed)
    inside = 0.0
    start = time.perf_counter()
    for i in range(steps):
        legal = np.flatnonzero(info["action_mask"])
        action = int(legal[int(picks[i] * len(legal))])
        t = time.perf_counter()
        _, _, terminated, truncated, info = env.step(action)
        inside += time.perf_counter() - t
        if terminated or truncated:
            _, info = env.reset()
    return steps / inside, steps / (time.perf_counter() - start), float("nan")


def vector_rate(envs, steps: int, seed: int, cpu_clock: bool = False) -> tuple[float, float, float]:
    """As single_rate, one game's step counting as one step. With cpu_clock, also the process's
    CPU time per step inside step, every thread of it (NaN without): reading that clock is a
    system call, which also disturbs the step after it, so the timed runs leave it out."""
    rng = np.random.default_rng(seed)
    _, info = envs.reset(seed=seed)
    inside = cpu = 0.0
    start = time.perf_counter()
    for _ in range(steps):
        # Random legal hands: the largest random key among the legal ones.
        actions = np.argmax(rng.random(info["action_mask"].shape) * info["action_mask"], axis=1)
        if cpu_clock:
            c = time.process_time()
        t = time.perf_counter()
        _, _, _, _, info = envs.step(actions)
        inside += time.perf_counter() - t
        if cpu_clock:
            cpu += time.process_time() - c
    n = envs.num_envs * steps
    return n / inside, n / (time.perf_counter() - start), cpu / n * 1e9 if cpu_clock else float("nan")


def one_thread_rate(n: int, steps: int) -> float:
    """Steps per second inside step of a one-thread vector environment (in a process of its own)."""
    return vector_rate(TokopuyoVectorEnv(n, threads=1), steps, 0)[0]


class SingleLoop:
    """The plain loop a user writes over single environments, with next-step autoreset."""

    def __init__(self, n: int) -> None:
        self.envs = [TokopuyoEnv() for _ in range(n)]
        self.num_envs = n
        self.done = [False] * n

    def reset(self, *, seed: int):
        masks = [e.reset(seed=seed + i)[1]["action_mask"] for i, e in enumerate(self.envs)]
        self.done = [False] * self.num_envs
        return None, {"action_mask": np.stack(masks)}

    def step(self, actions):
        masks = []
        for i, e in enumerate(self.envs):
            if self.done[i]:
                _, info = e.reset()
                self.done[i] = False
            else:
                _, _, terminated, truncated, info = e.step(int(actions[i]))
                self.done[i] = terminated or truncated
            masks.append(info["action_mask"])
        return None, None, None, None, {"action_mask": np.stack(masks)}


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--steps", type=int, default=20_000, help="single-environment steps per run")
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--envs", type=int, default=256)
    args = parser.parse_args()

    if hasattr(os, "getloadavg"):  # the machine may be shared: say how busy it was
        print("load average at start: {:.1f} {:.1f} {:.1f}".format(*os.getloadavg()))
    nineteen = tavik.Field.from_str_array([r.replace(".", " ") for r in NINETEEN_CHAIN])
    one = [nineteen]
    batch = [nineteen.clone() for _ in range(args.envs)]
    out = np.empty((args.envs, 5, 13, 6), np.uint8)
    # Short blocks in turn, many rounds: this machine's speed drifts over seconds, so blocks
    # timed far apart compare different machines. Each figure is its fastest block.
    types = np.stack([tg.to_numpy(f) for f in batch])
    codes = np.array([4, 5, 6, 7, 1], np.uint8)[None, :, None, None]
    blocks = {"chain": (lambda: nineteen.clone().chain(), 2_000, 1),
              "one": (lambda: tg.observe(one), 2_000, 1),
              "batch": (lambda: tg.observe(batch, out=out), 20, args.envs),
              "types": (lambda: tg.observe(types, out=out), 20, args.envs),
              "from_numpy": (lambda: tg.observe([tg.from_numpy(t) for t in types], out=out), 2, args.envs),
              "numpy": (lambda: np.equal(types[:, None, 1:], codes, out=out.view(bool)), 20, args.envs)}
    ns = interleaved(blocks, 40 * args.repeat)
    chain_ns, one_ns, batch_ns = ns["chain"], ns["one"], ns["batch"]
    print(f"19-chain clone().chain():          {chain_ns:8.1f} ns  (baseline)")
    print(f"observe([field]):                  {one_ns:8.1f} ns  {one_ns / chain_ns:5.2f} x chain")
    print(f"observe({args.envs} fields), per field:   {batch_ns:8.1f} ns  {batch_ns / chain_ns:5.2f} x chain")
    types_ns = ns["types"]
    print(f"observe(types), per row:           {types_ns:8.1f} ns  (baseline of the next two)")
    print(f"from_numpy per row, then observe:  {ns['from_numpy']:8.1f} ns  {ns['from_numpy'] / types_ns:5.2f} x")
    print(f"NumPy one-hot (np.equal), per row: {ns['numpy']:8.1f} ns  {ns['numpy'] / types_ns:5.2f} x\n")

    hand_steps = max(1000, args.steps // 10)
    runs: dict[str, list[tuple[float, float, float]]] = {}
    hand = HandWrittenEnv()
    single = TokopuyoEnv()
    for r in range(args.repeat):
        runs.setdefault("hand-written env", []).append(single_rate(hand, hand_steps, r))
        runs.setdefault("TokopuyoEnv", []).append(single_rate(single, args.steps, r))
    single_medians = report(runs, "hand-written env")
    print(f"\nTokopuyoEnv / hand-written: {single_medians['TokopuyoEnv'] / single_medians['hand-written env']:.1f}x\n")

    n = args.envs
    slow_steps = max(4, args.steps // n)
    fast_steps = max(20, args.steps // n * 32)
    batches = {
        f"loop over {n} TokopuyoEnv": (SingleLoop(n), slow_steps),
        f"SyncVectorEnv({n} TokopuyoEnv)": (
            gym.vector.SyncVectorEnv([TokopuyoEnv for _ in range(n)]), slow_steps),
        f"TokopuyoVectorEnv({n}, threads=1)": (TokopuyoVectorEnv(n, threads=1), fast_steps),
        f"TokopuyoVectorEnv({n}, threads=2)": (TokopuyoVectorEnv(n, threads=2), fast_steps),
    }
    runs = {}
    for r in range(args.repeat):
        for name, (envs, steps) in batches.items():
            runs.setdefault(name, []).append(vector_rate(envs, steps, r))
    # The CPU time per step, in runs of their own after the timed ones.
    cpu_runs = {name: [vector_rate(envs, steps, r, cpu_clock=True)[2] for r in range(args.repeat)]
                for name, (envs, steps) in batches.items()}
    runs = {name: [(a, b, c) for (a, b, _), c in zip(values, cpu_runs[name])] for name, values in runs.items()}
    names = list(batches)
    medians = report(runs, names[0])
    print(f"\nTokopuyoVectorEnv threads=1 / SyncVectorEnv: {medians[names[2]] / medians[names[1]]:.1f}x")
    print(f"TokopuyoVectorEnv threads=2 / SyncVectorEnv: {medians[names[3]] / medians[names[1]]:.1f}x")
    print(f"2 threads / 1 thread: {medians[names[3]] / medians[names[2]]:.2f}x")
    # What the machine allows: two one-thread environments in two processes share nothing.
    bound = cores.two_process_ratio(one_thread_rate, n, fast_steps)
    print(f"two processes of 1 thread each: {bound:.2f}x one (this machine's bound for this work); "
          f"2 threads reach {medians[names[3]] / medians[names[2]] / bound:.0%} of it")
    # On a busy machine the wall-clock ratio shows how much of the other core was free; the CPU
    # time shows what the second thread costs in hand-off and waiting, which bounds the gain.
    cpu = {name: statistics.median(v[2] for v in runs[name]) for name in names[2:]}
    print(f"CPU time per step, 2 threads / 1 thread: {cpu[names[3]] / cpu[names[2]]:.2f} "
          f"(at most {2 * cpu[names[2]] / cpu[names[3]]:.2f}x faster where both cores are free)")
    if hasattr(os, "getloadavg"):
        print("load average at end: {:.1f} {:.1f} {:.1f}".format(*os.getloadavg()))


def report(runs: dict[str, list[tuple[float, float, float]]], baseline: str) -> dict[str, float]:
    base = statistics.median(x[0] for x in runs[baseline])
    print(f"{'environment':36} {'steps/s in step':>16} {'x first':>8} {'steps/s loop':>14} {'CPU ns/step':>12}")
    medians = {}
    for name, values in runs.items():
        inside = statistics.median(v[0] for v in values)
        loop = statistics.median(v[1] for v in values)
        cpu = statistics.median(v[2] for v in values)
        medians[name] = inside
        cpu_text = "-" if cpu != cpu else f"{cpu:,.0f}"
        print(f"{name:36} {inside:16,.0f} {inside / base:8.1f} {loop:14,.0f} {cpu_text:>12}")
    return medians

if __name__ == "__main__":
    main()
