"""The game layer against the same work written in plain Python on `tavik`.

    python bench/bench_game.py [--games N] [--pairs N] [--beam W] [--seed S]

The baseline is the beam-search bot a user writes on the public `tavik` API (current pair plus
two next pairs, every node evaluated with find_chain()), with its own legal-hand rule, top-out
and seeded pair sequence. Native figures are printed as ratios against it, measured in this run.
"""

from __future__ import annotations

import argparse
import random
import time

import tavik
from tavik import Field, Hand, PuyoType, Rotation

COLOURS = (PuyoType.RED, PuyoType.BLUE, PuyoType.YELLOW, PuyoType.GREEN)
SPAWN_X = 2
TOP_ROW = 2  # top visible row; rows 0 and 1 are the fuzzy rows
HANDS = Hand.enumerate()


def pair_sequence(seed: int, count: int, colours: int = 4) -> list[tavik.Pair]:
    rng = random.Random(seed)
    palette = COLOURS[:colours]
    return [tavik.Pair(rng.choice(palette), rng.choice(palette)) for _ in range(count)]


def columns_of(hand: Hand) -> tuple[int, ...]:
    if hand.rotation == Rotation.LEFT:
        return (hand.x, hand.x - 1)
    if hand.rotation == Rotation.RIGHT:
        return (hand.x, hand.x + 1)
    return (hand.x,)


def legal_hands(field: Field) -> list[Hand]:
    # The pair travels from the spawn column; a column full to the top visible row stops it.
    open_ = [field.get(x, TOP_ROW) == PuyoType.EMPTY for x in range(6)]
    legal = []
    for hand in HANDS:
        ok = True
        for target in columns_of(hand):
            lo, hi = min(SPAWN_X, target), max(SPAWN_X, target)
            if not all(open_[lo : hi + 1]):
                ok = False
                break
        if ok:
            legal.append(hand)
    return legal


def settle(field: Field, hand: Hand, pair: tavik.Pair) -> tavik.ChainResult:
    field.put_hand(hand, pair)
    for x in range(6):
        if field.get(x, 0) != PuyoType.EMPTY:
            field.set(x, 0, PuyoType.EMPTY)
    return field.chain()


def is_dead(field: Field) -> bool:
    return field.get(SPAWN_X, TOP_ROW) != PuyoType.EMPTY


def evaluate(field: Field) -> float:
    finds = field.find_chain()
    potential = max((f.score for f in finds), default=0)
    heights = [field.get_height(x) for x in range(6)]
    bumps = sum(abs(heights[i] - heights[i + 1]) for i in range(5))
    danger = max(0, heights[2] - 8) + max(0, heights[3] - 9)
    return potential - 30.0 * bumps - 400.0 * danger


class PythonBeamBot:
    def __init__(self, width: int = 100, depth: int = 3):
        self.width = width
        self.depth = depth

    def choose(self, field: Field, pairs: list[tavik.Pair]) -> Hand:
        # node: (value, field, first hand, fired score)
        beam = [(0.0, field, None, 0)]
        best_hand = None
        for pair in pairs[: self.depth]:
            children = []
            for _, node, first, fired in beam:
                for hand in legal_hands(node):
                    child = node.clone()
                    result = settle(child, hand, pair)
                    if is_dead(child):
                        continue
                    gained = fired + (result.score if result.chain >= 8 else -result.score // 2)
                    children.append((gained + evaluate(child), child, first or hand, gained))
            if not children:
                break
            children.sort(key=lambda c: c[0], reverse=True)
            beam = children[: self.width]
            best_hand = beam[0][2]
        return best_hand if best_hand is not None else HANDS[0]


def play_python(seed: int, pairs: int, width: int) -> dict:
    seq = pair_sequence(seed, pairs + 2)
    field = Field()
    bot = PythonBeamBot(width)
    score = moves = max_chain = 0
    for turn in range(pairs):
        hand = bot.choose(field, seq[turn : turn + 3])
        if hand not in legal_hands(field):
            break
        result = settle(field, hand, seq[turn])
        moves += 1
        score += result.score
        max_chain = max(max_chain, result.chain)
        if is_dead(field):
            break
    return {"moves": moves, "score": score, "max_chain": max_chain}


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--games", type=int, default=3)
    ap.add_argument("--pairs", type=int, default=100)
    ap.add_argument("--beam", type=int, default=100)
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args()

    start = time.perf_counter()
    results = [play_python(args.seed + g, args.pairs, args.beam) for g in range(args.games)]
    elapsed = time.perf_counter() - start
    moves = sum(r["moves"] for r in results)
    chains = [r["max_chain"] for r in results]
    print(f"python beam bot: {args.games} games, {moves / elapsed:.1f} moves/s, "
          f"mean longest chain {sum(chains) / len(chains):.2f}, best {max(chains)}")


if __name__ == "__main__":
    main()
