"""Gymnasium environments of the one-player endless game.

Importing this module registers ``tavik/Tokopuyo-v0``. Observations:

- ``field``: int8 (colours + 1, 13, 6), the one-hot planes of `tavik_game.observe`
  (RED, BLUE, YELLOW, GREEN up to `colours`, then ojama; Python rows 1 to 13).
- ``pairs``: int8 (visible, 2, colours), the current pair first; per pair the one-hot
  colour of its child (element 0 of `tavik.Pair`), then of its axis.

Both are int8, the element type of their MultiBinary spaces. Actions index
`tavik.Hand.enumerate()` (22 hands); ``info["action_mask"]`` (int8) marks the legal ones.
The reward is the move's score, the all-clear bonus included; ``info["chain"]`` is int64.
The outputs of a step (names, element types, shapes) are declared once in the native
module; the spaces below are made from that declaration.
"""

from __future__ import annotations

import os
import sys
from typing import Any, Dict, List, Optional, Sequence, Tuple, Union

import gymnasium as gym
import tavik
import numpy as np
from gymnasium import spaces
from gymnasium.vector import VectorEnv
from numpy.typing import ArrayLike, NDArray

from . import _native
from .arrays import COLUMNS, to_numpy

_INT64 = np.dtype(np.int64)  # NumPy's own int64 arrays share this one dtype object

try:
    from gymnasium.vector import AutoresetMode

    _NEXT_STEP = AutoresetMode.NEXT_STEP
except ImportError:  # Gymnasium 1.0 names the mode by its string only
    _NEXT_STEP = "next_step"

# An observation: {"field": uint8 one-hot planes, "pairs": uint8 one-hot pairs}.
Observation = Dict[str, NDArray[np.int8]]

ENV_ID = "tavik/Tokopuyo-v0"
NUM_ACTIONS = len(tavik.Hand.enumerate())

# The colours of the HTML rendering (CSS named colours), by type number.
_RGB = np.array(
    [
        (255, 255, 255),  # EMPTY: white
        (128, 128, 128),  # OJAMA: gray
        (0, 0, 0),        # WALL: black
        (128, 128, 128),  # IRON: gray
        (255, 0, 0),      # RED
        (0, 0, 255),      # BLUE
        (255, 255, 0),    # YELLOW
        (0, 128, 0),      # GREEN
    ],
    np.uint8,
)
_LETTERS = ["_", "O", "W", "I", "R", "B", "Y", "G"]
_ANSI = ["__", "\x1b[1;47mO_\x1b[0m", "\x1b[1;40mW_\x1b[0m", "\x1b[1;40mI_\x1b[0m",
         "\x1b[1;41mR_\x1b[0m", "\x1b[1;44mB_\x1b[0m", "\x1b[1;43mY_\x1b[0m", "\x1b[1;42mG_\x1b[0m"]
_PLAIN = [letter + "_" for letter in _LETTERS]
_CELL = 24       # pixels per cell of the rgb_array image
_GRID_LINE = (224, 224, 224)
_FUZZY_ROWS = 2  # rows 0 and 1: drawn faint, as the HTML pages draw them (opacity 0.4
_FUZZY_OPACITY = 0.4  # over the grid's ground #9aa), so an empty fuzzy cell reads as such too
_FUZZY_GROUND = np.array([153, 170, 170], np.float64)
_CURRENT = (17, 17, 17)  # the frame around the current pair
_colour: Optional[bool] = None


def _terminal_colours() -> bool:
    """tavik's own decision (a terminal, CLICOLOR_FORCE, NO_COLOR, CLICOLOR), read from its
    rendering once, so a piped run prints no escape codes here either."""
    global _colour
    if _colour is None:
        _colour = "\x1b[" in tavik.Field().put(0, tavik.PuyoType.RED).get_pretty_string()
    return _colour


def _entropy() -> int:
    return int.from_bytes(os.urandom(8), "little")


def _check_max_pairs(max_pairs: Optional[int]) -> int:
    if max_pairs is None:
        return 0
    if not isinstance(max_pairs, int) or max_pairs < 1:
        raise ValueError(f"max_pairs must be a positive int or None, got {max_pairs!r}")
    return max_pairs


def _stepper(n: int, colours: int, visible: int, max_pairs: Optional[int], threads: int, autoreset: bool):
    """The native stepper; it checks its configuration before it allocates anything."""
    return _native._VectorGame(n, colours=colours, visible=visible, max_pairs=_check_max_pairs(max_pairs),
                               threads=threads, autoreset=autoreset, entropy=_entropy())


def _spaces(core, batched: bool) -> Tuple[spaces.Dict, spaces.Space]:
    """The observation and action spaces, from the step's declared outputs."""
    obs = {}
    actions = 0
    for name, dtype, role, shape in core.layout():
        if role == "observation":
            assert dtype == "int8"  # MultiBinary's element type
            obs[name] = spaces.MultiBinary(shape if batched else shape[1:])
        elif role == "mask":
            n, actions = shape
    if batched:
        return spaces.Dict(obs), spaces.MultiDiscrete(np.full(n, actions))
    return spaces.Dict(obs), spaces.Discrete(actions)


class _Closed:
    """Stands for the stepper of a closed environment."""

    def __getattr__(self, name: str):
        raise ValueError("the environment is closed")


def _ansi(game: _native.Game) -> str:
    cells = _ANSI if _terminal_colours() else _PLAIN
    types = to_numpy(game.field)
    lines = [f"turn {game.turn}  score {game.score}  max chain {game.max_chain}"]
    for y in range(types.shape[0]):
        lines.append("".join(cells[t] for t in types[y]))
    shown = []
    for pair in game.pairs:
        shown.append(cells[pair.child] + "/" + cells[pair.axis])
    lines.append("next: " + "  ".join(shown))
    return "\n".join(lines) + "\n"


def _letter_masks() -> Dict[int, NDArray[np.bool_]]:
    """A small pixel font: each cell type's letter as a (_CELL, _CELL) mask, for viewers who
    cannot tell the colours apart."""
    glyphs = {  # 5 x 7, one string a row
        1: ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],  # O
        4: ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],  # R
        5: ["11110", "10001", "10001", "11110", "10001", "10001", "11110"],  # B
        6: ["10001", "10001", "01010", "00100", "00100", "00100", "00100"],  # Y
        7: ["01110", "10001", "10000", "10111", "10001", "10001", "01110"],  # G
    }
    masks = {}
    for t, rows in glyphs.items():
        small = np.array([[c == "1" for c in row] for row in rows], np.bool_)
        big = np.repeat(np.repeat(small, 2, 0), 2, 1)  # 10 x 14 pixels
        mask = np.zeros((_CELL, _CELL), np.bool_)
        top, left = (_CELL - big.shape[0]) // 2, (_CELL - big.shape[1]) // 2
        mask[top: top + big.shape[0], left: left + big.shape[1]] = big
        masks[t] = mask
    return masks


_LETTER_MASKS: Optional[Dict[int, NDArray[np.bool_]]] = None


def _rgb(game: _native.Game, letters: bool = False) -> NDArray[np.uint8]:
    """The field (rows 0 to 13) on the left, the visible pairs stacked on the right, the
    current pair framed; rows 0 and 1 faint; with `letters`, each puyo's letter drawn in it."""
    global _LETTER_MASKS
    types = to_numpy(game.field)
    pairs = np.array([[p.child, p.axis] for p in game.pairs], np.uint8).reshape(-1, 2)
    # Cell grid: 6 field columns, one blank column, one pair column.
    grid = np.zeros((max(types.shape[0], 3 * len(pairs)), COLUMNS + 2), np.uint8)
    grid[: types.shape[0], :COLUMNS] = types
    for i, (child, axis) in enumerate(pairs):
        grid[3 * i, COLUMNS + 1] = child   # the child sits above its axis, as it spawns
        grid[3 * i + 1, COLUMNS + 1] = axis
    image = _RGB[np.repeat(np.repeat(grid, _CELL, 0), _CELL, 1)]
    if letters:
        if _LETTER_MASKS is None:
            _LETTER_MASKS = _letter_masks()
        for (y, x), t in np.ndenumerate(grid):
            mask = _LETTER_MASKS.get(int(t))
            if mask is not None:
                cell = image[y * _CELL: (y + 1) * _CELL, x * _CELL: (x + 1) * _CELL]
                cell[mask] = (0, 0, 0) if t == 6 else (255, 255, 255)  # dark on yellow
    # The fuzzy rows above the visible field, faded onto the ground.
    fuzzy = image[: _FUZZY_ROWS * _CELL, : COLUMNS * _CELL].astype(np.float64)
    image[: _FUZZY_ROWS * _CELL, : COLUMNS * _CELL] = (
        fuzzy * _FUZZY_OPACITY + _FUZZY_GROUND * (1 - _FUZZY_OPACITY)).round().astype(np.uint8)
    image[::_CELL, : COLUMNS * _CELL] = _GRID_LINE
    image[:, : COLUMNS * _CELL : _CELL] = _GRID_LINE
    image[:, COLUMNS * _CELL : (COLUMNS + 1) * _CELL] = 255
    if len(pairs):
        # A 2-pixel frame around the current pair, inside its two cells.
        left, right = (COLUMNS + 1) * _CELL, (COLUMNS + 2) * _CELL
        image[0:2, left:right] = _CURRENT
        image[2 * _CELL - 2: 2 * _CELL, left:right] = _CURRENT
        image[0: 2 * _CELL, left: left + 2] = _CURRENT
        image[0: 2 * _CELL, right - 2: right] = _CURRENT
    return np.ascontiguousarray(image)


class TokopuyoEnv(gym.Env[Observation, int]):
    """One player, endless pairs: score as much as possible before the field tops out."""

    metadata = {"render_modes": ["ansi", "rgb_array", "human"], "render_fps": 4}
    # Set True to draw each puyo's letter into the rgb_array image (colour-blind viewers).
    render_letters = False

    def __init__(
        self,
        colours: int = 4,
        visible: int = 3,
        max_pairs: Optional[int] = None,
        render_mode: Optional[str] = None,
    ) -> None:
        if render_mode is not None and render_mode not in self.metadata["render_modes"]:
            raise ValueError(f"render_mode must be one of {self.metadata['render_modes']} or None, got {render_mode!r}")
        self._core = _stepper(1, colours, visible, max_pairs, 1, False)
        self.observation_space, self.action_space = _spaces(self._core, batched=False)
        self.render_mode = render_mode
        self.colours, self.visible = colours, visible
        self.max_pairs = max_pairs
        # Views of row 0 of the stepper's own arrays, made once: step copies from them.
        own = self._core.outputs()
        self._field = own["field"][0]
        self._pairs = own["pairs"][0]
        self._mask = own["action_mask"][0]

    @property
    def game(self) -> _native.Game:
        """A copy of the current game (a `tavik_game.Game`)."""
        return self._core.game(0)

    def reset(
        self, *, seed: Optional[int] = None, options: Optional[Dict[str, Any]] = None
    ) -> Tuple[Observation, Dict[str, Any]]:
        super().reset(seed=seed)
        self._core.reset(None if seed is None else [seed], False)
        obs = {"field": self._field.copy(), "pairs": self._pairs.copy()}
        return obs, {"action_mask": self._mask.copy()}

    def step(self, action: int) -> Tuple[Observation, float, bool, bool, Dict[str, Any]]:
        reward, terminated, truncated, illegal, chain = self._core.step_one(action)
        obs = {"field": self._field.copy(), "pairs": self._pairs.copy()}
        info = {"action_mask": self._mask.copy(), "illegal": illegal, "chain": chain}
        if self.render_mode == "human":
            self.render()
        return obs, reward, terminated, truncated, info

    def action_masks(self) -> NDArray[np.bool_]:
        """The legal-hand mask as bool (the name maskable-policy libraries call)."""
        return self._mask.astype(bool)

    def render(self) -> Union[str, NDArray[np.uint8], None]:  # type: ignore[override]
        if self.render_mode is None:
            gym.logger.warn("render() called without a render_mode")
            return None
        game = self.game
        if self.render_mode == "rgb_array":
            return _rgb(game, self.render_letters)
        text = _ansi(game)
        if self.render_mode == "ansi":
            return text
        sys.stdout.write(text)
        return None


class TokopuyoVectorEnv(VectorEnv[Observation, NDArray[np.int64], NDArray[Any]]):
    """`num_envs` games stepped in one native call, spread over `threads` worker threads.

    Observations, rewards and flags are written into arrays the environment owns; with
    `copy=True` (the default) step and reset return copies, so they may be kept. The arrays of
    a step the caller has dropped entirely are handed out again by a later step.
    Sub-environment i is seeded with seed + i. Gymnasium's next-step autoreset: the step after
    an episode ends resets that game, ignores its action and reports reward 0.
    """

    metadata = {"render_modes": ["ansi", "rgb_array"], "autoreset_mode": _NEXT_STEP}
    render_letters = False  # as TokopuyoEnv's

    def __init__(
        self,
        num_envs: int,
        threads: Optional[int] = None,
        colours: int = 4,
        visible: int = 3,
        max_pairs: Optional[int] = None,
        render_mode: Optional[str] = None,
        copy: bool = True,
    ) -> None:
        if not isinstance(num_envs, int) or num_envs < 1:
            raise ValueError(f"num_envs must be a positive int, got {num_envs!r}")
        if threads is None:
            # One unless asked: on a machine busy with other jobs, every core measured 0.67x to
            # 0.82x the speed of one thread; more pay only when cores are free.
            threads = 1
        if not isinstance(threads, int) or threads < 1:
            raise ValueError(f"threads must be a positive int or None, got {threads!r}")
        if render_mode is not None and render_mode not in self.metadata["render_modes"]:
            raise ValueError(f"render_mode must be one of {self.metadata['render_modes']} or None, got {render_mode!r}")
        self.num_envs = num_envs
        self.threads = min(threads, num_envs)
        self.render_mode = render_mode
        self.colours, self.visible, self.max_pairs = colours, visible, max_pairs
        self.copy = copy
        # First: it refuses a huge num_envs before anything of that size is made.
        self._core = _stepper(num_envs, colours, visible, max_pairs, self.threads, True)
        self.single_observation_space, self.single_action_space = _spaces(self._core, batched=False)
        self.observation_space, self.action_space = _spaces(self._core, batched=True)

    def game(self, i: int) -> _native.Game:
        """A copy of sub-environment i's game (a `tavik_game.Game`)."""
        return self._core.game(i)


    def reset(
        self, *, seed: Union[int, Sequence[int], None] = None, options: Optional[Dict[str, Any]] = None
    ) -> Tuple[Observation, Dict[str, Any]]:
        if seed is None:
            seeds = None
        elif isinstance(seed, int):
            seeds = [seed + i for i in range(self.num_envs)]
        else:
            if not hasattr(seed, "__len__"):  # an endless iterable would be read until memory ran out
                raise TypeError(f"seed must be an int or a sequence of ints, not {type(seed).__name__}")
            seeds = list(seed)
            if len(seeds) != self.num_envs:
                raise ValueError(f"reset() got {len(seeds)} seeds for {self.num_envs} environments")
        result = self._core.reset(seeds, self.copy)  # first: it refuses bad seeds before anything changes
        if seed is not None:
            self._np_random, self._np_random_seed = gym.utils.seeding.np_random(
                seed if isinstance(seed, int) else None)
        return result

    def step(  # type: ignore[override]
        self, actions: ArrayLike
    ) -> Tuple[Observation, NDArray[np.float64], NDArray[np.bool_], NDArray[np.bool_], Dict[str, Any]]:
        # The native step checks the actions' shape and range; an array of other integers is
        # converted here first.
        a = actions
        if type(a) is not np.ndarray or a.dtype is not _INT64 or not a.flags.c_contiguous:
            a = np.asarray(actions)
            if a.dtype.kind not in "iu":
                raise TypeError(f"step() needs integer actions, got dtype {a.dtype}")
            a = np.ascontiguousarray(a, np.int64)
        # The native step returns Gymnasium's tuple; fresh arrays come from the step itself,
        # written by its worker threads.
        return self._core.step(a, self.copy)

    def render(self) -> Union[List[str], List[NDArray[np.uint8]], None]:  # type: ignore[override]
        if self.render_mode is None:
            gym.logger.warn("render() called without a render_mode")
            return None
        games = [self._core.game(i) for i in range(self.num_envs)]
        if self.render_mode == "ansi":
            return [_ansi(g) for g in games]
        return [_rgb(g, self.render_letters) for g in games]

    def close_extras(self, **kwargs: Any) -> None:
        self._core = _Closed()


if ENV_ID not in gym.registry:
    gym.register(id=ENV_ID, entry_point=TokopuyoEnv, vector_entry_point=TokopuyoVectorEnv)

from ._versus import VERSUS_ENV_ID, VersusEnv, VersusOpponentEnv  # noqa: E402  (the two-player match)
from .versus_vector import VersusVectorEnv  # noqa: E402  (the two-player batch, native like the one above)

if VERSUS_ENV_ID not in gym.registry:
    gym.register(id=VERSUS_ENV_ID, entry_point=VersusOpponentEnv)
