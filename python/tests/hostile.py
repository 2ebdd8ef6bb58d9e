"""Hostile argument objects, shared by the fuzz tests of tavik and of tavik_game."""


class Boom(Exception):
    """Raised by the hostile argument objects below; must pass through unchanged."""


class IndexRaises:
    def __index__(self):
        raise Boom("from __index__")


class IndexReturns:
    """An integer-like object: the module must go through __index__."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value

    def __repr__(self):
        return f"IndexReturns({self.value!r})"


class ClearsOnIndex:
    """An integer whose conversion empties a list, maybe the one being read."""

    def __init__(self, items, value=1):
        self.items, self.value = items, value

    def __index__(self):
        self.items.clear()
        return self.value


class GrowsOnIndex(ClearsOnIndex):
    """An integer whose conversion makes its list move to a larger block."""

    def __index__(self):
        self.items.extend(range(10_000))
        return self.value
