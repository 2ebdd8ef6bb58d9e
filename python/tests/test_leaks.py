"""Every entry, on its success and its error paths, called many times in a loop.

A call must give back every reference it took (the arguments' reference counts,
and those of None, True and False, are the same after the loop) and must free
what it allocated: Python-heap growth is measured with tracemalloc, native
growth (the core's vectors and strings) with the resident set size.
"""

from __future__ import annotations

import copy
import gc
import os
import pickle
import struct
import sys
import tracemalloc

import pytest

tavik = pytest.importorskip("tavik")
NEEDED = ("Field", "ArrayField", "Pair", "Hand", "Rotation", "PuyoType", "ChainResult", "ChainStepResult")
if not all(hasattr(tavik, name) for name in NEEDED):
    pytest.skip("the module's classes are not all built yet", allow_module_level=True)

SANITIZED = os.environ.get("TAVIK_SANITIZED") == "1"
# The sanitizers make every call far slower and keep freed memory in quarantine.
ITERATIONS = int(os.environ.get("TAVIK_LEAK_ITERATIONS", 2_000 if SANITIZED else 20_000))
WARM_UP = 500
PYTHON_HEAP_BOUND = 64 * 1024
RESIDENT_BOUND = 512 * 1024
PAGE = os.sysconf("SC_PAGE_SIZE")

TOP, LEFT, BOTTOM, RIGHT = tavik.Rotation.TOP, tavik.Rotation.LEFT, tavik.Rotation.BOTTOM, tavik.Rotation.RIGHT
U64 = 2**64
CHAIN_ROWS = ["  B   ", " BR   ", "BRRR  ", "BBGGGG"]
GROUP_ROWS = ["R  B", "RR BB", "GGYYY"]
BIG = 10**30  # not cached by the interpreter, so its count is ours alone


class IndexRaises:
    def __index__(self):
        raise KeyError("from __index__")


class Reenters:
    """An integer whose __index__ calls into a field that the running call holds."""

    def __init__(self, field):
        self.field = field

    def __index__(self):
        self.field.__setstate__(self.field.__getstate__())
        return 0


class LenRaises(list):
    def __len__(self):
        raise ValueError("from __len__")


def resident_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * PAGE


def pair_state(child, axis):
    return struct.pack("<II", child, axis)


def field_cases(cls):
    name = cls.__name__
    f = cls.from_str_array(GROUP_ROWS)
    chain_field = cls.from_str_array(CHAIN_ROWS)
    other = cls.from_str_array(["R"])
    pair = tavik.Pair(4, 5)
    hand = tavik.Hand(2, RIGHT)
    refused = tavik.Hand(5, RIGHT)
    rows = list(GROUP_ROWS)
    cells = f.to_array()
    state = f.__getstate__()
    top, left, bad_rotation, surrogate = "top", "left", "Top", "\ud800"
    huge, negative, fraction = BIG, -BIG, 1.5
    cases = [
        ("new", cls, (1, 2), {"key": 3}),
        ("from_str_array", cls.from_str_array, (rows,), {}),
        ("from_str_array keyword", cls.from_str_array, (), {"s": rows}),
        ("from_str_array length raises", cls.from_str_array, (LenRaises(rows),), {}),
        ("from_str_array bad character", cls.from_str_array, (["r"],), {}),
        ("from_str_array not a str", cls.from_str_array, (["R", None],), {}),
        ("from_str_array surrogate", cls.from_str_array, ([surrogate],), {}),
        ("from_str_array not a sequence", cls.from_str_array, (huge,), {}),
        ("from_array", cls.from_array, (cells,), {}),
        ("from_array wrong size", cls.from_array, (cells[:5],), {}),
        ("from_array bad type", cls.from_array, ([[9] * 14] * 6,), {}),
        ("from_array negative", cls.from_array, ([[0] * 13 + [negative]] * 6,), {}),
        ("from_array not a sequence", cls.from_array, ([cells[0], huge],), {}),
        ("from_array index raises", cls.from_array, ([[IndexRaises()] * 14] * 6,), {}),
        ("clone", f.clone, (), {}),
        ("get", f.get, (0, 13), {}),
        ("get keyword", f.get, (), {"x": 0, "y": 13}),
        ("get negative", f.get, (negative, 0), {}),
        ("get huge", f.get, (huge, 0), {}),
        ("get float", f.get, (fraction, 0), {}),
        ("get index raises", f.get, (IndexRaises(), 0), {}),
        ("get reentrant", f.get, (Reenters(f), 0), {}),
        ("get missing", f.get, (0,), {}),
        ("get too many", f.get, (0, 1, 2), {}),
        ("get repeated", f.get, (0,), {"x": 1}),
        ("get unknown keyword", f.get, (0, 1), {"z": huge}),
        ("set", f.set, (0, 0, 4), {}),
        ("set bad type", f.set, (0, 0, 9), {}),
        ("put", f.put, (0, 0), {}),
        ("put bad type", f.put, (0, huge), {}),
        ("to_array", f.to_array, (), {}),
        ("get_height", f.get_height, (0,), {}),
        ("get_height beyond", f.get_height, (7,), {}),
        ("get_num_puyos", f.get_num_puyos, (), {}),
        ("is_all_clear", f.is_all_clear, (), {}),
        ("has_type", f.has_type, (4,), {}),
        ("has_type purple", f.has_type, (8,), {}),
        ("has_type bad", f.has_type, (9,), {}),
        ("put_pair", lambda *a: f.clone().put_pair(*a), (2, top, pair), {}),
        ("put_pair refused", f.put_pair, (0, left, pair), {}),
        ("put_pair bad rotation", f.put_pair, (0, bad_rotation, pair), {}),
        ("put_pair rotation not str", f.put_pair, (0, huge, pair), {}),
        ("put_pair surrogate", f.put_pair, (0, surrogate, pair), {}),
        ("put_pair not a pair", f.put_pair, (0, top, hand), {}),
        ("put_hand", lambda *a: f.clone().put_hand(*a), (hand, pair), {}),
        ("put_hand refused", f.put_hand, (refused, pair), {}),
        ("put_hand not a hand", f.put_hand, (pair, pair), {}),
        ("step_chain", lambda n: chain_field.clone().step_chain(n).score, (1,), {}),
        ("step_chain unscorable", lambda n: chain_field.clone().step_chain(n).score, (25,), {}),
        ("chain", lambda: chain_field.clone().chain().score, (), {}),
        ("chain no arguments", f.chain, (huge,), {}),
        ("equals_without_fuzzy", f.equals_without_fuzzy, (other,), {}),
        ("equals_without_fuzzy itself", f.equals_without_fuzzy, (f,), {}),
        ("equals_without_fuzzy wrong class", f.equals_without_fuzzy, (pair,), {}),
        ("get_pretty_string", f.get_pretty_string, (), {}),
        ("get_html_string", f.get_html_string, (), {}),
        ("__getstate__", f.__getstate__, (), {}),
        ("__getstate__ extra", f.__getstate__, (huge,), {}),
        ("__setstate__", f.__setstate__, (state,), {}),
        ("__setstate__ short", f.__setstate__, (state[:5],), {}),
        ("__setstate__ bytearray", f.__setstate__, (bytearray(state),), {}),
        ("==", f.__eq__, (other,), {}),
        ("== foreign", f.__eq__, (huge,), {}),
        ("<", f.__lt__, (other,), {}),
        ("hash", hash, (f,), {}),
        ("pickle", lambda o: pickle.loads(pickle.dumps(o, 4)), (f,), {}),
        ("pickle protocol 1", pickle.dumps, (f, 1), {}),
        ("deepcopy", copy.deepcopy, (f,), {}),
    ]
    if cls is tavik.Field and hasattr(cls, "find_chain"):
        cases += [
            ("find_chain", f.find_chain, (), {}),
            ("find_chain_by_removal", f.find_chain_by_removal, (), {}),
            ("find_chain_recursive", f.find_chain_recursive, (2,), {}),
            ("find_chain_recursive negative", f.find_chain_recursive, (negative,), {}),
            ("find_chain_recursive keyword", f.find_chain_recursive, (), {"depth": 1}),
        ]
    return [(f"{name}.{case}", fn, args, kwargs) for case, fn, args, kwargs in cases]


def found_chain_cases():
    if not hasattr(tavik, "FoundChain") or not hasattr(tavik.Field, "find_chain"):
        return []
    finds = tavik.Field.from_str_array(GROUP_ROWS).find_chain()
    assert finds, "the field for the leak cases must have finds"
    found = finds[0]
    return [
        ("FoundChain.getters", lambda o: (o.score, o.chain, o.trigger, o.field), (found,), {}),
        ("FoundChain.repr", repr, (found,), {}),
        ("FoundChain.assign", setattr, (found, "score", BIG), {}),
        ("FoundChain.pickle", pickle.dumps, (found, 2), {}),
    ]


def value_cases():
    pair = tavik.Pair(4, 5)
    hand = tavik.Hand(2, LEFT)
    pair_bytes, hand_bytes = pair.__getstate__(), hand.__getstate__()
    bad_pair_bytes = pair_state(4, 9)
    bad_hand_bytes = struct.pack("<QI", 3, 7)
    result = tavik.Field.from_str_array(CHAIN_ROWS).chain()
    step = tavik.Field.from_str_array(CHAIN_ROWS).step_chain(3)
    return [
        ("Pair()", tavik.Pair, (), {}),
        ("Pair(4, 5)", tavik.Pair, (4, 5), {}),
        ("Pair bad type", tavik.Pair, (4, 9), {}),
        ("Pair not an integer", tavik.Pair, (None, 4), {}),
        ("Pair huge", tavik.Pair, (BIG, 4), {}),
        ("Pair index raises", tavik.Pair, (IndexRaises(), 4), {}),
        ("Pair one argument", tavik.Pair, (4,), {}),
        ("Pair keyword", tavik.Pair, (), {"axis": 4}),
        ("Pair getters", lambda p: (p.axis, p.child), (pair,), {}),
        ("Pair[0]", pair.__getitem__, (0,), {}),
        ("Pair[2]", pair.__getitem__, (2,), {}),
        ("Pair[huge]", lambda p: p[BIG], (pair,), {}),
        ("Pair unpack", list, (pair,), {}),
        ("Pair repr", repr, (pair,), {}),
        ("Pair ==", pair.__eq__, (pair,), {}),
        ("Pair == foreign", pair.__eq__, (hand,), {}),
        ("Pair hash", hash, (pair,), {}),
        ("Pair __setstate__", pair.__setstate__, (pair_bytes,), {}),
        ("Pair __setstate__ bad", pair.__setstate__, (bad_pair_bytes,), {}),
        ("Pair pickle", lambda o: pickle.loads(pickle.dumps(o, 2)), (pair,), {}),
        ("Hand()", tavik.Hand, (), {}),
        ("Hand(2, LEFT)", tavik.Hand, (2, LEFT), {}),
        ("Hand not a rotation", tavik.Hand, (0, 0), {}),
        ("Hand negative", tavik.Hand, (-BIG, TOP), {}),
        ("Hand index raises", tavik.Hand, (IndexRaises(), TOP), {}),
        ("Hand one argument", tavik.Hand, (0,), {}),
        ("Hand keyword", tavik.Hand, (), {"x": 0}),
        ("Hand.enumerate", tavik.Hand.enumerate, (1, 2), {}),
        ("Hand getters", lambda h: (h.x, h.rotation), (hand,), {}),
        ("Hand repr", repr, (hand,), {}),
        ("Hand == foreign", hand.__eq__, (pair,), {}),
        ("Hand __setstate__", hand.__setstate__, (hand_bytes,), {}),
        ("Hand __setstate__ bad", hand.__setstate__, (bad_hand_bytes,), {}),
        ("Hand __setstate__ short", hand.__setstate__, (hand_bytes[:11],), {}),
        ("Rotation str repr", lambda r: (str(r), repr(r)), (BOTTOM,), {}),
        ("Rotation ==", TOP.__eq__, (BOTTOM,), {}),
        ("Rotation == int", TOP.__eq__, (BIG,), {}),
        ("Rotation <", TOP.__lt__, (RIGHT,), {}),
        ("Rotation attribute", getattr, (tavik.Rotation, "LEFT"), {}),
        ("PuyoType attribute", getattr, (tavik.PuyoType, "PURPLE"), {}),
        ("PuyoType assign", setattr, (tavik.PuyoType, "RED", BIG), {}),
        ("PuyoType()", tavik.PuyoType, (), {}),
        ("ChainResult getters", lambda r: (r.chain, r.score), (result,), {}),
        ("ChainStepResult getters", lambda r: (r.chain, r.score), (step,), {}),
        ("ChainResult assign", setattr, (result, "chain", BIG), {}),
    ]


CASES = field_cases(tavik.Field) + field_cases(tavik.ArrayField) + value_cases() + found_chain_cases()


def call_many(fn, args, kwargs, n):
    for _ in range(n):
        try:
            fn(*args, **kwargs)
        except BaseException:  # PanicException is a BaseException
            pass


def shared_by_the_interpreter(o) -> bool:
    """None, the booleans and small ints: counts that other code moves too."""
    return o is None or isinstance(o, bool) or (type(o) is int and -5 <= o <= 256)


def counts(objects):
    # The type attribute cache holds a strong reference to the last name looked
    # up in each of its slots, and which slot a name lands in differs from
    # process to process: emptied right before counting, it cannot move a count.
    sys._clear_type_cache()
    return [sys.getrefcount(o) for o in objects]


def measure(watched, singletons):
    """Memory first, counts last, the same way before and after the loop."""
    gc.collect()
    heap, resident = tracemalloc.get_traced_memory()[0], resident_bytes()
    return heap, resident, counts(watched), counts(singletons)


@pytest.mark.parametrize("fn, args, kwargs", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_calls_release_what_they_take(fn, args, kwargs):
    watched = [fn, *args, *kwargs.values(), getattr(fn, "__self__", None), TOP, LEFT, BOTTOM, RIGHT]
    watched = [o for o in watched if not shared_by_the_interpreter(o)]
    singletons = (None, True, False)

    tracemalloc.start()
    try:
        call_many(fn, args, kwargs, WARM_UP)
        heap_before, resident_before, refs_before, singletons_before = measure(watched, singletons)
        call_many(fn, args, kwargs, ITERATIONS)
        heap_after, resident_after, refs_after, singletons_after = measure(watched, singletons)
    finally:
        tracemalloc.stop()

    assert refs_after == refs_before, "an argument's reference count changed"
    # Other code in the process may hold a few more or fewer; a missing incref shows as thousands.
    assert all(abs(a - b) < 100 for a, b in zip(singletons_after, singletons_before)), (
        singletons_before,
        singletons_after,
    )
    assert heap_after - heap_before < PYTHON_HEAP_BOUND, f"Python heap grew by {heap_after - heap_before} bytes"
    if not SANITIZED:
        grown = resident_after - resident_before
        if grown >= RESIDENT_BOUND:
            # The allocator or tracemalloc's own tables may grow once (about a megabyte
            # in 1 of 50 runs); a leak grows again over a second window of the same length.
            call_many(fn, args, kwargs, ITERATIONS)
            gc.collect()
            grown = resident_bytes() - resident_after
        assert grown < RESIDENT_BOUND, f"resident memory grew by {grown} bytes"
