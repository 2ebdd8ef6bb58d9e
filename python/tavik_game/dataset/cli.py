"""The command line of tavik_game.dataset: arguments checked before any game, then generate()."""

from __future__ import annotations

import argparse
import contextlib
import json
import logging
import os
import sys
from collections.abc import Sequence
from pathlib import Path

from .._cli import BOT_HELP, add_progress, add_seed, add_workers, int_in
from . import manifest as mf
from .cluster import open_client
from .report import write_report
from .shards import DiskFull, _count, check_folder, generate, plan


def build_parser() -> argparse.ArgumentParser:
    ap = argparse.ArgumentParser(
        prog="python -m tavik_game.dataset",
        description="Self-play games labelled with their best chains, written as Parquet shards.",
    )
    ap.add_argument("--games", type=int_in("--games", 1, 2**40), required=True, help="number of games")
    add_seed(ap, "the run's seed; each game's seed derives from it")
    ap.add_argument("--out", required=True, help="output folder (a rerun completes it)")
    add_workers(ap)
    # Checked by the plan, so the message is the same as generate()'s.
    ap.add_argument("--bot", default="beam:100", help=f"{BOT_HELP} (beam:100)")
    ap.add_argument("--label-depth", type=int_in("--label-depth", 1, 3), default=1,
                    help="depth of the labelling search (1)")
    ap.add_argument("--max-turns", type=int_in("--max-turns", 1, 100_000), default=500,
                    help="moves after which a game ends (500)")
    ap.add_argument("--shard-games", type=int_in("--shard-games", 1, 2**40),
                    help="games per shard (default: from --games and --bot)")
    ap.add_argument("--report", metavar="FILE", help="write an HTML report to this file")
    add_progress(ap)
    return ap


def _check_report(report: str) -> None:
    target = Path(report)
    if target.is_dir():
        raise ValueError(f"--report {report!r} is a folder; name the HTML file to write")
    folder = target.resolve().parent
    if not folder.is_dir() or not os.access(folder, os.W_OK):
        raise PermissionError(f"cannot write the report into {str(folder)!r}")


def main(argv: Sequence[str] | None = None) -> int:
    ap = build_parser()
    args = ap.parse_args(argv)
    # Closing a cluster logs harmless connection errors.
    logging.getLogger("distributed").setLevel(logging.ERROR)
    try:
        arguments = plan(args.games, args.seed, args.bot, args.label_depth, args.max_turns, args.shard_games)
        if args.report:
            _check_report(args.report)
        check_folder(args.out, arguments)
    except (TypeError, ValueError, OSError, mf.FolderBusy) as e:
        ap.error(str(e))

    try:
        with contextlib.ExitStack() as stack:
            try:
                client = stack.enter_context(open_client(args.workers, args.scheduler))
            except ConnectionError as e:
                ap.error(str(e))
            result = generate(
                args.out, args.games, args.seed, args.bot, args.label_depth, client,
                max_turns=args.max_turns, shard_games=args.shard_games,
                workers=None if client is not None else 0, progress=not args.no_progress,
            )  # fmt: skip
    except KeyboardInterrupt:
        shards = json.loads((Path(args.out) / mf.MANIFEST).read_bytes())["shards"]
        kept = sum(1 for e in shards if e)
        print(
            f"\ninterrupted: {kept} of {_count(len(shards), 'shard')} complete; "
            "the same command again makes the rest",
            file=sys.stderr,
        )
        return 130
    except mf.FolderBusy as e:
        print(f"dataset: {e}", file=sys.stderr)
        return 1
    except DiskFull as e:
        print(f"dataset: {e.strerror}", file=sys.stderr)
        return 1
    run = result["run"]
    print(
        f"{result['rows']} positions in {_count(len(result['shards']), 'shard')} in {args.out} "
        f"({run['shards_made']} made this run, {run['positions'] / max(run['seconds'], 1e-9):,.0f} positions/s)"
    )
    if args.report:
        write_report(args.out, args.report, run)
        print(f"report: {args.report}")
    return 0
