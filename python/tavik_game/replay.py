"""HTML replays of played games: one self-contained page a person can step through.

Every move shows the field before the move, the field with the pair placed (placed cells
marked) and each step of a fired chain, with the move's score and chain beside it. The page
needs no external resources; arrow keys or the buttons move through the frames.
"""

from __future__ import annotations

import html
import json
import re
from typing import Any, Sequence

import tavik

_CELL = re.compile(r'<span style="([^"]*)">[^<]*</span>')
_COLOUR = re.compile(r"background-color:\s*([^;]+)")
_NAMES = {
    tavik.PuyoType.RED: "R",
    tavik.PuyoType.BLUE: "B",
    tavik.PuyoType.YELLOW: "Y",
    tavik.PuyoType.GREEN: "G",
    tavik.PuyoType.PURPLE: "P",
    tavik.PuyoType.OJAMA: "O",
}


def field_grid(field: Any, marks: Sequence[tuple[int, int]] = (), cls: str = "mark") -> str:
    """The field's own HTML fragment laid out as a grid of large cells; `marks` are (x, y)."""
    colours = [_COLOUR.search(style) for style in _CELL.findall(field.get_html_string())]
    columns = field.to_array()  # columns[x][y]
    width = len(columns)
    height = len(columns[0]) if columns else 14
    marked = set(marks)
    cells = []
    for i, found in enumerate(colours[: width * height]):
        x, y = i % width, i // width
        colour = found.group(1).strip() if found else "white"
        name = _NAMES.get(columns[x][y], "")
        extra = f" {cls}" if (x, y) in marked else ""
        fuzzy = " fuzzy" if y < 2 else ""
        cells.append(f'<div class="c{extra}{fuzzy}" style="background:{colour}">{name}</div>')
    return f'<div class="grid" style="grid-template-columns:repeat({width},1fr)">{"".join(cells)}</div>'


def pair_html(pair: Any) -> str:
    child, axis = _NAMES.get(pair.child, "?"), _NAMES.get(pair.axis, "?")
    return f'<span class="pair"><b class="p{child}">{child}</b><b class="p{axis}">{axis}</b></span>'


def _diff(a: Any, b: Any) -> list[tuple[int, int]]:
    ca, cb = a.to_array(), b.to_array()
    return [(x, y) for x, (la, lb) in enumerate(zip(ca, cb)) for y, (p, q) in enumerate(zip(la, lb)) if p != q]


def chain_frames(placed: Any) -> list[tuple[Any, Any, list[tuple[int, int]]]]:
    """(field, step result, cells that vanish in the step) for each step of the chain."""
    frames = []
    work = placed.clone()
    number = 1
    while number < 40:
        before = work.clone()
        step = work.step_chain(number)
        if work == before:
            break
        # Cells that held a puyo before and are gone or changed afterwards vanish or fall.
        frames.append((before, step, _diff(before, work)))
        number += 1
    return frames


class Replay:
    """Collects games move by move, then writes one HTML page."""

    def __init__(self, title: str = "tavik_game replay") -> None:
        self.title = title
        self.games: list[dict[str, Any]] = []

    def start_game(self, name: str) -> None:
        self.games.append({"name": name, "frames": []})

    def add_move(
        self,
        field_before: Any,
        hand: Any,
        pair: Any,
        next_pairs: Sequence[Any] = (),
        *,
        total_score: int = 0,
        turn: int | None = None,
    ) -> None:
        """Record one move: the field before it, the hand and pair played, the pairs seen next."""
        if not self.games:
            self.start_game("game 1")
        frames = self.games[-1]["frames"]
        turn = len([f for f in frames if f["kind"] == "place"]) if turn is None else turn
        placed = field_before.clone().put_hand(hand, pair)
        placed_cells = _diff(field_before, placed)
        result = placed.clone().chain()
        pairs = "".join(pair_html(p) for p in [pair, *next_pairs])
        head = (
            f"turn {turn + 1} &middot; hand x={hand.x} &middot; pairs {pairs}"
        )
        frames.append({
            "kind": "place",
            "head": head,
            "field": field_grid(placed, placed_cells),
            "info": f"move score {result.score}<br>chain {result.chain}<br>total {total_score + result.score}",
        })
        for number, (before, step, cells) in enumerate(chain_frames(placed), 1):
            frames.append({
                "kind": "step",
                "head": f"turn {turn + 1} &middot; chain step {number}",
                "field": field_grid(before, cells, "fire" if number == 1 else "vanish"),
                "info": f"step chain {step.chain}<br>step score {step.score}"
                        f"<br>move chain {result.chain}",
            })

    def html(self) -> str:
        frames = []
        for g, game in enumerate(self.games):
            for frame in game["frames"]:
                frames.append(
                    f'<section class="frame" data-game="{g}"><h2>{html.escape(game["name"])}: '
                    f'{frame["head"]}</h2><div class="row">{frame["field"]}'
                    f'<div class="info">{frame["info"]}</div></div></section>'
                )
        names = json.dumps([g["name"] for g in self.games])
        return _PAGE.format(title=html.escape(self.title), frames="\n".join(frames), names=names)

    def write(self, path: str) -> None:
        with open(path, "w", encoding="utf-8") as out:
            out.write(self.html())


_PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>{title}</title>
<style>
body {{ font-family: sans-serif; margin: 1em 2em; }}
.grid {{ display: grid; width: 18em; gap: 2px; background: #888; padding: 2px; }}
.c {{ height: 2.8em; border-radius: 40%; display: flex; align-items: center; justify-content: center;
      font-weight: bold; color: #222; }}
.c.fuzzy {{ opacity: .45; }}
.c.mark {{ outline: 4px solid #000; outline-offset: -4px; }}
.c.fire {{ outline: 4px dashed #f0f; outline-offset: -4px; }}
.c.vanish {{ outline: 4px dotted #f0f; outline-offset: -4px; }}
.row {{ display: flex; gap: 2em; align-items: flex-start; }}
.info {{ font-size: 1.4em; line-height: 1.6; }}
.frame {{ display: none; }} .frame.on {{ display: block; }}
.pair b {{ display: inline-block; width: 1.4em; text-align: center; border: 1px solid #444; margin: 0 1px; }}
.pR {{ background: #f66; }} .pB {{ background: #69f; }} .pY {{ background: #fd4; }} .pG {{ background: #6d6; }}
nav button {{ font-size: 1.1em; margin-right: .5em; }}
</style></head><body>
<h1>{title}</h1>
<nav><button id="first">&#x23EE; first</button><button id="prev">&#x25C0; prev</button>
<button id="next">next &#x25B6;</button><button id="last">last &#x23ED;</button>
<span id="pos"></span> &middot; keys: &larr; &rarr; Home End</nav>
{frames}
<script>
const frames = document.querySelectorAll('.frame');
let at = 0;
function show(i) {{
  if (!frames.length) return;
  at = Math.max(0, Math.min(frames.length - 1, i));
  frames.forEach((f, k) => f.classList.toggle('on', k === at));
  document.getElementById('pos').textContent = (at + 1) + ' / ' + frames.length;
}}
document.getElementById('first').onclick = () => show(0);
document.getElementById('prev').onclick = () => show(at - 1);
document.getElementById('next').onclick = () => show(at + 1);
document.getElementById('last').onclick = () => show(frames.length - 1);
document.addEventListener('keydown', e => {{
  if (e.key === 'ArrowRight') show(at + 1);
  else if (e.key === 'ArrowLeft') show(at - 1);
  else if (e.key === 'Home') show(0);
  else if (e.key === 'End') show(frames.length - 1);
}});
show(0);
</script></body></html>
"""
