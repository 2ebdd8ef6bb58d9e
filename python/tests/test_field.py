import contextlib
import struct

import pytest

from tavik import ArrayField, Field, Hand, Pair, Rotation

CLASSES = [Field, ArrayField]
PREFIX = {Field: "PyField", ArrayField: "PyArrayField"}
U64_MAX = 2**64 - 1
UNWRAP = "called `Result::unwrap()` on an `Err` value: "

# Top row first, the last string the bottom row; '.' stands for an empty cell.
NINETEEN_CHAIN = [
    row.replace(".", " ")
    for row in ".G.BRG GBRRYR RRYYBY RGYRBR YGYRBY YGBGYR GRBGYR BRBYBY RYYBYY BRBYBR BGBYRR YGBGBG RBGBGG".split()
]

by_class = pytest.mark.parametrize("cls", CLASSES, ids=lambda c: c.__name__)


@contextlib.contextmanager
def panics(text):
    with pytest.raises(BaseException) as info:
        yield
    assert type(info.value).__name__ == "PanicException"
    assert info.value.args == (text,)


def raises_bare(exc):
    """An exception raised with no message at all."""

    @contextlib.contextmanager
    def check():
        with pytest.raises(exc) as info:
            yield
        assert info.value.args == ()

    return check()


@by_class
def test_new_field_ignores_arguments_and_has_walls(cls):
    for f in (cls(), cls(1, 2, x=3)):
        assert f.get(0, 13) == 0
        assert f.get(6, 0) == 2
        assert f.get(0, 14) == 2
        assert f.to_array() == [[0] * 14 for _ in range(6)]
        assert f.is_all_clear()
        assert f.get_num_puyos() == 0


@by_class
def test_put_stacks_from_the_bottom(cls):
    f = cls()
    assert f.put(0, 4).put(0, 5) is f
    assert (f.get(0, 13), f.get(0, 12)) == (4, 5)
    assert (f.get_height(0), f.get_num_puyos(), f.is_all_clear()) == (2, 2, False)
    for _ in range(12):
        f.put(0, 4)
    assert f.get_height(0) == 14
    assert f.get_num_puyos() == 13  # the top fuzzy row does not count
    before = f.to_array()
    assert f.put(0, 5) is f
    assert f.to_array() == before


@by_class
def test_top_fuzzy_row_is_all_clear_but_has_type(cls):
    f = cls().set(0, 0, 4)
    assert f.is_all_clear()
    assert f.has_type(4)
    assert not f.has_type(5)


@by_class
def test_python_coordinates_wrap_around(cls):
    # Python -1 is the left wall and the ceiling after the shift by one.
    assert cls().get(U64_MAX, U64_MAX) == 2
    assert cls().get(U64_MAX, 5) == 2


def test_purple_is_stored_only_in_the_array_field():
    assert Field().set(0, 13, 8).get(0, 13) == 0
    assert Field().put(0, 8).get(0, 13) == 0
    assert Field.from_str_array(["P"]).get(0, 13) == 0
    assert ArrayField().set(0, 13, 8).get(0, 13) == 8
    assert ArrayField().put(0, 8).get(0, 13) == 8
    assert ArrayField.from_str_array(["P"]).get(0, 13) == 8
    cols = [[0] * 14 for _ in range(6)]
    cols[0][13] = 8
    assert Field.from_array(cols).get(0, 13) == 0
    assert ArrayField.from_array(cols).get(0, 13) == 8


def test_has_type_differences():
    assert Field().has_type(2)
    assert not ArrayField().has_type(2)
    assert ArrayField().set(2, 5, 2).has_type(2)
    assert not ArrayField().has_type(8)
    assert ArrayField().set(2, 5, 8).has_type(8)
    with panics("not implemented"):
        Field().has_type(8)


@by_class
@pytest.mark.parametrize(
    "call, text",
    [
        (lambda f: f.get(7, 0), "index out of bounds: the len is 8 but the index is 8"),
        (lambda f: f.get(0, 15), "index out of bounds: the len is 16 but the index is 16"),
        (lambda f: f.set(7, 0, 4), "index out of bounds: the len is 8 but the index is 8"),
        (lambda f: f.set(0, 20, 4), "index out of bounds: the len is 16 but the index is 21"),
        (lambda f: f.set(9, 20, 4), "index out of bounds: the len is 8 but the index is 10"),
    ],
)
def test_cells_outside_the_grid_panic(cls, call, text):
    f = cls()
    with panics(text):
        call(f)
    assert f == cls()


def test_out_of_range_columns_differ():
    assert Field().get_height(7) == U64_MAX
    assert Field().put(7, 4) == Field()
    assert Field().put(6, 4) == Field() and ArrayField().put(6, 4) == ArrayField()
    with panics("index out of bounds: the len is 8 but the index is 8"):
        ArrayField().get_height(7)
    with panics("index out of bounds: the len is 8 but the index is 8"):
        ArrayField().put(7, 4)


@by_class
@pytest.mark.parametrize(
    "call, text",
    [
        (lambda f: f.set(0, 0, 9), UNWRAP + "InvalidPuyoTypeNumber(9)"),
        (lambda f: f.set(7, 0, 9), UNWRAP + "InvalidPuyoTypeNumber(9)"),  # type before index
        (lambda f: f.put(0, 100), UNWRAP + "InvalidPuyoTypeNumber(100)"),
        (lambda f: f.has_type(U64_MAX), UNWRAP + f"InvalidPuyoTypeNumber({U64_MAX})"),
        (lambda f: f.put_pair(0, "Top", Pair(4, 5)), UNWRAP + 'InvalidRotationString("Top")'),
    ],
)
def test_bad_values_panic_and_leave_the_field(cls, call, text):
    f = cls().put(2, 4)
    with panics(text):
        call(f)
    assert f == cls().put(2, 4)


@by_class
@pytest.mark.parametrize(
    "x, rotation, text",
    [(0, "left", "Invalid put operation (left, 1)"), (5, "right", "Invalid put operation (right, 6)"),
     (U64_MAX, "LEFT", "Invalid put operation (left, 0)"), (100, "RIGHT", "Invalid put operation (right, 101)")],
)
def test_refused_placements(cls, x, rotation, text):
    f = cls()
    with pytest.raises(RuntimeError) as info:
        f.put_pair(x, rotation, Pair(4, 5))
    assert str(info.value) == text
    assert f == cls()


@by_class
def test_refused_hand(cls):
    with pytest.raises(RuntimeError, match=r"^Invalid put operation \(left, 1\)$"):
        cls().put_hand(Hand(0, Rotation.LEFT), Pair(4, 5))


@by_class
@pytest.mark.parametrize(
    "x, rotation, cells",
    [
        (2, "top", {(2, 13): 5, (2, 12): 4}),
        (2, "TOP", {(2, 13): 5, (2, 12): 4}),
        (2, "bottom", {(2, 13): 4, (2, 12): 5}),
        (2, "left", {(2, 13): 5, (1, 13): 4}),
        (2, "RIGHT", {(2, 13): 5, (3, 13): 4}),
        (5, "top", {(5, 13): 5, (5, 12): 4}),
        (6, "left", {(5, 13): 4}),  # the axis is lost in the wall column
    ],
)
def test_put_pair_places_axis_and_child(cls, x, rotation, cells):
    f = cls().put_pair(x, rotation, Pair(4, 5))
    expected = cls()
    for (cx, cy), t in cells.items():
        expected.set(cx, cy, t)
    assert f == expected


@by_class
def test_put_hand_uses_the_hands_column(cls):
    assert cls().put_hand(Hand(2, Rotation.LEFT), Pair(4, 5)) == cls().put_pair(2, "left", Pair(4, 5))


@by_class
def test_put_pair_argument_order_of_checks(cls):
    f = cls()
    with raises_bare(TypeError):
        f.put_pair(0, "Top", None)  # the pair is checked before the rotation text
    with raises_bare(TypeError):
        f.put_pair(0, Rotation.TOP, Pair(4, 5))
    with raises_bare(TypeError):
        f.put_pair(0, "top", Hand())
    with raises_bare(TypeError):
        f.put_hand(Pair(), Pair())
    with raises_bare(TypeError):
        f.put_hand(Hand(), Hand())

    class Text(str):
        pass

    assert f.put_pair(0, Text("top"), Pair(4, 5)).get(0, 13) == 5


@by_class
def test_from_str_array_fills_from_the_bottom(cls):
    arr = cls.from_str_array(["RGB"]).to_array()
    assert [arr[x][13] for x in range(3)] == [4, 7, 5]
    assert sum(map(sum, arr)) == 16
    f = cls.from_str_array(("R", "G"))
    assert (f.get(0, 12), f.get(0, 13)) == (4, 7)
    assert cls.from_str_array("RG") == f  # a bare str is a sequence of one-character rows
    assert cls.from_str_array(["R", ""]) == cls().set(0, 12, 4)  # an empty row stays untouched
    assert cls.from_str_array([]) == cls()


@by_class
def test_from_str_array_seventh_character_and_fifteenth_row(cls):
    f = cls.from_str_array(["OOOOOOR"])
    assert f.get(6, 13) == 4
    g = cls.from_str_array(["R"] + [""] * 14)
    assert g.get(0, U64_MAX) == 4  # the ceiling
    assert cls.from_str_array([""] * 16) == cls()


@by_class
@pytest.mark.parametrize(
    "rows, text",
    [
        (["OOOOOOOR"], "index out of bounds: the len is 8 but the index is 8"),
        (["R"] + [""] * 15, f"index out of bounds: the len is 16 but the index is {U64_MAX}"),
        (["Rx"], UNWRAP + "InvalidPuyoTypeCharacter('x')"),
        (["r"], UNWRAP + "InvalidPuyoTypeCharacter('r')"),
        (["é"], UNWRAP + "InvalidPuyoTypeCharacter('é')"),
    ],
)
def test_from_str_array_failures(cls, rows, text):
    with panics(text):
        cls.from_str_array(rows)


@by_class
def test_from_str_array_argument_types(cls):
    for bad in ({"R"}, {"R": 1}, 5, None, iter(["R"])):
        with raises_bare(TypeError):
            cls.from_str_array(bad)
    with raises_bare(TypeError):
        cls.from_str_array(["R", b"G"])
    with pytest.raises(UnicodeEncodeError):
        cls.from_str_array(["\ud800"])

    class Rows:
        # A sequence whose length fails is still read by iteration.
        def __len__(self):
            raise ValueError("no length")

        def __getitem__(self, i):
            return ["R", "G"][i]

    assert cls.from_str_array(Rows()) == cls.from_str_array(["R", "G"])

    class Text(str):
        pass

    assert cls.from_str_array([Text("Y")]).get(0, 13) == 6


@by_class
def test_from_array_round_trip(cls):
    assert cls.from_array([[0] * 14] * 6) == cls()
    cols = [[(x + y) % 8 for y in range(14)] for x in range(6)]
    f = cls.from_array(cols)
    assert f.to_array() == cols
    assert f.get(1, 2) == 3
    assert cls.from_array(tuple(tuple(c) for c in cols)) == f


@by_class
@pytest.mark.parametrize("shape", [[[0] * 14] * 5, [[0] * 13] * 6, [[0] * 14] * 7, [[0] * 14] * 5 + [[0] * 15], []])
def test_from_array_size(cls, shape):
    with pytest.raises(RuntimeError) as info:
        cls.from_array(shape)
    assert info.value.args == ("Invalid size of array",)


@by_class
def test_from_array_converts_everything_before_the_size_check(cls):
    with pytest.raises(OverflowError):
        cls.from_array([[0] * 3, [-1]])
    with pytest.raises(TypeError, match="integer"):
        cls.from_array([[0] * 3, ["x"]])
    with raises_bare(TypeError):
        cls.from_array([[0] * 14] * 7 + [5])
    with raises_bare(TypeError):
        cls.from_array(5)
    cols = [[0] * 14 for _ in range(6)]
    cols[3][2] = 9
    with panics(UNWRAP + "InvalidPuyoTypeNumber(9)"):
        cls.from_array(cols)


@by_class
def test_clone_is_independent(cls):
    f = cls().put(0, 4)
    g = f.clone()
    assert type(g) is cls and g == f and g is not f
    g.put(0, 5)
    assert f.get(0, 12) == 0


@by_class
def test_equality_and_fuzzy_rows(cls):
    f, g = cls(), cls().set(0, 0, 4).set(1, 1, 5)
    assert f != g and not f == g
    assert f.equals_without_fuzzy(g)
    assert not f.equals_without_fuzzy(g.set(2, 2, 4))
    assert f.equals_without_fuzzy(f)
    assert not (cls() != cls())


@by_class
def test_comparison_with_foreign_objects(cls):
    other = ArrayField() if cls is Field else Field()
    for foreign in (None, 0, other):
        with raises_bare(TypeError):
            cls() == foreign
        with raises_bare(TypeError):
            foreign == cls()
    with raises_bare(TypeError):
        cls().equals_without_fuzzy(other)
    for op in ("__lt__", "__le__", "__gt__", "__ge__"):
        with panics("not implemented"):
            getattr(cls(), op)(cls())
    with pytest.raises(TypeError):
        hash(cls())


@by_class
def test_step_chain(cls):
    f = cls.from_str_array(["R", "BRRR"])
    still = f.clone()
    step = still.step_chain(5)
    assert step.chain == 0 and step.score == 0 and still == f
    f.set(1, 12, 4).set(1, 11, 6)  # five reds joined, a yellow on top of them
    step = f.step_chain(5)
    assert step.chain == 5
    assert f == cls().set(0, 13, 5).set(1, 13, 6)


def test_nineteen_chain_on_both_fields():
    a, b = Field.from_str_array(NINETEEN_CHAIN), ArrayField.from_str_array(NINETEEN_CHAIN)
    ra, rb = a.chain(), b.chain()
    assert ra.chain == rb.chain == 19
    assert ra.score == rb.score > 0
    assert a.to_array() == b.to_array()
    assert a.chain().chain == 0


@by_class
def test_argument_parsing_names_the_location(cls):
    p = PREFIX[cls]
    f = cls()
    cases = [
        (lambda: f.get(0, 1, 2), f"{p}.get() takes at most 2 positional arguments (3 given)"),
        (lambda: f.get(1), f"{p}.get() missing required positional argument: y"),
        (lambda: f.get(1, x=2), f"{p}.get() got multiple values for argument: x"),
        (lambda: f.get_height(0, 1), f"{p}.get_height() takes at most 1 positional argument (2 given)"),
        (lambda: f.set(0, 1, 2, z=1), f"{p}.set() got an unexpected keyword argument: z"),
        (lambda: f.put(x=0), f"{p}.put() missing required positional argument: value"),
        (lambda: f.has_type(t=1), f"{p}.has_type() missing required positional argument: puyotype"),
        (lambda: f.put_pair(0, "top"), f"{p}.put_pair() missing required positional argument: pair"),
        (lambda: f.put_hand(Hand()), f"{p}.put_hand() missing required positional argument: pair"),
        (lambda: f.step_chain(), f"{p}.step_chain() missing required positional argument: num_chain"),
        (lambda: f.equals_without_fuzzy(), f"{p}.equals_without_fuzzy() missing required positional argument: other"),
        (lambda: cls.from_str_array(), f"{p}.from_str_array() missing required positional argument: s"),
        (lambda: cls.from_array([], []), f"{p}.from_array() takes at most 1 positional argument (2 given)"),
    ]
    for call, text in cases:
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == text
    # Keywords work for every parameter.
    assert f.set(x=0, y=13, value=4).get(y=13, x=0) == 4
    assert f.put_pair(pair=Pair(5, 5), rotation="top", x=1).get_height(x=1) == 2
    assert cls.from_str_array(s=["R"]) == cls.from_array(s=cls().set(0, 13, 4).to_array())


class CallsBack:
    """An integer whose conversion calls into a field."""

    def __init__(self, value, action):
        self.value, self.action = value, action

    def __index__(self):
        self.action()
        return self.value


@by_class
def test_borrow_is_taken_before_arguments_are_converted(cls):
    f = cls()
    # get borrows exclusively: even a read from inside its argument conflicts.
    with pytest.raises(RuntimeError) as info:
        f.get(CallsBack(0, f.get_num_puyos), 13)
    assert type(info.value).__name__ == "PyBorrowError" and info.value.args == ()
    # get_height borrows shared: reads are fine, writes conflict.
    assert f.get_height(CallsBack(0, f.get_num_puyos)) == 0
    with pytest.raises(RuntimeError) as info:
        f.get_height(CallsBack(0, lambda: f.put(0, 4)))
    assert type(info.value).__name__ == "PyBorrowMutError" and info.value.args == ()
    with pytest.raises(RuntimeError) as info:
        f.set(0, 13, CallsBack(4, f.clone))
    assert type(info.value).__name__ == "PyBorrowError"
    assert f == cls()  # every borrow was released
    assert f.set(0, 13, 4).get(0, 13) == 4




@pytest.mark.parametrize(
    "frame_cell, inside, index",
    [
        ((7, 9), (6, 9), 8),  # right wall: the search looks at column 8
        ((4, 15), (4, 14), 16),  # floor: row 16
        ((0, 9), (1, 9), U64_MAX),  # left wall: column 0 - 1 wraps
    ],
)
def test_array_field_group_beside_its_colour_in_the_frame_fails_unchanged(frame_cell, inside, index):
    """The flood fill steps onto a frame cell of its colour and from there outside the grid: step_chain
    fails with the index error before clearing anything."""
    cells = list(struct.unpack("<128I", ArrayField().__getstate__()))
    for x, y in (frame_cell, inside, (inside[0], inside[1] - 1), (inside[0], inside[1] - 2)):
        cells[16 * x + y] = 4
    f = ArrayField()
    f.__setstate__(struct.pack("<128I", *cells))
    before = f.__getstate__()
    length = 16 if frame_cell[1] == 15 else 8
    with panics(f"index out of bounds: the len is {length} but the index is {index}"):
        f.step_chain(1)
    assert f.__getstate__() == before
