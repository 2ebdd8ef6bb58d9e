#!/usr/bin/env bash
# Builds the core tests and the extension with AddressSanitizer and
# UndefinedBehaviorSanitizer, runs the core tests with leak checking, then the
# whole Python suite against the sanitized dev build of the module.
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
# TAVIK_SANITIZE_PYTHON: 0 skips the extension, 1 forces it; by default it runs
# once every class is in the tree.
WITH_PYTHON=ON
case "${TAVIK_SANITIZE_PYTHON:-auto}" in
  0) WITH_PYTHON=OFF ;;
  1) ;;
  *) if [ ! -f python/src/module.cpp ] || [ -f python/src/pending_classes.cpp ]; then WITH_PYTHON=OFF; fi ;;
esac

start=$SECONDS
echo "== sanitize: build ($BUILD)"
# -O1 -g: readable stack traces at a bearable speed.
cmake -S . -B "$BUILD" -G Ninja -DTAVIK_SANITIZE=ON -DTAVIK_BUILD_TESTS=ON \
  -DTAVIK_BUILD_BENCH=OFF -DTAVIK_BUILD_PYTHON=$WITH_PYTHON -DPython_EXECUTABLE="$(command -v "$PYTHON")" \
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
# The interpreter is not built with the sanitizers, so their runtimes must be
# loaded before it starts. CPython keeps memory alive until exit on purpose,
# so leak checking is off here; PYTHONMALLOC=malloc puts every object,
# our instances included, under the address checks.
ASAN_LIB=$(g++ -print-file-name=libasan.so)
UBSAN_LIB=$(g++ -print-file-name=libubsan.so)
# Run from the tests folder so the source tree cannot shadow the module.
(cd python/tests &&
  env LD_PRELOAD="$ASAN_LIB $UBSAN_LIB" \
    ASAN_OPTIONS=detect_leaks=0:abort_on_error=0 \
    PYTHONMALLOC=malloc \
    PYTHONPATH="$BUILD/python${PYTHONPATH:+:$PYTHONPATH}" \
    HYPOTHESIS_PROFILE="${HYPOTHESIS_PROFILE:-sanitize}" \
    TAVIK_SANITIZED=1 \
    "$PYTHON" -m pytest -q -p no:cacheprovider .)

echo "== sanitize: done in $((SECONDS - start)) s"
