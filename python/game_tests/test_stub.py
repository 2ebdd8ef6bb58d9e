"""The tavik_game stub must match the built module and serve a user's `mypy --strict`."""

from __future__ import annotations

import json
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

tg = pytest.importorskip("tavik_game")
pytest.importorskip("mypy.stubtest", reason="mypy is not installed (scripts/install-deps.sh installs it)")
import tavik  # noqa: E402

PACKAGE = Path(tg.__file__).resolve().parent
TAVIK_STUB = Path(tavik.__file__).resolve().parent / "tavik-stubs" / "__init__.pyi"
INSTALLED = "site-packages" in str(PACKAGE)


def stub_dir(tmp_path: Path) -> Path:
    """tavik.pyi and the tavik_game sources in one folder, for MYPYPATH in a dev build."""
    stubs = tmp_path / "stubs"
    shutil.copytree(PACKAGE, stubs / "tavik_game", ignore=shutil.ignore_patterns("*.so", "__pycache__"))
    source_stub = Path(__file__).resolve().parents[1] / "tavik-stubs" / "__init__.pyi"
    shutil.copy(TAVIK_STUB if TAVIK_STUB.is_file() else source_stub, stubs / "tavik.pyi")
    return stubs


def run(tmp_path: Path, args: list[str], mypypath: Path | None) -> subprocess.CompletedProcess[str]:
    env = {k: v for k, v in os.environ.items() if k not in ("MYPYPATH", "PYTHONPATH")}
    if mypypath is not None:
        env["MYPYPATH"] = str(mypypath)
        env["PYTHONPATH"] = os.pathsep.join([str(PACKAGE.parent), os.environ.get("PYTHONPATH", "")])
    return subprocess.run([sys.executable, "-m", *args], capture_output=True, text=True, env=env,
                          cwd=tmp_path, timeout=300)


def test_stub_matches_the_native_module(tmp_path):
    # Entries still without a stub are tolerated; every entry the stub has must be right.
    done = run(tmp_path, ["mypy.stubtest", "tavik_game._native", "--ignore-missing-stub",
                          "--mypy-config-file", os.devnull], None if INSTALLED else stub_dir(tmp_path))
    assert done.returncode == 0, done.stdout + done.stderr


USES_THE_GAME = """
import copy, pickle
import tavik
import tavik_game as tg

g = tg.Game(seed=1, colours=3)
hands: list[tavik.Hand] = g.legal_hands()
move: tg.Move = g.play(hands[0])
chain: int = move.chain + g.max_chain + g.turn
kids: list[tuple[tavik.Hand, tavik.Field, tavik.ChainResult]] = tg.expand(g.field, g.pairs[0])
score, best = tg.best_find(kids[0][1])
key: bytes = tg.field_key(g.field)
ojama, carry = tg.ojama_from_score(move.score, carry=0)
dropped: tavik.Field = tg.drop_ojama(g.field, ojama, seed=3)
pair: tavik.Pair = tg.PairSequence(5)[10]
h: tg.Game = pickle.loads(pickle.dumps(copy.copy(g)))
print(chain, score, best, key, carry, dropped, pair, h.over, tg.is_dead(dropped), tg.legal_mask(dropped))
"""

MISTAKES = """
import tavik
import tavik_game as tg

g = tg.Game(seed="1")
g.play(tavik.Pair(4, 5))
total: str = g.score
tg.best_find(g)
"""


def test_a_user_program_type_checks_under_mypy_strict(tmp_path):
    # One run for both programs: each mypy start costs seconds.
    (tmp_path / "uses.py").write_text(USES_THE_GAME)
    (tmp_path / "mistakes.py").write_text(MISTAKES)
    args = ["mypy", "--strict", "--no-incremental", "--config-file", os.devnull, "uses.py", "mistakes.py"]
    # Installed: found in site-packages as a user meets it. Dev build: through MYPYPATH, with
    # the package's own modules checked silently as installed ones are.
    done = run(tmp_path, args if INSTALLED else [*args, "--follow-imports=silent"],
               None if INSTALLED else stub_dir(tmp_path))
    assert done.returncode == 1, done.stdout + done.stderr
    found = set(re.findall(r"^(\w+)\.py:(\d+): error", done.stdout, re.M))
    assert found == {("mistakes", str(line)) for line in (5, 6, 7, 8)}, done.stdout


USES_THE_ARRAYS_AND_ENVIRONMENTS = """
import numpy as np
from numpy.typing import NDArray

import tavik
import tavik_game as tg
from tavik_game.envs import TokopuyoEnv, TokopuyoVectorEnv

fields: list[tavik.Field] = [tg.Game(seed=s).field for s in range(4)]
planes: NDArray[np.uint8] = tg.observe(fields)
again: NDArray[np.uint8] = tg.observe(fields, colours=4, out=planes)
types: NDArray[np.uint8] = tg.to_numpy(fields[0])
back: tavik.Field = tg.from_numpy(types)

env = TokopuyoEnv(max_pairs=10)
obs, info = env.reset(seed=1)
board: NDArray[np.int8] = obs["field"]
mask: NDArray[np.bool_] = env.action_masks()
obs, reward, terminated, truncated, info = env.step(int(mask.argmax()))
total: float = reward
over: bool = terminated or truncated
game: tg.Game = env.game

vec = TokopuyoVectorEnv(8)
vobs, vinfo = vec.reset(seed=0)
vobs, rewards, ended, cut, vinfo = vec.step(np.zeros(8, np.int64))
mean: float = float(np.mean(rewards))
done: NDArray[np.bool_] = ended | cut
batch: NDArray[np.int8] = vobs["pairs"]
print(planes.shape, again.dtype, back, total, over, game.turn, mean, done.any(), batch.shape)
"""


@pytest.mark.parametrize("checker", ["mypy", "basedpyright"])
def test_a_program_on_the_arrays_and_environments_type_checks_clean(tmp_path, checker):
    pytest.importorskip("gymnasium")
    if checker == "basedpyright":
        pytest.importorskip("basedpyright")
    (tmp_path / "user.py").write_text(USES_THE_ARRAYS_AND_ENVIRONMENTS)
    stubs = None if INSTALLED else stub_dir(tmp_path)
    if checker == "mypy":
        args = ["mypy", "--strict", "--no-incremental", "--config-file", os.devnull, "user.py"]
        done = run(tmp_path, args if INSTALLED else [*args, "--follow-imports=silent"], stubs)
    else:
        # basedpyright's own defaults (stricter than pyright's): Any leaking out is reported too.
        paths = [] if stubs is None else [str(stubs), str(PACKAGE.parent)]
        (tmp_path / "pyrightconfig.json").write_text(json.dumps({"extraPaths": paths}))
        done = run(tmp_path, ["basedpyright", "--pythonpath", sys.executable, "user.py"], None)
    assert done.returncode == 0, done.stdout + done.stderr
