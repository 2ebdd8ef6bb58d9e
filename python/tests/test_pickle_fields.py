import contextlib
import copy
import pickle
import struct

import pytest

from tavik import ArrayField, Field

UNWRAP = "called `Result::unwrap()` on an `Err` value: "
EOF_INT = UNWRAP + 'Io(Custom { kind: UnexpectedEof, error: "failed to fill whole buffer" })'
EOF_SEQ = UNWRAP + 'Io(Custom { kind: UnexpectedEof, error: "" })'

FRAME_PLANE = bytes.fromhex("FFFF" + "0180" * 6 + "FFFF")
NEW_FIELD_STATE = struct.pack("<Q", 48) + bytes(16) + FRAME_PLANE + bytes(16)
WALL, EMPTY = struct.pack("<I", 2), struct.pack("<I", 0)
NEW_ARRAY_STATE = WALL * 16 + (WALL + EMPTY * 14 + WALL) * 6 + WALL * 16

by_class = pytest.mark.parametrize("cls", [Field, ArrayField], ids=lambda c: c.__name__)


@contextlib.contextmanager
def panics(text):
    with pytest.raises(BaseException) as info:
        yield
    assert type(info.value).__name__ == "PanicException"
    assert info.value.args == (text,)


def sample(cls):
    return cls.from_str_array(["RG", "BYO", "  I"]).set(0, 0, 5)


def field_state(body, length=None):
    return struct.pack("<Q", len(body) if length is None else length) + body


def test_new_states():
    assert Field().__getstate__() == NEW_FIELD_STATE
    assert len(NEW_FIELD_STATE) == 56
    assert ArrayField().__getstate__() == NEW_ARRAY_STATE
    assert len(NEW_ARRAY_STATE) == 512


def test_field_state_bit_layout():
    # Python (0, 13) is grid (1, 14): bit 17 of plane 2 for RED.
    state = Field().set(0, 13, 4).__getstate__()
    expected = bytearray(NEW_FIELD_STATE)
    expected[8 + 32 + 2] = 0x02
    assert state == bytes(expected)
    # GREEN at grid (4, 1) sets bit 78 in every plane.
    state = Field().set(3, 0, 7).__getstate__()
    for plane in range(3):
        assert state[8 + 16 * plane + 9] & 0x40


def test_array_state_cell_offsets():
    state = ArrayField().set(0, 13, 8).set(5, 0, 3).__getstate__()
    assert struct.unpack_from("<I", state, 4 * (16 * 1 + 14)) == (8,)
    assert struct.unpack_from("<I", state, 4 * (16 * 6 + 1)) == (3,)
    assert state.count(b"\x02\x00\x00\x00") == 16 + 16 + 12


@by_class
def test_state_round_trip(cls):
    f = sample(cls)
    g = cls()
    assert g.__setstate__(f.__getstate__()) is None
    assert g == f
    assert g.__getstate__() == f.__getstate__()


@by_class
@pytest.mark.parametrize("protocol", [2, 3, 4, 5])
def test_pickle_protocols(cls, protocol):
    f = sample(cls)
    g = pickle.loads(pickle.dumps(f, protocol=protocol))
    assert type(g) is cls and g == f


@by_class
@pytest.mark.parametrize("protocol", [0, 1])
def test_old_protocols_are_refused(cls, protocol):
    with pytest.raises(TypeError):
        pickle.dumps(cls(), protocol=protocol)


@by_class
@pytest.mark.parametrize("copier", [copy.copy, copy.deepcopy])
def test_copies_are_independent(cls, copier):
    f = sample(cls)
    g = copier(f)
    assert g == f and g is not f
    g.put(5, 4)
    assert f != g


@by_class
def test_trailing_bytes_are_ignored(cls):
    f = sample(cls)
    g = cls()
    g.__setstate__(f.__getstate__() + b"\x09" * 20)
    assert g == f


@pytest.mark.parametrize(
    "state, text",
    [
        (b"", EOF_INT),
        (b"\x30" + bytes(6), EOF_INT),
        (field_state(bytes(47), length=48), EOF_SEQ),
        (field_state(bytes(48), length=60), EOF_SEQ),
        (field_state(b"", length=2**64 - 1), EOF_SEQ),
        (field_state(b""), "range end index 16 out of range for slice of length 0"),
        (field_state(bytes(15)), "range end index 16 out of range for slice of length 15"),
        (field_state(bytes(16)), "range end index 32 out of range for slice of length 16"),
        (field_state(bytes(31)), "range end index 32 out of range for slice of length 31"),
        (field_state(bytes(32)), "range end index 48 out of range for slice of length 32"),
        (field_state(bytes(47)), "range end index 48 out of range for slice of length 47"),
    ],
)
def test_field_state_failures_leave_the_field(state, text):
    f = sample(Field)
    before = f.__getstate__()
    with panics(text):
        f.__setstate__(state)
    assert f.__getstate__() == before


def test_field_state_longer_sequence_uses_the_first_planes():
    body = NEW_FIELD_STATE[8:] + b"\xff" * 16
    f = Field().set(0, 0, 4)
    f.__setstate__(field_state(body))
    assert f == Field()


def test_field_state_takes_any_planes():
    state = bytearray(NEW_FIELD_STATE)
    state[8 + 32 + 15] |= 0x40  # plane 2 at the right wall, grid row 1
    f = Field()
    f.__setstate__(bytes(state))
    assert f.get(6, 0) == 6
    assert f.__getstate__() == bytes(state)


@pytest.mark.parametrize(
    "state, text",
    [
        (b"", EOF_INT),
        (NEW_ARRAY_STATE[:511], EOF_INT),
        (NEW_ARRAY_STATE[:4 * 77 + 3], EOF_INT),
        (struct.pack("<I", 9) + NEW_ARRAY_STATE[4:],
         UNWRAP + 'Custom("invalid value: integer `9`, expected variant index 0 <= i < 9")'),
        (NEW_ARRAY_STATE[:508] + struct.pack("<I", 2**32 - 1),
         UNWRAP + 'Custom("invalid value: integer `4294967295`, expected variant index 0 <= i < 9")'),
        # The first bad value is reported, even when the input also ends too soon.
        (NEW_ARRAY_STATE[:40] + struct.pack("<I", 12) + b"\x01",
         UNWRAP + 'Custom("invalid value: integer `12`, expected variant index 0 <= i < 9")'),
    ],
)
def test_array_state_failures_leave_the_field(state, text):
    f = sample(ArrayField)
    before = f.__getstate__()
    with panics(text):
        f.__setstate__(state)
    assert f.__getstate__() == before


def test_array_state_takes_any_type_anywhere():
    state = bytearray(NEW_ARRAY_STATE)
    struct.pack_into("<I", state, 4 * (16 * 3 + 14), 2)  # a wall on the floor of the playable area
    struct.pack_into("<I", state, 4 * (16 * 7 + 15), 8)  # purple in the corner
    f = ArrayField()
    f.__setstate__(bytes(state))
    assert f.get(2, 13) == 2
    assert f.__getstate__() == bytes(state)


@by_class
@pytest.mark.parametrize("bad", [bytearray(56), memoryview(bytes(56)), "x" * 56, None, 0])
def test_state_must_be_bytes(cls, bad):
    f = sample(cls)
    before = f.__getstate__()
    with pytest.raises(TypeError) as info:
        f.__setstate__(bad)
    assert info.value.args == ()
    assert f.__getstate__() == before


@by_class
def test_bytes_subclass_is_accepted(cls):
    class State(bytes):
        pass

    f = cls()
    f.__setstate__(State(sample(cls).__getstate__()))
    assert f == sample(cls)


@by_class
def test_state_argument_parsing(cls):
    p = {Field: "PyField", ArrayField: "PyArrayField"}[cls]
    f = cls()
    cases = [
        (lambda: f.__getstate__(1), f"{p}.__getstate__() takes at most 0 positional arguments (1 given)"),
        (lambda: f.__getstate__(state=1), f"{p}.__getstate__() got an unexpected keyword argument: state"),
        (lambda: f.__setstate__(), f"{p}.__setstate__() missing required positional argument: state"),
        (lambda: f.__setstate__(b"", b""), f"{p}.__setstate__() takes at most 1 positional argument (2 given)"),
    ]
    for call, text in cases:
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == text
    f.__setstate__(state=sample(cls).__getstate__())
    assert f == sample(cls)


@by_class
def test_setstate_borrows_exclusively(cls):
    f = cls()

    class Sneaky:
        def __index__(self):
            f.__setstate__(sample(cls).__getstate__())
            return 0

    with pytest.raises(RuntimeError) as info:
        f.get_height(Sneaky())
    assert type(info.value).__name__ == "PyBorrowMutError"
    assert f == cls()
