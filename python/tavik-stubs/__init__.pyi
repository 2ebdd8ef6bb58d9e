"""Puyo Puyo field simulation, chain scoring and chain search.

Columns and rows are Python coordinates: playable columns 0 to 5, rows 0 to 13
(row 0 the top fuzzy row). Cell types are plain ints (see PuyoType).

Internal failures raise nivo_runtime.PanicException, a BaseException subclass
that `except Exception` does not catch; re-entering an object during a call
raises nivo_runtime.PyBorrowError / PyBorrowMutError (RuntimeError subclasses).
"""

from collections.abc import Sequence
from typing import ClassVar, Final, final, overload

from typing_extensions import Self

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
    """Fast 6x14 Puyo field kept in bit planes; stores PURPLE as empty.

    Methods that change the field return it, so calls chain."""

    def __new__(cls, *args: object, **kwargs: object) -> Field:
        """Create an empty field."""
    # The last string is the bottom row; characters fill columns from the left.
    @classmethod
    def from_str_array(cls, s: Sequence[str]) -> Field:
        """Build a field from text rows, top first, the last one the floor.

        Characters fill columns from the left; a space is an empty cell.
        Raises TypeError for a non-sequence or a non-str row."""
    # 6 columns of 14 type numbers, s[x][y] the cell at (x, y).
    @classmethod
    def from_array(cls, s: Sequence[Sequence[int]]) -> Field:
        """Build a field from 6 columns of 14 type numbers, s[x][y] the cell at (x, y).

        Raises TypeError/OverflowError for bad values."""
    def clone(self) -> Field:
        """Return an independent copy of the field."""
    def get(self, x: int, y: int) -> int:
        """Return the type number at column x, row y (walls at x -1 and 6, y 14).

        Raises PanicException for a cell outside the grid."""
    def set(self, x: int, y: int, value: int) -> Self:
        """Set the cell at (x, y) to the type number value; return the field.

        Raises PanicException for a cell outside the grid."""
    def put(self, x: int, value: int) -> Self:
        """Drop one puyo of type value into column x; return the field."""
    def to_array(self) -> list[list[int]]:
        """Return the cells as 6 columns of 14 type numbers, [x][y]."""
    def get_height(self, x: int) -> int:
        """Return the height of the stack in column x, counted up from the floor."""
    def get_num_puyos(self) -> int:
        """Return the number of coloured and ojama puyos on the field."""
    def is_all_clear(self) -> bool:
        """Return True when the field holds no puyo."""
    def has_type(self, puyotype: int) -> bool:
        """Return True when some cell holds the type number puyotype."""
    # rotation: "top", "left", "bottom", "right" (or in capitals).
    def put_pair(self, x: int, rotation: str, pair: Pair) -> Self:
        """Place pair with its axis in column x, child on the given side; return the field.

        rotation is "top", "left", "bottom" or "right" (or in capitals).
        Raises RuntimeError ("Invalid put operation ...") for a pair beyond the side."""
    def put_hand(self, hand: Hand, pair: Pair) -> Self:
        """Place pair as hand says (column and rotation); return the field.

        Raises RuntimeError for a pair beyond the field's side."""
    def step_chain(self, num_chain: int) -> ChainStepResult:
        """Run one pass of the chain (vanish, then drop) as link num_chain.

        Returns that pass's ChainStepResult."""
    def chain(self) -> ChainResult:
        """Run the whole chain in place and return its length and score."""
    def equals_without_fuzzy(self, other: Field) -> bool:
        """Return True when both fields match, ignoring the hidden top row."""
    def get_pretty_string(self) -> str:
        """Return the field as text, coloured when stdout is a terminal
        (or CLICOLOR_FORCE=1)."""
    def get_html_string(self) -> str:
        """Return the field as an HTML fragment."""
    # Each search reads the field and never changes it. Extension finds come in
    # no particular order; recursive finds sorted by score, highest first.
    def find_chain(self) -> list[FoundChain]:
        """Find every chain fired by dropping one to three puyos of one colour
        into one column. Order unspecified (fixed from run to run)."""
    def find_chain_recursive(self, depth: int) -> list[FoundChain]:
        """Find extension chains plus up to depth levels of further extensions.

        For depth 2 or more, sorted by score, highest first; depth 1 gives find_chain()'s
        finds in find_chain()'s order; depth 0 finds nothing."""
    def find_chain_by_removal(self) -> list[FoundChain]:
        """Find every chain set off by taking one group away."""
    def __getstate__(self) -> bytes:
        """Return the object's bytes, for pickle and copy."""
    def __setstate__(self, state: bytes) -> None:
        """Restore the object from bytes made by __getstate__."""
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __eq__(self, other: object, /) -> bool:
        """Compare by value."""
    def __ne__(self, other: object, /) -> bool:
        """Compare by value."""

@final
class ArrayField:
    """Reference 6x14 Puyo field, one byte a cell; keeps PURPLE.

    Same methods as Field, without the chain searches."""

    def __new__(cls, *args: object, **kwargs: object) -> ArrayField:
        """Create an empty field."""
    # The last string is the bottom row; characters fill columns from the left.
    @classmethod
    def from_str_array(cls, s: Sequence[str]) -> ArrayField:
        """Build a field from text rows, top first, the last one the floor.

        Characters fill columns from the left; a space is an empty cell.
        Raises TypeError for a non-sequence or a non-str row."""
    # 6 columns of 14 type numbers, s[x][y] the cell at (x, y).
    @classmethod
    def from_array(cls, s: Sequence[Sequence[int]]) -> ArrayField:
        """Build a field from 6 columns of 14 type numbers, s[x][y] the cell at (x, y).

        Raises TypeError/OverflowError for bad values."""
    def clone(self) -> ArrayField:
        """Return an independent copy of the field."""
    def get(self, x: int, y: int) -> int:
        """Return the type number at column x, row y (walls at x -1 and 6, y 14).

        Raises PanicException for a cell outside the grid."""
    def set(self, x: int, y: int, value: int) -> Self:
        """Set the cell at (x, y) to the type number value; return the field.

        Raises PanicException for a cell outside the grid."""
    def put(self, x: int, value: int) -> Self:
        """Drop one puyo of type value into column x; return the field."""
    def to_array(self) -> list[list[int]]:
        """Return the cells as 6 columns of 14 type numbers, [x][y]."""
    def get_height(self, x: int) -> int:
        """Return the height of the stack in column x, counted up from the floor."""
    def get_num_puyos(self) -> int:
        """Return the number of coloured and ojama puyos on the field."""
    def is_all_clear(self) -> bool:
        """Return True when the field holds no puyo."""
    def has_type(self, puyotype: int) -> bool:
        """Return True when some cell holds the type number puyotype."""
    # rotation: "top", "left", "bottom", "right" (or in capitals).
    def put_pair(self, x: int, rotation: str, pair: Pair) -> Self:
        """Place pair with its axis in column x, child on the given side; return the field.

        rotation is "top", "left", "bottom" or "right" (or in capitals).
        Raises RuntimeError ("Invalid put operation ...") for a pair beyond the side."""
    def put_hand(self, hand: Hand, pair: Pair) -> Self:
        """Place pair as hand says (column and rotation); return the field.

        Raises RuntimeError for a pair beyond the field's side."""
    def step_chain(self, num_chain: int) -> ChainStepResult:
        """Run one pass of the chain (vanish, then drop) as link num_chain.

        Returns that pass's ChainStepResult."""
    def chain(self) -> ChainResult:
        """Run the whole chain in place and return its length and score."""
    def equals_without_fuzzy(self, other: ArrayField) -> bool:
        """Return True when both fields match, ignoring the hidden top row."""
    def get_pretty_string(self) -> str:
        """Return the field as text, coloured when stdout is a terminal
        (or CLICOLOR_FORCE=1)."""
    def get_html_string(self) -> str:
        """Return the field as an HTML fragment."""
    def __getstate__(self) -> bytes:
        """Return the object's bytes, for pickle and copy."""
    def __setstate__(self, state: bytes) -> None:
        """Restore the object from bytes made by __getstate__."""
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __eq__(self, other: object, /) -> bool:
        """Compare by value."""
    def __ne__(self, other: object, /) -> bool:
        """Compare by value."""

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
    """Outcome of Field.chain()."""

    @property
    def chain(self) -> int:
        """Number of links in the chain (0 when nothing vanished)."""
    @property
    def score(self) -> int:
        """Score of the whole chain."""

@final
class ChainStepResult:
    """Outcome of one pass of Field.step_chain()."""

    @property
    def chain(self) -> int:
        """The link number of this pass."""
    @property
    def score(self) -> int:
        """Score of this pass."""

@final
class Rotation:
    """Where the child sits around the axis: TOP, LEFT, BOTTOM or RIGHT."""

    TOP: ClassVar[Rotation]
    LEFT: ClassVar[Rotation]
    BOTTOM: ClassVar[Rotation]
    RIGHT: ClassVar[Rotation]
    __hash__: ClassVar[None]  # type: ignore[assignment]
    # Comparing with anything but a Rotation raises TypeError.
    def __eq__(self, other: object, /) -> bool:
        """Compare by value; any non-Rotation raises TypeError."""
    def __ne__(self, other: object, /) -> bool:
        """Compare by value; any non-Rotation raises TypeError."""

@final
class Hand:
    """A placement: the axis column x and a Rotation."""

    @overload
    def __new__(cls) -> Hand:
        """Create a hand; with no arguments, column 0 and Rotation.TOP."""
    @overload
    def __new__(cls, x: int, rotation: Rotation, /) -> Hand:
        """Create a hand; with no arguments, column 0 and Rotation.TOP."""
    @property
    def x(self) -> int:
        """The axis column, 0 to 5."""
    @property
    def rotation(self) -> Rotation:
        """The child's side of the axis."""
    @classmethod
    def enumerate(cls) -> list[Hand]:
        """Return the 22 legal hands."""
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __eq__(self, other: object, /) -> bool:
        """Compare by value."""
    def __ne__(self, other: object, /) -> bool:
        """Compare by value."""
    def __getstate__(self) -> bytes:
        """Return the object's bytes, for pickle and copy."""
    def __setstate__(self, state: bytes) -> None:
        """Restore the object from bytes made by __getstate__."""

@final
class Pair:
    """Two puyos placed together: child and axis type numbers."""

    @overload
    def __new__(cls) -> Pair:
        """Create a pair from child and axis type numbers (both RED when omitted)."""
    @overload
    def __new__(cls, child: int, axis: int, /) -> Pair:
        """Create a pair from child and axis type numbers (both RED when omitted)."""
    @property
    def axis(self) -> int:
        """Type number of the axis puyo."""
    @property
    def child(self) -> int:
        """Type number of the child puyo."""
    # 0 is the child, 1 the axis; any other index raises RuntimeError.
    def __getitem__(self, index: int, /) -> int:
        """pair[0] is the child, pair[1] the axis; other indices raise RuntimeError."""
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __eq__(self, other: object, /) -> bool:
        """Compare by value."""
    def __ne__(self, other: object, /) -> bool:
        """Compare by value."""
    def __getstate__(self) -> bytes:
        """Return the object's bytes, for pickle and copy."""
    def __setstate__(self, state: bytes) -> None:
        """Restore the object from bytes made by __getstate__."""

@final
class FoundChain:
    """One chain found by a Field search."""

    @property
    def score(self) -> int:
        """Score of the chain."""
    @property
    def chain(self) -> int:
        """Number of links in the chain."""
    # The field after the chain; a new Field on every read.
    @property
    def field(self) -> Field:
        """The field after the chain; a new Field on every read."""
    # The puyos that set the chain off, as (x, y) cells.
    @property
    def trigger(self) -> list[tuple[int, int]]:
        """The puyos that set the chain off, as (x, y) cells."""
