"""The type stub must describe the built module: mypy's stubtest compares them."""

from __future__ import annotations

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

tavik = pytest.importorskip("tavik")
pytest.importorskip("mypy.stubtest", reason="mypy is not installed (scripts/install-deps.sh installs it)")

SOURCE_STUB = Path(__file__).resolve().parents[1] / "tavik-stubs" / "__init__.pyi"


def installed_stub() -> Path | None:
    """The stub package installed beside the module (a wheel or a dev build)."""
    beside = Path(tavik.__file__).resolve().parent / "tavik-stubs" / "__init__.pyi"
    return beside if beside.is_file() else None


def find_stub() -> Path | None:
    """The stub installed beside the module, else the one in the source tree."""
    return installed_stub() or (SOURCE_STUB if SOURCE_STUB.is_file() else None)


def test_stub_matches_the_module(tmp_path):
    stub = find_stub()
    if stub is None:
        pytest.skip("no tavik.pyi beside the module or in the source tree yet")
    # stubtest reads the stub through MYPYPATH; a folder of its own keeps other modules out.
    stubs = tmp_path / "stubs"
    stubs.mkdir()
    shutil.copy(stub, stubs / "tavik.pyi")
    module_dir = str(Path(tavik.__file__).resolve().parent)
    env = {
        **os.environ,
        "MYPYPATH": str(stubs),
        "PYTHONPATH": os.pathsep.join([module_dir, *filter(None, os.environ.get("PYTHONPATH", "").split(os.pathsep))]),
    }
    done = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "tavik", "--mypy-config-file", os.devnull],
        capture_output=True,
        text=True,
        env=env,
        cwd=tmp_path,
        timeout=300,
    )
    assert done.returncode == 0, f"stubtest found mismatches in {stub}:\n{done.stdout}\n{done.stderr}"


USES_EVERY_CLASS = """
import pickle
import tavik
from tavik import ArrayField, ChainResult, ChainStepResult, Field, FoundChain, Hand, Pair, PuyoType, Rotation

f: Field = Field.from_str_array(["  Y   ", "RRYGBY"]).put_hand(Hand(2, Rotation.RIGHT), Pair(PuyoType.RED, 5))
a: ArrayField = ArrayField.from_array(f.to_array())
result: ChainResult = f.clone().chain()
step: ChainStepResult = a.clone().step_chain(1)
finds: list[FoundChain] = f.find_chain()
best = max((find.score for find in finds), default=0)
hands: list[Hand] = Hand.enumerate()
g: Field = pickle.loads(pickle.dumps(f))
print(result.score + step.chain + best + len(hands), g.get(0, 13), f.get_html_string())
"""

TYPICAL_MISTAKES = """
import tavik

f = tavik.Field()
f.get("0", 13)
f.put_pair(2, "top", tavik.Hand(2, tavik.Rotation.TOP))
score: str = f.chain().score
f.no_such_method()
"""


# Each checker as a user runs it: no MYPYPATH, no config, the stub found in site-packages.
CHECKERS = {
    "mypy": ["-m", "mypy", "--strict", "--no-incremental", "--config-file", os.devnull],
    "basedpyright": ["-m", "basedpyright", "--level", "error"],
}


def type_check(tmp_path, checker, source):
    program = tmp_path / "program.py"
    program.write_text(source)
    env = {k: v for k, v in os.environ.items() if k not in ("MYPYPATH", "PYTHONPATH")}
    # As in an activated environment: pyright finds site-packages through the python on PATH.
    env["PATH"] = os.pathsep.join([str(Path(sys.executable).parent), env.get("PATH", "")])
    return subprocess.run(
        [sys.executable, *CHECKERS[checker], str(program)],
        capture_output=True, text=True, env=env, cwd=tmp_path, timeout=300,
    )


@pytest.mark.parametrize("checker", sorted(CHECKERS))
def test_installed_stub_is_found_by_checkers_without_configuration(tmp_path, checker):
    stub = installed_stub()
    if stub is None or "site-packages" not in str(stub):
        pytest.skip("tavik is not installed from a wheel here")
    pytest.importorskip(checker)
    clean = type_check(tmp_path, checker, USES_EVERY_CLASS)
    assert clean.returncode == 0, clean.stdout + clean.stderr
    wrong = type_check(tmp_path, checker, TYPICAL_MISTAKES)
    assert wrong.returncode == 1, wrong.stdout + wrong.stderr
    for line in (5, 6, 7, 8):
        assert re.search(rf"program\.py:{line}:(\d+ -)? error", wrong.stdout), wrong.stdout
