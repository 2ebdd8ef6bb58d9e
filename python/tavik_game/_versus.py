"""Environments of the two-player match: a PettingZoo AEC game and a Gymnasium one against a bot.

Both observe a side the same way (a Dict):

- ``field``, ``opponent_field``: uint8 (colours + 1, 13, 6), `tavik_game.observe`'s one-hot planes.
- ``pairs``: uint8 (visible, 2, colours), this side's visible pairs as in ``tavik/Tokopuyo-v0``.
- ``ojama``: int64 (2, 2), rows this side then the opponent, columns pending then fixed.
- ``frames``: int64 (2,), frames until this side and the opponent decide (0 when due; for a
  side whose turn runs, the frame it would decide at if no more ojama became fixed on it).
- ``target``: int64 (1,), the target points at the match clock.

Actions index `tavik.Hand.enumerate()`. The reward is +1 for a win, -1 for a loss, 0 otherwise
(a draw, or a match cut short by ``max_frames``). A hand the mask refuses loses the match.
"""

from __future__ import annotations

import random
from typing import Any, Callable, Dict, List, Optional, Tuple

import numpy as np
from gymnasium import spaces

import tavik

from . import _native
from .arrays import COLUMNS, PAIR_SLOTS, ROWS

NUM_ACTIONS = 22
AGENTS = ("player_0", "player_1")
VERSUS_ENV_ID = "tavik/Versus-v0"
HANDS = tavik.Hand.enumerate()
_MAX_COUNT = 2**31 - 1

Player = Callable[["_native.Match", int], tavik.Hand]


# ---------------------------------------------------------------- built-in players

def make_player(name: str, seed: int = 0) -> Player:
    """A built-in player by name: ``random``, ``greedy`` or ``beam:W`` (tavik_game's one-player
    bots, which see only their own side through ``Match.game``); its choices come from `seed`."""
    from ._cli import make_bot, parse_bot

    settings = parse_bot(name)
    if settings.kind == "random":
        rng = random.Random(seed)
        return lambda m, p: rng.choice(m.legal_hands(p))
    choose = make_bot(settings, seed)
    return lambda m, p: choose(m.game(p))


# ---------------------------------------------------------------- observations

def observation_space(colours: int, visible: int) -> spaces.Dict:
    if colours not in (3, 4):
        raise ValueError(f"colours must be 3 or 4, got {colours!r}")
    if not isinstance(visible, int) or not 1 <= visible <= 16:
        raise ValueError(f"visible must be an int from 1 to 16, got {visible!r}")
    # Boxes of uint8 rather than MultiBinary (int8): PettingZoo's checker wants the arrays' dtype.
    plane = spaces.Box(0, 1, (colours + 1, ROWS, COLUMNS), np.uint8)
    return spaces.Dict({
        "field": plane,
        "opponent_field": plane,
        "pairs": spaces.Box(0, 1, (visible, PAIR_SLOTS, colours), np.uint8),
        "ojama": spaces.Box(0, _MAX_COUNT, (2, 2), np.int64),
        "frames": spaces.Box(0, _MAX_COUNT, (2,), np.int64),
        "target": spaces.Box(1, _MAX_COUNT, (1,), np.int64),
    })


def observe_side(match: "_native.Match", p: int) -> Dict[str, np.ndarray]:
    """What side p sees of the match now."""
    me, them = match.players[p], match.players[1 - p]
    fields = _native.observe([me.field, them.field], match.colours)
    pairs = np.zeros((match.visible, PAIR_SLOTS, match.colours), np.uint8)
    for k, pair in enumerate(me.pairs):
        for slot, t in enumerate((pair.child, pair.axis)):
            if 4 <= t < 4 + match.colours:
                pairs[k, slot, t - 4] = 1
    clock = match.frame
    return {
        "field": fields[0],
        "opponent_field": fields[1],
        "pairs": pairs,
        "ojama": np.array([[me.pending_ojama, me.fixed_ojama], [them.pending_ojama, them.fixed_ojama]],
                          np.int64).clip(0, _MAX_COUNT),
        "frames": np.array([max(0, me.next_frame - clock), max(0, them.next_frame - clock)], np.int64),
        "target": np.array([match.rules.target_at(clock)], np.int64),
    }


def mask_of(match: "_native.Match", p: int) -> np.ndarray:
    bits = match.legal_mask(p)
    return np.array([(bits >> i) & 1 for i in range(NUM_ACTIONS)], np.int8)


def _check_action(action: Any) -> int:
    if isinstance(action, (bool, np.bool_)) or not isinstance(action, (int, np.integer)):
        raise TypeError(f"an action is an int from 0 to 21, got {type(action).__name__}")
    if not 0 <= int(action) < NUM_ACTIONS:
        raise ValueError(f"action {int(action)} is outside 0..21")
    return int(action)


def _new_match(seed: int, colours: int, visible: int, rules: Optional["_native.VersusRules"]) -> "_native.Match":
    return _native.Match(seed=seed, colours=colours, visible=visible, rules=rules)


def _ansi(match: "_native.Match") -> str:
    a, b = (p.field.get_pretty_string().splitlines() for p in match.players)
    rows = [f"{x:<20}{y}" for x, y in zip(a, b)]
    ojama = "   ".join(f"P{p + 1}: score {s.score}, ojama {s.pending_ojama} pending {s.fixed_ojama} fixed"
                       for p, s in enumerate(match.players))
    return f"frame {match.frame}  target {match.rules.target_at(match.frame)}\n" + "\n".join(rows) + "\n" + ojama + "\n"


# ---------------------------------------------------------------- PettingZoo

def _aec_base() -> Any:
    try:
        from pettingzoo import AECEnv  # type: ignore[import-untyped, import-not-found, unused-ignore]
    except ImportError:  # pettingzoo is in the rl extra; the Gymnasium env works without it
        return object
    return AECEnv


class VersusEnv(_aec_base()):  # type: ignore[misc]
    """The two-player match as a PettingZoo AEC environment.

    The agent selected is the one due next; when both are due at one frame, player_0 chooses,
    then player_1, and both hands are applied together. Observations are dicts
    ``{"observation": ..., "action_mask": int8 (22,)}`` (PettingZoo's convention for legal
    actions); ``rules`` is a `tavik_game.VersusRules`, ``max_frames`` truncates the match."""

    metadata: Dict[str, Any] = {"render_modes": ["ansi"], "name": "tavik_versus_v0", "is_parallelizable": False}

    def __init__(self, colours: int = 4, visible: int = 3, rules: Optional["_native.VersusRules"] = None,
                 max_frames: Optional[int] = None, render_mode: Optional[str] = None) -> None:
        if not hasattr(self, "_was_dead_step"):
            raise ImportError("VersusEnv needs pettingzoo: pip install 'tavik[rl]'")
        super().__init__()
        inner = observation_space(colours, visible)
        if max_frames is not None and (not isinstance(max_frames, int) or max_frames < 1):
            raise ValueError(f"max_frames must be a positive int or None, got {max_frames!r}")
        if render_mode is not None and render_mode not in self.metadata["render_modes"]:
            raise ValueError(f"render_mode must be one of {self.metadata['render_modes']} or None, got {render_mode!r}")
        self.colours, self.visible, self.rules, self.max_frames = colours, visible, rules, max_frames
        self.render_mode = render_mode
        self.possible_agents = list(AGENTS)
        self.agents: List[str] = []
        self._observation_space = spaces.Dict(
            {"observation": inner, "action_mask": spaces.Box(0, 1, (NUM_ACTIONS,), np.int8)})
        self._action_space = spaces.Discrete(NUM_ACTIONS)
        self._rng = random.Random()
        self.match: Optional["_native.Match"] = None

    def observation_space(self, agent: str) -> spaces.Dict:
        return self._observation_space

    def action_space(self, agent: str) -> spaces.Discrete:
        return self._action_space

    def reset(self, seed: Optional[int] = None, options: Optional[Dict[str, Any]] = None) -> None:
        if seed is not None:
            self._rng.seed(seed)
        self.match = _new_match(self._rng.getrandbits(64), self.colours, self.visible, self.rules)
        self.agents = list(AGENTS)
        self.rewards = {a: 0.0 for a in self.agents}
        self._cumulative_rewards = {a: 0.0 for a in self.agents}
        self.terminations = {a: False for a in self.agents}
        self.truncations = {a: False for a in self.agents}
        self.infos: Dict[str, Dict[str, Any]] = {a: {} for a in self.agents}
        self._chosen: Dict[int, tavik.Hand] = {}
        self.agent_selection = AGENTS[self.match.due()[0]]

    def observe(self, agent: str) -> Dict[str, Any]:
        assert self.match is not None, "reset() first"
        p = AGENTS.index(agent)
        mask = mask_of(self.match, p) if p in self.match.due() and p not in self._chosen else np.zeros(NUM_ACTIONS, np.int8)
        return {"observation": observe_side(self.match, p), "action_mask": mask}

    def step(self, action: Any) -> None:
        agent = self.agent_selection
        if self.terminations[agent] or self.truncations[agent]:
            self._was_dead_step(action)
            return
        assert self.match is not None
        p = AGENTS.index(agent)
        a = _check_action(action)
        self._cumulative_rewards[agent] = 0.0
        self.rewards = {x: 0.0 for x in self.agents}
        if not (self.match.legal_mask(p) >> a) & 1:
            self.infos[agent] = {"illegal": True}
            self._finish(1 - p)
        else:
            self._chosen[p] = HANDS[a]
            if len(self._chosen) == len(self.match.due()):
                hands, self._chosen = self._chosen, {}
                self.match.play(hands)
                if self.match.over:
                    self._finish(self.match.winner)
                elif self.max_frames is not None and self.match.frame >= self.max_frames:
                    self.truncations = {x: True for x in self.agents}
        if not (self.terminations[agent] or self.truncations[agent]):
            waiting = [q for q in self.match.due() if q not in self._chosen]
            self.agent_selection = AGENTS[waiting[0]]
        self._accumulate_rewards()

    def _finish(self, winner: Optional[int]) -> None:
        for q, name in enumerate(AGENTS):
            self.rewards[name] = 0.0 if winner is None else (1.0 if q == winner else -1.0)
        self.terminations = {x: True for x in self.agents}

    def render(self) -> Optional[str]:
        if self.render_mode is None or self.match is None:
            return None
        return _ansi(self.match)

    def close(self) -> None:
        pass


# ---------------------------------------------------------------- Gymnasium

def _gym_env_base() -> Any:
    import gymnasium

    return gymnasium.Env


class VersusOpponentEnv(_gym_env_base()):  # type: ignore[misc]
    """One side of a match (player 0) against a built-in opponent, as a Gymnasium environment.

    ``opponent``: "random", "greedy" or "beam:W". Each step plays the agent's hand and lets the
    opponent play until the agent is due again (at a frame where both are due, both hands are
    applied together). ``info["action_mask"]`` (int8) marks the legal hands."""

    metadata: Dict[str, Any] = {"render_modes": ["ansi"], "render_fps": 4}

    def __init__(self, opponent: str = "random", colours: int = 4, visible: int = 3,
                 rules: Optional["_native.VersusRules"] = None, max_frames: Optional[int] = None,
                 render_mode: Optional[str] = None) -> None:
        self.observation_space = observation_space(colours, visible)
        self.action_space = spaces.Discrete(NUM_ACTIONS)
        if max_frames is not None and (not isinstance(max_frames, int) or max_frames < 1):
            raise ValueError(f"max_frames must be a positive int or None, got {max_frames!r}")
        if render_mode is not None and render_mode not in self.metadata["render_modes"]:
            raise ValueError(f"render_mode must be one of {self.metadata['render_modes']} or None, got {render_mode!r}")
        make_player(opponent)  # a bad name fails here, not at the first reset
        from ._cli import parse_bot

        settings = parse_bot(opponent)
        if settings.kind == "beam" and settings.depth > visible:
            raise ValueError(f"opponent {opponent!r} searches {settings.depth} pairs but the match shows {visible}")
        self.opponent = opponent
        self.colours, self.visible, self.rules, self.max_frames = colours, visible, rules, max_frames
        self.render_mode = render_mode
        self.match: Optional["_native.Match"] = None
        self._opponent: Optional[Player] = None
        self._done = True

    def reset(self, *, seed: Optional[int] = None, options: Optional[Dict[str, Any]] = None) -> Tuple[Dict[str, np.ndarray], Dict[str, Any]]:
        super().reset(seed=seed)
        match_seed, opponent_seed = (int(x) for x in self.np_random.integers(0, 2**63, 2))
        self.match = _new_match(match_seed, self.colours, self.visible, self.rules)
        self._opponent = make_player(self.opponent, opponent_seed)
        self._done = False
        self._advance(None)
        return observe_side(self.match, 0), {"action_mask": mask_of(self.match, 0)}

    def _advance(self, hand: Optional[tavik.Hand]) -> None:
        """Plays `hand` (when given), then the opponent alone until player 0 is due or the end."""
        m = self.match
        assert m is not None and self._opponent is not None
        while not m.over:
            due = m.due()
            if 0 in due and hand is None:
                return
            hands: Dict[int, tavik.Hand] = {}
            if 0 in due and hand is not None:
                hands[0], hand = hand, None
            if 1 in due:
                hands[1] = self._opponent(m, 1)
            m.play(hands)
            if self.max_frames is not None and m.frame >= self.max_frames:
                return

    def step(self, action: Any) -> Tuple[Dict[str, np.ndarray], float, bool, bool, Dict[str, Any]]:
        m = self.match
        if m is None:
            raise ValueError("reset() first")
        if self._done:
            raise ValueError("the episode is over: reset() first")
        a = _check_action(action)
        if not (m.legal_mask(0) >> a) & 1:
            self._done = True
            obs = observe_side(m, 0)
            return obs, -1.0, True, False, {"action_mask": mask_of(m, 0), "illegal": True, "frame": m.frame}
        self._advance(HANDS[a])
        terminated = m.over
        reward = 0.0 if not terminated or m.winner is None else (1.0 if m.winner == 0 else -1.0)
        truncated = not terminated and self.max_frames is not None and m.frame >= self.max_frames
        self._done = terminated or truncated
        info = {"action_mask": mask_of(m, 0), "illegal": False, "frame": m.frame}
        return observe_side(m, 0), reward, terminated, truncated, info

    def render(self) -> Optional[str]:
        if self.render_mode is None or self.match is None:
            return None
        return _ansi(self.match)
