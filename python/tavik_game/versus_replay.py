"""HTML replays of two-player matches: both fields side by side, stepped by event or by frame.

One step per event of the match (a decision, each chain link with its vanishing cells marked,
the end of a chain, a garbage fall with the landed ojama marked, a loss), each showing both
fields, scores, visible pairs and garbage trays (pending and fixed ojama in the game's units of
1, 6 and 30) as they stand after that event, with the match clock and the target points. The
fields between events are rebuilt from the events with the field's own rules, so the page needs
only the match. Same look, keys and self-contained page as the one-player replay.
"""

from __future__ import annotations

import html
import json
from typing import Any, Dict, List, Optional, Sequence

import tavik

from . import _native
from .replay import CELL_SCRIPT, LETTERS, STYLE, cell_codes, changed_cells, palette, place, vanishing_cells

GOLDEN = 0x9E3779B97F4A7C15
MASK64 = 2**64 - 1
FPS = 60


def _indices(cells: Any) -> List[int]:
    return sorted(y * 6 + x for x, y in cells)


def _hand_text(hand: tavik.Hand) -> str:
    return f"column {hand.x}, {str(hand.rotation).rsplit('.', 1)[-1].lower()}"


class _Side:
    def __init__(self, field: tavik.Field) -> None:
        self.field = field
        self.turn = 0
        self.score = 0
        self.pending = 0
        self.fixed = 0
        self.drops = 0
        self.marks: Dict[str, List[int]] = {}
        self.note = ""


class VersusReplay:
    """Collects matches, then writes one HTML page."""

    def __init__(self, title: str = "tavik_game versus replay") -> None:
        self.title = title
        self.matches: List[Dict[str, Any]] = []

    def add_match(self, match: "_native.Match", name: str = "", names: Sequence[str] = ("player 1", "player 2"),
                  fields: Optional[Sequence[tavik.Field]] = None) -> None:
        """Record every event of `match` so far; `fields` are its starting fields when not empty."""
        seq = match.sequence
        sides = [_Side(f.clone()) for f in fields] if fields else [_Side(tavik.Field()), _Side(tavik.Field())]
        steps: List[Dict[str, Any]] = []

        def snapshot(frame: int, player: int, kind: str, head: str) -> None:
            steps.append({
                "f": frame, "p": player, "k": kind, "h": head,
                "t": match.rules.target_at(frame),
                "c": [cell_codes(s.field) for s in sides],
                "m": [s.marks for s in sides],
                "s": [{"score": s.score, "pending": s.pending, "fixed": s.fixed, "turn": s.turn, "note": s.note,
                       "pairs": [[int(p.child), int(p.axis)] for p in (seq[s.turn + k] for k in range(match.visible))]}
                      for s in sides],
            })
            for s in sides:
                s.marks, s.note = {}, ""

        snapshot(0, -1, "start", "the match starts")
        for ev in match.events:
            s, them = sides[ev.player], sides[1 - ev.player]
            who = names[ev.player]
            if ev.kind == "place":
                before = s.field
                placed = place(before, ev.hand, seq[s.turn])
                s.turn += 1
                s.field = placed
                s.marks = {"placed": _indices(changed_cells(before, placed))}
                s.note = f"grounds at frame {ev.frame + ev.frames}"
                head = f"{who} plays {_hand_text(ev.hand)} ({ev.frames} frames to ground)"
            elif ev.kind == "link":
                before = s.field.clone()
                vanish = vanishing_cells(before)
                s.field.step_chain(ev.chain)
                s.score += ev.score
                s.marks = {"vanish": _indices(vanish)}
                s.note = f"link {ev.chain}: +{ev.score}, {ev.sent} ojama"
                steps_field = s.field
                s.field = before  # shown before it vanishes; the next step shows what fell
                snapshot(ev.frame, ev.player, ev.kind, f"{who}: chain link {ev.chain}, {ev.score} points, {ev.sent} ojama")
                s.field = steps_field
                continue
            elif ev.kind == "all_clear":
                s.score += ev.bonus
                s.note = f"all clear: +{ev.bonus} for the next chain"
                head = f"{who}: all clear"
            elif ev.kind == "offset":
                s.pending -= ev.cancel_pending
                s.fixed -= ev.cancel_fixed
                them.pending += ev.to_opponent
                head = (f"{who} sends {ev.sent}: {ev.cancel_pending + ev.cancel_fixed} offset, "
                        f"{ev.to_opponent} to {names[1 - ev.player]}")
            elif ev.kind == "chain_end":
                them.pending -= ev.fixed
                them.fixed += ev.fixed
                s.note = f"{ev.chain}-chain over"
                head = f"{who}: the {ev.chain}-chain ends; {ev.fixed} ojama fixed on {names[1 - ev.player]}"
            elif ev.kind == "garbage":
                n = ev.dropped + ev.lost
                key = match.seed ^ (((2 * s.drops + ev.player + 1) * GOLDEN) & MASK64)
                after = _native.drop_ojama(s.field, n, key)
                s.marks = {"garbage": _indices(changed_cells(s.field, after))}
                s.field = after
                s.fixed -= n
                s.drops += 1
                s.note = f"{ev.dropped} ojama fall" + (f", {ev.lost} lost" if ev.lost else "")
                head = f"{who}: {ev.dropped} ojama fall, {ev.remaining} wait"
            elif ev.kind == "lose":
                s.note = "topped out"
                head = f"{who} tops out"
            else:
                head = f"{who}: {ev.kind}"
            snapshot(ev.frame, ev.player, ev.kind, head)
        if match.over:
            result = "draw" if match.winner is None else f"{names[match.winner]} wins"
        else:
            result = "unfinished"
        self.matches.append({"name": name or f"match {len(self.matches) + 1}", "names": list(names),
                             "result": result, "frames": match.frame, "steps": steps})

    def data(self) -> Dict[str, Any]:
        return {"title": self.title, "palette": {str(k): v for k, v in palette().items()},
                "letters": {str(k): v for k, v in LETTERS.items()}, "matches": self.matches}

    def html(self) -> str:
        payload = json.dumps(self.data(), separators=(",", ":")).replace("</", "<\\/")
        rows = "".join(
            f'<tr data-game="{i}"><td>{html.escape(m["name"])}</td><td>{html.escape(m["result"])}</td>'
            f'<td>{m["frames"] / FPS:.1f}</td></tr>'
            for i, m in enumerate(self.matches)
        )
        page = _PAGE.replace("@STYLE@", STYLE).replace("@CELL@", CELL_SCRIPT)
        return page.replace("@TITLE@", html.escape(self.title)).replace("@ROWS@", rows).replace("@DATA@", payload)

    def write(self, path: str) -> None:
        with open(path, "w", encoding="utf-8") as out:
            out.write(self.html())


_PAGE = """<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>@TITLE@</title>
<meta name="viewport" content="width=device-width, initial-scale=1">
<style>
@STYLE@
.field { grid-template-columns: repeat(6, 2.4em); grid-auto-rows: 2.4em; }
.c { font-size: 1em; }
.c.garbage { box-shadow: inset 0 0 0 5px #f80; }
.player { display: flex; flex-direction: column; gap: .4em; align-items: flex-start; width: 19em; }
.player h2 { font-size: 1.1em; margin: 0; }
.player.turn h2 { color: #c0f; }
.tray { display: flex; gap: 3px; align-items: center; height: 1.8em; width: 19em; overflow: hidden; }
.tray .label { flex: none; width: 6em; white-space: nowrap; color: #555; font-size: .9em; }
.oj { background: #999; border-radius: 50%; display: inline-block; flex: none; }
.oj.u1 { width: 1em; height: 1em; }
.oj.u6 { width: 1.4em; height: 1.4em; }
.oj.u30 { width: 1.7em; height: 1.4em; border-radius: 4px; background: #666; }
.tray.pending .oj { background: none; border: 2px dashed #777; box-sizing: border-box; }
.num { font-variant-numeric: tabular-nums; }
#clock { font-size: 1.4em; font-weight: bold; }
#fslider { flex: 1; min-width: 10em; }
.note { min-height: 1.3em; color: #a0a; font-weight: bold; }
</style></head><body>
<h1>@TITLE@</h1>
<nav>
<select id="game" aria-label="match"></select>
<button id="first" title="first event (Home)">|&lsaquo;</button>
<button id="pmove" title="previous decision (&uarr;)">&laquo; turn</button>
<button id="prev" title="previous event (&larr;)">&lsaquo; event</button>
<button id="play" title="play / pause (space)">&#x25B6; play</button>
<button id="next" title="next event (&rarr;)">event &rsaquo;</button>
<button id="nmove" title="next decision (&darr;)">turn &raquo;</button>
<button id="last" title="last event (End)">&rsaquo;|</button>
<label>event <input id="slider" type="range" min="0" value="0" aria-label="event"></label>
<span id="pos"></span>
</nav>
<nav><label>frame <input id="fslider" type="range" min="0" value="0" aria-label="frame"></label>
<span id="clock"></span> <span id="target"></span></nav>
<div id="head"></div>
<main id="board"></main>
<div class="legend">framed: the pair just placed &middot; blinking magenta: vanishes in this link &middot;
orange: ojama that just fell &middot; &times;: spawn cell (taken = topped out)<br>
trays: small = 1, large = 6, block = 30 ojama (seven symbols at most); dashed = pending (can still be offset), solid = fixed<br>
keys: &larr; &rarr; event, &uarr; &darr; decision, PageUp PageDown one second, [ ] match, space play, Home End</div>
<table><thead><tr><th>match</th><th>result</th><th>game seconds</th></tr></thead>
<tbody id="games">@ROWS@</tbody></table>
<script type="application/json" id="data">@DATA@</script>
<script>
"use strict";
const data = JSON.parse(document.getElementById("data").textContent);
const $ = id => document.getElementById(id);
let g = 0, at = 0, timer = null;
@CELL@
function steps() { return data.matches.length ? data.matches[g].steps : []; }
function tray(n, kind) {
  const t = document.createElement("div");
  t.className = "tray " + kind;
  const label = document.createElement("span");
  label.className = "label";
  label.textContent = kind + " " + n;
  t.appendChild(label);
  let drawn = 0;  // at most seven symbols, largest first, so both fields stay level
  for (const [unit, count] of [[30, Math.floor(n / 30)], [6, Math.floor(n % 30 / 6)], [1, n % 6]])
    for (let k = 0; k < count && drawn < 7; k++, drawn++) {
      const o = document.createElement("span"); o.className = "oj u" + unit; t.appendChild(o);
    }
  if (drawn < Math.floor(n / 30) + Math.floor(n % 30 / 6) + n % 6) t.appendChild(document.createTextNode("\u2026"));
  return t;
}
function side(step, p) {
  const s = step.s[p], box = document.createElement("div");
  box.className = "player" + (step.p === p ? " turn" : "");
  const h = document.createElement("h2");
  h.textContent = data.matches[g].names[p] + " (P" + (p + 1) + ")";
  box.appendChild(h);
  const score = document.createElement("div");
  score.className = "num";
  score.textContent = "score " + s.score + " \\u00b7 turn " + s.turn;
  box.appendChild(score);
  box.appendChild(tray(s.pending, "pending"));
  box.appendChild(tray(s.fixed, "fixed"));
  const field = document.createElement("div");
  field.className = "field";
  const marks = {};
  for (const [name, cells] of Object.entries(step.m[p])) for (const i of cells) marks[i] = (marks[i] || "") + " " + name;
  for (let i = 0; i < 84; i++) {
    let extra = marks[i] || "";
    if (i < 12) extra += " fuzzy";
    if (i === 14 && step.c[p][i] === "0") extra += " spawn";
    field.appendChild(cell(step.c[p][i], extra));
  }
  box.appendChild(field);
  const note = document.createElement("div");
  note.className = "note";
  note.textContent = s.note;
  box.appendChild(note);
  const pairs = document.createElement("div");
  pairs.className = "pairs";
  s.pairs.forEach(([child, axis], k) => {
    const q = document.createElement("div");
    q.className = "pair" + (k === 0 ? " now" : "");
    q.appendChild(cell(String(child)));
    q.appendChild(cell(String(axis)));
    pairs.appendChild(q);
  });
  box.appendChild(pairs);
  return box;
}
function clock(f) {
  const s = Math.floor(f / 60);
  return Math.floor(s / 60) + ":" + String(s % 60).padStart(2, "0") + "." + String(f % 60).padStart(2, "0");
}
function draw() {
  const st = steps();
  $("slider").max = Math.max(0, st.length - 1);
  $("slider").value = at;
  $("pos").textContent = st.length ? (at + 1) + " / " + st.length : "no events";
  document.querySelectorAll("tr[data-game]").forEach(r => r.classList.toggle("on", +r.dataset.game === g));
  const board = $("board");
  board.textContent = "";
  if (!st.length) return;
  const step = st[at];
  $("fslider").max = data.matches[g].frames;
  $("fslider").value = step.f;
  $("clock").textContent = "frame " + step.f + " (" + clock(step.f) + ")";
  $("target").textContent = "target " + step.t + " points";
  $("head").textContent = step.h;
  board.appendChild(side(step, 0));
  board.appendChild(side(step, 1));
}
function show(i) {
  at = Math.max(0, Math.min(steps().length - 1, i));
  draw();
  history.replaceState(null, "", "#" + g + "," + at);
}
function atFrame(f) {  // the last event at or before frame f
  const st = steps();
  let i = 0;
  while (i + 1 < st.length && st[i + 1].f <= f) i++;
  show(i);
}
function move(dir) {
  const st = steps();
  let i = at + dir;
  while (i > 0 && i < st.length - 1 && st[i].k !== "place") i += dir;
  show(i);
}
function pick(k) {
  g = Math.max(0, Math.min(data.matches.length - 1, k));
  $("game").value = g;
  stop();
  show(0);
}
function stop() { if (timer) clearInterval(timer); timer = null; $("play").innerHTML = "&#x25B6; play"; }
function toggle() {
  if (timer) return stop();
  timer = setInterval(() => { if (at >= steps().length - 1) stop(); else show(at + 1); }, 500);
  $("play").innerHTML = "&#x2759;&#x2759; pause";
}
data.matches.forEach((m, k) => {
  const o = document.createElement("option");
  o.value = k;
  o.textContent = m.name + ": " + m.result;
  $("game").appendChild(o);
});
$("game").onchange = e => pick(+e.target.value);
$("first").onclick = () => show(0);
$("last").onclick = () => show(steps().length - 1);
$("prev").onclick = () => show(at - 1);
$("next").onclick = () => show(at + 1);
$("pmove").onclick = () => move(-1);
$("nmove").onclick = () => move(1);
$("play").onclick = toggle;
$("slider").oninput = e => show(+e.target.value);
$("fslider").oninput = e => atFrame(+e.target.value);
document.querySelectorAll("tr[data-game]").forEach(r => r.onclick = () => pick(+r.dataset.game));
document.addEventListener("keydown", e => {
  if (e.target.tagName === "SELECT" || e.target.tagName === "INPUT") return;
  const f = steps().length ? steps()[at].f : 0;
  const keys = { ArrowRight: () => show(at + 1), ArrowLeft: () => show(at - 1), ArrowDown: () => move(1),
                 ArrowUp: () => move(-1), Home: () => show(0), End: () => show(steps().length - 1),
                 PageDown: () => atFrame(f + 60), PageUp: () => atFrame(f - 60),
                 "[": () => pick(g - 1), "]": () => pick(g + 1), " ": toggle };
  if (keys[e.key]) { keys[e.key](); e.preventDefault(); }
});
const start = /^#(\\d+),(\\d+)$/.exec(location.hash);
pick(start ? +start[1] : 0);
if (start) show(+start[2]);
</script></body></html>
"""
