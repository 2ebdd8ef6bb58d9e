import re
from collections import Counter

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from tavik import ArrayField, Field, FoundChain, PuyoType

SEARCHES = {
    "find_chain": lambda f: f.find_chain(),
    "find_chain_recursive(2)": lambda f: f.find_chain_recursive(2),
    "find_chain_by_removal": lambda f: f.find_chain_by_removal(),
}
by_search = pytest.mark.parametrize("search", SEARCHES.values(), ids=SEARCHES.keys())

TYPE_NUMBERS = {"RED": 4, "BLUE": 5, "YELLOW": 6, "GREEN": 7}
TRIGGER_TYPE = re.compile(r"trigger: Connection \{ .*?puyotype: (\w+) \}, depth")


def key(find):
    """What a find is, apart from its place in the list."""
    return (find.score, find.chain, tuple(find.trigger), find.field.__getstate__(), repr(find))


def trigger_type(find):
    return TYPE_NUMBERS[TRIGGER_TYPE.search(repr(find)).group(1)]


@by_search
def test_a_new_field_has_nothing_to_find(search):
    assert search(Field()) == []


@by_search
def test_settled_groups_of_four_or_more_give_nothing_to_extend(search):
    # The groups already vanish on their own; removing them lets nothing fall.
    f = Field.from_str_array(["RRRR"])
    assert f.find_chain() == []
    assert search(f) == [] or search is SEARCHES["find_chain_by_removal"]


def test_red_three_on_the_bottom_row():
    f = Field.from_str_array(["RRR"])
    finds = f.find_chain()
    singles = {tuple(c.trigger): c for c in finds if len(c.trigger) == 1}
    assert set(singles) == {((0, 12),), ((1, 12),), ((2, 12),), ((3, 13),)}
    for find in singles.values():
        assert (find.score, find.chain) == (40, 1)
        assert find.field == Field()
    assert repr(singles[((0, 12),)]).endswith(
        ", hands: [], pairs: [], extensions: [], trigger: Connection { positions: Some([Position { x: 1, y: 13 }]),"
        " size: 1, puyotype: RED }, depth: None }>"
    )


def test_trigger_lists_the_drops_in_order_in_python_coordinates():
    f = Field.from_str_array(["RR"])
    two = [c for c in f.find_chain() if len(c.trigger) == 2 and c.trigger[0][0] == 2]
    assert [c.trigger for c in two] == [[(2, 13), (2, 12)]]


def test_field_getter_returns_a_new_copy_every_read():
    find = Field.from_str_array(["B", "RRR"]).find_chain()[0]
    first, second = find.field, find.field
    assert first is not second and first == second and type(first) is Field
    first.set(0, 0, PuyoType.RED)
    assert find.field == second != first


def test_repr_and_str_embed_the_debug_text():
    f = Field.from_str_array(["B", "RRR", "BBB"])
    removal = f.find_chain_by_removal()
    extension = f.find_chain()
    assert removal and extension
    for find in removal:
        assert repr(find).startswith("<FoundChain object FoundChain { score: ")
        assert repr(find).endswith(", depth: Some(1) }>") and str(find) == repr(find)
    for find in extension:
        assert repr(find).endswith(", depth: None }>") and str(find) == repr(find)


def test_removal_counts_the_drop_only_pass():
    # Taking the three reds out lets the blue fall onto the blues: pass 0 drops, pass 2 vanishes.
    f = Field.from_str_array(["B", "RRR", "BBB"])
    finds = {tuple(c.trigger): c for c in f.find_chain_by_removal()}
    find = finds[((0, 12), (1, 12), (2, 12))]
    assert (find.chain, find.score) == (2, 320)  # the vanishing pass scores as the second
    assert find.field == Field()


def test_recursive_depth_one_is_the_extension_search():
    f = Field.from_str_array(["GG", "BBY", "RRRY"])
    assert Counter(map(key, f.find_chain_recursive(1))) == Counter(map(key, f.find_chain()))
    assert Counter(map(key, f.find_chain_recursive(depth=1))) == Counter(map(key, f.find_chain()))


def test_recursive_depth_two_keeps_every_first_level_find_and_sorts():
    f = Field.from_str_array(["BB", "RRR"])
    first = f.find_chain()
    deeper = f.find_chain_recursive(2)
    scores = [c.score for c in deeper]
    assert scores == sorted(scores, reverse=True)
    assert not Counter(map(key, first)) - Counter(map(key, deeper))
    extended = [c for c in deeper if "extensions: []" not in repr(c)]
    assert extended and all(c.chain >= 2 for c in extended)


@pytest.mark.parametrize("depth", [0, 1, 2])
def test_recursive_search_on_a_new_field(depth):
    assert Field().find_chain_recursive(depth) == []


def test_depth_zero_finds_nothing():
    assert Field.from_str_array(["RRR"]).find_chain_recursive(0) == []


@pytest.mark.parametrize(
    "args, kwargs, exc, message",
    [
        ((-1,), {}, OverflowError, "can't convert negative int to unsigned"),
        ((2**64,), {}, OverflowError, None),
        ((1.0,), {}, TypeError, None),
        ((), {}, TypeError, "PyField.find_chain_recursive() missing required positional argument: depth"),
        ((1,), {"depth": 1}, TypeError, None),
    ],
)
def test_recursive_depth_argument_errors(args, kwargs, exc, message):
    with pytest.raises(exc) as info:
        Field.from_str_array(["RRR"]).find_chain_recursive(*args, **kwargs)
    if message is not None:
        assert str(info.value) == message


@pytest.mark.parametrize("name", ["find_chain", "find_chain_by_removal"])
def test_searches_without_parameters_take_no_arguments(name):
    with pytest.raises(TypeError):
        getattr(Field(), name)(1)


@pytest.mark.parametrize("name", ["find_chain", "find_chain_recursive", "find_chain_by_removal"])
def test_array_field_has_no_finder(name):
    assert not hasattr(ArrayField, name)
    assert not hasattr(ArrayField(), name)


def test_found_chain_is_not_constructible_and_compares_by_identity():
    with pytest.raises(TypeError):
        FoundChain()
    a, b = Field.from_str_array(["RRR"]).find_chain()[:2]
    assert a == a and a != b and hash(a) == hash(a)
    with pytest.raises(AttributeError):
        a.score = 1


def test_finds_are_returned_in_new_lists_of_new_objects():
    f = Field.from_str_array(["RRR"])
    one, two = f.find_chain(), f.find_chain()
    assert one is not two and all(x is not y for x, y in zip(one, two))
    assert list(map(key, one)) == list(map(key, two))  # deterministic order


# Settled random stacks: small groups of the four colours, some garbage.
stacks = st.lists(
    st.lists(st.sampled_from([4, 5, 6, 7, 4, 5, 6, 7, 1]), max_size=11).map(lambda c: [0] * (14 - len(c)) + c),
    min_size=6,
    max_size=6,
)


def replay_drop(field, find):
    copy = field.clone()
    for x, _ in find.trigger:
        copy.put(x, trigger_type(find))
    return copy


def replay_removal(field, find):
    copy = field.clone()
    for x, y in find.trigger:
        copy.set(x, y, PuyoType.EMPTY)
    return copy


@settings(max_examples=120, deadline=None)
@given(stacks)
def test_every_find_replays_by_hand_and_no_search_changes_the_field(columns):
    f = Field.from_array(columns)
    if f.clone().chain().chain:
        return  # a field that fires by itself is not a searcher's input
    before = f.__getstate__()
    for searched, replay in ((f.find_chain(), replay_drop), (f.find_chain_by_removal(), replay_removal)):
        assert f.__getstate__() == before
        for find in searched:
            copy = replay(f, find)
            result = copy.chain()
            assert (result.score, result.chain) == (find.score, find.chain), repr(find)
            assert copy == find.field
    f.find_chain_recursive(2)
    assert f.__getstate__() == before
