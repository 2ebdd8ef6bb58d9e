"""A plain-Python model of the two-player match, to check the native one against.

Written from the rules alone, as a second reading: tavik.Field supplies the chain physics,
tavik_game the legal hands, the pair sequence and the garbage columns; the timing, scoring,
offsetting, margin time and loss are all here, in the simplest form that states them. Same
surface as tavik_game.Match (Match, Player, Event, VersusRules and the two frame functions), so a
test can run both on the same hands and compare what they report.
"""

from __future__ import annotations

import copy as _copy
from dataclasses import dataclass, field as _field
from typing import Any, Dict, List, Optional, Sequence, Tuple

import tavik
import tavik_game as tg

FPS = 60
FRAMES_PREPARING_NEXT = 12
LINK_VANISH_FRAMES = 50
GROUNDING_FRAMES = 20
SIDE_MOVE = [0, 4, 6, 8, 10, 12]
FAST = [2 * n for n in range(16)]
DROP = [0, 10, 16, 22, 24, 28, 32, 34, 36, 40, 42, 44, 46, 48, 50, 52]
FULL_COLUMN_PENALTY = 6
MARGIN_STEP_SECONDS = 16
MARGIN_STEPS = 14
GOLDEN = 0x9E3779B97F4A7C15
MASK64 = 2**64 - 1
WIDTH, HEIGHT = 6, 14
SPAWN = (2, 2)
COLOURS = (tavik.PuyoType.RED, tavik.PuyoType.BLUE, tavik.PuyoType.YELLOW, tavik.PuyoType.GREEN)


# ---------------------------------------------------------------- rules of one field

def visible_height(field: tavik.Field, x: int) -> int:
    """Puyos of column x in the twelve visible rows."""
    column = field.to_array()[x]
    return sum(1 for y in range(2, HEIGHT) if column[y] != tavik.PuyoType.EMPTY)


def _rotation(hand: tavik.Hand) -> str:
    return str(hand.rotation).lower()


def placement_frames(field: tavik.Field, hand: tavik.Hand) -> int:
    rotation = _rotation(hand)
    frames = SIDE_MOVE[abs(hand.x - 2)]
    h = visible_height(field, hand.x)
    if rotation in ("top", "bottom"):
        if h == 12:
            fall = FULL_COLUMN_PENALTY
        elif rotation == "top":
            fall = FAST[12 - h]
        else:
            fall = FAST[max(6, 11 - h)]
        return frames + fall + GROUNDING_FRAMES
    other = visible_height(field, hand.x + (1 if rotation == "right" else -1))
    higher = max(h, other)
    fall = FULL_COLUMN_PENALTY if higher == 12 else FAST[max(3, 12 - higher)]
    frames += fall + GROUNDING_FRAMES
    if h != other:
        frames += DROP[abs(h - other)] + GROUNDING_FRAMES
    return frames


def place(field: tavik.Field, hand: tavik.Hand, pair: tavik.Pair) -> tavik.Field:
    """The pair put down as the one-player game puts it: whatever rests in row 0 goes."""
    placed = field.clone().put_hand(hand, pair)
    for x in range(WIDTH):
        if placed.get(x, 0) != tavik.PuyoType.EMPTY:
            placed.set(x, 0, tavik.PuyoType.EMPTY)
    return placed


def vanishing(columns: List[List[int]]) -> set:
    """Colour groups of four or more in rows 2-13, and the ojama touching them (row 1 too)."""
    seen: set = set()
    out: set = set()
    for x in range(WIDTH):
        for y in range(2, HEIGHT):
            colour = columns[x][y]
            if colour not in COLOURS or (x, y) in seen:
                continue
            group = [(x, y)]
            seen.add((x, y))
            for cx, cy in group:
                for nx, ny in ((cx + 1, cy), (cx - 1, cy), (cx, cy + 1), (cx, cy - 1)):
                    if 0 <= nx < WIDTH and 2 <= ny < HEIGHT and (nx, ny) not in seen and columns[nx][ny] == colour:
                        seen.add((nx, ny))
                        group.append((nx, ny))
            if len(group) >= 4:
                out.update(group)
    for cx, cy in list(out):
        for nx, ny in ((cx + 1, cy), (cx - 1, cy), (cx, cy + 1), (cx, cy - 1)):
            if 0 <= nx < WIDTH and 1 <= ny < HEIGHT and columns[nx][ny] == tavik.PuyoType.OJAMA:
                out.add((nx, ny))
    return out


def largest_fall(columns: List[List[int]], gone: set) -> int:
    """Rows the farthest-falling puyo drops once `gone` has vanished."""
    best = 0
    for x in range(WIDTH):
        holes = 0
        for y in range(HEIGHT - 1, -1, -1):
            if columns[x][y] == tavik.PuyoType.EMPTY or (x, y) in gone:
                holes += 1
            elif holes:
                best = max(best, holes)
    return best


@dataclass
class Link:
    chain: int
    score: int
    frames: int
    all_clear: bool


def run_chain(placed: tavik.Field) -> Tuple[tavik.Field, List[Link]]:
    """The chain a placed field fires, link by link, and the field it leaves."""
    work = placed.clone()
    links: List[Link] = []
    while True:
        columns = work.to_array()
        gone = vanishing(columns)
        if not gone:
            return work, links
        fall = largest_fall(columns, gone)
        step = work.step_chain(len(links) + 1)
        # The vanish found here must be the field's own, or the fall would be wrong.
        expect = [[t for y, t in enumerate(col) if (x, y) not in gone and t != tavik.PuyoType.EMPTY]
                  for x, col in enumerate(columns)]
        got = [[t for t in col if t != tavik.PuyoType.EMPTY] for col in work.to_array()]
        assert expect == got, "the model's vanish differs from the field's"
        frames = LINK_VANISH_FRAMES + (FAST[fall] + GROUNDING_FRAMES if fall else 0)
        links.append(Link(len(links) + 1, step.score, frames, work.is_all_clear()))


def settle_frames(field: tavik.Field) -> int:
    return sum(link.frames for link in run_chain(field)[1])


def dead(field: tavik.Field) -> bool:
    return field.get(*SPAWN) != tavik.PuyoType.EMPTY


def cells(field: tavik.Field) -> int:
    """Puyos in all fourteen rows (row 0 too: an ojama can come to rest there)."""
    return sum(t != tavik.PuyoType.EMPTY for column in field.to_array() for t in column)


def garbage_frames(before: tavik.Field, after: tavik.Field, n: int) -> int:
    """Falling time of n ojama that turned `before` into `after`."""
    b, a = before.to_array(), after.to_array()
    rows = 0
    for x in range(WIDTH):
        got = sum(t != tavik.PuyoType.EMPTY for t in a[x]) - sum(t != tavik.PuyoType.EMPTY for t in b[x])
        if got > 0:
            lowest_empty = max(y for y in range(HEIGHT) if b[x][y] == tavik.PuyoType.EMPTY)
            rows = max(rows, lowest_empty)
    grounding = 8 if n <= 3 else 24 if n <= 18 else 32
    return DROP[rows] + grounding


# ---------------------------------------------------------------- rules of the match

@dataclass(frozen=True)
class VersusRules:
    target_points: int = 70
    margin_time: Optional[float] = 96.0
    all_clear_bonus: int = 2100
    max_ojama_drop: int = 30

    def target_at(self, frame: int) -> int:
        target, previous, n = self.target_points, 0, 0
        if self.margin_time is None:
            return target
        while target > 1 and n < MARGIN_STEPS and frame >= (self.margin_time + MARGIN_STEP_SECONDS * n) * FPS:
            current = target
            target = self.target_points * 3 // 4 if n == 0 else previous // 2
            previous = current
            n += 1
        return target


@dataclass(frozen=True)
class Event:
    frame: int
    player: int
    kind: str
    data: Dict[str, Any]

    def __getattr__(self, name: str) -> Any:
        try:
            return self.__dict__["data"][name]
        except KeyError:
            raise AttributeError(name) from None

    def key(self) -> tuple:
        """Comparable and printable: hands by column and rotation."""
        items = tuple(sorted((k, (v.x, _rotation(v)) if isinstance(v, tavik.Hand) else v)
                             for k, v in self.data.items()))
        return (self.frame, self.player, self.kind, items)


@dataclass
class Player:
    field: tavik.Field
    pairs: List[tavik.Pair]
    turn: int
    score: int
    consumed: int
    pending_ojama: int
    fixed_ojama: int
    next_frame: int
    max_chain: int
    over: bool


@dataclass
class _Side:
    field: tavik.Field
    turn: int = 0
    score: int = 0
    consumed: int = 0
    pending: int = 0
    fixed: int = 0
    next_frame: Optional[int] = 0   # None while its turn runs
    settle_at: int = 0              # the running turn's settle frame (chain end, or grounding)
    max_chain: int = 0
    lost: bool = False
    drops: int = 0
    # The running turn: (frame, what, payload) in frame order.
    agenda: List[Tuple[int, str, Any]] = _field(default_factory=list)


class Match:
    def __init__(self, seed: int = 0, colours: int = 4, visible: int = 3,
                 rules: Optional[VersusRules] = None, fields: Optional[Sequence[tavik.Field]] = None) -> None:
        self.seed = seed
        self.colours = colours
        self.visible = visible
        self.rules = rules or VersusRules()
        self.sequence = tg.PairSequence(seed, colours)
        start = [tavik.Field(), tavik.Field()] if fields is None else [f.clone() for f in fields]
        self.sides = [_Side(start[0]), _Side(start[1])]
        self.frame = 0
        self.events: List[Event] = []
        self.winner: Optional[int] = None
        self.over = False

    # -------------------------------------------------------------- what a player sees

    def due(self) -> Tuple[int, ...]:
        if self.over:
            return ()
        return tuple(p for p in (0, 1) if self.sides[p].next_frame == self.frame)

    @property
    def players(self) -> Tuple[Player, Player]:
        return tuple(self._player(p) for p in (0, 1))  # type: ignore[return-value]

    def _player(self, p: int) -> Player:
        s = self.sides[p]
        return Player(s.field.clone(), [self.sequence[s.turn + i] for i in range(self.visible)], s.turn,
                      s.score, s.consumed, s.pending, s.fixed,
                      self._next_frame(p), s.max_chain, s.lost)

    def _next_frame(self, p: int) -> int:
        """While a turn runs: when it would decide if no more ojama became fixed on it."""
        s = self.sides[p]
        if s.next_frame is not None:
            return s.next_frame
        # A side that tops out decides no more: its turn ends at the loss.
        then = lambda f, field: f if dead(field) else f + FRAMES_PREPARING_NEXT  # noqa: E731
        lose_check = [f for f, what, _ in s.agenda if what == "lose_check"]
        if lose_check:
            return then(lose_check[0], s.field)
        # Its own links still to come offset its ojama as they would.
        score, consumed, pending, fixed = s.score, s.consumed, s.pending, s.fixed
        for f, what, link in s.agenda:
            if what == "link":
                target = self.rules.target_at(f)
                score += link.score
                n = (score - consumed) // target
                consumed = score // target * target
                if link.all_clear:
                    score += self.rules.all_clear_bonus
                cancel = min(n, pending)
                pending -= cancel
                fixed -= min(n - cancel, fixed)
        if fixed == 0:
            return then(s.settle_at, s.field)
        after, n = self._drop(p, fixed)
        return then(s.settle_at + garbage_frames(s.field, after, n), after)

    def _drop(self, p: int, fixed: Optional[int] = None) -> Tuple[tavik.Field, int]:
        s = self.sides[p]
        n = min(s.fixed if fixed is None else fixed, self.rules.max_ojama_drop)
        key = (self.seed ^ (((2 * s.drops + p + 1) * GOLDEN) & MASK64)) & MASK64
        return tg.drop_ojama(s.field, n, key), n

    def legal_hands(self, p: int) -> List[tavik.Hand]:
        return tg.legal_hands(self.sides[p].field) if p in self.due() else []

    def legal_mask(self, p: int) -> int:
        return tg.legal_mask(self.sides[p].field) if p in self.due() else 0

    def game(self, p: int) -> tg.Game:
        s = self.sides[p]
        g = tg.Game(seed=self.seed, colours=self.colours, visible=self.visible,
                    all_clear_bonus=self.rules.all_clear_bonus)
        g.__setstate__((s.field.clone(), s.turn, s.score, s.max_chain, s.lost, 0))
        return g

    def copy(self) -> "Match":
        return _copy.deepcopy(self)

    __copy__ = copy

    def __eq__(self, other: object) -> bool:
        return isinstance(other, Match) and self.__dict__ == other.__dict__

    # -------------------------------------------------------------- time

    def play(self, hands: Dict[int, tavik.Hand]) -> List[Event]:
        if self.over:
            raise ValueError("the match is over")
        due = self.due()
        if sorted(hands) != list(due):
            raise ValueError(f"play() needs hands for players {due}, got {tuple(sorted(hands))}")
        for p, hand in hands.items():
            if not isinstance(hand, tavik.Hand):
                raise TypeError(f"hand of player {p} is a {type(hand).__name__}, not a tavik.Hand")
            if hand not in tg.legal_hands(self.sides[p].field):
                raise ValueError(f"hand {hand!r} is not legal for player {p}")
        first = len(self.events)
        for p in due:
            self._start_turn(p, hands[p])
        while True:
            waiting = [s.next_frame for s in self.sides if s.next_frame is not None]
            busy = [s.agenda[0][0] for s in self.sides if s.agenda]
            if waiting and (not busy or min(waiting) <= min(busy)):
                self.frame = min(waiting)
                break
            f = min(busy)
            self._run_frame(f)
            if self.over:
                self.frame = f
                break
        return self.events[first:]

    def _start_turn(self, p: int, hand: tavik.Hand) -> None:
        s = self.sides[p]
        t = self.frame
        pair = self.sequence[s.turn]
        frames = placement_frames(s.field, hand)
        settled, links = run_chain(place(s.field, hand, pair))
        s.field = settled
        s.turn += 1
        s.next_frame = None
        g = t + frames
        agenda: List[Tuple[int, str, Any]] = [(t, "place", (hand, frames))]
        at = g
        for link in links:
            agenda.append((at, "link", link))
            at += link.frames
        if links:
            agenda.append((at, "chain_end", len(links)))
        agenda.append((at, "settle", None))
        s.settle_at = at
        s.agenda = agenda

    def _run_frame(self, f: int) -> None:
        sent = [0, 0]
        ended = [None, None]
        for p in (0, 1):
            s = self.sides[p]
            while s.agenda and s.agenda[0][0] == f:
                _, what, payload = s.agenda.pop(0)
                if what == "place":
                    hand, frames = payload
                    self._event(f, p, "place", hand=hand, frames=frames)
                elif what == "link":
                    target = self.rules.target_at(f)
                    s.score += payload.score
                    n = (s.score - s.consumed) // target
                    s.consumed = s.score // target * target
                    s.max_chain = max(s.max_chain, payload.chain)
                    sent[p] += n
                    self._event(f, p, "link", chain=payload.chain, score=payload.score, sent=n)
                    if payload.all_clear:
                        s.score += self.rules.all_clear_bonus
                        self._event(f, p, "all_clear", bonus=self.rules.all_clear_bonus)
                elif what == "chain_end":
                    ended[p] = self._event(f, p, "chain_end", chain=payload, fixed=0)
                elif what == "settle":
                    e2 = f
                    if s.fixed > 0:
                        after, n = self._drop(p)
                        dropped = cells(after) - cells(s.field)
                        e2 = f + garbage_frames(s.field, after, n)
                        s.field = after
                        s.fixed -= n
                        s.drops += 1
                        self._event(f, p, "garbage", dropped=dropped, lost=n - dropped, remaining=s.fixed)
                    s.agenda.insert(0, (e2, "lose_check", None))
                elif what == "lose_check":
                    if dead(s.field):
                        s.lost = True
                        self._event(f, p, "lose")
                    else:
                        s.next_frame = f + FRAMES_PREPARING_NEXT
        for p in (0, 1):
            me, them = self.sides[p], self.sides[1 - p]
            n = sent[p]
            if n > 0:
                cancel_pending = min(n, me.pending)
                me.pending -= cancel_pending
                cancel_fixed = min(n - cancel_pending, me.fixed)
                me.fixed -= cancel_fixed
                rest = n - cancel_pending - cancel_fixed
                them.pending += rest
                self._event(f, p, "offset", sent=n, cancel_pending=cancel_pending, cancel_fixed=cancel_fixed,
                            to_opponent=rest)
            end = ended[p]
            if end is not None:
                end.data["fixed"] = them.pending
                them.fixed += them.pending
                them.pending = 0
        lost = [s.lost for s in self.sides]
        if any(lost):
            self.over = True
            self.winner = None if all(lost) else (1 if lost[0] else 0)
            for p in (0, 1):
                # Each side's clock stops where it stood: the loss frame for a loser.
                self.sides[p].next_frame = f if lost[p] else self._next_frame(p)
            for s in self.sides:
                s.agenda = []

    def _event(self, f: int, p: int, kind: str, **data: Any) -> Event:
        ev = Event(f, p, kind, data)
        self.events.append(ev)
        return ev
