"""HTML replays of played games: one self-contained page a person can step through.

Each move gives a frame of the field with the pair placed (its cells framed, the cells that set
the chain off starred), one frame per chain step (the cells about to vanish marked) and, after a
chain, the settled field; the move's score and chain, the running total and the next pairs stand
beside the field. Cells are drawn large in the colours of ``get_html_string()``.

A frame keeps the field as 84 type digits and the page script draws the cells, so a replay of
twenty 100-pair games stays a few hundred kilobytes instead of tens of megabytes of spans. The
page needs nothing from outside: buttons, a slider and the keyboard move through the frames.
"""

from __future__ import annotations

import html
import json
import re
from typing import Any, Dict, List, Optional, Sequence, Set, Tuple

import tavik

WIDTH, HEIGHT = 6, 14
FIRST_GROUP_ROW = 2  # the fuzzy rows 0 and 1 never join a group
LETTERS = {1: "O", 2: "W", 3: "I", 4: "R", 5: "B", 6: "Y", 7: "G", 8: "P"}
Cell = Tuple[int, int]

_SPAN = re.compile(r'<span style="([^"]*)">[^<]*</span>')
_BACKGROUND = re.compile(r"background-color:\s*([^;\"]+)")
_palette: Optional[Dict[int, str]] = None


def palette() -> Dict[int, str]:
    """Background colour of each type number, read from the field's own HTML rendering."""
    global _palette
    if _palette is None:
        field = tavik.ArrayField()
        types = list(range(9))
        # Row 13 holds types 0..5, row 12 types 6..8: the spans come row by row from row 0.
        cells = [(x, 13) for x in range(6)] + [(x, 12) for x in range(3)]
        for (x, y), t in zip(cells, types):
            field.set(x, y, t)
        styles = _SPAN.findall(field.get_html_string())
        colours: Dict[int, str] = {}
        for (x, y), t in zip(cells, types):
            found = _BACKGROUND.search(styles[y * WIDTH + x])
            colours[t] = found.group(1).strip() if found else "white"
        _palette = colours
    return _palette


def cell_codes(field: Any) -> str:
    """The field as 84 digits, row by row from row 0, column 0 first."""
    columns = field.to_array()
    return "".join(str(columns[x][y]) for y in range(HEIGHT) for x in range(WIDTH))


def vanishing_cells(field: Any) -> Set[Cell]:
    """The cells the next chain step removes: colour groups of four or more below the fuzzy rows, and
    the ojama beside them."""
    columns = field.to_array()
    seen: Set[Cell] = set()
    out: Set[Cell] = set()
    for x in range(WIDTH):
        for y in range(FIRST_GROUP_ROW, HEIGHT):
            colour = columns[x][y]
            if colour < tavik.PuyoType.RED or (x, y) in seen:
                continue
            group = [(x, y)]
            seen.add((x, y))
            for cx, cy in group:  # grows while it is walked
                for nx, ny in ((cx + 1, cy), (cx - 1, cy), (cx, cy + 1), (cx, cy - 1)):
                    if (0 <= nx < WIDTH and FIRST_GROUP_ROW <= ny < HEIGHT and (nx, ny) not in seen
                            and columns[nx][ny] == colour):
                        seen.add((nx, ny))
                        group.append((nx, ny))
            if len(group) >= 4:
                out.update(group)
    for cx, cy in list(out):
        for nx, ny in ((cx + 1, cy), (cx - 1, cy), (cx, cy + 1), (cx, cy - 1)):
            # Ojama in the second fuzzy row go too: only row 0 is out of reach.
            if 0 <= nx < WIDTH and 1 <= ny < HEIGHT and columns[nx][ny] == tavik.PuyoType.OJAMA:
                out.add((nx, ny))
    return out


def changed_cells(a: Any, b: Any) -> List[Cell]:
    ca, cb = a.to_array(), b.to_array()
    return [(x, y) for x in range(WIDTH) for y in range(HEIGHT) if ca[x][y] != cb[x][y]]


def place(field: Any, hand: Any, pair: Any) -> Any:
    """A new field with the pair placed as the game places it: whatever rests in row 0 is removed."""
    placed = field.clone().put_hand(hand, pair)
    for x in range(WIDTH):
        if placed.get(x, 0) != tavik.PuyoType.EMPTY:
            placed.set(x, 0, tavik.PuyoType.EMPTY)
    return placed


def chain_steps(placed: Any) -> List[Tuple[Any, Any, Set[Cell]]]:
    """(field before the step, the step's result, cells that vanish in it) for each step."""
    steps = []
    work = placed.clone()
    for number in range(1, 40):  # a 6x13 field cannot chain 40 times
        before = work.clone()
        vanish = vanishing_cells(before)
        if not vanish:
            break
        steps.append((before, work.step_chain(number), vanish))
    return steps


def _indices(cells: Any) -> List[int]:
    return sorted(y * WIDTH + x for x, y in cells)


def _pairs(pairs: Sequence[Any]) -> List[List[int]]:
    return [[int(p.child), int(p.axis)] for p in pairs]


def _hand_text(hand: Any) -> str:
    return f"column {hand.x}, {str(hand.rotation).rsplit('.', 1)[-1].lower()}"


class Replay:
    """Collects games move by move, then writes one HTML page."""

    def __init__(self, title: str = "tavik_game replay") -> None:
        self.title = title
        self.games: List[Dict[str, Any]] = []

    def start_game(self, name: str) -> None:
        self.games.append({"name": name, "score": 0, "max_chain": 0, "moves": 0, "over": False, "frames": []})

    def add_move(
        self,
        field_before: Any,
        hand: Any,
        pair: Any,
        next_pairs: Sequence[Any] = (),
        *,
        move: Any = None,
        total_score: Optional[int] = None,
        turn: Optional[int] = None,
    ) -> None:
        """Record one move: the field before it, the hand and pair played, the pairs shown next.

        `move` is the game's Move (its score holds an all-clear bonus the field alone cannot
        tell); without it the score is the chain's. `total_score` is the game's score after it.
        """
        if not self.games:
            self.start_game("game 1")
        game = self.games[-1]
        turn = game["moves"] if turn is None else turn
        placed = place(field_before, hand, pair)
        steps = chain_steps(placed)
        chain_score = sum(step.score for _, step, _ in steps)
        score = int(move.score) if move is not None else chain_score
        chain = int(move.chain) if move is not None else len(steps)
        total = game["score"] + score if total_score is None else int(total_score)
        all_clear = bool(move.all_clear) if move is not None else False
        over = bool(move.over) if move is not None else False
        placed_cells = changed_cells(field_before, placed)
        trigger = [c for c in placed_cells if steps and c in steps[0][2]]
        pairs = _pairs([pair, *next_pairs])
        head = f"move {turn + 1}: {_hand_text(hand)}"
        result = [f"move score {score}", f"chain {chain}", f"total {total}"]
        if score > chain_score:
            result.append(f"all-clear bonus +{score - chain_score}")
        frames = game["frames"]
        frames.append({
            "k": "move", "h": head, "c": cell_codes(placed), "p": pairs, "t": turn,
            "m": {"placed": _indices(placed_cells), "trigger": _indices(trigger)},
            "s": result,
        })
        running = 0
        for number, (before, step, vanish) in enumerate(steps, 1):
            running += step.score
            frames.append({
                "k": "step", "h": f"{head}, chain step {number} of {len(steps)}", "c": cell_codes(before),
                "p": pairs, "t": turn, "n": number,
                "m": {"vanish": _indices(vanish), "trigger": _indices(trigger) if number == 1 else []},
                "s": [f"step {number}: +{step.score}", f"chain so far {running}", *result],
            })
        if steps:
            after = steps[-1][0].clone()
            after.step_chain(len(steps))
            frames.append({
                "k": "after", "h": f"{head}, after the chain", "c": cell_codes(after), "p": pairs, "t": turn,
                "m": {}, "s": [*result, "all clear!" if all_clear or after.is_all_clear() else ""],
            })
        game["moves"] = max(game["moves"], turn + 1)
        game["score"] = total
        game["max_chain"] = max(game["max_chain"], chain)
        game["over"] = game["over"] or over
        if over:
            frames[-1]["s"].append("topped out: the game is over")

    def data(self) -> Dict[str, Any]:
        """What the page shows, as plain JSON-ready values."""
        return {"title": self.title, "palette": {str(k): v for k, v in palette().items()},
                "letters": {str(k): v for k, v in LETTERS.items()}, "games": self.games}

    def html(self) -> str:
        # "</" never reaches the page raw, so no text can close the script element.
        payload = json.dumps(self.data(), separators=(",", ":")).replace("</", "<\\/")
        rows = "".join(
            f'<tr data-game="{i}"><td>{html.escape(g["name"])}</td><td>{g["moves"]}</td><td>{g["score"]}</td>'
            f'<td>{g["max_chain"]}</td><td>{"yes" if g["over"] else ""}</td></tr>'
            for i, g in enumerate(self.games)
        )
        page = _PAGE.replace("@STYLE@", STYLE).replace("@CELL@", CELL_SCRIPT)
        return page.replace("@TITLE@", html.escape(self.title)).replace("@ROWS@", rows).replace("@DATA@", payload)

    def write(self, path: str) -> None:
        with open(path, "w", encoding="utf-8") as out:
            out.write(self.html())


# The look of a replay page and its drawing of one cell, shared with the versus replay.
STYLE = """body { font-family: system-ui, sans-serif; margin: 1em 2em; color: #222; }
h1 { font-size: 1.4em; margin: 0 0 .5em; }
nav { display: flex; flex-wrap: wrap; gap: .4em; align-items: center; margin-bottom: 1em; }
nav button, nav select { font-size: 1em; padding: .3em .7em; }
#slider { flex: 1; min-width: 12em; }
main { display: flex; gap: 2em; align-items: flex-start; }
.field { display: grid; grid-template-columns: repeat(6, 3em); grid-auto-rows: 3em; gap: 3px;
         padding: 3px; background: #9aa; border-radius: 6px; }
.c { border-radius: 45%; display: flex; align-items: center; justify-content: center;
     font-weight: bold; font-size: 1.2em; color: #fff; text-shadow: 0 0 3px #000; position: relative; }
.c.t0 { border-radius: 3px; }
.c.fuzzy { opacity: .4; }
.c.spawn::after { content: "\\00d7"; color: #c33; text-shadow: none; position: absolute; font-size: 1.6em; }
.c.placed { box-shadow: inset 0 0 0 5px #111; }
.c.vanish { box-shadow: inset 0 0 0 5px #f0f; animation: blink 1s steps(2) infinite; }
.c.trigger::before { content: "\\2605"; position: absolute; top: -.15em; right: -.05em; color: #fff;
                     font-size: .9em; text-shadow: 0 0 3px #000, 0 0 2px #000; }
@keyframes blink { 50% { opacity: .55; } }
.side { min-width: 16em; }
#head { font-size: 1.2em; font-weight: bold; margin-bottom: .6em; }
#score { font-size: 1.6em; line-height: 1.4; }
#score .big { font-size: 1.5em; font-weight: bold; }
.pairs { display: flex; gap: .8em; align-items: flex-end; margin: .8em 0; }
.pair { display: grid; grid-auto-rows: 1.8em; grid-template-columns: 1.8em; gap: 2px; }
.pair .c { font-size: .9em; }
.pair.now { outline: 3px solid #111; outline-offset: 3px; border-radius: 4px; }
.steps { display: flex; gap: .3em; margin: .5em 0; }
.steps span { border: 1px solid #888; border-radius: 4px; padding: .1em .5em; }
.steps span.on { background: #f0f; color: #fff; border-color: #f0f; }
.legend { color: #555; margin-top: 1em; line-height: 1.6; }
table { border-collapse: collapse; margin-top: 1.5em; }
td, th { padding: .2em .8em; border-bottom: 1px solid #ddd; text-align: right; }
td:first-child, th:first-child { text-align: left; }
tr[data-game] { cursor: pointer; } tr.on { background: #eef; }
"""

CELL_SCRIPT = """function cell(type, extra) {
  const d = document.createElement("div");
  d.className = "c t" + type + (extra || "");
  d.style.background = data.palette[type] || "white";
  if (type === "6" || type === "0") d.style.color = "#333", d.style.textShadow = "none";
  d.textContent = data.letters[type] || "";
  return d;
}
"""

_PAGE = """<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>@TITLE@</title>
<meta name="viewport" content="width=device-width, initial-scale=1">
<style>
@STYLE@</style></head><body>
<h1>@TITLE@</h1>
<nav>
<select id="game" aria-label="game"></select>
<button id="first" title="first frame (Home)">|&lsaquo;</button>
<button id="pmove" title="previous move (&uarr;)">&laquo; move</button>
<button id="prev" title="previous frame (&larr;)">&lsaquo; step</button>
<button id="play" title="play / pause (space)">&#x25B6; play</button>
<button id="next" title="next frame (&rarr;)">step &rsaquo;</button>
<button id="nmove" title="next move (&darr;)">move &raquo;</button>
<button id="last" title="last frame (End)">&rsaquo;|</button>
<input id="slider" type="range" min="0" value="0" aria-label="frame">
<span id="pos"></span>
</nav>
<main>
<div id="field" class="field"></div>
<div class="side">
<div id="head"></div>
<div id="score"></div>
<div id="steps" class="steps"></div>
<div>pairs (now, then next):</div>
<div id="pairs" class="pairs"></div>
<div class="legend">framed: the pair just placed &middot; &#x2605;: it set the chain off<br>
blinking magenta: vanishes in this step &middot; &times;: spawn cell (taken = game over)<br>
keys: &larr; &rarr; frame, &uarr; &darr; move, [ ] game, space play, Home End</div>
</div>
</main>
<table><thead><tr><th>game</th><th>moves</th><th>score</th><th>longest chain</th><th>topped out</th></tr></thead>
<tbody id="games">@ROWS@</tbody></table>
<script type="application/json" id="data">@DATA@</script>
<script>
"use strict";
const data = JSON.parse(document.getElementById("data").textContent);
const $ = id => document.getElementById(id);
let g = 0, at = 0, timer = null;
@CELL@function frames() { return data.games.length ? data.games[g].frames : []; }
function draw() {
  const fs = frames();
  $("slider").max = Math.max(0, fs.length - 1);
  $("slider").value = at;
  $("pos").textContent = fs.length ? (at + 1) + " / " + fs.length : "no moves";
  document.querySelectorAll("tr[data-game]").forEach(r => r.classList.toggle("on", +r.dataset.game === g));
  const field = $("field");
  field.textContent = "";
  if (!fs.length) return;
  const f = fs[at], marks = {};
  for (const [name, cells] of Object.entries(f.m)) for (const i of cells) marks[i] = (marks[i] || "") + " " + name;
  for (let i = 0; i < 84; i++) {
    let extra = marks[i] || "";
    if (i < 12) extra += " fuzzy";
    if (i === 14 && f.c[i] === "0") extra += " spawn";
    field.appendChild(cell(f.c[i], extra));
  }
  $("head").textContent = f.h;
  const lines = f.s.filter(Boolean);
  $("score").innerHTML = "";
  lines.forEach((text, k) => {
    const div = document.createElement("div");
    div.textContent = text;
    if (k === 0) div.className = "big";
    $("score").appendChild(div);
  });
  const steps = $("steps");
  steps.textContent = "";
  const n = fs.filter(x => x.t === f.t && x.k === "step").length;
  for (let k = 1; k <= n; k++) {
    const s = document.createElement("span");
    s.textContent = k;
    if (f.n === k) s.className = "on";
    steps.appendChild(s);
  }
  const pairs = $("pairs");
  pairs.textContent = "";
  f.p.forEach(([child, axis], k) => {
    const p = document.createElement("div");
    p.className = "pair" + (k === 0 ? " now" : "");
    p.appendChild(cell(String(child)));
    p.appendChild(cell(String(axis)));
    pairs.appendChild(p);
  });
}
function show(i) {
  at = Math.max(0, Math.min(frames().length - 1, i));
  draw();
  history.replaceState(null, "", "#" + g + "," + at);  // a link to this frame
}
function move(dir) {
  const fs = frames();
  let i = at;
  if (dir > 0) { while (i < fs.length - 1 && fs[i + 1].k !== "move") i++; i++; }
  else { while (i > 0 && fs[i].k !== "move") i--; i--; while (i > 0 && fs[i].k !== "move") i--; }
  show(i);
}
function pick(k) {
  g = Math.max(0, Math.min(data.games.length - 1, k));
  $("game").value = g;
  stop();
  show(0);
}
function stop() { if (timer) clearInterval(timer); timer = null; $("play").innerHTML = "&#x25B6; play"; }
function toggle() {
  if (timer) return stop();
  timer = setInterval(() => { if (at >= frames().length - 1) stop(); else show(at + 1); }, 600);
  $("play").innerHTML = "&#x2759;&#x2759; pause";
}
data.games.forEach((game, k) => {
  const o = document.createElement("option");
  o.value = k;
  o.textContent = game.name + ": score " + game.score + ", longest chain " + game.max_chain;
  $("game").appendChild(o);
});
$("game").onchange = e => pick(+e.target.value);
$("first").onclick = () => show(0);
$("last").onclick = () => show(frames().length - 1);
$("prev").onclick = () => show(at - 1);
$("next").onclick = () => show(at + 1);
$("pmove").onclick = () => move(-1);
$("nmove").onclick = () => move(1);
$("play").onclick = toggle;
$("slider").oninput = e => show(+e.target.value);
document.querySelectorAll("tr[data-game]").forEach(r => r.onclick = () => pick(+r.dataset.game));
document.addEventListener("keydown", e => {
  if (e.target.tagName === "SELECT" || e.target.tagName === "INPUT") return;
  const keys = { ArrowRight: () => show(at + 1), ArrowLeft: () => show(at - 1), ArrowDown: () => move(1),
                 ArrowUp: () => move(-1), Home: () => show(0), End: () => show(frames().length - 1),
                 "[": () => pick(g - 1), "]": () => pick(g + 1), " ": toggle };
  if (keys[e.key]) { keys[e.key](); e.preventDefault(); }
});
const start = /^#(\\d+),(\\d+)$/.exec(location.hash);
pick(start ? +start[1] : 0);
if (start) show(+start[2]);
</script></body></html>
"""
