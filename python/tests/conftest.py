import contextlib

import pytest

import tavik


def _provoke(action):
    try:
        action()
    except BaseException as e:  # noqa: BLE001 - we want the class, whatever it is
        return type(e)
    raise AssertionError("expected an exception")


@pytest.fixture(scope="session")
def panic_exception():
    """The extension's PanicException class (it is not a module attribute)."""
    return _provoke(lambda: tavik.Rotation.TOP < tavik.Rotation.TOP)


@pytest.fixture
def panics(panic_exception):
    """`with panics("text"):` expects PanicException carrying exactly that text;
    `with panics(prefix=...)` checks only the beginning."""

    @contextlib.contextmanager
    def check(text=None, *, prefix=None):
        with pytest.raises(panic_exception) as info:
            yield info
        (message,) = info.value.args
        if text is not None:
            assert message == text
        if prefix is not None:
            assert message.startswith(prefix), message

    return check


@pytest.fixture
def raises_bare():
    """`with raises_bare(TypeError):` expects an exception raised with no message."""

    @contextlib.contextmanager
    def check(exc):
        with pytest.raises(exc) as info:
            yield info
        assert info.value.args == ()

    return check
