"""The beam bot's evaluation weights and a way to look at one field's evaluation.

A field's value is the weighted sum of its features, rounded; BeamBot(..., weights=w) searches
with w. BotWeights() holds the tuned weights, BotWeights.classic() the plain search's own.
"""

from __future__ import annotations

import dataclasses
from collections.abc import Iterator, Sequence
from typing import Optional, overload

import tavik

from . import _native

FEATURES = ("potential", "chain", "unreachable", "links", "bump", "valley", "ridge", "danger", "puyos", "top")


@dataclasses.dataclass(frozen=True)
class BotWeights(Sequence[float]):
    """One weight per feature of a settled field (see evaluate()); a sequence of 10 floats.

    potential    score of the best chain one extension (1 to 3 puyos of one colour into one
                 column a pair can reach) fires
    chain        links of that chain
    unreachable  columns a pair cannot reach
    links        pairs of touching same-colour puyos
    bump         rows of height step between neighbouring columns
    valley       rows a column sits below both neighbours, beyond two
    ridge        rows a column stands above both neighbours, beyond two
    danger       sum over columns 1 to 3 of (height - 9)^2 where the height is above 9
    puyos        puyos on the field
    top          height of the tallest column
    """

    potential: float = 0.0
    chain: float = 0.0
    unreachable: float = 0.0
    links: float = 0.0
    bump: float = 0.0
    valley: float = 0.0
    ridge: float = 0.0
    danger: float = 0.0
    puyos: float = 0.0
    top: float = 0.0

    def __init__(self, **weights: float) -> None:
        """The tuned weights, with the named ones replaced; TypeError for an unknown name."""
        base = dict(zip(FEATURES, _native._tuned_weights()))
        unknown = set(weights) - set(FEATURES)
        if unknown:
            raise TypeError(f"BotWeights(): unknown weight(s) {', '.join(sorted(unknown))}; known: {', '.join(FEATURES)}")
        base.update(weights)
        for name in FEATURES:
            object.__setattr__(self, name, float(base[name]))

    @classmethod
    def classic(cls) -> BotWeights:
        """The plain search's weights: BeamBot(width, depth, threads) without lookahead uses them."""
        return cls.from_sequence(_native.BeamBot(1, 1).weights)

    @classmethod
    def from_sequence(cls, values: Sequence[float]) -> BotWeights:
        """Weights in FEATURES order (BeamBot.weights gives them so)."""
        if len(values) != len(FEATURES):
            raise ValueError(f"BotWeights.from_sequence(): expected {len(FEATURES)} values, got {len(values)}")
        return cls(**dict(zip(FEATURES, values)))

    def as_dict(self) -> dict[str, float]:
        return {name: getattr(self, name) for name in FEATURES}

    def __len__(self) -> int:
        return len(FEATURES)

    def __iter__(self) -> Iterator[float]:
        return iter([getattr(self, name) for name in FEATURES])

    @overload
    def __getitem__(self, index: int) -> float: ...
    @overload
    def __getitem__(self, index: slice) -> Sequence[float]: ...
    def __getitem__(self, index: int | slice) -> float | Sequence[float]:
        return list(self)[index]


@dataclasses.dataclass(frozen=True)
class Evaluation:
    """A field's value under some weights, and the features it was summed from."""

    value: int
    features: dict[str, int]


def evaluate(field: tavik.Field, weights: Optional[BotWeights] = None) -> Evaluation:
    """The value BeamBot gives a settled field, with each feature's (unweighted) count.

    weights: the tuned BotWeights() when None."""
    value, features = _native._evaluate(field, weights if weights is not None else BotWeights())
    return Evaluation(value, dict(zip(FEATURES, features)))
