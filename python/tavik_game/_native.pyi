"""The game around the tavik field: rules, a seeded pair sequence, the one-player game, garbage.

Everything works on tavik's own classes: fields, pairs and hands passed in and returned are
ordinary ``tavik.Field``, ``tavik.Pair`` and ``tavik.Hand`` objects. Coordinates are tavik's:
columns 0 to 5, rows 0 to 13, row 0 and row 1 the fuzzy rows, rows 2 to 13 the visible ones.

    column  0 1 2 3 4 5
    row 0   . . . . . .   top fuzzy row: a puyo that comes to rest here is removed
    row 1   . . . . . .   second fuzzy row: counts and falls, joins no group
    row 2   . # S . # .   S: spawn cell (the pair's axis appears here, its child above)
    ...                   #: a column whose row 2 is taken is a wall the pair cannot pass,
    row 13  . . . . . .      so here only columns 2 and 3 can be reached

Errors: TypeError or OverflowError for an argument of the wrong type or size, ValueError for a
value the rules refuse (an illegal hand, a finished game, colours other than 3 or 4), IndexError
for a negative PairSequence index; a failed call changes nothing. Internal failures raise
this module's own PanicException (a BaseException, so ``except Exception`` does not catch it;
a class distinct from tavik's, with the same name); using a Game from a callback while one of
its calls is running raises PyBorrowError / PyBorrowMutError (RuntimeError subclasses). All
three are attributes of this module and of tavik_game.
"""

from collections.abc import Sequence
from typing import Any, ClassVar, final

import numpy as np
import tavik
from numpy.typing import NDArray

__all__ = ["Game", "Move", "PairSequence", "BeamBot", "VersusRules", "Event", "Player", "Match", "PanicException",
           "PyBorrowError", "PyBorrowMutError"]

class PanicException(BaseException):
    """An internal failure: a promise of the native code was broken. Not an Exception."""

class PyBorrowError(RuntimeError):
    """An object was used while one of its calls holds it exclusively."""

class PyBorrowMutError(RuntimeError):
    """An object was changed while another of its calls is using it."""

# ---------------------------------------------------------------- rules of a field

def legal_hands(field: tavik.Field) -> list[tavik.Hand]:
    """The hands of Hand.enumerate() the current pair can reach on this field, in that order.

    A pair appears over column 2 and slides sideways; it cannot pass a column whose row 2 (the
    top visible cell) is taken. A hand is legal when its axis column and, for a sideways
    rotation, its child's column are reachable. A dead field has no legal hand."""

def legal_mask(field: tavik.Field) -> int:
    """The legal hands as bits: bit i is set when Hand.enumerate()[i] is legal (22 bits)."""

def is_dead(field: tavik.Field) -> bool:
    """True when the spawn cell (column 2, row 2) is taken: the game is over."""

def expand(
    field: tavik.Field, pair: tavik.Pair, hands: Sequence[tavik.Hand] | None = None
) -> list[tuple[tavik.Hand, tavik.Field, tavik.ChainResult]]:
    """Every legal hand played on a copy of the field, in one call.

    Each entry is (hand, field after the pair is placed, row 0 cleared and the chain fired,
    the chain's result). `hands` limits the hands tried (illegal ones are skipped); None tries
    all 22. The field passed in is not changed."""

def best_find(field: tavik.Field) -> tuple[int, int]:
    """(score, chain) of the best find of field.find_chain(); (0, 0) when nothing fires.

    The same finds as find_chain(), without building a FoundChain for each."""

def field_key(field: tavik.Field) -> bytes:
    """A hashable key of the field's cells: equal fields give equal keys (48 bytes)."""

# ---------------------------------------------------------------- garbage

def ojama_from_score(score: int, carry: int = 0, target: int = 70) -> tuple[int, int]:
    """(ojama, carry): (score + carry) // target ojama sent, the remainder carried to the next
    score. target must be positive."""

def drop_ojama(field: tavik.Field, count: int, seed: int) -> tavik.Field:
    """A new field with min(count, 30) ojama dropped on a copy of `field`.

    count // 6 full rows of six come first, then the remainder in distinct columns chosen by
    SplitMix64(seed); they fall as puyos fall, and those finding a full column are lost."""

# ---------------------------------------------------------------- the pair sequence

@final
class PairSequence:
    """An endless, seeded sequence of pairs, the same on every platform and version.

    Pair i comes from output i of SplitMix64 started at `seed`; the high 32 bits pick the
    child's colour and the low 32 bits the axis's, among RED, BLUE, YELLOW and (with 4
    colours) GREEN. Any pair is reached in constant time: seq[10**12] costs what seq[0] does.
    Indexing from 0 up; iterating never ends on its own (Ctrl-C stops it)."""

    def __new__(
        cls, seed: int, colours: int = 4, kind: str = "uniform", pairs: Sequence[tavik.Pair] | None = None
    ) -> PairSequence:
        """A sequence from a seed in [0, 2**64) and 3 or 4 colours (ValueError otherwise).

        kind "uniform": as above. "balanced": the arcade machines' kind, 128 pairs holding 64
        puyos of each of 4 colours, shuffled from the seed, the first two pairs from 3 colours,
        repeating (colours must be 4). `pairs` (a non-empty sequence of tavik.Pair of colours)
        makes kind "list": those pairs, repeating; seed and colours are then ignored (colours
        is 4 when a pair holds GREEN, else 3)."""
    def __getitem__(self, index: int, /) -> tavik.Pair:
        """Pair `index` (0 first); IndexError for a negative index."""
    def __contains__(self, value: object, /) -> bool:
        """True for every pair of the sequence's colours (each comes somewhere), False for any
        other value; answered at once, without a search. Iterating checks for Ctrl-C."""
    @property
    def seed(self) -> int:
        """The seed the sequence was made with."""
    @property
    def colours(self) -> int:
        """How many colours the pairs use: 3 or 4."""
    @property
    def kind(self) -> str:
        """"uniform", "balanced" or "list"."""
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __eq__(self, other: object, /) -> bool:
        """Equal when seed, colours, kind (and a list's pairs) are equal."""
    def __ne__(self, other: object, /) -> bool:
        """Equal when seed, colours, kind (and a list's pairs) are equal."""
    def __reduce__(self) -> tuple[Any, ...]:
        """Pickles as PairSequence(seed, colours) (with kind and pairs when not uniform)."""

# ---------------------------------------------------------------- the one-player game

@final
class Move:
    """What one Game.play() did."""

    def __new__(cls, chain: int, score: int, all_clear: bool = False, over: bool = False) -> Move:
        """A move result; made by Game.play(), built by hand mostly in tests."""
    @property
    def chain(self) -> int:
        """Chain length the move fired (0 when nothing vanished)."""
    @property
    def score(self) -> int:
        """Points scored, an all-clear bonus paid by this move included."""
    @property
    def all_clear(self) -> bool:
        """The chain left the field empty: the next move that fires a chain earns the bonus."""
    @property
    def over(self) -> bool:
        """The spawn cell is taken after the move: the game is over."""
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __eq__(self, other: object, /) -> bool:
        """Equal when every field is equal."""
    def __ne__(self, other: object, /) -> bool:
        """Equal when every field is equal."""
    def __reduce__(self) -> tuple[Any, ...]:
        """Pickles as Move(chain, score, all_clear, over)."""

@final
class Game:
    """One player's endless game: a field, a seeded pair sequence and the running score.

    A value like a field: copy.copy(), copy.deepcopy() and pickle give independent games that
    play on identically. play() places the current pair, removes what rests in row 0, fires
    the chain and scores it; a chain that clears the field owes `all_clear_bonus` to the next
    move that fires a chain."""

    def __new__(
        cls, seed: int = 0, colours: int = 4, visible: int = 3, all_clear_bonus: int = 2100,
        sequence: PairSequence | Sequence[tavik.Pair] | None = None,
    ) -> Game:
        """A new game on an empty field.

        seed: of the pair sequence, in [0, 2**64); colours: 3 or 4; visible: pairs shown
        (the current one and the next), 1 to 64; all_clear_bonus: 0 to 2**32 - 1. sequence:
        a PairSequence (a balanced one, say) or an explicit list of pairs (repeating), in place
        of seed and colours."""
    @property
    def field(self) -> tavik.Field:
        """A copy of the field (changing it does not change the game)."""
    @property
    def pairs(self) -> list[tavik.Pair]:
        """The `visible` pairs from now: the current pair first."""
    @property
    def sequence(self) -> PairSequence:
        """The game's pair sequence: pair `turn` is the current one."""
    @property
    def seed(self) -> int:
        """Seed of the pair sequence."""
    @property
    def colours(self) -> int:
        """Colours of the pair sequence: 3 or 4."""
    @property
    def visible(self) -> int:
        """How many pairs `pairs` shows."""
    @property
    def turn(self) -> int:
        """Moves played so far."""
    @property
    def score(self) -> int:
        """Total of the moves' scores."""
    @property
    def max_chain(self) -> int:
        """Longest chain fired so far."""
    @property
    def over(self) -> bool:
        """True once a move left the spawn cell taken; play() then raises ValueError."""
    @property
    def pending_bonus(self) -> int:
        """All-clear bonus owed to the next move that fires a chain (0 when none)."""
    @property
    def all_clear_bonus(self) -> int:
        """Bonus an all clear earns."""
    def legal_mask(self) -> int:
        """Bit i set when Hand.enumerate()[i] is legal now; 0 once the game is over."""
    def legal_hands(self) -> list[tavik.Hand]:
        """The legal hands now, in Hand.enumerate() order; empty once the game is over."""
    def play(self, hand: tavik.Hand) -> Move:
        """Play the current pair as `hand` says and return what the move did.

        ValueError for an illegal hand or a finished game, TypeError for a non-Hand; the game
        is unchanged then."""
    def copy(self) -> Game:
        """An independent copy of the game."""
    def __copy__(self) -> Game:
        """An independent copy of the game."""
    def __deepcopy__(self, memo: object, /) -> Game:
        """An independent copy of the game (a game holds no Python objects)."""
    def __reduce__(self) -> tuple[Any, ...]:
        """Pickles as Game(seed, colours, visible, all_clear_bonus, sequence) and a checked state."""
    def __setstate__(self, state: tuple[tavik.Field, int, int, int, bool, int], /) -> None:
        """Restore (field, turn, score, max_chain, over, pending_bonus).

        Checked: a 6-tuple (TypeError otherwise) of a tavik.Field, turn and score in
        [0, 2**64), max_chain in [0, 19], a bool `over` that must say whether the spawn cell is
        occupied, and a pending bonus of 0 or this game's all_clear_bonus (ValueError otherwise).
        A turn or score no game reaches is accepted; from there both stop at 2**64 - 1 rather
        than wrap (a move's own score included)."""
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __eq__(self, other: object, /) -> bool:
        """Equal when field, sequence, counters and settings are equal."""
    def __ne__(self, other: object, /) -> bool:
        """Equal when field, sequence, counters and settings are equal."""

# ---------------------------------------------------------------- the reference bot

@final
class BeamBot:
    """The reference bot: a beam search over the pairs a game shows, native from end to end.

    One level per visible pair (at most `depth`): every legal hand of every node is placed and
    settled, lost fields are dropped, equal fields merge, and the `width` best by fired value
    plus an evaluation of the field go on. The hand is the first of the best deepest node; ties
    go to the node made first, so the choice does not depend on `threads`.

    Fired value: a move's score when its chain has 8 links or more, minus half its score for a
    shorter chain (it spends puyos a longer one could use). Evaluation: the weighted sum of a
    field's features (tavik_game.BotWeights, tavik_game.evaluate). Without `weights` the plain
    search uses BotWeights.classic(): chain potential (the best_find score among triggers in
    columns a pair can reach), + 30 per pair of touching same-colour puyos, - 40 per row of
    height step between neighbouring columns, - 100 per row a column sits more than two below
    both neighbours, - 5000 per column a pair cannot reach, - 2000 x (height - 9)^2 for columns
    1 to 3 standing above 9 puyos.

    Looking past the visible pairs (queues > 0): after the `depth` known pairs, the last beam
    goes on once per guessed queue of pairs for `horizon` more levels of `queue_width` nodes
    (0: `width`). The guesses are drawn from `seed` and the turn, so they are the same for
    every thread count and from one move to the next. A hand is worth, in each queue, the best
    value of any of its paths; the hand played has the best mean over the queues (a queue in
    which the hand kept no path counts its worst value). Without `weights` this search uses
    the tuned BotWeights().

    When to fire: a move whose chain scores at least `fire_score` (0: none) ends its path with
    its score as a final value, so the bot fires a ripe chain once no path that keeps building
    is worth more in the queues, and keeps building while one is: a taller field's potential
    beats the chains it could fire now. Danger (a column near the spawn above 9 puyos) and
    paths that top out cut the building values, so a field near the top fires what it has.
    With `pairs`, the search knows the game ends at that turn and plans to fire before it.
    Children made per move: about (1 + depth x width + queues x horizon x queue_width) x 22."""

    def __new__(
        cls, width: int = 100, depth: int = 3, threads: int = 1, weights: Sequence[float] | None = None,
        queues: int = 0, horizon: int = 0, queue_width: int = 0, seed: int = 0, fire_score: int = 0,
        pairs: int = 0,
    ) -> BeamBot:
        """width 1 to 100000, depth 1 to 64, threads 1 to 256 (the calling thread counts), weights
        a BotWeights (or 10 numbers in its order), queues 0 to 1024, horizon 0 to 128,
        queue_width 0 to 100000, seed, fire_score and pairs in [0, 2**64)."""
    @property
    def width(self) -> int:
        """Nodes kept per level."""
    @property
    def depth(self) -> int:
        """Pairs searched: the current one and the next depth - 1."""
    @property
    def threads(self) -> int:
        """Threads that search, the calling one included."""
    @property
    def weights(self) -> tuple[float, ...]:
        """The evaluation's weights, in BotWeights order (BotWeights.from_sequence reads them)."""
    @property
    def queues(self) -> int:
        """Guessed queues searched past the visible pairs; 0 for the plain search."""
    @property
    def horizon(self) -> int:
        """Guessed pairs searched per queue."""
    @property
    def queue_width(self) -> int:
        """Nodes kept per guessed level; 0: width."""
    @property
    def seed(self) -> int:
        """Seed of the guessed queues."""
    @property
    def fire_score(self) -> int:
        """A chain this big ends its path at its score; 0: none does."""
    @property
    def pairs(self) -> int:
        """The turn at which the game ends (lookahead only): no plan goes past it, and a path
        that reaches it without a ripe chain is worth what it fired; 0: the game never ends."""
    def choose(self, game: Game) -> tavik.Hand:
        """The hand to play the game's current pair with (always legal).

        Releases the interpreter lock while it searches. ValueError when the game is over or
        shows fewer pairs than `depth`; TypeError for anything but a Game."""
    def analyse(self, game: Game) -> tuple[list[tuple[tavik.Hand, float]], dict[str, float]]:
        """The first hands best first with their values (the plain search: the best deepest
        node under each hand; lookahead: the mean over the queues), and the search's figures:
        nodes (children made), merged (children equal to another), levels (deepest reached),
        fired (paths a ripe chain ended), seconds. The first hand is the one choose() plays;
        an empty list when every hand loses. Errors as choose()."""

def _evaluate(field: tavik.Field, weights: Sequence[float]) -> tuple[int, tuple[int, ...]]: ...
def _tuned_weights() -> tuple[float, ...]: ...

# ---------------------------------------------------------------- the two-player match

@final
class VersusRules:
    """The numbers of a two-player match (Tsu's by default).

    target_points: points per ojama before margin time, 1 to 2**32 - 1; margin_time: seconds
    of match clock after which the target starts falling (None: never), 0 to 10**6, counted
    as the first frame at or after margin_time * 60; all_clear_bonus: points added to the
    score by a link that leaves the field empty, 0 to 2**32 - 1; max_ojama_drop: most ojama
    falling at once, 1 to 30 (the rest wait for the next turn)."""

    def __new__(
        cls, target_points: int = 70, margin_time: float | None = 96.0, all_clear_bonus: int = 2100,
        max_ojama_drop: int = 30,
    ) -> VersusRules:
        """ValueError for a number outside its range, TypeError for one of the wrong type."""
    @property
    def target_points(self) -> int:
        """Points per ojama before margin time."""
    @property
    def margin_time(self) -> float | None:
        """Seconds before the target starts falling; None: it never falls."""
    @property
    def all_clear_bonus(self) -> int:
        """Points an all clear adds to the score (sent with the next chain)."""
    @property
    def max_ojama_drop(self) -> int:
        """Most ojama that fall on one turn."""
    def target_at(self, frame: int) -> int:
        """The target points at match frame `frame` (60 frames a second, from 0).

        From the margin frame on, and every 960 frames (16 s) after it, the target changes:
        first to target_points * 3 // 4, then each time to half the value before the last
        change (floored), stopping at 1 or after 14 changes. With 70: 70, 52, 35, 26, 17,
        13, 8, 6, 4, 3, 2, 1 at 96, 112, 128, ... s."""
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __eq__(self, other: object, /) -> bool:
        """Equal when every number is equal."""
    def __ne__(self, other: object, /) -> bool:
        """Equal when every number is equal."""
    def __reduce__(self) -> tuple[Any, ...]:
        """Pickles as VersusRules(target_points, margin_time, all_clear_bonus, max_ojama_drop)."""

def placement_frames(field: tavik.Field, hand: tavik.Hand) -> int:
    """Frames from the decision to the pair's grounding when `hand` is played on `field`.

    [0, 4, 6, 8, 10, 12][|axis column - 2|] to move sideways, then, with FAST[n] = 2 n,
    DROP = [0, 10, 16, 22, 24, 28, 32, 34, 36, 40, 42, 44, 46, 48, 50, 52] and h the height of
    a column (its puyos in rows 2 to 13): top FAST[12 - h] + 20; bottom FAST[max(6, 11 - h)]
    + 20 (h of the axis column); sideways FAST[max(3, 12 - h)] + 20 with h the higher of the
    two columns, plus DROP[difference] + 20 when the heights differ. A column of height 12
    costs 6 frames in place of its FAST term. ValueError for a hand the field does not allow."""

def settle_frames(field: tavik.Field) -> int:
    """Frames of the chain a just-placed field fires (0 when nothing vanishes).

    Each link lasts 50 frames, plus FAST[largest fall in rows] + 20 when anything falls after
    it vanished."""

@final
class Event:
    """One thing that happened in a Match, at a frame, to a player. Immutable.

    kind and its numbers (also attributes of the event, and the items of `data`, in this order):

    place       hand (a tavik.Hand), frames: the decision; frames until the pair grounds
    link        chain (1 first), score (the link's points), sent (ojama the link produces):
                at the link's start (link 1 at the grounding frame)
    all_clear   bonus: the link that emptied the field added it to the score (same frame)
    offset      sent, cancel_pending, cancel_fixed, to_opponent: the exchange of a link's
                ojama, when it sent any: first against the sender's own pending ojama, then its
                fixed ones, the rest to the opponent's pending (after the frame's other events)
    chain_end   chain (links), fixed (the opponent's pending ojama that became fixed): the
                pass that vanishes nothing
    garbage     dropped (landed), lost (found their column full), remaining (fixed ojama left
                waiting): the frame the ojama start falling
    lose        (none): the turn settled with column 2, row 2 taken

    Within one frame player 0's events come first, then player 1's, then the offsets (player
    0's exchange first)."""

    def __new__(cls, frame: int, player: int, kind: str, data: dict[str, Any] | None = None) -> Event:
        """An event from its parts; `data` must hold exactly the kind's numbers (ValueError)."""
    @property
    def frame(self) -> int:
        """Match frame of the event."""
    @property
    def player(self) -> int:
        """0 or 1."""
    @property
    def kind(self) -> str:
        """One of place, link, all_clear, offset, chain_end, garbage, lose."""
    @property
    def data(self) -> dict[str, Any]:
        """The kind's numbers by name (a tavik.Hand for `hand`), a new dict each time."""
    # The kinds' numbers: each raises AttributeError on an event whose kind lacks it.
    @property
    def hand(self) -> tavik.Hand:
        """place: the hand decided."""
    @property
    def frames(self) -> int:
        """place: frames from the decision to the grounding."""
    @property
    def chain(self) -> int:
        """link: the link's number (1 first); chain_end: the chain's links."""
    @property
    def score(self) -> int:
        """link: the link's points (an all-clear bonus not included)."""
    @property
    def sent(self) -> int:
        """link: ojama the link produces; offset: ojama exchanged."""
    @property
    def bonus(self) -> int:
        """all_clear: points added to the score."""
    @property
    def cancel_pending(self) -> int:
        """offset: the sender's own pending ojama cancelled."""
    @property
    def cancel_fixed(self) -> int:
        """offset: the sender's own fixed ojama cancelled."""
    @property
    def to_opponent(self) -> int:
        """offset: ojama added to the opponent's pending ojama."""
    @property
    def fixed(self) -> int:
        """chain_end: the opponent's pending ojama that became fixed."""
    @property
    def dropped(self) -> int:
        """garbage: ojama that landed."""
    @property
    def lost(self) -> int:
        """garbage: ojama that found their column full."""
    @property
    def remaining(self) -> int:
        """garbage: fixed ojama left waiting for the next turn."""
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __eq__(self, other: object, /) -> bool:
        """Equal when frame, player, kind and numbers are equal."""
    def __ne__(self, other: object, /) -> bool:
        """Equal when frame, player, kind and numbers are equal."""
    def __reduce__(self) -> tuple[Any, ...]:
        """Pickles as Event(frame, player, kind, data)."""

@final
class Player:
    """A snapshot of one side of a Match (changing the match does not change it)."""

    @property
    def field(self) -> tavik.Field:
        """The field (a copy). A falling pair appears when it grounds."""
    @property
    def pairs(self) -> list[tavik.Pair]:
        """The `visible` pairs this player sees: its current pair first."""
    @property
    def turn(self) -> int:
        """Pairs it has played (decisions made)."""
    @property
    def score(self) -> int:
        """Points of every link so far, all-clear bonuses included."""
    @property
    def consumed(self) -> int:
        """Part of the score already turned into ojama."""
    @property
    def pending_ojama(self) -> int:
        """Ojama announced against this player, not yet fixed (they can still be offset)."""
    @property
    def fixed_ojama(self) -> int:
        """Ojama that fall on this player when its next turn settles (at most max_ojama_drop
        at a time)."""
    @property
    def next_frame(self) -> int:
        """Frame of its next decision: the match frame when it is due; while its turn runs,
        the frame it would decide at if no more ojama became fixed on it."""
    @property
    def max_chain(self) -> int:
        """Longest chain it has fired."""
    @property
    def over(self) -> bool:
        """It lost (its turn settled with column 2, row 2 taken)."""
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __eq__(self, other: object, /) -> bool:
        """Equal when every number and the field are equal."""
    def __ne__(self, other: object, /) -> bool:
        """Equal when every number and the field are equal."""

@final
class Match:
    """A two-player match, frame by frame: both players receive the same pair sequence.

    A value like a Game: copy.copy(), copy.deepcopy() and pickle give independent matches that
    play on identically. Time runs in frames (60 a second) from 0, where both players decide
    their first pair. A turn after a decision: the pair falls (placement_frames), its chain
    runs link by link (each link scored and its ojama announced at its start, exchanged at the
    end of that frame), the end of the chain fixes the ojama it sent on the opponent, fixed
    ojama fall on the player (at most max_ojama_drop), then 12 frames while the next pair
    enters. play() takes the due players' hands and runs every frame before the next
    decision: a decision at frame t sees everything up to the end of frame t - 1."""

    def __new__(
        cls, seed: int = 0, colours: int = 4, visible: int = 3, rules: VersusRules | None = None,
        fields: Sequence[tavik.Field] | None = None,
    ) -> Match:
        """seed in [0, 2**64) (pairs and garbage columns), colours 3 or 4, visible 1 to 64,
        rules VersusRules() when None; fields: the two starting fields (empty when None),
        each settled, with no group to vanish and not lost (ValueError), tavik.Fields
        (TypeError)."""
    @property
    def frame(self) -> int:
        """The frame of the next decision (the match clock)."""
    @property
    def seed(self) -> int:
        """The match's seed."""
    @property
    def colours(self) -> int:
        """Colours of the pair sequence: 3 or 4."""
    @property
    def visible(self) -> int:
        """Pairs each player sees."""
    @property
    def rules(self) -> VersusRules:
        """The match's rules."""
    @property
    def sequence(self) -> PairSequence:
        """The pair sequence both players draw from."""
    @property
    def players(self) -> tuple[Player, Player]:
        """Snapshots of both players now."""
    @property
    def over(self) -> bool:
        """A player lost (or both at once)."""
    @property
    def winner(self) -> int | None:
        """0 or 1 once the other lost; None while running and after a draw."""
    @property
    def events(self) -> list[Event]:
        """Every event so far, in order (a new list each time)."""
    def due(self) -> tuple[int, ...]:
        """The players deciding at `frame`: (0,), (1,) or (0, 1); () once the match is over."""
    def legal_mask(self, player: int) -> int:
        """Bit i set when Hand.enumerate()[i] is legal for `player` now; 0 unless it is due."""
    def legal_hands(self, player: int) -> list[tavik.Hand]:
        """The legal hands of `player` now, in Hand.enumerate() order; empty unless it is due."""
    def play(self, hands: dict[int, tavik.Hand]) -> list[Event]:
        """Play a hand for each due player (exactly those) and run to the next decision.

        Returns the events this call produced, in order (the decisions' place events among
        them). ValueError for a missing or extra player, an illegal hand or a finished match,
        TypeError for a non-dict, a non-int key or a non-Hand; the match is unchanged then."""
    def game(self, player: int) -> Game:
        """Player `player`'s side as a one-player Game (its field, the shared sequence at its
        turn, its score and max_chain), so a one-player bot can choose its hand."""
    def copy(self) -> Match:
        """An independent copy of the match."""
    def __copy__(self) -> Match:
        """An independent copy of the match."""
    def __deepcopy__(self, memo: object, /) -> Match:
        """An independent copy of the match (a match holds no Python objects)."""
    def __reduce__(self) -> tuple[Any, ...]:
        """Pickles as a Match rebuilt from its seed, settings and the hands played so far."""
    def __setstate__(self, state: bytes, /) -> None:
        """Replays the hands of a pickled match on it (TypeError unless bytes)."""
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __eq__(self, other: object, /) -> bool:
        """Equal when settings, players, clock and events are equal."""
    def __ne__(self, other: object, /) -> bool:
        """Equal when settings, players, clock and events are equal."""

# ---------------------------------------------------------------- many games at once
# Private: the native half of tavik_game.envs (TokopuyoEnv, TokopuyoVectorEnv).

@final
class _VectorGame:
    """`num_envs` games stepped in one call over a pool of `threads` threads (the calling one
    included). Its outputs are declared once in the native module (`layout()`); each holds one
    row per game:

    field        int8 (n, colours + 1, 13, 6): one-hot of rows 1 to 13, planes RED, BLUE,
                 YELLOW, GREEN (the first `colours`), then OJAMA (tavik_game.observe's layout)
    pairs        int8 (n, visible, 2, colours): the current pair first; child, then axis
    action_mask  int8 (n, 22): 1 where Hand.enumerate()[k] is legal
    reward       float64 (n,): the move's score, the all-clear bonus included
    terminated, truncated, illegal   bool (n,)
    chain        int64 (n,): the move's chain length

    A game reset without a seed starts the next seed of a chain derived from its last seed
    (`entropy` starts the chains). With `autoreset`, the step after an episode ends starts the
    next one, ignoring the action; without, stepping it raises ValueError. num_envs (1 to
    2**20) is checked before anything is made. A refused call changes nothing; a call while
    another runs on the same object raises PyBorrowMutError."""

    def __new__(
        cls, num_envs: int, *, colours: int = 4, visible: int = 3, max_pairs: int = 0, threads: int = 1,
        autoreset: bool = True, entropy: int = 0,
    ) -> _VectorGame:
        """max_pairs 0: no truncation."""
    def reset(self, seeds: Sequence[int] | None, fresh: bool) -> tuple[dict[str, Any], dict[str, Any]]:
        """New episodes in every game, seeded seeds[i] (or the next seed of each chain):
        (obs, info) with info {"action_mask", "_action_mask"}. With `fresh`, arrays the caller
        may keep, sharing memory with nothing else; without, the object's own arrays."""
    def step(self, actions: Any, fresh: bool) -> tuple[dict[str, Any], Any, Any, Any, dict[str, Any]]:
        """actions: int64 (n,) indices into Hand.enumerate(); ValueError outside 0..21.
        Steps with the interpreter lock released and returns Gymnasium's vector step
        (obs, reward, terminated, truncated, info): obs {"field", "pairs"}; info
        {"action_mask", "_action_mask"} and, unless it reset every game, "illegal" and "chain"
        with "_illegal" and "_chain" marking the games it played. With `fresh`, arrays the
        worker threads wrote (views of one block, their `base`) that share memory with nothing
        else; without, the object's own arrays."""
    def step_one(self, action: int) -> tuple[float, bool, bool, bool, int]:
        """A single game's step: (reward, terminated, truncated, illegal, chain)."""
    def game(self, i: int) -> Game:
        """A copy of game i."""
    def outputs(self) -> dict[str, Any]:
        """The object's own arrays by name, the flag arrays ("_action_mask", ...) included."""
    def layout(self) -> tuple[tuple[str, str, str, tuple[int, ...]], ...]:
        """(name, dtype, role, shape) of each output; role is "observation", "reward",
        "terminated", "truncated", "mask" or "played"."""

@final
class _VersusVector:
    """`num_matches` matches (tavik_game.VersusVectorEnv's native half) stepped in one call over
    a pool of `threads` threads, writing into arrays the caller allocated; their buffers stay
    held while this object lives. Per match there are `seats` views (2 with opponent "self":
    player 0's, then player 1's; else 1, player 0's), each from its player's side:

    field       uint8 (n, seats, 2, colours + 1, 13, 6): own field, then the opponent's
    pairs       uint8 (n, seats, visible, 2, colours): its own next pairs
    mask        int8 (n, seats, 22): 1 where Hand.enumerate()[k] is legal (0 when not due)
    ojama       int32 (n, seats, 4): own pending, own fixed, opponent's pending, fixed
    frames      int32 (n, seats, 2): frames until its decision, until the opponent's
    target      int32 (n,): target points now
    due         bool (n, seats)
    reward      float64 (n, seats): +1 win, -1 loss or illegal hand, 0 otherwise
    terminated, truncated   bool (n,)
    illegal     bool (n, seats)

    The native opponent ("random", "greedy" or "beam" of `beam_width`) plays player 1 until
    player 0 is due. The step after a match ends starts the next one (the next seed of a
    chain derived from its seed; `entropy` starts the chains), ignoring the actions."""

    def __new__(
        cls, num_matches: int, colours: int, visible: int, rules: VersusRules, opponent: str, beam_width: int,
        max_frames: int, threads: int, autoreset: bool, entropy: Sequence[int], field: Any, pairs: Any,
        mask: Any, ojama: Any, frames: Any, target: Any, due: Any, reward: Any, terminated: Any,
        truncated: Any, illegal: Any,
    ) -> _VersusVector:
        """max_frames 0: no truncation."""
    def reset(self, seeds: Sequence[int] | None) -> None:
        """New matches everywhere, seeded seeds[i] (or the next seed of each chain)."""
    def step(self, actions: Any) -> None:
        """actions: int64 (n, seats) indices into Hand.enumerate(), those of players not due
        ignored; ValueError outside 0..21. Steps with the interpreter lock released."""
    def match(self, i: int) -> Match:
        """A copy of match i, without its event log (pickling it raises ValueError)."""
    def decisions(self) -> int:
        """Hands played by both sides of every match so far."""

# ---------------------------------------------------------------- datasets
# (playing and labelling in bulk)

def play_games(
    seed: int,
    first_game: int,
    games: int,
    bot: str,
    beam_width: int,
    max_turns: int,
    label_depth: int,
    visible: int,
) -> dict[str, Any]:
    """Plays games first_game .. first_game + games - 1 of run `seed` with `bot`
    ("random", "greedy" or "beam", of `beam_width`), each ending when lost or
    after `max_turns` moves. Returns NumPy columns, one row per position (the
    field before the move): game, turn, field (n, 84) type numbers, pairs
    (n, 2 * visible), hand (index in Hand.enumerate order), move_chain,
    move_score, label_score, label_chain (best find_chain_recursive(label_depth)),
    game_score and game_turns. A game plays the same in any batch."""

def game_seed(seed: int, game: int) -> int:
    """The seed of game `game` of self-play run `seed`: ``Game(seed=game_seed(seed, g))`` deals
    what play_games dealt that game."""

def label_fields(fields: Sequence[tavik.Field], depth: int, out: Any) -> None:
    """Writes score, chain of each field's best find_chain_recursive(depth) find
    into `out`, a writable int64 buffer of length 2 * len(fields)."""

# ---------------------------------------------------------------- NumPy helpers (tavik_game.arrays)
# tavik_game.observe is the native function itself; to_numpy and from_numpy wrap the
# private writers below.

def observe(
    fields: Sequence[tavik.Field | Game] | NDArray[np.uint8],
    colours: int = 4,
    out: NDArray[np.uint8] | None = None,
) -> NDArray[np.uint8]:
    """One-hot planes of rows 1 to 13, shape (n, colours + 1, 13, 6), uint8.

    Plane k < colours marks colour k of RED, BLUE, YELLOW, GREEN; the last plane marks ojama.
    Items may be Fields or Games (a Game's field is used); `fields` may also be a C-contiguous
    (n, 14, 6) uint8 array of type numbers 0 to 7, row 0 first (a dataset's field column, or
    to_numpy's arrays stacked), read with no field object per row. `out`, when given, must be a
    C-contiguous writable uint8 array of exactly that shape; it is filled and returned.
    """

def _write_types(field: tavik.Field, out: Any) -> None:
    """The field's type numbers written into `out`, a writable (14, 6) uint8 array."""

def _field_from_types(array: Any) -> tavik.Field:
    """A new field from a C-contiguous (14, 6) uint8 array of type numbers 0 to 7."""
