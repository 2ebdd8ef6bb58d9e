"""Python-level call costs of tavik, as ratios to a bare built-in method call.

    python bench/bench_python.py [--repeat N]

Every figure is the best of several timeit runs, measured in this run beside the baseline
`(0).bit_length()`, because absolute numbers on a shared machine drift.
"""

from __future__ import annotations

import argparse
import timeit

import tavik

NINETEEN_CHAIN = (
    ".G.BRG GBRRYR RRYYBY RGYRBR YGYRBY YGBGYR GRBGYR BRBYBY RYYBYY BRBYBR BGBYRR YGBGBG RBGBGG"
).split()
MID_GAME = ["B.....", "RG....", "RYY...", "BGYB..", "BGRBR.", "RRGYRR"]


def rows(text_rows: list[str]) -> list[str]:
    return [r.replace(".", " ") for r in text_rows]


def best_ns(stmt, number: int, repeat: int) -> float:
    timer = timeit.Timer(stmt)
    return min(timer.repeat(repeat=repeat, number=number)) / number * 1e9


def expand_hands(field, hands, pair):
    for hand in hands:
        field.clone().put_hand(hand, pair).chain()


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=7)
    args = parser.parse_args()
    repeat = args.repeat

    zero = 0
    baseline = best_ns(lambda: zero.bit_length(), 200_000, repeat)
    print(f"baseline (0).bit_length() through a lambda: {baseline:7.1f} ns\n")

    hands = tavik.Hand.enumerate()
    pair = tavik.Pair(4, 5)
    rows_19 = rows(NINETEEN_CHAIN)
    rows_mid = rows(MID_GAME)
    results: dict[str, dict[str, float]] = {}
    for cls in (tavik.Field, tavik.ArrayField):
        f = cls.from_str_array(rows_mid)
        nineteen = cls.from_str_array(rows_19)
        hand = hands[3]
        cases = {
            "get(2, 13)": (lambda: f.get(2, 13), 200_000),
            "set(2, 3, 4)": (lambda: f.set(2, 3, 4), 200_000),
            "put(5, 0)": (lambda: f.put(5, 0), 200_000),
            "clone()": (lambda: f.clone(), 200_000),
            "clone().put_hand()": (lambda: f.clone().put_hand(hand, pair), 100_000),
            "19-chain clone().chain()": (lambda: nineteen.clone().chain(), 5_000),
            "22-hand expansion": (lambda: expand_hands(f, hands, pair), 2_000),
        }
        if cls is tavik.Field:
            cases["find_chain() mid-game"] = (lambda: f.find_chain(), 2_000)
        results[cls.__name__] = {name: best_ns(fn, n, repeat) for name, (fn, n) in cases.items()}

    print(f"{'operation':28} {'Field ns':>10} {'x base':>8} {'ArrayField ns':>14} {'x base':>8} {'AF/F':>6}")
    for name, ns in results["Field"].items():
        af = results["ArrayField"].get(name)
        line = f"{name:28} {ns:10.1f} {ns / baseline:8.2f}"
        if af is not None:
            line += f" {af:14.1f} {af / baseline:8.2f} {af / ns:6.2f}"
        print(line)


if __name__ == "__main__":
    main()
