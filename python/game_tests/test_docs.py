"""help() and inspect.signature see the whole tavik_game API; tavik itself stays undocumented at run time."""

from __future__ import annotations

import inspect
import pydoc

import pytest

tg = pytest.importorskip("tavik_game")
import tavik  # noqa: E402
from tavik_game import _native  # noqa: E402

# Dunders the stub documents that live in tp_methods (slot wrappers such as __eq__ keep Python's docs).
DOCUMENTED_DUNDERS = {"__reduce__", "__copy__", "__deepcopy__", "__setstate__"}


def public_members():
    for name in dir(_native):
        if name.startswith("_"):
            continue
        obj = getattr(_native, name)
        if isinstance(obj, type) and issubclass(obj, BaseException):
            continue  # the runtime's exception classes, shared with tavik, made without docs
        yield name, obj
        if isinstance(obj, type):
            for member, value in vars(obj).items():
                if not member.startswith("_") or member in DOCUMENTED_DUNDERS:
                    yield f"{name}.{member}", value


MEMBERS = dict(public_members())


@pytest.mark.parametrize("name", sorted(MEMBERS))
def test_every_public_name_has_a_doc_and_callables_a_signature(name):
    obj = MEMBERS[name]
    assert (obj.__doc__ or "").strip(), f"{name} has no docstring: give it one in _native.pyi"
    if callable(obj) and not isinstance(obj, property):
        params = inspect.signature(obj).parameters
        if isinstance(obj, type):
            assert "cls" not in params and "self" not in params


@pytest.mark.parametrize(
    ("obj", "expected"),
    [
        (tg.observe, "(fields, colours=4, out=None)"),
        (tg.expand, "(field, pair, hands=None)"),
        (tg.best_find, "(field)"),
        (tg.Game(3).play, "(hand)"),
        (tg.BeamBot(2, 1).choose, "(game)"),
    ],
)
def test_signatures_read_as_the_stub_writes_them(obj, expected):
    assert str(inspect.signature(obj)) == expected


def test_help_shows_the_class_methods_and_properties():
    text = pydoc.render_doc(tg.Game, renderer=pydoc.plaintext)
    assert "One player's endless game" in text
    assert "play(self, /, hand)" in text
    assert "A copy of the field" in text
    assert _native.__doc__ and _native.__doc__.startswith("The game around the tavik field")


@pytest.mark.parametrize("obj", [tavik.Field, tavik.Field.clone, tavik.Hand, tavik.Field.find_chain])
def test_tavik_keeps_its_runtime_docs_empty(obj):
    assert not obj.__doc__
