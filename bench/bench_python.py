"""Python-level call costs of tavik, as ratios to a bare built-in method call.

    python bench/bench_python.py [--repeat N] [--core build/dev/tavik_bench]

Every figure is the best of several timeit runs, measured in this run beside the baseline
`(0).bit_length()`, because absolute numbers on a shared machine drift. With --core, the
core benchmark binary times the same search on the same field right after, so the cost of
turning finds into Python objects shows as a ratio.
"""

from __future__ import annotations

import argparse
import json
import os
import subprocess
import tempfile
import timeit

import tavik

NINETEEN_CHAIN = (
    ".G.BRG GBRRYR RRYYBY RGYRBR YGYRBY YGBGYR GRBGYR BRBYBY RYYBYY BRBYBR BGBYRR YGBGBG RBGBGG"
).split()
MID_GAME = ["B.....", "RG....", "RYY...", "BGYB..", "BGRBR.", "RRGYRR"]
# The core benchmark's "midgame" search field, so the two runs time the same search.
FINDER_FIELD = ["..Y...", ".GB..R", "RRYGBY", "BBYRGG", "GYBRRB", "GYYBRB"]


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
    parser.add_argument("--core", help="path of the tavik_bench binary, to compare find_chain() with the core search")
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
            finder = cls.from_str_array(rows(FINDER_FIELD))
            cases["find_chain() mid-game"] = (lambda: finder.find_chain(), 2_000)
        results[cls.__name__] = {name: best_ns(fn, n, repeat) for name, (fn, n) in cases.items()}

    print(f"{'operation':28} {'Field ns':>10} {'x base':>8} {'ArrayField ns':>14} {'x base':>8} {'AF/F':>6}")
    for name, ns in results["Field"].items():
        af = results["ArrayField"].get(name)
        line = f"{name:28} {ns:10.1f} {ns / baseline:8.2f}"
        if af is not None:
            line += f" {af:14.1f} {af / baseline:8.2f} {af / ns:6.2f}"
        print(line)

    if args.core:
        core_ns = core_ns_of(args.core, "^find_by_extend/midgame")
        python_ns = results["Field"]["find_chain() mid-game"]
        print(f"\nfind_chain() mid-game: core search {core_ns:.1f} ns, from Python {python_ns:.1f} ns;")
        print(f"call and conversion to FoundChain objects {python_ns - core_ns:.1f} ns, "
              f"{(python_ns - core_ns) / core_ns:.2f} times the search")
        core_ns = core_ns_of(args.core, "^copy\\+chain/BitField/nineteen$")
        python_ns = results["Field"]["19-chain clone().chain()"]
        print(f"19-chain clone().chain(): core copy+chain {core_ns:.1f} ns, from Python {python_ns:.1f} ns;")
        print(f"call and ChainResult object {python_ns - core_ns:.1f} ns, "
              f"{(python_ns - core_ns) / core_ns:.2f} times the chain")


def core_ns_of(binary: str, pattern: str) -> float:
    with tempfile.TemporaryDirectory() as folder:
        out = os.path.join(folder, "core.json")
        subprocess.run(
            [binary, f"--benchmark_filter={pattern}", f"--benchmark_out={out}",
             "--benchmark_out_format=json", "--benchmark_repetitions=5"],
            capture_output=True, check=True,
        )
        with open(out, encoding="utf-8") as f:
            runs = json.load(f)["benchmarks"]
    return min(r["real_time"] for r in runs if r.get("run_type") == "iteration")


if __name__ == "__main__":
    main()
