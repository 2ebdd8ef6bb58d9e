"""The native match against the plain-Python model of the rules: event logs equal over random
matches, worked timelines, and every ojama accounted for."""

import copy
import pickle
import random

import pytest

import tavik
import tavik_game as tg

import versus_model as vm

if not hasattr(tg, "Match"):
    pytest.skip("the native match is not built yet", allow_module_level=True)

HANDS = tavik.Hand.enumerate()
R, B, Y, G = tavik.PuyoType.RED, tavik.PuyoType.BLUE, tavik.PuyoType.YELLOW, tavik.PuyoType.GREEN

# Rules that reach the interesting cases in short random matches: margin time early, a low
# target so small chains send enough to offset, drops smaller than 30.
RULES = [
    dict(),
    dict(margin_time=4.0),
    dict(target_points=12, margin_time=None, max_ojama_drop=7),
    dict(target_points=30, margin_time=0.0, all_clear_bonus=300),
]


def native_rules(kw):
    return tg.VersusRules(**kw)


def model_rules(kw):
    return vm.VersusRules(**kw)


def event_key(ev):
    hand = lambda v: (v.x, str(v.rotation).lower()) if isinstance(v, tavik.Hand) else v  # noqa: E731
    return (ev.frame, ev.player, ev.kind, tuple(sorted((k, hand(v)) for k, v in ev.data.items())))


def chooser(rng, greed):
    """Random hands, or with probability `greed` the hand whose chain scores most (so chains,
    offsets and garbage happen in short matches)."""

    def choose(m, p):
        if rng.random() < greed:
            field = m.players[p].field
            options = tg.expand(field, m.players[p].pairs[0])
            return max(options, key=lambda o: (o[2].score, rng.random()))[0]
        return rng.choice(m.legal_hands(p))

    return choose


def play_both(seed, rules, greed, max_decisions=400, colours=4, fields=None, visible=3):
    """One random match on both implementations, compared after every play()."""
    native = tg.Match(seed=seed, colours=colours, visible=visible, rules=native_rules(rules), fields=fields)
    model = vm.Match(seed=seed, colours=colours, visible=visible, rules=model_rules(rules), fields=fields)
    choose = chooser(random.Random(seed), greed)
    for _ in range(max_decisions):
        assert native.frame == model.frame and native.due() == model.due()
        assert native.over == model.over and native.winner == model.winner
        for a, b in zip(native.players, model.players):
            assert (a.score, a.consumed, a.pending_ojama, a.fixed_ojama, a.over) == (
                b.score, b.consumed, b.pending_ojama, b.fixed_ojama, b.over)
            assert a.next_frame == b.next_frame
        # A side whose turn runs may show its field and longest chain before or after the
        # chain; a side about to decide has nothing running.
        for p in native.due():
            a, b = native.players[p], model.players[p]
            assert (a.field, a.pairs, a.turn, a.max_chain) == (b.field, b.pairs, b.turn, b.max_chain)
            assert native.legal_mask(p) == model.legal_mask(p)
        if native.over:
            break
        hands = {p: choose(native, p) for p in native.due()}
        got, want = native.play(hands), model.play(hands)
        assert [event_key(e) for e in got] == [e.key() for e in want]
    return native, model


def conserved(events, players):
    """Every ojama sent is offset (taking one of the other side's with it), pending, fixed,
    dropped or lost."""
    sent = sum(e.sent for e in events if e.kind == "link")
    cancelled = sum(e.cancel_pending + e.cancel_fixed for e in events if e.kind == "offset")
    fell = sum(e.dropped + e.lost for e in events if e.kind == "garbage")
    waiting = sum(p.pending_ojama + p.fixed_ojama for p in players)
    return sent == 2 * cancelled + waiting + fell


@pytest.mark.parametrize("rules", RULES, ids=["tsu", "early-margin", "low-target", "margin-at-0"])
@pytest.mark.parametrize("block", range(4))
def test_native_and_model_play_the_same_random_matches(rules, block):
    kinds = set()
    for seed in range(block * 20, block * 20 + 20):
        native, model = play_both(seed, rules, greed=(seed % 5) / 5, colours=3 + seed % 2)
        assert native.over
        assert conserved(native.events, native.players)
        assert conserved(model.events, model.players)
        kinds.update(e.kind for e in native.events)
    assert {"place", "link", "offset", "chain_end", "garbage", "lose"} <= kinds


def played_field(seed, turns):
    """A settled field with nothing to vanish: what random hands leave in a one-player game."""
    game = tg.Game(seed=seed)
    rng = random.Random(seed)
    for _ in range(turns):
        trial = game.copy()
        trial.play(rng.choice(trial.legal_hands()))
        if trial.over:
            break
        game = trial
    return game.field


@pytest.mark.parametrize("seed", range(30))
def test_native_and_model_agree_from_uneven_starting_fields(seed):
    fields = [played_field(1000 + seed, seed % 7 * 3), played_field(2000 + seed, seed % 5 * 4)]
    native, model = play_both(seed, RULES[seed % len(RULES)], greed=0.5, fields=fields, visible=1 + seed % 4)
    assert native.over and conserved(native.events, native.players)


def test_copies_and_pickles_of_a_running_match_play_on_like_it():
    native, _ = play_both(7, RULES[2], greed=0.6, max_decisions=30)
    for twin in (copy.copy(native), pickle.loads(pickle.dumps(native))):
        assert twin == native
        m = native.copy()
        choose = chooser(random.Random(1), 0.5)
        while not m.over:
            hands = {p: choose(m, p) for p in m.due()}
            assert [event_key(e) for e in m.play(hands)] == [event_key(e) for e in twin.play(hands)]
        assert twin == m and twin != native


# ---------------------------------------------------------------- worked timelines

IMPLS = {"native": (tg.Match, tg.VersusRules), "model": (vm.Match, vm.VersusRules)}


@pytest.fixture(params=sorted(IMPLS))
def impl(request):
    return IMPLS[request.param]


def test_a_placement_alone_takes_its_frames_then_twelve(impl):
    Match, _ = impl
    m = Match(seed=3)
    assert m.due() == (0, 1)
    events = m.play({0: tavik.Hand(2, tavik.Rotation.TOP), 1: tavik.Hand(5, tavik.Rotation.BOTTOM)})
    # Top at the spawn column: FAST[12] + 20 = 44; bottom at column 5: 8 + FAST[11] + 20 = 50.
    assert [(e.frame, e.player, e.kind, e.frames) for e in events] == [(0, 0, "place", 44), (0, 1, "place", 50)]
    assert (m.frame, m.due()) == (56, (0,))
    assert [p.next_frame for p in m.players] == [56, 62]


def two_colour_seed():
    return next(s for s in range(100) if tg.PairSequence(s)[0].axis != tg.PairSequence(s)[0].child)


def test_a_two_chain_that_clears_the_field_against_an_idle_opponent(impl):
    Match, Rules = impl
    seed = two_colour_seed()
    pair = tg.PairSequence(seed)[0]
    a, c = pair.axis, pair.child
    # Column 0: three `a`; column 1: three `c`. The pair played top at column 0 completes the
    # a-group; its child falls 4 rows beside the c's and completes the second, leaving nothing.
    start = tavik.Field()
    for _ in range(3):
        start.put(0, a).put(1, c)
    m = Match(seed=seed, fields=[start, tavik.Field()], rules=Rules(margin_time=None))
    while not any(e.kind == "chain_end" for e in m.events):
        m.play({p: tavik.Hand(0, tavik.Rotation.TOP) if p == 0 else tavik.Hand(5, tavik.Rotation.TOP)
                for p in m.due()})
    mine = [(e.frame, e.kind, e.data) for e in m.events if e.player == 0]
    hand = mine[0][2]["hand"]
    # 6 to move, FAST[12 - 3] + 20 to fall: grounds at 44. Link 1: 40 points, 50 frames and a
    # fall of 4 rows (FAST[4] + 20); link 2: 320 points, nothing falls (50).
    assert mine == [
        (0, "place", {"hand": hand, "frames": 44}),
        (44, "link", {"chain": 1, "score": 40, "sent": 0}),
        (122, "link", {"chain": 2, "score": 320, "sent": 5}),
        (122, "all_clear", {"bonus": 2100}),
        (122, "offset", {"sent": 5, "cancel_pending": 0, "cancel_fixed": 0, "to_opponent": 5}),
        (172, "chain_end", {"chain": 2, "fixed": 5}),
    ]
    assert m.players[0].score == 2460 and m.players[0].consumed == 350
    # The bonus rides on the next chain: 2110 points more than consumed, 30 ojama.
    assert (m.players[0].score - m.players[0].consumed) // 70 == 30


@pytest.mark.parametrize("initial, sequence", [
    (70, [70, 52, 35, 26, 17, 13, 8, 6, 4, 3, 2, 1, 1]),
    (120, [120, 90, 60, 45, 30, 22, 15, 11, 7, 5, 3, 2, 1, 1]),
    (1, [1, 1]),
])
def test_margin_time_lowers_the_target_every_sixteen_seconds(impl, initial, sequence):
    _, Rules = impl
    rules = Rules(target_points=initial)
    assert rules.target_at(0) == initial
    # It changes at 96 s, then every 16 s: each value holds until the frame before the next change.
    changes = [96 * 60 + 960 * n for n in range(len(sequence) - 1)]
    assert [rules.target_at(f - 1) for f in changes] == sequence[:-1]
    assert [rules.target_at(f) for f in changes] == sequence[1:]
    assert Rules(target_points=initial, margin_time=None).target_at(10**9) == initial


def one_group_start(seed):
    """A field where the sequence's first pair, played top at column 0, vanishes a group of 4
    (the axis on three of its colour), and the pair's child stays."""
    pair = tg.PairSequence(seed)[0]
    f = tavik.Field()
    for _ in range(3):
        f.put(0, pair.axis)
    return pair, f


def test_a_drop_falls_at_most_max_ojama_drop_and_the_rest_waits(impl):
    Match, Rules = impl
    seed = two_colour_seed()
    _, start = one_group_start(seed)
    # Target 1: the 40 points of a group of four are 40 ojama.
    m = Match(seed=seed, fields=[start, tavik.Field()], rules=Rules(target_points=1, margin_time=None))
    top = tavik.Hand(0, tavik.Rotation.TOP)
    while not m.over and not any(e.kind == "garbage" for e in m.events):
        m.play({p: (top if p == 0 and m.players[0].turn == 0 else m.legal_hands(p)[-1]) for p in m.due()})
    (link,) = [e for e in m.events if e.kind == "link"]
    assert (link.score, link.sent) == (40, 40)
    garbage = next(e for e in m.events if e.kind == "garbage")
    assert (garbage.player, garbage.dropped + garbage.lost, garbage.remaining) == (1, 30, 10)
    end = next(e for e in m.events if e.kind == "chain_end")
    assert end.fixed == 40


def test_both_topping_out_on_one_frame_is_a_draw(impl):
    Match, _ = impl
    stack = tavik.Field()
    for k in range(11):
        stack.put(2, (R, B, Y)[k % 3])
    m = Match(seed=2, fields=[stack, stack.clone()])
    hand = tavik.Hand(2, tavik.Rotation.TOP)
    events = m.play({0: hand, 1: hand})
    assert (m.over, m.winner, m.due()) == (True, None, ())
    loses = [e for e in events if e.kind == "lose"]
    assert [(e.player, e.frame) for e in loses] == [(0, loses[0].frame), (1, loses[0].frame)]
    with pytest.raises(ValueError):
        m.play({})


@pytest.mark.parametrize("hands, error", [
    ({0: tavik.Hand(2, tavik.Rotation.TOP)}, ValueError),                 # player 1 is due too
    ({0: tavik.Hand(0, tavik.Rotation.TOP), 1: "top"}, TypeError),
])
def test_bad_hands_change_nothing(impl, hands, error):
    Match, _ = impl
    m = Match(seed=1)
    with pytest.raises(error):
        m.play(hands)
    assert (m.frame, m.due(), m.events) == (0, (0, 1), [])
