"""PuyoType, Rotation, Pair, Hand, the chain results, and the Hand and Pair
pickle states."""

import copy
import pickle
import struct

import pytest

from tavik import Field, Hand, Pair, PuyoType, Rotation

UNWRAP = "called `Result::unwrap()` on an `Err` value: "
EOF_TEXT = UNWRAP + 'Io(Custom { kind: UnexpectedEof, error: "failed to fill whole buffer" })'
ROTATIONS = [("TOP", "top"), ("LEFT", "left"), ("BOTTOM", "bottom"), ("RIGHT", "right")]


def invalid_value(n, count):
    return UNWRAP + f'Custom("invalid value: integer `{n}`, expected variant index 0 <= i < {count}")'


class Index:
    def __init__(self, n):
        self.n = n

    def __index__(self):
        return self.n


# ---------------------------------------------------------------- PuyoType


def test_puyotype_attributes_are_plain_ints():
    expected = dict(EMPTY=0, OJAMA=1, WALL=2, RED=4, BLUE=5, YELLOW=6, GREEN=7, PURPLE=8)
    for name, number in expected.items():
        value = getattr(PuyoType, name)
        assert type(value) is int and value == number
        assert getattr(PuyoType, name) is value
    assert not hasattr(PuyoType, "IRON")


# ---------------------------------------------------------------- Rotation


@pytest.mark.parametrize("name, text", ROTATIONS)
def test_rotation_attributes_and_texts(name, text):
    r = getattr(Rotation, name)
    assert type(r) is Rotation and getattr(Rotation, name) is r
    assert str(r) == text
    assert repr(r) == f"<Rotation object {text}>"


def test_rotation_equality():
    rotations = [getattr(Rotation, name) for name, _ in ROTATIONS]
    for i, a in enumerate(rotations):
        for j, b in enumerate(rotations):
            assert (a == b) is (i == j)
            assert (a != b) is (i != j)


def test_hand_rotation_is_a_new_equal_instance():
    r = Hand(0, Rotation.TOP).rotation
    assert r == Rotation.TOP and r is not Rotation.TOP
    assert Hand().rotation is not Hand().rotation


# ---------------------------------------------------------------- Pair


@pytest.mark.parametrize(
    "args, child, axis",
    [((), 4, 4), ((4, 5), 4, 5), ((0, 3), 0, 3), ((8, 2), 8, 2), ((Index(7), True), 7, 1)],
)
def test_pair_construction(args, child, axis):
    p = Pair(*args)
    assert (p.child, p.axis) == (child, axis)
    assert (p[0], p[1]) == (child, axis)


def test_pair_repr_lists_child_first():
    assert repr(Pair(4, 5)) == "<Pair object Pair { colors: [RED, BLUE] }>"
    assert str(Pair(0, 3)) == "<Pair object Pair { colors: [EMPTY, IRON] }>"


@pytest.mark.parametrize(
    "args, text",
    [
        ((4, 9), "Invalid puyotype: InvalidPuyoTypeNumber(9)"),
        ((10, 9), "Invalid puyotype: InvalidPuyoTypeNumber(10)"),
        ((2**64 - 1, 4), "Invalid puyotype: InvalidPuyoTypeNumber(18446744073709551615)"),
        ((4,), "not implemented"),
        ((4, 5, 6), "not implemented"),
        # Too many arguments is decided before anything is converted.
        (("x", "y", "z"), "not implemented"),
    ],
)
def test_pair_construction_failures(args, text, panics):
    with panics(text):
        Pair(*args)


@pytest.mark.parametrize("args", [("x", 4), (4, 1.5), (-1, 4), (2**64, 4), (4, None), (9, "x")])
def test_pair_unconvertible_arguments(args, panics):
    # Both conversions run before the type numbers are checked.
    with panics(prefix="Invalid argument: "):
        Pair(*args)


@pytest.mark.parametrize("index", [2, -1, -2, 100])
def test_pair_invalid_index(index):
    with pytest.raises(RuntimeError) as info:
        Pair()[index]
    assert info.value.args == (f"Invalid index {index}",)


def test_pair_iteration_ends_in_runtime_error():
    with pytest.raises(RuntimeError, match="^Invalid index 2$"):
        child, axis = Pair(4, 5)
    with pytest.raises(RuntimeError, match="^Invalid index 2$"):
        list(Pair())
    with pytest.raises(TypeError):
        len(Pair())
    with pytest.raises(TypeError):
        Pair()[0:1]


# ---------------------------------------------------------------- Hand


@pytest.mark.parametrize(
    "args, x, rotation, text",
    [
        ((), 0, Rotation.TOP, "1-top"),
        ((2, Rotation.LEFT), 2, Rotation.LEFT, "3-left"),
        ((7, Rotation.TOP), 7, Rotation.TOP, "8-top"),
        ((Index(5), Rotation.RIGHT), 5, Rotation.RIGHT, "6-right"),
        # The grid column wraps; the getter wraps back.
        ((2**64 - 1, Rotation.BOTTOM), 2**64 - 1, Rotation.BOTTOM, "0-bottom"),
    ],
)
def test_hand_construction(args, x, rotation, text):
    h = Hand(*args)
    assert h.x == x and h.rotation == rotation
    assert repr(h) == f"<Hand object {text}>"


@pytest.mark.parametrize("args", [(0, 0), (0, "top"), (0, None), (0, Pair()), ("0", Rotation.TOP), (-1, Rotation.TOP)])
def test_hand_bad_arguments_panic(args, panics):
    with panics(prefix=UNWRAP):
        Hand(*args)


@pytest.mark.parametrize("args", [(0,), (0, Rotation.TOP, 1)])
def test_hand_wrong_argument_count(args, panics):
    with panics("not implemented"):
        Hand(*args)


def test_hand_enumerate():
    hands = Hand.enumerate()
    expected = (
        [(x, "top") for x in range(6)]
        + [(x, "left") for x in range(1, 6)]
        + [(x, "bottom") for x in range(6)]
        + [(x, "right") for x in range(5)]
    )
    assert [(h.x, str(h.rotation)) for h in hands] == expected
    assert repr(hands[6]) == "<Hand object 2-left>"
    assert hands[-1] == Hand(4, Rotation.RIGHT)
    again = Hand().enumerate()
    assert again == hands and all(a is not b for a, b in zip(again, hands))


def test_hand_and_pair_equality(raises_bare):
    assert Hand(3, Rotation.LEFT) == Hand(3, Rotation.LEFT)
    assert Hand(0, Rotation.TOP) != Hand(0, Rotation.BOTTOM)
    assert Hand(0, Rotation.TOP) != Hand(1, Rotation.TOP)
    assert Pair(4, 5) == Pair(4, 5) and Pair(4, 5) != Pair(5, 4)
    with raises_bare(TypeError):
        Hand() == Pair()


# ---------------------------------------------------------------- pickle states


@pytest.mark.parametrize(
    "obj, state",
    [
        (Hand(), bytes.fromhex("01000000 00000000 00000000")),
        (Hand(2, Rotation.LEFT), bytes.fromhex("03000000 00000000 01000000")),
        (Hand(4, Rotation.RIGHT), struct.pack("<QI", 5, 3)),
        (Pair(), bytes.fromhex("04000000 04000000")),
        (Pair(4, 5), bytes.fromhex("04000000 05000000")),
        (Pair(0, 8), struct.pack("<II", 0, 8)),
    ],
    ids=repr,
)
def test_state_bytes_and_round_trips(obj, state):
    assert obj.__getstate__() == state
    fresh = type(obj)()
    assert fresh.__setstate__(state) is None and fresh == obj
    for protocol in range(2, pickle.HIGHEST_PROTOCOL + 1):
        assert pickle.loads(pickle.dumps(obj, protocol)) == obj
    assert copy.copy(obj) == obj and copy.deepcopy(obj) == obj
    assert copy.copy(obj) is not obj


@pytest.mark.parametrize("obj", [Hand(3, Rotation.BOTTOM), Pair(5, 6)], ids=repr)
@pytest.mark.parametrize("protocol", [0, 1])
def test_old_pickle_protocols_are_refused(obj, protocol):
    with pytest.raises(TypeError):
        pickle.dumps(obj, protocol)


class Bytes(bytes):
    pass


@pytest.mark.parametrize(
    "cls, state, value",
    [
        (Hand, struct.pack("<QI", 4, 2) + b"tail", (3, "bottom")),
        (Hand, Bytes(struct.pack("<QI", 1, 1)), (0, "left")),
        (Hand, struct.pack("<QI", 0, 0), (2**64 - 1, "top")),
        (Pair, struct.pack("<II", 7, 1) + b"\xff" * 9, (7, 1)),
    ],
)
def test_setstate_accepts(cls, state, value):
    obj = cls()
    obj.__setstate__(state)
    got = (obj.x, str(obj.rotation)) if cls is Hand else (obj.child, obj.axis)
    assert got == value


@pytest.mark.parametrize(
    "cls, state, text",
    [
        (Hand, b"", EOF_TEXT),
        (Hand, struct.pack("<QI", 3, 1)[:11], EOF_TEXT),
        (Hand, struct.pack("<QI", 3, 4), invalid_value(4, 4)),
        (Hand, struct.pack("<QI", 3, 2**32 - 1), invalid_value(2**32 - 1, 4)),
        (Pair, struct.pack("<I", 4), EOF_TEXT),
        (Pair, struct.pack("<II", 4, 9), invalid_value(9, 9)),
        # The first element is checked before the second is read.
        (Pair, struct.pack("<I", 12), invalid_value(12, 9)),
    ],
)
def test_setstate_failures_keep_the_value(cls, state, text, panics):
    obj = cls(2, Rotation.RIGHT) if cls is Hand else cls(6, 7)
    before = obj.__getstate__()
    with panics(text):
        obj.__setstate__(state)
    assert obj.__getstate__() == before


@pytest.mark.parametrize("cls", [Hand, Pair])
@pytest.mark.parametrize("state", [bytearray(12), memoryview(bytes(12)), "x" * 12, None, 0])
def test_setstate_needs_bytes(cls, state, raises_bare):
    with raises_bare(TypeError):
        cls().__setstate__(state)


# ---------------------------------------------------------------- chain results

needs_chains = pytest.mark.skipif(not hasattr(Field, "step_chain"), reason="field classes not built yet")


@needs_chains
def test_chain_results():
    f = Field.from_str_array(["RRRR"])
    result = f.clone().chain()
    assert (result.chain, result.score) == (1, 40)
    assert hash(result) == hash(result)
    assert result != f.clone().chain()  # identity comparison
    step = f.clone().step_chain(3)
    assert (step.chain, step.score) == (3, 10 * 4 * 16)
    assert repr(step).startswith("<tavik.ChainStepResult object at ")


@needs_chains
def test_step_score_beyond_the_bonus_table(panics):
    step = Field.from_str_array(["RRRR"]).step_chain(25)
    assert step.chain == 25
    for _ in range(2):  # still usable after the failure
        with panics("index out of bounds: the len is 20 but the index is 25"):
            step.score
    empty = Field().step_chain(25)
    assert (empty.chain, empty.score) == (0, 0)
