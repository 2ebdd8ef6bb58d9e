"""Fields as NumPy arrays: type numbers, and one-hot observations for learning code.

NumPy is imported on first use, so the rules of tavik_game work without it.
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Any, Optional

from . import _native

if TYPE_CHECKING:
    import numpy as np
    import tavik
    from numpy.typing import ArrayLike, NDArray


ROWS = 13      # Python rows 1..13: the player never sees row 0
COLUMNS = 6
PAIR_SLOTS = 2

_np = None


def _numpy():
    global _np
    if _np is None:
        import numpy

        _np = numpy
    return _np


def to_numpy(field: "tavik.Field", out: "Optional[NDArray[np.uint8]]" = None) -> "NDArray[np.uint8]":
    """The field's type numbers as a (14, 6) uint8 array, rows by columns, Python row 0 first."""
    np = _numpy()
    if out is None:
        out = np.empty((14, COLUMNS), np.uint8)
    _native._write_types(field, out)
    return out


def from_numpy(array: "ArrayLike") -> "tavik.Field":
    """A new Field from a (14, 6) array of type numbers 0 to 7 (integers of any width)."""
    np = _numpy()
    a = np.asarray(array)
    if a.shape != (14, COLUMNS):
        raise ValueError(f"from_numpy() needs an array of shape (14, 6), got {a.shape}")
    if a.dtype.kind not in "iub":
        raise TypeError(f"from_numpy() needs integer type numbers, got dtype {a.dtype}")
    bad = (a < 0) | (a > 7)
    if bad.any():
        y, x = (int(i) for i in np.argwhere(bad)[0])
        raise ValueError(
            f"from_numpy(): cell (x={x}, y={y}) holds {a[y, x]}, not a type number 0 to 7 "
            "(Field keeps no PURPLE)"
        )
    return _native._field_from_types(np.ascontiguousarray(a, dtype=np.uint8))


# One field's observation costs about one chain() call of a long chain; a Python
# wrapper would add a fifth to that, so the native function is the public one.
# Its signature and documentation are in _native.pyi.
observe = _native.observe
