"""The game layer against the same work written in plain Python on `tavik`.

    python bench/bench_game.py [--games N] [--python-games N] [--pairs N] [--beam W] [--seed S]
                               [--repeats R]

The baseline is the beam-search bot a user writes on the public `tavik` API (current pair plus
two next pairs, every node evaluated with find_chain()), with its own legal-hand rule and
top-out. Both bots play the same games (the pairs of tavik_game.PairSequence). The native bot
runs on 1 and 2 threads alternately, `--repeats` times, and the medians are reported. `expand`
and `best_find` are timed against the loops a user writes in Python on `tavik`. Every figure
is printed as a ratio against its baseline measured in this run.
"""

from __future__ import annotations

import argparse
import statistics
import time

import cores  # bench/cores.py, beside this script
import tavik
import tavik_game as tg
from tavik import Field, Hand, PuyoType, Rotation

SPAWN_X = 2
TOP_ROW = 2  # top visible row; rows 0 and 1 are the fuzzy rows
HANDS = Hand.enumerate()


def pair_sequence(seed: int, count: int, colours: int = 4) -> list[tavik.Pair]:
    seq = tg.PairSequence(seed, colours)
    return [seq[i] for i in range(count)]


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


def play_native(seed: int, pairs: int, bot: "tg.BeamBot") -> dict:
    game = tg.Game(seed=seed, colours=4, visible=3)
    moves = 0
    while moves < pairs and not game.over:
        game.play(bot.choose(game))
        moves += 1
    return {"moves": moves, "score": game.score, "max_chain": game.max_chain}


def one_thread_rate(seeds: list[int], pairs: int, width: int) -> float:
    """Moves per second of a one-thread bot over these games (run in a process of its own)."""
    bot = tg.BeamBot(width=width, depth=3, threads=1)
    moves, took = 0, 0.0
    for seed in seeds:
        results, t = timed(play_native, seed, pairs, bot)
        moves += results["moves"]
        took += t
    return moves / took


def summary(results: list[dict], elapsed: float) -> tuple[float, float, int]:
    moves = sum(r["moves"] for r in results)
    chains = [r["max_chain"] for r in results]
    return moves / elapsed, sum(chains) / len(chains), max(chains)


def timed(fn, *args):
    start = time.perf_counter()
    results = fn(*args)
    return results, time.perf_counter() - start


def sample_fields(seed: int, count: int) -> list[tuple[Field, tavik.Pair]]:
    """Mid-game fields a bot meets, with the pair to place on each."""
    bot = tg.BeamBot(width=8, depth=2, threads=1)
    out = []
    game = tg.Game(seed=seed)
    while len(out) < count:
        if game.over:
            game = tg.Game(seed=seed + len(out) + 1)
        out.append((game.field, game.pairs[0]))
        game.play(bot.choose(game))
    return out


def python_expand(field: Field, pair: tavik.Pair) -> list:
    out = []
    for hand in legal_hands(field):
        child = field.clone()
        result = settle(child, hand, pair)
        out.append((hand, child, result))
    return out


def per_call(fn, items, rounds: int) -> float:
    start = time.perf_counter()
    for _ in range(rounds):
        for item in items:
            fn(*item)
    return (time.perf_counter() - start) / (rounds * len(items))


def bench_calls(fields: list[tuple[Field, tavik.Pair]], repeats: int) -> None:
    empty = [(Field(), tavik.Pair(PuyoType.RED, PuyoType.BLUE))]
    # The baselines build what the native calls return: the same tuples, the same best score.
    assert [(h, f.to_array(), r.score) for h, f, r in python_expand(*fields[-1])] == [
        (h, f.to_array(), r.score) for h, f, r in tg.expand(*fields[-1])
    ]
    assert max((f.score for f in fields[-1][0].find_chain()), default=0) == tg.best_find(fields[-1][0])[0]
    for name, native, python, items in [
        ("expand (22 hands, empty field)", tg.expand, python_expand, empty),
        ("expand (mid-game fields)", tg.expand, python_expand, fields),
        ("best_find (mid-game fields)", lambda f, _p: tg.best_find(f),
         lambda f, _p: max((c.score for c in f.find_chain()), default=0), fields),
    ]:
        rounds = max(1, 2000 // len(items))
        ratios, nat = [], []
        for _ in range(repeats):
            t_py = per_call(python, items, rounds)
            t_nat = per_call(native, items, rounds)
            ratios.append(t_py / t_nat)
            nat.append(t_nat)
        print(f"{name}: native {statistics.median(nat) * 1e6:.1f} us/call, "
              f"{statistics.median(ratios):.1f}x the Python loop")


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--games", type=int, default=20)
    ap.add_argument("--python-games", type=int, default=None, help="games for the Python bot (default: --games)")
    ap.add_argument("--pairs", type=int, default=100)
    ap.add_argument("--beam", type=int, default=100)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--repeats", type=int, default=3)
    args = ap.parse_args()
    seeds = [args.seed + g for g in range(args.games)]
    py_seeds = seeds[: args.python_games if args.python_games is not None else args.games]

    bench_calls(sample_fields(args.seed, 200), args.repeats)

    # Game by game, the Python bot then the native one on 1 and 2 threads in turn, so a change
    # in the machine's load falls on every contender alike.
    bots = {t: tg.BeamBot(width=args.beam, depth=3, threads=t) for t in (1, 2)}
    py_results: list[dict] = []
    py_elapsed = 0.0
    elapsed = {t: [0.0] * args.repeats for t in bots}
    # The same, over the Python bot's games alone: its ratio compares the same positions.
    same_elapsed = [0.0] * args.repeats
    native: dict[int, list[dict]] = {t: [] for t in bots}
    for seed in seeds:
        if seed in py_seeds:
            results, took = timed(play_python, seed, args.pairs, args.beam)
            py_results.append(results)
            py_elapsed += took
        for r in range(args.repeats):
            for t, bot in bots.items():
                results, took = timed(play_native, seed, args.pairs, bot)
                elapsed[t][r] += took
                if t == 1 and seed in py_seeds:
                    same_elapsed[r] += took
                if r == 0:
                    native[t].append(results)
    assert native[1] == native[2], "the bot must choose the same hands whatever its threads"

    py_rate, py_chain, py_best = summary(py_results, py_elapsed)
    print(f"python beam bot: {len(py_seeds)} games, {py_rate:.1f} moves/s, "
          f"mean longest chain {py_chain:.2f}, best {py_best}")
    moves = sum(r["moves"] for r in native[1])
    rates = {t: [moves / e for e in elapsed[t]] for t in bots}
    one, two = statistics.median(rates[1]), statistics.median(rates[2])
    _, chain, best = summary(native[1], 1.0)
    pairs = [b / a for a, b in zip(rates[1], rates[2])]
    print(f"native BeamBot: {len(seeds)} games, mean longest chain {chain:.2f}, best {best}, "
          f"mean score {statistics.mean(r['score'] for r in native[1]):.0f}")
    same_moves = sum(r["moves"] for seed, r in zip(seeds, native[1]) if seed in py_seeds)
    same = statistics.median(same_moves / e for e in same_elapsed)
    print(f"  1 thread:  {one:.1f} moves/s; on the Python bot's {len(py_seeds)} games {same:.1f} moves/s, "
          f"{same / py_rate:.1f}x the Python bot")
    print(f"  2 threads: {two:.1f} moves/s, {two / one:.2f}x 1 thread "
          f"(medians of {args.repeats} alternated runs; per run {', '.join(f'{r:.2f}' for r in pairs)})")
    # What the machine allows: two one-thread bots in two processes share nothing at all.
    bound = cores.two_process_ratio(one_thread_rate, seeds[:4], args.pairs, args.beam)
    print(f"  two processes of 1 thread each: {bound:.2f}x one (this machine's bound for this work); "
          f"2 threads reach {two / one / bound:.0%} of it")


if __name__ == "__main__":
    main()
