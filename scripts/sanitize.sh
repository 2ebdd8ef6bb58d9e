#!/usr/bin/env bash
# Builds the core tests and the extension with AddressSanitizer and
# UndefinedBehaviorSanitizer, runs the core tests with leak checking, then the
# Python suites (tavik's and tavik_game's) against the sanitized dev build.
#
#   bash scripts/sanitize.sh            # everything
#   TAVIK_SANITIZE_PYTHON=0 bash ...    # core tests only
#   TAVIK_SANITIZE_PYTHON=1 bash ...    # the Python suite even before every class exists
#
# Hypothesis tests run the "sanitize" profile (fewer examples) to keep the run
# short; set HYPOTHESIS_PROFILE=default to run them in full.
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON=${PYTHON:-python3}
BUILD=$(realpath -m "${TAVIK_SANITIZE_BUILD_DIR:-build/sanitize}")
JOBS=${TAVIK_JOBS:-2}
# TAVIK_SANITIZE_PYTHON=0 skips the extension and the Python suite.
WITH_PYTHON=ON
if [ "${TAVIK_SANITIZE_PYTHON:-1}" = "0" ]; then WITH_PYTHON=OFF; fi

# The interpreter itself, not a wrapper script that a version manager may put on PATH.
PY_EXE=$("$PYTHON" -c 'import sys; print(sys.executable)')

start=$SECONDS
echo "== sanitize: build ($BUILD)"
# -O1 -g: readable stack traces at a bearable speed.
cmake -S . -B "$BUILD" -G Ninja -DTAVIK_SANITIZE=ON -DTAVIK_BUILD_TESTS=ON \
  -DTAVIK_BUILD_BENCH=OFF -DTAVIK_BUILD_PYTHON=$WITH_PYTHON -DPython_EXECUTABLE="$PY_EXE" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" >/dev/null
cmake --build "$BUILD" -j"$JOBS"

export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

echo "== sanitize: core tests (address, undefined, leaks)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1 \
  "$BUILD/tavik_core_tests" --gtest_brief=1

if [ "$WITH_PYTHON" = OFF ]; then
  echo "== sanitize: done in $((SECONDS - start)) s (Python suite skipped)"
  exit 0
fi

echo "== sanitize: python suite"
# The suite's own dependencies go into an environment of the build, never into the
# user's interpreter (which may be a system Python that refuses pip installs).
VENV="$BUILD/venv"
[ -x "$VENV/bin/python" ] || "$PY_EXE" -m venv "$VENV"
"$VENV/bin/python" -m pip install -q --disable-pip-version-check $("$VENV/bin/python" scripts/extras.py test rl)
TEST_PY=$("$VENV/bin/python" -c 'import sys; print(sys.executable)')
# The interpreter is not built with the sanitizers, so their runtimes must be
# loaded before it starts. PYTHONMALLOC=malloc puts every object, our instances included, under the
# address checks.
PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)"
run_python() {
  # Run from a tests folder so the source tree cannot shadow the module.
  (cd "${TEST_DIR:-python/tests}" &&
    env LD_PRELOAD="$PRELOAD" PYTHONMALLOC=malloc TAVIK_SANITIZED=1 \
      PYTHONPATH="$BUILD/python${PYTHONPATH:+:$PYTHONPATH}" \
      HYPOTHESIS_PROFILE="${HYPOTHESIS_PROFILE:-sanitize}" \
      "$@")
}
# CPython keeps memory alive until exit on purpose: no leak checking here.
ASAN_OPTIONS=detect_leaks=0 run_python "$TEST_PY" -m pytest -q -p no:cacheprovider .

echo "== sanitize: tavik_game suite"
# Tests whose optional dependencies are absent skip themselves; the stub checks run mypy,
# not our code, so they stay in the plain run.
ASAN_OPTIONS=detect_leaks=0 TEST_DIR=python/game_tests \
  run_python "$TEST_PY" -m pytest -q -p no:cacheprovider --ignore=test_stub.py .

echo "== sanitize: extension leak check"
# Every entry once more with leak checking on. The interpreter's own leaks at
# exit are expected; only reports with a frame in our code count.
LEAK_LOG="$BUILD/lsan"
rm -f "$LEAK_LOG".*
ASAN_OPTIONS=detect_leaks=1:log_path="$LEAK_LOG" LSAN_OPTIONS=exitcode=0 TAVIK_LEAK_ITERATIONS=20 \
  run_python "$TEST_PY" -m pytest -q -p no:cacheprovider test_leaks.py
if grep -l tavik "$LEAK_LOG".* 2>/dev/null; then
  grep -h -B2 -A30 tavik "$LEAK_LOG".* | head -200
  echo "== sanitize: leaks in the extension (reports above)"
  exit 1
fi

echo "== sanitize: done in $((SECONDS - start)) s"
