"""The module's shared machinery: init, class properties, argument parsing,
borrows, comparison rules and failure mapping, exercised through the value
classes."""

import operator
import sys
import weakref

import pytest

import tavik
from tavik import ArrayField, ChainResult, ChainStepResult, Field, FoundChain, Hand, Pair, PuyoType, Rotation

NAMES = ["Field", "ArrayField", "PuyoType", "ChainResult", "ChainStepResult", "Rotation", "Hand", "Pair", "FoundChain"]
CLASSES = [getattr(tavik, n) for n in NAMES]
HAND_STATE = Hand().__getstate__()
PAIR_STATE = Pair().__getstate__()
STATEFUL = [(Hand, HAND_STATE), (Pair, PAIR_STATE)]
ORDERINGS = [operator.lt, operator.le, operator.gt, operator.ge]


def test_module_attributes():
    assert tavik.__doc__ == ""
    assert tavik.__all__ == ["__doc__", *NAMES]
    for name in ("PanicException", "PyBorrowError", "PyBorrowMutError"):
        assert not hasattr(tavik, name)


@pytest.mark.parametrize("cls", CLASSES, ids=NAMES)
def test_classes_are_final_static_types(cls):
    assert cls.__name__ in NAMES
    assert repr(cls) == f"<class 'tavik.{cls.__name__}'>"
    assert cls.__base__ is object
    with pytest.raises(TypeError, match="not an acceptable base type"):
        type("Sub", (cls,), {})


@pytest.mark.parametrize("cls", [PuyoType, Rotation, ChainResult, ChainStepResult, FoundChain])
def test_classes_without_constructor(cls):
    with pytest.raises(TypeError, match=f"cannot create 'tavik.{cls.__name__}' instances"):
        cls()


@pytest.mark.parametrize("make", [Hand, Pair, lambda: Rotation.TOP, Field, ArrayField])
def test_instances_have_no_dict_and_no_weakrefs(make):
    obj = make()
    with pytest.raises(AttributeError):
        obj.anything = 1
    with pytest.raises(TypeError):
        weakref.ref(obj)


@pytest.mark.parametrize("make", [Hand, Pair, lambda: Rotation.TOP])
def test_comparable_classes_are_unhashable(make):
    with pytest.raises(TypeError, match="unhashable"):
        hash(make())
    with pytest.raises(TypeError):
        {make()}


def test_exception_classes(panic_exception):
    assert panic_exception.__module__ == "nivo_runtime"
    assert panic_exception.__qualname__ == "PanicException"
    assert panic_exception.__bases__ == (BaseException,)
    assert not issubclass(panic_exception, Exception)


def test_panic_is_not_caught_by_except_exception(panic_exception):
    with pytest.raises(panic_exception):
        try:
            Pair(4)
        except Exception:  # noqa: BLE001 - the point of the test
            pytest.fail("PanicException must not be an Exception")


# ---------------------------------------------------------------- parsing


@pytest.mark.parametrize("cls, state", STATEFUL, ids=["Hand", "Pair"])
@pytest.mark.parametrize(
    "call, message",
    [
        (lambda o, s: o.__getstate__(1), "__getstate__() takes at most 0 positional arguments (1 given)"),
        (lambda o, s: o.__getstate__(1, 2), "__getstate__() takes at most 0 positional arguments (2 given)"),
        (lambda o, s: o.__getstate__(a=1), "__getstate__() got an unexpected keyword argument: a"),
        (lambda o, s: o.__setstate__(), "__setstate__() missing required positional argument: state"),
        (lambda o, s: o.__setstate__(s, s), "__setstate__() takes at most 1 positional argument (2 given)"),
        (lambda o, s: o.__setstate__(s, state=s), "__setstate__() got multiple values for argument: state"),
        (lambda o, s: o.__setstate__(state=s, b=1, a=2), "__setstate__() got an unexpected keyword argument: b"),
        # The keyword check comes before the positional count.
        (lambda o, s: o.__setstate__(s, s, bogus=1), "__setstate__() got an unexpected keyword argument: bogus"),
        # Missing comes before unexpected.
        (lambda o, s: o.__setstate__(bogus=1), "__setstate__() missing required positional argument: state"),
    ],
)
def test_argument_errors(cls, state, call, message):
    obj = cls()
    with pytest.raises(TypeError) as info:
        call(obj, state)
    assert info.value.args == (f"{cls.__name__}.{message}",)
    # Nothing stayed borrowed.
    obj.__setstate__(state)


@pytest.mark.parametrize("cls, state", STATEFUL, ids=["Hand", "Pair"])
def test_keyword_and_dict_calls(cls, state):
    obj = cls()
    assert obj.__setstate__(state=state) is None
    assert obj.__setstate__(**{"state": state}) is None
    assert obj.__getstate__(**{}) == state


@pytest.mark.parametrize("cls", [Hand, Pair])
def test_constructor_rejects_keywords_by_name(cls):
    with pytest.raises(TypeError) as info:
        cls(4, 5, axis=4, child=5)
    assert info.value.args == (f"{cls.__name__}.__new__() got an unexpected keyword argument: axis",)


def test_unexpected_keyword_is_shown_with_its_str():
    class Key(str):
        def __str__(self):
            return "shown"

    with pytest.raises(TypeError, match="unexpected keyword argument: shown$"):
        Hand().__getstate__(**{Key("k"): 1})


def test_method_without_parameters_is_not_parsed():
    # Hand.enumerate ignores whatever it gets.
    assert Hand.enumerate(1, 2, k=3) == Hand.enumerate()


# ---------------------------------------------------------------- borrows


def _calls_back_while_borrowed(obj, callback):
    """Calls obj.__setstate__ (exclusive borrow) with a keyword whose str()
    runs `callback` while the borrow is held; returns what it raised."""
    seen = []

    class Key(str):
        def __str__(self):
            try:
                callback()
            except BaseException as e:  # noqa: BLE001
                seen.append(e)
                raise
            return "k"

    with pytest.raises(BaseException) as info:
        obj.__setstate__(state=obj.__getstate__(), **{Key("k"): 1})
    assert seen and info.value is seen[0]
    return info.value


@pytest.mark.parametrize("cls", [Hand, Pair])
@pytest.mark.parametrize(
    "reenter, error",
    [
        (lambda o: o.__getstate__(), "PyBorrowError"),
        (lambda o: o == o, "PyBorrowError"),
        (lambda o: repr(o), "PyBorrowError"),
        (lambda o: o.__setstate__(o.__class__().__getstate__()), "PyBorrowMutError"),
    ],
)
def test_reentry_into_an_exclusively_borrowed_instance(cls, reenter, error):
    obj = cls()
    before = obj.__getstate__()
    raised = _calls_back_while_borrowed(obj, lambda: reenter(obj))
    assert type(raised).__name__ == error
    assert type(raised).__module__ == "nivo_runtime"
    assert isinstance(raised, RuntimeError)
    assert raised.args == ()
    # Released afterwards, value untouched.
    assert obj.__getstate__() == before
    assert obj == obj


def test_argument_borrowed_exclusively_is_a_borrow_error():
    pair = Pair()
    # Comparison borrows the other operand shared: that fails while it is held
    # exclusively by the outer __setstate__.
    other = Pair()
    raised = _calls_back_while_borrowed(pair, lambda: other == pair)
    assert type(raised).__name__ == "PyBorrowError"


# ---------------------------------------------------------------- comparison

SAMPLES = [Hand, Pair, lambda: Rotation.TOP]


@pytest.mark.parametrize("make", SAMPLES)
@pytest.mark.parametrize("foreign", [None, 0, "top", Field(), Hand.enumerate, object()], ids=repr)
@pytest.mark.parametrize("op", [operator.eq, operator.ne])
def test_foreign_operand_raises_on_either_side(make, foreign, op, raises_bare):
    obj = make()
    if type(foreign) is type(obj):
        pytest.skip("same class")
    with raises_bare(TypeError):
        op(obj, foreign)
    with raises_bare(TypeError):
        op(foreign, obj)


def test_membership_meets_foreign_objects_before_the_match(raises_bare):
    assert Rotation.TOP in [Rotation.TOP, 0]
    with raises_bare(TypeError):
        Rotation.TOP in [0, Rotation.TOP]


@pytest.mark.parametrize("make", SAMPLES)
@pytest.mark.parametrize("op", ORDERINGS)
def test_orderings_panic_and_leave_instances_usable(make, op, panics):
    a, b = make(), make()
    with panics("not implemented"):
        op(a, b)
    assert a == b and not (a != b)


# ---------------------------------------------------------------- references


def _failing_calls():
    bad, good = "not a number", Hand()
    key = "bogus"
    return [
        (bad, lambda: Pair(bad, 5)),
        (bad, lambda: Hand(bad, Rotation.TOP)),
        (bad, lambda: Hand(0, bad)),
        (bad, lambda: good.__setstate__(bad)),
        (bad, lambda: good.__setstate__(state=HAND_STATE, **{key: bad})),
        (bad, lambda: good == bad),
        (bad, lambda: bad == good),
        (HAND_STATE[:5], lambda: good.__setstate__(HAND_STATE[:5])),
        (good, lambda: good.__getstate__(good)),
        (good, lambda: good < good),
        (good, lambda: Pair(good, 4)),
    ]


@pytest.mark.parametrize("index", range(len(_failing_calls())))
def test_failing_calls_leak_no_references(index):
    arg, call = _failing_calls()[index]
    for _ in range(10):  # warm up caches (exception classes, interned texts)
        with pytest.raises(BaseException):
            call()
    before = sys.getrefcount(arg)
    for _ in range(2000):
        try:
            call()
        except BaseException:  # noqa: BLE001
            pass
    assert sys.getrefcount(arg) == before


def test_results_leak_no_references():
    hands = Hand.enumerate()
    before = [sys.getrefcount(h) for h in hands]
    for _ in range(1000):
        Hand.enumerate()
        [h.rotation for h in hands]
    assert [sys.getrefcount(h) for h in hands] == before
    assert sys.getrefcount(Rotation.TOP) < 100


@pytest.mark.parametrize(
    "call, where",
    [
        (lambda kw: tavik.Pair(**kw), "Pair.__new__()"),
        (lambda kw: tavik.Hand(**kw), "Hand.__new__()"),
        (lambda kw: tavik.Field().get(0, 0, **kw), "PyField.get()"),
        (lambda kw: tavik.ArrayField().set(0, 1, 4, **kw), "PyArrayField.set()"),
        (lambda kw: tavik.Field().find_chain_recursive(1, **kw), "PyField.find_chain_recursive()"),
    ],
)
def test_unexpected_keyword_with_a_lone_surrogate_is_a_type_error(call, where):
    name = "\udc80k"
    with pytest.raises(TypeError) as info:
        call({name: 1})
    assert info.value.args == (f"{where} got an unexpected keyword argument: {name}",)


OUT_OF_MEMORY = r"""
import resource
import tavik
try:  # a first C++ throw loads the unwinder, which needs memory of its own
    tavik.Field().get(9, 0)
except BaseException:
    pass
with open("/proc/self/statm") as f:
    size = int(f.read().split()[0]) * resource.getpagesize()
limit = size + 150 * 2**20
resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
f = tavik.Field.from_str_array(["  Y   ", " GB  R", "RRYGBY", "BBYRGG"])
try:
    f.find_chain_recursive(30)
except MemoryError:
    print("MemoryError")
"""


@pytest.mark.skipif(
    __import__("os").environ.get("TAVIK_SANITIZED") == "1",
    reason="the address sanitizer's allocator reserves its shadow memory up front and aborts instead of failing",
)
def test_running_out_of_memory_raises_memory_error():
    import subprocess
    proc = subprocess.run([sys.executable, "-c", OUT_OF_MEMORY], capture_output=True, text=True, timeout=120)
    assert proc.stdout == "MemoryError\n", proc.stderr
