"""Train a small policy on the endless one-player game, with NumPy only.

    python examples/train_tokopuyo.py [--envs 256] [--iterations 1000] [--seed 0]

A two-layer policy (observation -> 64 hidden units -> 22 hands), masked to the legal hands,
learns with REINFORCE over `TokopuyoVectorEnv`: every iteration plays `--horizon` steps in
each game, computes discounted returns, and takes one Adam step on the policy gradient with
a per-step baseline. At the end it plays the same evaluation games with the trained policy
(greedy) and with the random legal agent, and prints the mean score per episode of both.

Any Gymnasium-speaking library plugs in the same way: give it `TokopuyoVectorEnv` (or
`gymnasium.make("tavik/Tokopuyo-v0")`) and use `info["action_mask"]` for masking.
"""

from __future__ import annotations

import argparse
import os
import sys
import time

# The policy's matrices are small; BLAS worker threads would only spin against the
# environment's own threads on a small machine.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402

from tavik_game._progress import Progress  # noqa: E402
from tavik_game.envs import TokopuyoVectorEnv  # noqa: E402


def features(obs) -> np.ndarray:
    n = obs["field"].shape[0]
    return np.concatenate([obs["field"].reshape(n, -1), obs["pairs"].reshape(n, -1)], axis=1).astype(np.float32)


class Policy:
    def __init__(self, inputs: int, hidden: int, actions: int, rng: np.random.Generator) -> None:
        self.params = {
            "w1": (rng.standard_normal((inputs, hidden)) / np.sqrt(inputs)).astype(np.float32),
            "b1": np.zeros(hidden, np.float32),
            "w2": (rng.standard_normal((hidden, actions)) * 0.01).astype(np.float32),
            "b2": np.zeros(actions, np.float32),
        }
        self.moments = {k: (np.zeros_like(v), np.zeros_like(v)) for k, v in self.params.items()}
        self.t = 0

    def forward(self, x: np.ndarray, mask: np.ndarray):
        p = self.params
        h = np.maximum(x @ p["w1"] + p["b1"], 0)
        logits = h @ p["w2"] + p["b2"]
        logits = np.where(mask > 0, logits, -1e9)
        logits -= logits.max(axis=1, keepdims=True)
        probs = np.exp(logits)
        probs /= probs.sum(axis=1, keepdims=True)
        return h, probs

    def grads(self, x, h, probs, actions, advantages):
        # d(-log pi(a) * A)/d logits = (probs - onehot(a)) * A, averaged over samples.
        d = probs.copy()
        d[np.arange(len(actions)), actions] -= 1
        d *= advantages[:, None] / len(actions)
        p = self.params
        dh = (d @ p["w2"].T) * (h > 0)
        return {"w2": h.T @ d, "b2": d.sum(0), "w1": x.T @ dh, "b1": dh.sum(0)}

    def adam(self, grads, lr: float) -> None:
        self.t += 1
        for k, g in grads.items():
            m, v = self.moments[k]
            m *= 0.9
            m += 0.1 * g
            v *= 0.999
            v += 0.001 * g * g
            mhat = m / (1 - 0.9**self.t)
            vhat = v / (1 - 0.999**self.t)
            self.params[k] -= lr * mhat / (np.sqrt(vhat) + 1e-8)


def sample(probs: np.ndarray, rng: np.random.Generator) -> np.ndarray:
    return (probs.cumsum(axis=1) > rng.random((len(probs), 1))).argmax(axis=1)


def evaluate(choose, episodes: int, seed: int, max_pairs: int) -> float:
    """Mean score of the first `episodes` episodes finished, over envs seeded seed + i."""
    envs = TokopuyoVectorEnv(episodes, max_pairs=max_pairs)
    obs, info = envs.reset(seed=seed)
    scores = np.zeros(episodes)
    done = np.zeros(episodes, bool)
    while not done.all():
        actions = choose(obs, info["action_mask"])
        obs, reward, terminated, truncated, info = envs.step(actions)
        scores += np.where(done, 0, reward)
        done |= terminated | truncated
    envs.close()
    return float(scores.mean())


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--envs", type=int, default=256)
    parser.add_argument("--iterations", type=int, default=1000)
    parser.add_argument("--horizon", type=int, default=32, help="steps per game per iteration")
    parser.add_argument("--max-pairs", type=int, default=100, help="episode length limit")
    parser.add_argument("--hidden", type=int, default=64)
    parser.add_argument("--lr", type=float, default=3e-3)
    parser.add_argument("--gamma", type=float, default=0.95)
    parser.add_argument("--eval-episodes", type=int, default=256)
    parser.add_argument("--seed", type=int, default=0)
    args = parser.parse_args()

    rng = np.random.default_rng(args.seed)
    envs = TokopuyoVectorEnv(args.envs, max_pairs=args.max_pairs)
    obs, info = envs.reset(seed=args.seed)
    policy = Policy(features(obs).shape[1], args.hidden, 22, rng)
    start = time.perf_counter()
    finished: list[float] = []
    # A redrawn bar on a terminal; a log gets a plain line every 30 s.
    bar = Progress(args.iterations, out=sys.stdout, every=30.0)
    trained = 0
    try:
        trained = train(args, envs, policy, rng, bar, obs, info, start, finished)
    except KeyboardInterrupt as stop:
        trained = stop.args[0] if stop.args else 0
        bar.close()
        print(f"interrupted after {trained} of {args.iterations} iterations: evaluating the policy "
              "trained so far (Ctrl-C again to stop)")
    bar.close()
    envs.close()
    try:
        evaluate_both(args, policy, trained, start)
    except KeyboardInterrupt:
        recent = np.mean(finished[-200:]) if finished else 0.0
        print(f"\nstopped: {trained} iterations trained, {len(finished)} training episodes, "
              f"mean score of the last 200 {recent:.1f}; no evaluation")
        return 130
    return 130 if trained < args.iterations else 0


def train(args, envs, policy, rng, bar, obs, info, start, finished) -> int:
    """The training loop; returns the iterations done. Ctrl-C raises KeyboardInterrupt(done)."""
    running = np.zeros(args.envs)
    resetting = np.zeros(args.envs, bool)  # games whose next step only starts a new episode
    it = 0
    try:
        for it in range(1, args.iterations + 1):
            obs, info, running, resetting = iteration(args, envs, policy, rng, obs, info, running, resetting,
                                                      finished)
            recent = np.mean(finished[-200:]) if finished else 0.0
            bar.update(it, f"mean score of recent episodes {recent:8.1f}  {time.perf_counter() - start:5.0f} s")
    except KeyboardInterrupt:
        raise KeyboardInterrupt(it - 1) from None
    return it


def iteration(args, envs, policy, rng, obs, info, running, resetting, finished):
    """One iteration: `horizon` steps of every game, then one policy step."""
    xs, hs, ps, acts, rewards, alive, lives = [], [], [], [], [], [], []
    for _ in range(args.horizon):
        x = features(obs)
        mask = info["action_mask"]
        h, probs = policy.forward(x, mask)
        a = sample(probs, rng)
        live = ~resetting  # a step that only resets a finished game carries no decision
        obs, reward, terminated, truncated, info = envs.step(a)
        running += reward
        ended = terminated | truncated
        resetting = ended
        finished.extend(running[ended].tolist())
        running[ended] = 0
        xs.append(x); hs.append(h); ps.append(probs); acts.append(a)
        rewards.append(reward * live)
        alive.append(live & ~ended)
        lives.append(live)
    # Discounted returns within each episode, cut where an episode ended.
    returns = np.zeros((args.horizon, args.envs))
    g = np.zeros(args.envs)
    for t in reversed(range(args.horizon)):
        g = rewards[t] + args.gamma * g * alive[t]
        returns[t] = g
    adv = (returns - returns.mean(axis=1, keepdims=True)) / (returns.std() + 1e-8) * np.array(lives)
    grads = policy.grads(np.concatenate(xs), np.concatenate(hs), np.concatenate(ps),
                         np.concatenate(acts), adv.reshape(-1).astype(np.float32))
    policy.adam(grads, args.lr)
    return obs, info, running, resetting


def evaluate_both(args, policy, trained: int, start: float) -> None:
    eval_rng = np.random.default_rng(args.seed + 1)

    def random_agent(obs, mask):
        return np.argmax(eval_rng.random(mask.shape) * mask, axis=1)

    def trained_agent(obs, mask):
        return policy.forward(features(obs), mask)[1].argmax(axis=1)

    seed = 10_000 + args.seed
    random_score = evaluate(random_agent, args.eval_episodes, seed, args.max_pairs)
    trained_score = evaluate(trained_agent, args.eval_episodes, seed, args.max_pairs)
    print(f"after {trained} iterations, mean score per episode over {args.eval_episodes} episodes "
          f"of at most {args.max_pairs} pairs:")
    print(f"  random legal agent: {random_score:9.1f}")
    print(f"  trained policy:     {trained_score:9.1f}  ({trained_score / max(random_score, 1e-9):.1f}x)")
    print(f"total time {time.perf_counter() - start:.0f} s")


if __name__ == "__main__":
    sys.exit(main())
