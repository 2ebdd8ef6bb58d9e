"""A tour of tavik: place pairs, run chains step by step, search for chains, render fields.

    python examples/demo.py [--html PATH] [--color] [ROW ...]

ROWs describe a field of your own, top row first, the last one on the floor; one character a
cell: R B Y G P (colours), O (garbage), I (iron), W (wall) and '.' or a space for empty.
"""

from __future__ import annotations

import argparse
import html
import os
import re
import sys

import tavik
from tavik import Field, Hand, Pair, PuyoType, Rotation
from tavik_game.replay import vanishing_cells

NINETEEN_CHAIN = (
    ".G.BRG GBRRYR RRYYBY RGYRBR YGYRBY YGBGYR GRBGYR BRBYBY RYYBYY BRBYBR BGBYRR YGBGBG RBGBGG"
).split()

MID_GAME = [
    "......",
    "......",
    "......",
    "......",
    "......",
    "......",
    "......",
    "B.....",
    "RG....",
    "RYY...",
    "BGYB..",
    "BGRBR.",
    "RRGYRR",
]

NAMES = {
    PuyoType.EMPTY: ".",
    PuyoType.OJAMA: "OJAMA",
    PuyoType.WALL: "WALL",
    3: "IRON",
    PuyoType.RED: "RED",
    PuyoType.BLUE: "BLUE",
    PuyoType.YELLOW: "YELLOW",
    PuyoType.GREEN: "GREEN",
    PuyoType.PURPLE: "PURPLE",
}


def field_from_rows(rows: list[str]) -> Field:
    return Field.from_str_array([row.replace(".", " ") for row in rows])


def vanishing_groups(field: Field) -> list[tuple[str, int]]:
    """The groups of four or more that the next step removes (rows 3..14 only)."""
    cells = field.to_array()
    seen: set[tuple[int, int]] = set()
    groups = []
    for x in range(6):
        for y in range(2, 14):
            colour = cells[x][y]
            if colour < PuyoType.RED or (x, y) in seen:
                continue
            stack, size = [(x, y)], 0
            seen.add((x, y))
            while stack:
                cx, cy = stack.pop()
                size += 1
                for nx, ny in ((cx + 1, cy), (cx - 1, cy), (cx, cy + 1), (cx, cy - 1)):
                    if 0 <= nx < 6 and 2 <= ny < 14 and (nx, ny) not in seen and cells[nx][ny] == colour:
                        seen.add((nx, ny))
                        stack.append((nx, ny))
            if size >= 4:
                groups.append((NAMES[colour], size))
    return groups


def side_by_side(left: str, right: str, gap: str = "    ") -> str:
    a, b = left.split("\n"), right.split("\n")
    return "\n".join(f"{la}{gap}{lb}" for la, lb in zip(a, b))


def show_steps(title: str, field: Field) -> None:
    print(f"\n== {title}: step by step")
    work = field.clone()
    step_number = 1
    while True:
        before = work.clone()
        groups = vanishing_groups(work)
        step = work.step_chain(step_number)
        if work == before:
            break
        what = ", ".join(f"{name} x{size}" for name, size in groups) or "puyos fall"
        print(f"step {step_number}: chain {step.chain}, score {step.score:>6}   {what}")
        step_number += 1
    result = field.clone().chain()
    print(f"whole chain: {result.chain} steps, score {result.score}")


def extensions(find: tavik.FoundChain) -> int:
    # Earlier triggers of a recursive find show only in its debug text.
    listed = repr(find).split("extensions: [", 1)[1].split("], trigger:", 1)[0]
    return listed.count("Connection {")


def describe(find: tavik.FoundChain) -> str:
    cells = ", ".join(f"({x}, {y})" for x, y in find.trigger)
    built = f" after {extensions(find)} earlier trigger(s)" if extensions(find) else ""
    return f"score {find.score:>6}, chain {find.chain:>2}, trigger at {cells}{built}"


_CELL = re.compile(r'<span style="([^"]*)">[^<]*</span>')
_BACKGROUND = re.compile(r"background-color:\s*([^;]+)")
DARK_TEXT = {PuyoType.EMPTY, PuyoType.YELLOW}  # light backgrounds; white letters elsewhere


def big_field(field: Field, marks: dict[tuple[int, int], str] | None = None, ghosts: Field | None = None) -> str:
    """The field's own HTML fragment as a grid of cells large enough to read at a glance.

    `marks` gives cells extra classes; cells of `ghosts` that `field` leaves empty are drawn
    faintly (puyos about to be dropped)."""
    marks = marks or {}
    drawn = ghosts if ghosts is not None else field
    colours = [_BACKGROUND.search(style) for style in _CELL.findall(drawn.get_html_string())]
    columns, real = drawn.to_array(), field.to_array()  # columns[x][y]
    cells = []
    for i, found in enumerate(colours[: 6 * 14]):
        x, y = i % 6, i // 6
        colour = found.group(1).strip() if found else "white"
        kind = columns[x][y]
        name = "" if kind == PuyoType.EMPTY else NAMES.get(kind, "?")[:1]
        extra = " " + marks[(x, y)] if (x, y) in marks else ""
        extra += " fuzzy" if y < 2 else ""
        extra += " ghost" if real[x][y] == PuyoType.EMPTY and kind != PuyoType.EMPTY else ""
        extra += " dark" if kind in DARK_TEXT else ""
        cells.append(f'<div class="c{extra}" style="background:{colour}">{name}</div>')
    return f'<div class="grid">{"".join(cells)}</div>'


def chain_steps_html(start: Field, trigger: set[tuple[int, int]] = frozenset()) -> list[str]:
    panels = []
    work = start.clone()
    total = 0
    for number in range(1, 40):
        vanish = vanishing_cells(work)
        if not vanish:
            break
        marks = {cell: "vanish" for cell in vanish}
        if number == 1:
            marks.update({cell: "vanish trigger" for cell in trigger if cell in vanish})
        before = work.clone()
        step = work.step_chain(number)
        total += step.score
        panels.append(f"<figure>{big_field(before, marks)}<figcaption><b>step {number}</b><br>"
                      f"+{step.score}<br>total {total}</figcaption></figure>")
    return panels


def find_html(before: Field, find: tavik.FoundChain | None, search: str) -> str:
    if find is None:
        return f"<figure>{big_field(before)}<figcaption>{html.escape(search)}:<br>no chain found</figcaption></figure>"
    fired = trigger_field(before, find)
    trigger = set(find.trigger)
    cells = ", ".join(f"({x}, {y})" for x, y in find.trigger)
    removal = "depth: Some(" in repr(find)
    what = "take away the framed group" if removal else "drop the starred puyos"
    shown = big_field(before, {cell: "trigger" for cell in trigger}, ghosts=None if removal else fired)
    return (
        f'<div class="row"><figure>{shown}<figcaption>{html.escape(search)}<br>'
        f'<span class="big">{find.score}</span> points<br><span class="big">{find.chain}</span> chain<br>'
        f"{what}:<br>{cells}</figcaption></figure>"
        f'<figure>{big_field(find.field)}<figcaption>after the chain</figcaption></figure></div>'
        '<h3>step by step</h3><div class="row">'
        + "".join(chain_steps_html(fired, set() if removal else trigger)) + "</div>"
    )


def write_html(path: str, before: Field, find: tavik.FoundChain | None, title: str,
               search: str = "best find", showcase: Field | None = None) -> None:
    body = "<h2>The best find on the field</h2>" + find_html(before, find, search)
    if showcase is not None:
        result = showcase.clone().chain()
        body += (f"<h2>The built-in {result.chain}-chain: {result.score} points</h2>"
                 f'<div class="row">{"".join(chain_steps_html(showcase))}</div>')
    page = f"""<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>tavik demo</title>
<style>
body {{ font-family: system-ui, sans-serif; margin: 1em 2em; color: #222; }}
.row {{ display: flex; flex-wrap: wrap; gap: 1em 2.5em; align-items: flex-start; }}
figure {{ display: inline-flex; gap: .8em; align-items: flex-start; margin: 0 0 1.5em; }}
figcaption {{ font-size: 1.25em; line-height: 1.5; min-width: 6em; }}
.big {{ font-size: 1.6em; font-weight: bold; }}
.grid {{ display: grid; grid-template-columns: repeat(6, 2.6em); grid-auto-rows: 2.6em; gap: 3px;
         background: #9aa; padding: 3px; border-radius: 6px; }}
.c {{ border-radius: 45%; display: flex; align-items: center; justify-content: center; position: relative;
      font-weight: bold; font-size: 1.1em; color: #fff; text-shadow: 0 0 3px #000; }}
.c.dark {{ color: #333; text-shadow: none; }}
.c.fuzzy {{ opacity: .4; }}
.c.ghost {{ opacity: .75; outline: 3px dashed #111; outline-offset: -3px; }}
.c.trigger {{ box-shadow: inset 0 0 0 4px #111; }}
.c.trigger::before {{ content: "\\2605"; position: absolute; top: -.2em; right: -.1em; color: #fff;
                     font-size: .9em; text-shadow: 0 0 3px #000, 0 0 2px #000; }}
.c.vanish {{ box-shadow: inset 0 0 0 4px #f0f; }}
</style></head>
<body><h1>{html.escape(title)}</h1>
<p>&#x2605; framed: the trigger (dashed: puyos to drop there) &middot; magenta: vanishes in
that step &middot; faint top rows: the fuzzy rows 0 and 1.</p>
{body}
</body></html>
"""
    with open(path, "w", encoding="utf-8") as out:
        out.write(page)


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("rows", nargs="*", help="a field of your own, top row first")
    parser.add_argument("--html", default="demo.html", help="where to write the HTML page (default demo.html)")
    parser.add_argument("--color", action="store_true", help="colour the terminal output even when piped")
    args = parser.parse_args(argv)
    if args.color:
        os.environ["CLICOLOR_FORCE"] = "1"  # read once, at the first rendering

    # 1. The built-in 19-chain: fire it and score it.
    nineteen = field_from_rows(NINETEEN_CHAIN)
    print("== the 19-chain field")
    print(nineteen.get_pretty_string())
    fired = nineteen.clone()
    result = fired.chain()
    print(f"chain(): {result.chain} chain, score {result.score}, all clear afterwards: {fired.is_all_clear()}")

    # 2. A mid-game field: place pairs by column and rotation, and by Hand.
    field = field_from_rows(args.rows) if args.rows else field_from_rows(MID_GAME)
    print("\n== the field" + (" from the command line" if args.rows else ", mid-game"))
    print(field.get_pretty_string())
    if not args.rows:
        built = field.clone()
        built.put_pair(5, "top", Pair(PuyoType.BLUE, PuyoType.YELLOW))
        built.put_hand(Hand(3, Rotation.RIGHT), Pair(PuyoType.GREEN, PuyoType.BLUE))
        print("after put_pair(5, 'top', Pair(BLUE, YELLOW)) and put_hand(Hand(3, RIGHT), Pair(GREEN, BLUE)):")
        print(side_by_side(field.get_pretty_string(), built.get_pretty_string()))
        field = built

    # Every legal hand for one pair, the expansion a search engine does per node.
    for pair in (Pair(PuyoType.RED, PuyoType.RED), Pair(PuyoType.YELLOW, PuyoType.GREEN)):
        hand, result = max(
            ((hand, field.clone().put_hand(hand, pair).chain()) for hand in Hand.enumerate()),
            key=lambda item: item[1].score,
        )
        print(f"best of the 22 hands for {pair!r}: {hand!r}, chain {result.chain}, score {result.score}")

    show_steps("the 19-chain", nineteen)

    # 3. Search: what could this field fire?
    print("\n== chain search on the field")
    searches = {
        "find_chain()": field.find_chain(),
        "find_chain_recursive(2)": field.find_chain_recursive(2),
        "find_chain_by_removal()": field.find_chain_by_removal(),
    }
    overall = None
    overall_search = "no search"
    for name, finds in searches.items():
        finds = sorted(finds, key=lambda f: f.score, reverse=True)
        print(f"{name}: {len(finds)} finds")
        for find in finds[:3]:
            print("   " + describe(find))
        # A recursive find builds on earlier triggers; the best one-step find replays by hand.
        if finds and name != "find_chain_recursive(2)" and (overall is None or finds[0].score > overall.score):
            overall, overall_search = finds[0], name

    if overall is not None:
        print("\nthe best find, before and after:")
        print(side_by_side(field.get_pretty_string(), overall.field.get_pretty_string()))
        show_steps("the best find", trigger_field(field, overall))
    write_html(args.html, field, overall, "tavik: best find", overall_search, showcase=nineteen)
    print(f"\nwrote {args.html}")
    return 0


def trigger_field(field: Field, find: tavik.FoundChain) -> Field:
    """The field just before the find fires: trigger puyos in place, or a removed group gone."""
    fired = field.clone()
    if "depth: Some(" in repr(find):
        for x, y in find.trigger:
            fired.set(x, y, PuyoType.EMPTY)
    else:
        for x, _ in find.trigger:
            fired.put(x, trigger_colour(find))
    return fired


def trigger_colour(find: tavik.FoundChain) -> int:
    # The trigger is the last connection in the find's debug text.
    name = repr(find).rsplit("puyotype: ", 1)[1].split(" ", 1)[0]
    return getattr(PuyoType, name, 3)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
