"""The two-player match through the Python API: worked timelines, refused input, copies."""

import copy
import pickle

import pytest

import tavik
import tavik_game as tg

H = tavik.Hand.enumerate()


ROTATIONS = [("top", tavik.Rotation.TOP), ("left", tavik.Rotation.LEFT), ("bottom", tavik.Rotation.BOTTOM),
             ("right", tavik.Rotation.RIGHT)]


def _hand(column, rotation):
    """Python column 0-5 of the axis, and the child's side by name."""
    return tavik.Hand(column, dict(ROTATIONS)[rotation])


def rotation_name(r):
    return next(name for name, value in ROTATIONS if value == r)


def rows(*lines):
    """A field from text rows, the last the bottom row; '.' is empty."""
    return tavik.Field.from_str_array([line.replace(".", " ") for line in lines])


# Seed 0's first pair is G over B: dropped on column 0 it vanishes the three B
# and its G falls four rows onto the three G beside, a 2-chain of 40 + 320.
TWO_CHAIN = ("B.....", "B.....", "BGGG.R")


def text(ev):
    data = ev.data
    parts = [str(ev.frame), f"p{ev.player}", ev.kind]
    if "hand" in data:
        h = data.pop("hand")
        parts.append(f"{h.x}-{rotation_name(h.rotation)}")
    parts += [str(v) for v in data.values()]
    return " ".join(parts)


def play_scripts(m, *scripts):
    """Plays each due player's next hand from its script until one runs out."""
    at = [0, 0]
    while not m.over:
        hands = {}
        for p in m.due():
            if at[p] == len(scripts[p]):
                return
            hands[p] = scripts[p][at[p]]
            at[p] += 1
        m.play(hands)


def test_margin_time_lowers_the_target_every_16_seconds():
    rules = tg.VersusRules()
    seen = [rules.target_at(5760 + 960 * n - 1) for n in range(13)]
    assert seen == [70, 52, 35, 26, 17, 13, 8, 6, 4, 3, 2, 1, 1]
    assert tg.VersusRules(margin_time=None).target_at(10**9) == 70
    assert tg.VersusRules(margin_time=0.1).target_at(5) == 70
    assert tg.VersusRules(margin_time=0.1).target_at(6) == 52


@pytest.mark.parametrize(
    "field, h, frames",
    [
        (tavik.Field(), (2, "top"), 44),
        (tavik.Field(), (5, "top"), 52),
        (tavik.Field(), (2, "bottom"), 42),
        (rows("...O..", "...O..", "...O.."), (2, "right"), 18 + 20 + 22 + 20),
    ],
)
def test_placement_frames(field, h, frames):
    assert tg.placement_frames(field, _hand(*h)) == frames


def test_placement_and_settle_frames_refuse_bad_input():
    with pytest.raises(ValueError, match="not legal"):
        tg.placement_frames(rows(*["O....."] * 12 + ["OO...."]), _hand(0, "top"))
    with pytest.raises(TypeError):
        tg.settle_frames(tg.Game())
    assert tg.settle_frames(rows("G.....", *TWO_CHAIN[:1], *TWO_CHAIN)) == 78 + 50


def test_a_two_chain_against_an_idle_opponent():
    m = tg.Match(seed=0, fields=[rows(*TWO_CHAIN), tavik.Field()])
    assert m.due() == (0, 1)
    play_scripts(m, [_hand(0, "top")], [_hand(5, "top")] * 4)
    assert [text(e) for e in m.events] == [
        "0 p0 place 0-top 44",
        "0 p1 place 5-top 52",
        "44 p0 link 1 40 0",
        "64 p1 place 5-top 48",
        "122 p0 link 2 320 5",
        "122 p0 offset 5 0 0 5",
        "124 p1 place 5-top 44",
        "172 p0 chain_end 2 5",
        "180 p1 place 5-top 40",
    ]
    first, second = m.players
    assert (m.frame, m.due()) == (184, (0,))
    assert (first.score, first.consumed, first.max_chain, first.next_frame) == (360, 350, 2, 184)
    assert (second.pending_ojama, second.fixed_ojama, second.next_frame) == (0, 5, 220 + 72 + 12)
    assert m.legal_mask(1) == 0 and m.legal_hands(1) == []
    events = m.play({0: _hand(1, "top")})
    assert [text(e) for e in events] == ["184 p0 place 1-top 48", "220 p1 garbage 5 0 0"]
    assert events[-1].dropped == 5 and events[-1].remaining == 0


def test_overlapping_chains_offset_player_0_first():
    m = tg.Match(seed=0, fields=[rows(*TWO_CHAIN), rows(*TWO_CHAIN)])
    m.play({0: _hand(0, "top"), 1: _hand(0, "top")})
    offsets = [e.data for e in m.events if e.kind == "offset"]
    assert offsets == [
        {"sent": 5, "cancel_pending": 0, "cancel_fixed": 0, "to_opponent": 5},
        {"sent": 5, "cancel_pending": 5, "cancel_fixed": 0, "to_opponent": 0},
    ]
    assert all(p.pending_ojama == p.fixed_ojama == 0 for p in m.players)


def test_a_draw_and_a_finished_match_refuses_play():
    tall = rows(*["..O..."] * 10)
    m = tg.Match(fields=(tall, tall))
    m.play({0: _hand(2, "top"), 1: _hand(2, "top")})
    assert (m.over, m.winner, m.due(), m.frame) == (True, None, (), 24)
    assert [e.kind for e in m.events][-2:] == ["lose", "lose"]
    with pytest.raises(ValueError, match="over"):
        m.play({})
    won = tg.Match(fields=(tall, tall))
    won.play({0: _hand(2, "top"), 1: _hand(3, "top")})
    assert (won.over, won.winner) == (True, 1)
    assert won.players[0].over and not won.players[1].over


def test_the_all_clear_bonus_goes_with_the_next_chain():
    # Seed 26: G over R, then two pairs of B.
    m = tg.Match(seed=26, fields=[rows("RRRGGG"), tavik.Field()])
    play_scripts(m, [_hand(2, "right"), _hand(0, "top"), _hand(0, "top")], [_hand(c, "top") for c in (5, 3, 1, 5, 3)])
    links = [(e.frame, e.sent) for e in m.events if e.player == 0 and e.kind == "link"]
    assert links == [(42, 3), (212, 31)]  # 30 of the bonus, and one of the 30 left over + 40
    assert [e.bonus for e in m.events if e.kind == "all_clear"] == [2100, 2100]


def refusals(m):
    due = m.due()
    other = 1 - due[0] if len(due) == 1 else None
    yield TypeError, [m.legal_hands(p)[0] for p in due]
    yield TypeError, {p: 3 for p in due}
    yield TypeError, {"0": H[0]}
    yield ValueError, {p: H[0] for p in (0, 1, 2)}
    yield ValueError, {}
    if other is not None:
        yield ValueError, {**{p: m.legal_hands(p)[0] for p in due}, other: H[0]}
    yield ValueError, {p: H[0] for p in due}  # column 0 is walled off


@pytest.mark.parametrize("after", [0, 1])
def test_refused_plays_change_nothing(after):
    wall = rows(*[".O...."] * 12)
    m = tg.Match(seed=2, fields=[wall, wall])
    for _ in range(after):
        m.play({p: _hand(2, "top") for p in m.due()})
    before = copy.copy(m)
    for error, hands in refusals(m):
        with pytest.raises(error):
            m.play(hands)
        assert m == before and m.events == before.events


@pytest.mark.parametrize(
    "kwargs, error",
    [
        ({"colours": 5}, ValueError),
        ({"visible": 0}, ValueError),
        ({"seed": -1}, ValueError),
        ({"rules": 70}, TypeError),
        ({"fields": [tavik.Field()]}, ValueError),
        ({"fields": [tavik.Field(), tg.Game()]}, TypeError),
        ({"fields": [tavik.Field(), rows("RRRR")]}, ValueError),
        ({"fields": [tavik.Field(), rows(*["..O..."] * 12)]}, ValueError),
        ({"fields": 3}, TypeError),
    ],
)
def test_bad_matches_are_refused(kwargs, error):
    with pytest.raises(error):
        tg.Match(**kwargs)


@pytest.mark.parametrize(
    "kwargs, error",
    [
        ({"target_points": 0}, ValueError),
        ({"margin_time": -1.0}, ValueError),
        ({"margin_time": float("nan")}, ValueError),
        ({"margin_time": "96"}, TypeError),
        ({"margin_time": True}, TypeError),
        ({"max_ojama_drop": 31}, ValueError),
    ],
)
def test_bad_rules_are_refused(kwargs, error):
    with pytest.raises(error):
        tg.VersusRules(**kwargs)


def random_match(seed, turns=200, **kwargs):
    import random

    rng = random.Random(seed)
    m = tg.Match(seed=seed, **kwargs)
    for _ in range(turns):
        if m.over:
            break
        m.play({p: rng.choice(m.legal_hands(p)) for p in m.due()})
    return m


def test_copies_and_pickles_play_on_alike():
    m = random_match(3, turns=30, rules=tg.VersusRules(target_points=10))
    for twin in (copy.copy(m), copy.deepcopy(m), pickle.loads(pickle.dumps(m))):
        assert twin == m and twin.events == m.events and twin.players == m.players
        hands = {p: m.legal_hands(p)[-1] for p in m.due()}
        assert twin.play(hands) == copy.copy(m).play(hands)
        assert twin != m
    events = m.events
    assert [pickle.loads(pickle.dumps(e)) for e in events] == events
    assert [tg.Event(e.frame, e.player, e.kind, e.data) for e in events] == events
    assert pickle.loads(pickle.dumps(m.rules)) == m.rules


def test_a_state_the_hands_cannot_make_is_refused():
    m = tg.Match(seed=1)
    with pytest.raises(ValueError):
        m.__setstate__(bytes([99]))
    with pytest.raises(ValueError):
        m.__setstate__(bytes([0]))  # both are due: two hands needed
    assert m == tg.Match(seed=1)


@pytest.mark.parametrize(
    "args, error",
    [
        ((0, 0, "jump", {}), ValueError),
        ((0, 2, "lose"), ValueError),
        ((0, 0, "link", {"chain": 1}), ValueError),
        ((0, 0, "link", {"chain": 1, "score": 40, "sent": 0, "extra": 1}), ValueError),
        ((0, 0, "link", {"chain": 1, "score": "40", "sent": 0}), TypeError),
        ((0, 0, "place", {"hand": 3, "frames": 44}), TypeError),
        ((0, 0, "link", [1, 40, 0]), TypeError),
    ],
)
def test_bad_events_are_refused(args, error):
    with pytest.raises(error):
        tg.Event(*args)


def test_event_attributes_are_the_kinds_numbers():
    e = tg.Event(44, 0, "link", {"chain": 1, "score": 40, "sent": 0})
    assert (e.chain, e.score, e.sent) == (1, 40, 0)
    with pytest.raises(AttributeError):
        e.bonus
    assert repr(e) == "Event(frame=44, player=0, kind='link', chain=1, score=40, sent=0)"


def test_random_matches_conserve_ojama():
    # Every ojama sent to the opponent ends offset, pending, fixed, dropped or lost.
    for seed in range(12):
        m = random_match(seed, rules=tg.VersusRules(target_points=5, margin_time=10.0))
        sent = sum(e.to_opponent for e in m.events if e.kind == "offset")
        cancelled = sum(e.cancel_pending + e.cancel_fixed for e in m.events if e.kind == "offset")
        fell = sum(e.dropped + e.lost for e in m.events if e.kind == "garbage")
        waiting = sum(p.pending_ojama + p.fixed_ojama for p in m.players)
        assert sent == cancelled + fell + waiting


def test_a_side_plays_as_a_one_player_game_for_a_bot():
    m = tg.Match(seed=4)
    bot = tg.BeamBot(width=4, depth=2)
    for _ in range(20):
        m.play({p: bot.choose(m.game(p)) for p in m.due()})
    g = m.game(0)
    assert g.field == m.players[0].field and g.turn == m.players[0].turn
    assert g.pairs == m.players[0].pairs
