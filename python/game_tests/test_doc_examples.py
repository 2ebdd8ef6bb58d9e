"""Every Python block of the README and the docs runs as written, so no example goes stale.

The blocks of one page run in order in one namespace (a page may build on its earlier blocks),
in a fresh folder. A block right after the line `<!-- doc-test: skip (why) -->` is skipped:
for blocks that need a cluster or a long run.
"""

from __future__ import annotations

import re
from pathlib import Path

import pytest

pytest.importorskip("numpy")
pytest.importorskip("gymnasium")
pytest.importorskip("pyarrow")

ROOT = Path(__file__).resolve().parents[2]
PAGES = [ROOT / "README.md", *sorted((ROOT / "docs").rglob("*.md"))]
BLOCK = re.compile(r"(?P<skip><!-- doc-test: skip[^>]*-->\n)?^```python\n(?P<code>.*?)^```$", re.M | re.S)


def blocks(page: Path) -> list[tuple[int, str, bool]]:
    text = page.read_text(encoding="utf-8")
    return [(text.count("\n", 0, m.start("code")) + 1, m["code"], bool(m["skip"])) for m in BLOCK.finditer(text)]


def test_the_pages_have_examples_and_the_marker_is_used_sparingly():
    found = {page.name: blocks(page) for page in PAGES}
    assert len(found["README.md"]) >= 4
    every = [b for page in found.values() for b in page]
    assert sum(skip for _, _, skip in every) <= len(every) // 4


@pytest.mark.parametrize("page", [p for p in PAGES if blocks(p)], ids=lambda p: str(p.relative_to(ROOT)))
def test_every_python_block_runs(page, tmp_path, monkeypatch, capsys):
    monkeypatch.chdir(tmp_path)
    namespace: dict[str, object] = {"__name__": "__main__"}
    for line, code, skip in blocks(page):
        if skip:
            continue
        try:
            exec(compile(code, f"{page.relative_to(ROOT)}:{line}", "exec"), namespace)
        except Exception as error:  # the page and line make the failure findable
            pytest.fail(f"{page.relative_to(ROOT)}, block at line {line}: {type(error).__name__}: {error}")
    capsys.readouterr()


def test_a_skipped_block_is_really_skipped(tmp_path):
    page = tmp_path / "page.md"
    page.write_text("<!-- doc-test: skip (a cluster) -->\n```python\nraise SystemExit\n```\n\n```python\nx = 1\n```\n")
    assert [(code, skip) for _, code, skip in blocks(page)] == [("raise SystemExit\n", True), ("x = 1\n", False)]
