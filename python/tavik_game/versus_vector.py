"""VersusVectorEnv: many two-player matches stepped in one native call (re-exported by envs).

Each match is a `tavik_game.Match` with its rules. The learner plays player 0 against a
native opponent (``"random"``, ``"greedy"`` or ``"beam:W"``, BeamBot of width W playing its
side as a one-player game), or both sides (``"self"``). Observations, from a player's side:

the dict of tavik/Versus-v0 (`tavik_game.envs.VersusOpponentEnv`), one per match:

- ``field``, ``opponent_field``: uint8 (colours + 1, 13, 6): one-hot planes (`tavik_game.observe`).
- ``pairs``: uint8 (visible, 2, colours): its own next pairs, current first; child, then axis.
- ``ojama``: int64 (2, 2): rows this side then the opponent, columns pending then fixed.
- ``frames``: int64 (2,): frames until it decides (0 when due), until the opponent does.
- ``target``: int64 (1,): the target points now (margin time lowers them).

With ``"self"`` every array has a seat axis after the match axis (player 0, then player 1),
actions have shape (n, 2), and ``info["due"]`` (bool (n, 2)) marks the players who decide:
the others' actions are ignored. The reward is +1 for a win, -1 for a loss or an illegal hand
(which ends the match), 0 otherwise. ``info["action_mask"]`` (int8) marks the legal hands.
"""

from __future__ import annotations

import os
from typing import Any, Dict, Optional, Tuple

import numpy as np
from gymnasium import spaces
from gymnasium.vector import VectorEnv

from . import _native
from .arrays import COLUMNS, PAIR_SLOTS, ROWS

try:
    from gymnasium.vector import AutoresetMode

    _NEXT_STEP = AutoresetMode.NEXT_STEP
except ImportError:  # Gymnasium 1.0 names the mode by its string only
    _NEXT_STEP = "next_step"

NUM_ACTIONS = 22
_INT32_MAX = 2**31 - 1


def _opponent(name: str) -> Tuple[str, int]:
    if not isinstance(name, str):
        raise TypeError(f"opponent must be a str, got {type(name).__name__}")
    if name in ("self", "random", "greedy"):
        return name, 1
    if name.startswith("beam:"):
        width = name[5:]
        if width.isdigit() and 1 <= int(width) <= 100000:
            return "beam", int(width)
    raise ValueError(f"opponent must be 'self', 'random', 'greedy' or 'beam:W' (W from 1 to 100000), got {name!r}")


def _view_space(colours: int, visible: int, lead: Tuple[int, ...]) -> spaces.Dict:
    """The observation of tavik/Versus-v0 and VersusEnv, with `lead` axes in front."""
    plane = spaces.Box(0, 1, lead + (colours + 1, ROWS, COLUMNS), np.uint8)
    return spaces.Dict(
        {
            "field": plane,
            "opponent_field": plane,
            "pairs": spaces.Box(0, 1, lead + (visible, PAIR_SLOTS, colours), np.uint8),
            "ojama": spaces.Box(0, _INT32_MAX, lead + (2, 2), np.int64),
            "frames": spaces.Box(0, _INT32_MAX, lead + (2,), np.int64),
            "target": spaces.Box(1, _INT32_MAX, lead + (1,), np.int64),
        }
    )


class VersusVectorEnv(VectorEnv):
    """`num_matches` matches stepped in one native call over `threads` worker threads, the
    interpreter lock released while they play.

    Match i is seeded with seed + i at reset(seed=...). Gymnasium's next-step autoreset: the
    step after a match ends starts the next one, ignores its actions and reports reward 0.
    `max_frames` truncates a match whose clock reaches it. The arrays returned are copies.
    """

    metadata = {"autoreset_mode": _NEXT_STEP}

    def __init__(
        self,
        num_matches: int,
        threads: Optional[int] = None,
        opponent: str = "random",
        colours: int = 4,
        visible: int = 3,
        rules: Optional[_native.VersusRules] = None,
        max_frames: Optional[int] = None,
    ) -> None:
        if not isinstance(num_matches, int) or num_matches < 1:
            raise ValueError(f"num_matches must be a positive int, got {num_matches!r}")
        if threads is None:
            threads = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count() or 1
        if not isinstance(threads, int) or threads < 1:
            raise ValueError(f"threads must be a positive int or None, got {threads!r}")
        if colours not in (3, 4):
            raise ValueError(f"colours must be 3 or 4, got {colours!r}")
        if not isinstance(visible, int) or not 1 <= visible <= 16:
            raise ValueError(f"visible must be an int from 1 to 16, got {visible!r}")
        if max_frames is not None and (not isinstance(max_frames, int) or max_frames < 1):
            raise ValueError(f"max_frames must be a positive int or None, got {max_frames!r}")
        kind, width = _opponent(opponent)
        self.opponent = opponent
        self.num_envs = num_matches
        self.threads = min(threads, num_matches)
        self.seats = 2 if kind == "self" else 1
        self.rules = rules if rules is not None else _native.VersusRules()
        n, seat = num_matches, (2,) if self.seats == 2 else ()
        self.single_observation_space = _view_space(colours, visible, seat)
        self.observation_space = _view_space(colours, visible, (n,) + seat)
        self.single_action_space = spaces.MultiDiscrete(np.full(seat, NUM_ACTIONS)) if seat else spaces.Discrete(
            NUM_ACTIONS)
        self.action_space = spaces.MultiDiscrete(np.full((n,) + seat, NUM_ACTIONS))
        self._shape = (n, self.seats)
        s = self.seats
        self._arrays = {
            "field": np.zeros((n, s, 2, colours + 1, ROWS, COLUMNS), np.uint8),
            "pairs": np.zeros((n, s, visible, PAIR_SLOTS, colours), np.uint8),
            "mask": np.zeros((n, s, NUM_ACTIONS), np.int8),
            "ojama": np.zeros((n, s, 4), np.int32),
            "frames": np.zeros((n, s, 2), np.int32),
            "target": np.zeros(n, np.int32),
            "due": np.zeros((n, s), np.bool_),
            "reward": np.zeros((n, s), np.float64),
            "terminated": np.zeros(n, np.bool_),
            "truncated": np.zeros(n, np.bool_),
            "illegal": np.zeros((n, s), np.bool_),
        }
        entropy = np.frombuffer(os.urandom(8 * n), np.uint64).tolist()
        self._core = _native._VersusVector(
            n, colours, visible, self.rules, kind, width, max_frames or 0, self.threads, True, entropy,
            *self._arrays.values(),
        )

    def match(self, i: int) -> _native.Match:
        """A copy of match i (without its event log: it cannot be pickled)."""
        return self._core.match(i)

    def decisions(self) -> int:
        """Hands played so far by both sides of every match, the native opponent's included."""
        return self._core.decisions()

    def _seated(self, a: np.ndarray) -> np.ndarray:
        return a.copy() if self.seats == 2 else a[:, 0].copy()

    def _observation(self) -> Tuple[Dict[str, np.ndarray], Dict[str, Any]]:
        a, n, s = self._arrays, self.num_envs, self.seats
        obs = {
            "field": self._seated(a["field"][:, :, 0]),
            "opponent_field": self._seated(a["field"][:, :, 1]),
            "pairs": self._seated(a["pairs"]),
            "ojama": self._seated(a["ojama"].reshape(n, s, 2, 2).astype(np.int64)),
            "frames": self._seated(a["frames"].astype(np.int64)),
            "target": self._seated(np.repeat(a["target"].astype(np.int64).reshape(n, 1, 1), s, axis=1)),
        }
        info = {"action_mask": self._seated(a["mask"]), "illegal": self._seated(a["illegal"])}
        if s == 2:
            info["due"] = a["due"].copy()
        return obs, info

    def reset(self, *, seed=None, options: Optional[Dict[str, Any]] = None):
        if seed is None:
            seeds = None
        elif isinstance(seed, int):
            seeds = [seed + i for i in range(self.num_envs)]
        else:
            seeds = list(seed)
        self._core.reset(seeds)
        return self._observation()

    def step(self, actions):
        a = np.asarray(actions)
        if a.dtype.kind not in "iu":
            raise TypeError(f"step() needs integer actions, got dtype {a.dtype}")
        if a.shape != self._shape and not (self.seats == 1 and a.shape == self._shape[:1]):
            raise ValueError(f"step() needs actions of shape {self._shape if self.seats == 2 else self._shape[:1]}, "
                             f"got {a.shape}")
        self._core.step(np.ascontiguousarray(a.reshape(self._shape), dtype=np.int64))
        obs, info = self._observation()
        b = self._arrays
        return obs, self._seated(b["reward"]), b["terminated"].copy(), b["truncated"].copy(), info

    def close_extras(self, **kwargs: Any) -> None:
        self._core = None
