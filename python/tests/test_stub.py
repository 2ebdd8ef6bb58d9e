"""The type stub must describe the built module: mypy's stubtest compares them."""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

tavik = pytest.importorskip("tavik")
pytest.importorskip("mypy.stubtest", reason="mypy is not installed (scripts/install-deps.sh installs it)")

SOURCE_STUB = Path(__file__).resolve().parents[1] / "tavik.pyi"


def find_stub() -> Path | None:
    """The stub installed beside the module, else the one in the source tree."""
    beside = Path(tavik.__file__).resolve().parent / "tavik.pyi"
    if beside.is_file():
        return beside
    return SOURCE_STUB if SOURCE_STUB.is_file() else None


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
