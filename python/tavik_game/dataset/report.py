"""The HTML report of a dataset folder: what was played, how fast, chain histograms on a log
scale, and example positions from different games drawn as the replay draws its fields."""

from __future__ import annotations

import html
import math
import os
from pathlib import Path
from typing import Any

from ..replay import LETTERS, palette
from . import manifest as mf
from .shards import _count, fields_of

EXAMPLES = 4
# Shards read for examples at most: a report of a huge dataset stays quick.
_EXAMPLE_SHARDS = 8


def _ticks(top: int) -> list[int]:
    out = [0, 1]
    while out[-1] < top:
        out.append(out[-1] * 10)
    return out


def _chart(title: str, counts: list[int], xlabel: str, ylabel: str) -> str:
    """A bar chart with a log(1 + count) y-axis, so a handful of long chains still shows
    beside hundreds of thousands of short ones; every bar carries its count."""
    last = max([i for i, c in enumerate(counts) if c] + [4])
    counts = counts[: last + 1]
    ticks = _ticks(max(counts))
    top = math.log10(1 + ticks[-1])
    width, height = 640, 320
    left, right, above, below = 70, 16, 28, 52
    plot_w, plot_h = width - left - right, height - above - below
    step = plot_w / len(counts)

    def y_of(count: int) -> float:
        return above + plot_h * (1 - math.log10(1 + count) / top)

    parts = [
        f'<svg viewBox="0 0 {width} {height}" role="img" aria-label="{html.escape(title)}">',
        f"<title>{html.escape(title)}</title>",
    ]
    for t in ticks:
        y = y_of(t)
        parts.append(f'<line class="grid" x1="{left}" x2="{width - right}" y1="{y:.1f}" y2="{y:.1f}"/>')
        parts.append(f'<text class="tick" x="{left - 6}" y="{y + 4:.1f}" text-anchor="end">{t:,}</text>')
    for i, c in enumerate(counts):
        x = left + i * step
        y = y_of(c)
        if c:
            parts.append(
                f'<rect class="bar" x="{x + step * 0.12:.1f}" y="{y:.1f}" width="{step * 0.76:.1f}" '
                f'height="{above + plot_h - y:.1f}"><title>{i}: {c:,}</title></rect>'
            )
            parts.append(f'<text class="count" x="{x + step / 2:.1f}" y="{y - 4:.1f}" text-anchor="middle">{c:,}</text>')
        parts.append(
            f'<text class="tick" x="{x + step / 2:.1f}" y="{above + plot_h + 16}" text-anchor="middle">{i}</text>'
        )
    parts += [
        f'<line class="axis" x1="{left}" x2="{left}" y1="{above}" y2="{above + plot_h}"/>',
        f'<line class="axis" x1="{left}" x2="{width - right}" y1="{above + plot_h}" y2="{above + plot_h}"/>',
        f'<text class="label" x="{left + plot_w / 2}" y="{height - 10}" text-anchor="middle">{html.escape(xlabel)}</text>',
        f'<text class="label" transform="translate(16 {above + plot_h / 2}) rotate(-90)" '
        f'text-anchor="middle">{html.escape(ylabel)}</text>',
        "</svg>",
    ]
    return "\n".join(parts)


def _grid(cells: Any) -> str:
    """A (14, 6) array of type numbers as the replay's grid of large round cells."""
    colours = palette()
    out = ['<div class="field">']
    for y in range(14):
        for x in range(6):
            t = int(cells[y][x])
            classes = f"c t{t}" + (" fuzzy" if y < 2 else "")
            dark = " dark" if t in (0, 6) else ""
            out.append(f'<div class="{classes}{dark}" style="background:{colours.get(t, "white")}">'
                       f"{LETTERS.get(t, '')}</div>")  # fmt: skip
    out.append("</div>")
    return "".join(out)


def _examples(path: Path, manifest: dict[str, Any], count: int) -> list[tuple[Any, dict[str, Any]]]:
    """The best-labelled position of each of the `count` games whose best labels are highest,
    among the first shards: one position per game, so no two are turns of one game."""
    import pyarrow.parquet as pq  # type: ignore[import-untyped]

    candidates: list[tuple[tuple[int, int], int, int, int]] = []  # (label, -game), shard, row
    for k in [k for k, e in enumerate(manifest["shards"]) if e and e["rows"]][:_EXAMPLE_SHARDS]:
        table = pq.read_table(path / mf.shard_name(k), columns=["game", "label_score", "label_chain"])
        best: dict[int, tuple[tuple[int, int], int]] = {}
        for i, (g, s, c) in enumerate(zip(*(table.column(n).to_pylist() for n in table.column_names))):
            if g not in best or (s, c) > best[g][0]:
                best[g] = ((s, c), i)
        candidates += [(label, -g, k, i) for g, (label, i) in best.items()]
    candidates.sort(reverse=True)
    out = []
    for _, _, k, i in candidates[:count]:
        row = pq.read_table(path / mf.shard_name(k)).slice(i, 1)
        info = {n: row.column(n)[0].as_py() for n in ("game", "game_seed", "turn", "label_score", "label_chain",
                                                     "game_score", "game_turns")}  # fmt: skip
        out.append((fields_of(row)[0], info))
    return out


def _plural(n: int, word: str) -> str:
    return _count(n, word).replace(str(n), f"{n:,}", 1)


def write_report(out: str | os.PathLike[str], report: str | os.PathLike[str], run: dict[str, Any] | None = None) -> None:
    """An HTML page about the dataset in `out`: histograms of the longest chain
    per game and of the labels, the throughput of `run` (generate()'s "run"),
    and example positions from different games."""
    path = Path(out)
    manifest = mf.read(path)
    a = manifest["arguments"]
    size = mf.MAX_CHAIN + 1
    longest = [0] * size
    labels = [0] * size
    for e in manifest["shards"]:
        if e:
            longest = [x + y for x, y in zip(longest, e["longest_chain"])]
            labels = [x + y for x, y in zip(labels, e["label_chain"])]
    made = sum(1 for e in manifest["shards"] if e)
    rows = sum(e["rows"] for e in manifest["shards"] if e)  # the manifest's total is set at the end
    facts = [
        ("games", f"{a['games']:,}"),
        ("positions", f"{rows:,}"),
        ("shards", f"{made:,}" if made == len(manifest["shards"]) else f"{made:,} of {len(manifest['shards']):,}"),
        ("bot", html.escape(str(a["bot"]))),
        ("seed", str(a["seed"])),
    ]
    if run and run.get("positions"):
        rate = run["positions"] / max(run["seconds"], 1e-9)
        facts.append(("positions/s", f"{rate:,.0f}"))
    cards = "".join(f'<div class="card"><div class="v">{v}</div><div class="k">{k}</div></div>' for k, v in facts)
    body = [
        f"<h1>Self-play dataset: {_plural(a['games'], 'game')} of {html.escape(str(a['bot']))}</h1>",
        f'<p class="sub">{_plural(rows, "position")} in {_plural(len(manifest["shards"]), "shard")}'
        f"{'' if manifest['complete'] else ' (incomplete: the same command completes it)'}; "
        f"each labelled with the best chain of <code>find_chain_recursive({a['label_depth']})</code> on its "
        f"field; a game ends when it tops out or after {_plural(a['max_turns'], 'move')}.</p>",
        f'<div class="cards">{cards}</div>',
    ]
    if run and run.get("positions"):
        where = "on " + _plural(run["workers"], "Dask worker") if run.get("workers") else "in this process"
        body.append(
            f'<p class="sub">This run made {_plural(run["shards_made"], "shard")}, '
            f"{_plural(run['positions'], 'position')} in {run['seconds']:.2f} s {where}.</p>"
        )
    body.append('<div class="charts">')
    body.append('<figure><figcaption>Longest chain of each game</figcaption>'
                + _chart("longest chain per game", longest, "longest chain in the game", "games (log scale)")
                + "</figure>")  # fmt: skip
    body.append('<figure><figcaption>Label of each position</figcaption>'
                + _chart("label chain per position", labels, "chain of the best find on the field",
                         "positions (log scale)")
                + "</figure>")  # fmt: skip
    body.append("</div>")
    examples = _examples(path, manifest, EXAMPLES)
    if examples:
        body.append("<h2>Example positions</h2>")
        body.append('<p class="sub">The best-labelled position of each of the games with the best labels, '
                    "one per game. <code>tavik_game.dataset.game_of(row)</code> rebuilds a row's game.</p>")
        body.append('<div class="examples">')
        for cells, info in examples:
            chain = f"{info['label_chain']}-chain" if info["label_chain"] else "no chain"
            body.append(
                f'<div class="example">{_grid(cells)}<div class="caption">'
                f'<div class="big">{chain}, {info["label_score"]:,} points</div>'
                f"game {info['game']:,}, turn {info['turn']}<br>seed {info['game_seed']}<br>"
                f"the game: {info['game_score']:,} points, {_plural(info['game_turns'], 'move')}</div></div>"
            )
        body.append("</div>")
    page = _PAGE.replace("@TITLE@", f"tavik dataset: {html.escape(str(path))}").replace("@BODY@", "\n".join(body))
    Path(report).write_text(page, encoding="utf-8")


# The replay's look: same font, colours and large round cells.
_PAGE = """<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>@TITLE@</title>
<meta name="viewport" content="width=device-width, initial-scale=1">
<style>
body { font-family: system-ui, sans-serif; margin: 1em 2em; color: #222; max-width: 1400px; }
h1 { font-size: 1.4em; margin: 0 0 .3em; }
h2 { font-size: 1.15em; margin: 1.4em 0 .3em; }
.sub { color: #555; margin: .3em 0 .8em; line-height: 1.5; }
code { background: #f2f2f2; padding: 0 .25em; border-radius: 3px; }
.cards { display: flex; flex-wrap: wrap; gap: .8em; margin: .8em 0; }
.card { border: 1px solid #ddd; border-radius: 6px; padding: .5em 1em; min-width: 7em; }
.card .v { font-size: 1.5em; font-weight: bold; }
.card .k { color: #666; }
.charts { display: grid; grid-template-columns: repeat(auto-fit, minmax(420px, 1fr)); gap: 1.5em; }
figure { margin: 0; }
figcaption { font-weight: bold; margin-bottom: .3em; }
svg { width: 100%; height: auto; font-family: system-ui, sans-serif; }
svg .bar { fill: #4a7bd0; }
svg .grid { stroke: #e4e4e4; }
svg .axis { stroke: #444; }
svg .tick { font-size: 12px; fill: #444; }
svg .count { font-size: 11px; fill: #222; }
svg .label { font-size: 13px; fill: #222; }
.examples { display: flex; flex-wrap: wrap; gap: 2em; }
.example { display: flex; flex-direction: column; gap: .5em; width: min-content; }
.field { display: grid; grid-template-columns: repeat(6, 2.1em); grid-auto-rows: 2.1em; gap: 3px;
         padding: 3px; background: #9aa; border-radius: 6px; }
.c { border-radius: 45%; display: flex; align-items: center; justify-content: center;
     font-weight: bold; color: #fff; text-shadow: 0 0 3px #000; }
.c.t0 { border-radius: 3px; }
.c.dark { color: #333; text-shadow: none; }
.c.fuzzy { opacity: .4; }
.caption { line-height: 1.4; }
.caption .big { font-size: 1.2em; font-weight: bold; }
</style></head><body>
@BODY@
</body></html>
"""
