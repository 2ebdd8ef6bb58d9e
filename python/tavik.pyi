"""Puyo Puyo field simulation, chain scoring and chain search.

Columns and rows are Python coordinates: playable columns 0 to 5, rows 0 to 13
(row 0 the top fuzzy row). Cell types are plain ints (see PuyoType).

Internal failures raise nivo_runtime.PanicException, a BaseException subclass
that `except Exception` does not catch; re-entering an object during a call
raises nivo_runtime.PyBorrowError / PyBorrowMutError (RuntimeError subclasses).
"""

from typing import ClassVar, Final, final, overload

__all__ = [
    "__doc__",
    "Field",
    "ArrayField",
    "PuyoType",
    "ChainResult",
    "ChainStepResult",
    "Rotation",
    "Hand",
    "Pair",
    "FoundChain",
]

@final
class Field:
    def __new__(cls, *args: object, **kwargs: object) -> Field: ...

@final
class ArrayField:
    def __new__(cls, *args: object, **kwargs: object) -> ArrayField: ...

@final
class PuyoType:
    """Cell type numbers. There is no attribute for IRON: pass 3."""

    EMPTY: Final[int]
    OJAMA: Final[int]
    WALL: Final[int]
    RED: Final[int]
    BLUE: Final[int]
    YELLOW: Final[int]
    GREEN: Final[int]
    PURPLE: Final[int]

@final
class ChainResult:
    @property
    def chain(self) -> int: ...
    @property
    def score(self) -> int: ...

@final
class ChainStepResult:
    @property
    def chain(self) -> int: ...
    @property
    def score(self) -> int: ...

@final
class Rotation:
    TOP: ClassVar[Rotation]
    LEFT: ClassVar[Rotation]
    BOTTOM: ClassVar[Rotation]
    RIGHT: ClassVar[Rotation]
    __hash__: ClassVar[None]  # type: ignore[assignment]
    # Comparing with anything but a Rotation raises TypeError.
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...

@final
class Hand:
    @overload
    def __new__(cls) -> Hand: ...
    @overload
    def __new__(cls, x: int, rotation: Rotation, /) -> Hand: ...
    @property
    def x(self) -> int: ...
    @property
    def rotation(self) -> Rotation: ...
    @classmethod
    def enumerate(cls) -> list[Hand]: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...
    def __getstate__(self) -> bytes: ...
    def __setstate__(self, state: bytes) -> None: ...

@final
class Pair:
    @overload
    def __new__(cls) -> Pair: ...
    @overload
    def __new__(cls, child: int, axis: int, /) -> Pair: ...
    @property
    def axis(self) -> int: ...
    @property
    def child(self) -> int: ...
    # 0 is the child, 1 the axis; any other index raises RuntimeError.
    def __getitem__(self, index: int, /) -> int: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...
    def __getstate__(self) -> bytes: ...
    def __setstate__(self, state: bytes) -> None: ...

@final
class FoundChain: ...
