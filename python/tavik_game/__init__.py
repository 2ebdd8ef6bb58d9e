"""tavik_game: what users need around the tavik field (game rules, environments, datasets).

The rules, the game and the garbage functions are native (``tavik_game._native``)
and work on ordinary ``tavik.Field``, ``tavik.Pair`` and ``tavik.Hand`` objects.
Importing this package imports ``tavik`` first, which checks the processor.
"""

import tavik as _tavik  # noqa: F401  (imported first: its import checks the processor)

from ._native import (
    BeamBot,
    Event,
    Game,
    Match,
    Move,
    PairSequence,
    PanicException,
    PyBorrowError,
    PyBorrowMutError,
    Player,
    VersusRules,
    best_find,
    drop_ojama,
    expand,
    field_key,
    is_dead,
    legal_hands,
    legal_mask,
    ojama_from_score,
    placement_frames,
    settle_frames,
)
from .arrays import from_numpy, observe, to_numpy
from .bot import BotWeights, Evaluation, evaluate

__all__ = [
    "BeamBot",
    "BotWeights",
    "Evaluation",
    "Event",
    "Game",
    "Match",
    "Move",
    "PairSequence",
    "PanicException",
    "PyBorrowError",
    "PyBorrowMutError",
    "Player",
    "VersusRules",
    "best_find",
    "drop_ojama",
    "evaluate",
    "expand",
    "field_key",
    "from_numpy",
    "is_dead",
    "legal_hands",
    "legal_mask",
    "observe",
    "ojama_from_score",
    "placement_frames",
    "settle_frames",
    "to_numpy",
]
