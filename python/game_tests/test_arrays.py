"""to_numpy, from_numpy and observe against the cell-by-cell API."""

import random
import re

import pytest

np = pytest.importorskip("numpy")
pytest.importorskip("tavik_game._native")

import tavik  # noqa: E402
import tavik_game as tg  # noqa: E402

TYPES = [0, 1, 4, 5, 6, 7]  # empty, ojama and the four colours the bit field keeps


def random_field(rng: random.Random) -> tavik.Field:
    """Cells of rows 0 to 13 set at random, floating ones included: the writers read cells, not rules."""
    f = tavik.Field()
    for y in range(14):
        for x in range(6):
            t = rng.choice(TYPES)
            if t:
                f.set(x, y, t)
    return f


@pytest.fixture(scope="module")
def fields():
    rng = random.Random(5)
    return [random_field(rng) for _ in range(40)]


def test_to_numpy_holds_every_type_number_and_round_trips(fields):
    for f in fields:
        a = tg.to_numpy(f)
        assert a.shape == (14, 6) and a.dtype == np.uint8
        assert a.tolist() == [[f.get(x, y) for x in range(6)] for y in range(14)]
        assert tg.from_numpy(a) == f
        assert tg.from_numpy(a.astype(np.int64)) == f


@pytest.mark.parametrize("colours", [3, 4])
def test_observe_planes_match_get_on_rows_1_to_13(fields, colours):
    obs = tg.observe(fields, colours=colours)
    assert obs.shape == (len(fields), colours + 1, 13, 6) and obs.dtype == np.uint8
    expected = np.zeros_like(obs)
    for i, f in enumerate(fields):
        for y in range(1, 14):
            for x in range(6):
                t = f.get(x, y)
                if 4 <= t < 4 + colours:
                    expected[i, t - 4, y - 1, x] = 1
                elif t == tavik.PuyoType.OJAMA:
                    expected[i, colours, y - 1, x] = 1
    np.testing.assert_array_equal(obs, expected)


def test_observe_writes_into_out_and_reads_games(fields):
    out = np.full((3, 5, 13, 6), 9, np.uint8)
    assert tg.observe(fields[:3], out=out) is out
    np.testing.assert_array_equal(out, tg.observe(fields[:3]))
    game = tg.Game(seed=3)
    np.testing.assert_array_equal(tg.observe([game]), tg.observe([game.field]))
    assert tg.observe([]).shape == (0, 5, 13, 6)


def test_observe_shapes_follow_each_call(fields):
    # The native function keeps the last shape it made; a new count or colour count must not reuse it.
    for n, colours in [(1, 4), (1, 4), (2, 4), (2, 3), (1, 4), (0, 3)]:
        obs = tg.observe(fields[:n], colours)
        assert obs.shape == (n, colours + 1, 13, 6)
        np.testing.assert_array_equal(obs, tg.observe(fields[:n], colours=colours, out=np.empty_like(obs)))


@pytest.mark.parametrize(
    "args, kwargs, text",
    [
        ((), {}, "missing required argument 'fields'"),
        (([],), {"colour": 4}, "unexpected keyword argument 'colour'"),
        (([], 4), {"colours": 4}, "multiple values for argument 'colours'"),
        (([], 4, None, 1), {}, "at most 3 arguments"),
        ((tavik.Field(),), {}, "list of tavik.Field or Game"),
    ],
)
def test_observe_argument_errors(args, kwargs, text):
    with pytest.raises(TypeError, match=text):
        tg.observe(*args, **kwargs)


@pytest.mark.parametrize(
    "out, error, text",
    [
        (np.zeros((2, 5, 13, 6), np.uint8), ValueError, "shape (1, 5, 13, 6)"),
        (np.zeros((1, 5, 13, 6), np.int16), ValueError, "uint8"),
        (np.zeros((1, 5, 13, 12), np.uint8)[..., ::2], ValueError, "C-contiguous"),
        (np.asfortranarray(np.zeros((1, 5, 13, 6), np.uint8)), ValueError, "C-contiguous"),
        ([0] * 390, TypeError, "must be a C-contiguous writable uint8 array"),
    ],
)
def test_observe_refuses_bad_out_and_leaves_it_unchanged(out, error, text):
    field = tavik.Field.from_str_array(["RB    "])
    before = np.array(out, copy=True)
    with pytest.raises(error, match=text.replace("(", r"\(").replace(")", r"\)")):
        tg.observe([field], out=out)
    np.testing.assert_array_equal(np.asarray(out), before)


def test_observe_refuses_read_only_out_and_foreign_items():
    out = np.zeros((1, 5, 13, 6), np.uint8)
    out.flags.writeable = False
    with pytest.raises(ValueError, match="writable"):
        tg.observe([tavik.Field()], out=out)
    with pytest.raises(TypeError, match="tavik.Field or Game"):
        tg.observe([tavik.ArrayField()])
    with pytest.raises(ValueError, match="colours must be 3 or 4"):
        tg.observe([tavik.Field()], colours=5)


@pytest.mark.parametrize(
    "array, error, text",
    [
        (np.zeros((13, 6), np.uint8), ValueError, r"shape \(14, 6\)"),
        (np.zeros((14, 6), np.float32), TypeError, "integer"),
        (np.full((14, 6), 8, np.uint8), ValueError, "holds 8"),
        (np.full((14, 6), -1, np.int8), ValueError, "holds -1"),
    ],
)
def test_from_numpy_refuses_bad_arrays(array, error, text):
    with pytest.raises(error, match=text):
        tg.from_numpy(array)


@pytest.mark.parametrize("colours", [3, 4])
@pytest.mark.parametrize("n", [0, 1, 5, 40])  # 40: past the count that releases the lock
def test_observe_of_type_numbers_matches_observe_of_their_fields(colours, n):
    rng = np.random.default_rng(n + colours)
    types = rng.integers(0, 8, size=(n, 14, 6), dtype=np.uint8)
    fields = [tg.from_numpy(t) for t in types]
    expected = tg.observe(fields, colours)
    assert np.array_equal(tg.observe(types, colours), expected)
    out = np.full_like(expected, 9)
    assert tg.observe(types, colours, out) is out and np.array_equal(out, expected)


@pytest.mark.parametrize(
    ("make", "error", "says"),
    [
        (lambda np: np.zeros((3, 14, 6), np.int64), ValueError, "uint8 array of shape (3, 14, 6)"),
        (lambda np: np.zeros((3, 84), np.uint8), ValueError, "uint8 array of shape (3, 14, 6)"),
        (lambda np: np.zeros((3, 14, 6), np.uint8)[:, ::-1], ValueError, "C-contiguous"),
        (lambda np: np.zeros((), np.uint8), ValueError, "shape (0, 14, 6)"),
        (lambda np: b"\x00" * 84, ValueError, "shape"),
    ],
)
def test_observe_refuses_arrays_that_are_not_rows_of_type_numbers(make, error, says):
    with pytest.raises(error, match=re.escape(says)):
        tg.observe(make(np))


def test_observe_of_a_bad_type_number_names_the_row_and_leaves_out_unchanged():
    types = np.zeros((20, 14, 6), np.uint8)
    types[17, 13, 2] = 8
    out = np.full((20, 5, 13, 6), 9, np.uint8)
    with pytest.raises(ValueError, match=re.escape("fields[17] holds a byte that is not a type number")):
        tg.observe(types, 4, out)
    assert (out == 9).all()
