"""Two core benchmark binaries side by side: old against new, run alternately.

    python bench/compare_core.py OLD_BENCH NEW_BENCH [--rounds 5] [--filter REGEX] [--min-time 0.3]

Each round runs the old binary, then the new one, on the same benchmarks (both
pinned to one core when taskset exists). The table gives each benchmark's median
over the rounds of its CPU time (manual time for the searches), the old/new
ratio, and the new binary's search overhead where it reports one. Alternating
keeps a busy shared machine from favouring either side.
"""

from __future__ import annotations

import argparse
import json
import os
import shutil
import statistics
import subprocess
import tempfile

DEFAULT_FILTER = "^(copy\\+chain/BitField/nineteen|corpus/.*|find_by_extend/midgame)"


def run(binary: str, pattern: str, min_time: float) -> dict[str, dict[str, float]]:
    with tempfile.TemporaryDirectory() as folder:
        out = os.path.join(folder, "run.json")
        command = [binary, f"--benchmark_filter={pattern}", f"--benchmark_min_time={min_time}",
                   f"--benchmark_out={out}", "--benchmark_out_format=json"]
        if shutil.which("taskset"):
            command = ["taskset", "-c", "1", *command]
        subprocess.run(command, capture_output=True, check=True)
        with open(out, encoding="utf-8") as f:
            runs = json.load(f)["benchmarks"]
    return {
        r["run_name"]: {"ns": r["real_time"] if r["run_name"].endswith("manual_time") else r["cpu_time"],
                        "overhead": r.get("overhead", float("nan"))}
        for r in runs if r.get("run_type") == "iteration"
    }


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("old")
    parser.add_argument("new")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--filter", default=DEFAULT_FILTER)
    parser.add_argument("--min-time", type=float, default=0.3)
    args = parser.parse_args()

    rounds: dict[str, list[dict[str, dict[str, float]]]] = {"old": [], "new": []}
    for _ in range(args.rounds):
        for side in ("old", "new"):
            rounds[side].append(run(getattr(args, side), args.filter, args.min_time))

    def median(side: str, name: str, key: str) -> float:
        values = [r[name][key] for r in rounds[side] if name in r]
        return statistics.median(values) if values else float("nan")

    print(f"medians of {args.rounds} alternating rounds")
    print(f"{'benchmark':40} {'old ns':>12} {'new ns':>12} {'old/new':>8} {'old ovh':>8} {'new ovh':>8}")
    for name in rounds["new"][0]:
        old, new = median("old", name, "ns"), median("new", name, "ns")
        print(f"{name:40} {old:12.1f} {new:12.1f} {old / new:8.2f} "
              f"{median('old', name, 'overhead'):8.2f} {median('new', name, 'overhead'):8.2f}")


if __name__ == "__main__":
    main()
