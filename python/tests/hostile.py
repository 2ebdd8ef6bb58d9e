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
