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
from dataclasses import dataclass

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


COLOURS = (PuyoType.RED, PuyoType.BLUE, PuyoType.YELLOW, PuyoType.GREEN)


@dataclass
class Replayed:
    """A find made concrete: the field just before it fires and what was done to get there."""

    find: tavik.FoundChain
    before: Field                           # the field the chain fires from
    steps: list[tuple[str, int, int, int]]  # (what, colour, column, count): extensions first, the trigger last
    trigger: set[tuple[int, int]]           # cells of the last step, in `before`
    changed: set[tuple[int, int]]           # every cell the steps touched


def changed_cells(a: Field, b: Field) -> set[tuple[int, int]]:
    ca, cb = a.to_array(), b.to_array()
    return {(x, y) for x in range(6) for y in range(14) if ca[x][y] != cb[x][y]}


def _drop(field: Field, column: int, colour: int, count: int) -> Field:
    built = field.clone()
    for _ in range(count):
        built.put(column, colour)
    return built


def _fires_as(built: Field, find: tavik.FoundChain) -> bool:
    after = built.clone()
    result = after.chain()
    return result.score == find.score and result.chain == find.chain and after == find.field


def _replay_on(field: Field, base: Field, steps: list[tuple[str, int, int, int]],
               find: tavik.FoundChain) -> Replayed | None:
    # A find keeps only its trigger's cells: its colour is the one whose drop fires as it did.
    column, count = find.trigger[0][0], len(find.trigger)
    for colour in COLOURS:
        built = _drop(base, column, colour, count)
        if _fires_as(built, find):
            return Replayed(find, built, [*steps, ("drop", colour, column, count)],
                            changed_cells(base, built), changed_cells(field, built))
    return None


def replay(field: Field, find: tavik.FoundChain, removal: bool = False) -> Replayed | None:
    """Rebuilds a find from the public API alone: the colour of its trigger and, for a
    recursive find, the earlier extension it builds on (searched one level deep)."""
    if removal:
        cells = {(x, y) for x, y in find.trigger}
        built = field.clone()
        for x, y in cells:
            built.set(x, y, PuyoType.EMPTY)
        x, y = find.trigger[0]
        return Replayed(find, built, [("take away", field.get(x, y), x, len(cells))], cells, cells)
    direct = _replay_on(field, field, [], find)
    if direct is not None:
        return direct
    for earlier in field.find_chain():
        first = _replay_on(field, field, [], earlier)
        if first is not None:
            _, colour, column, count = first.steps[0]
            found = _replay_on(field, first.before, [("place", colour, column, count)], find)
            if found is not None:
                return found
    return None


def describe_step(step: tuple[str, int, int, int]) -> str:
    what, colour, column, count = step
    if what == "take away":
        return f"take away the {NAMES[colour]} group of {count}"
    return f"{what} {NAMES[colour]} x{count} into column {column}"


def describe(r: Replayed) -> str:
    return f"score {r.find.score:>5}, chain {r.find.chain}: " + ", then ".join(map(describe_step, r.steps))


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


def find_html(before: Field, found: Replayed | None, search: str) -> str:
    if found is None:
        return f"<figure>{big_field(before)}<figcaption>{html.escape(search)}:<br>no chain found</figcaption></figure>"
    find, removal = found.find, found.steps[-1][0] == "take away"
    if removal:
        marks = {cell: "removed" for cell in found.trigger}
        shown = big_field(before, marks)
    else:
        marks = {cell: "drop" for cell in found.changed}
        marks.update({cell: "drop trigger" for cell in found.trigger})
        shown = big_field(before, marks, ghosts=found.before)
    todo = "<br>".join(html.escape(describe_step(s)) for s in found.steps)
    todo += "" if removal else "<br>(dashed: dropped; &#x2605;: the trigger, last)"
    return (
        f'<div class="row"><figure>{shown}<figcaption>{html.escape(search)}<br>'
        f'<span class="big">{find.score}</span> points<br><span class="big">{find.chain}</span> chain<br>'
        f"{todo}</figcaption></figure>"
        f'<figure>{big_field(find.field)}<figcaption>after the chain</figcaption></figure></div>'
        '<h3>step by step</h3><div class="row">'
        + "".join(chain_steps_html(found.before, set() if removal else found.trigger)) + "</div>"
    )


def write_html(path: str, before: Field, find: Replayed | None, title: str,
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
.c.ghost {{ opacity: .8; }}
.c.drop {{ outline: 3px dashed #111; outline-offset: -3px; }}
.c.removed {{ box-shadow: inset 0 0 0 4px #111; }}
.c.trigger::before {{ content: "\\2605"; position: absolute; top: -.2em; right: -.1em; color: #fff;
                     font-size: .9em; text-shadow: 0 0 3px #000, 0 0 2px #000; }}
.c.vanish {{ box-shadow: inset 0 0 0 4px #f0f; }}
</style></head>
<body><h1>{html.escape(title)}</h1>
<p>dashed: puyos to drop (&#x2605; the trigger, dropped last) &middot; framed: a group to take
away &middot; magenta: vanishes in that step &middot; faint top rows: the fuzzy rows 0 and 1.</p>
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
    overall: Replayed | None = None
    overall_search = "no search"
    for name, finds in searches.items():
        removal = name == "find_chain_by_removal()"
        finds = sorted(finds, key=lambda f: f.score, reverse=True)
        replayed = [r for r in (replay(field, f, removal) for f in finds) if r is not None]
        print(f"{name}: {len(finds)} finds")
        # Finds that build the same field the same way read alike: one line each, counted.
        ways: dict[str, int] = {}
        for r in replayed:
            ways[describe(r)] = ways.get(describe(r), 0) + 1
        for text, count in list(ways.items())[:3]:
            print(f"   {text}" + (f"   ({count} finds)" if count > 1 else ""))
        if replayed and (overall is None or replayed[0].find.score > overall.find.score):
            overall, overall_search = replayed[0], name

    if overall is not None:
        print(f"\nthe best find ({overall_search}), just before it fires and after:")
        print(side_by_side(overall.before.get_pretty_string(), overall.find.field.get_pretty_string()))
        show_steps("the best find", overall.before)
    write_html(args.html, field, overall, "tavik: best find", overall_search, showcase=nineteen)
    print(f"\nwrote {args.html}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
