#!/usr/bin/env bash
# Builds everything and runs every test: the core tests (CTest), then the
# Python suite against a freshly built and installed wheel.
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON=${PYTHON:-python3}
BUILD=$(realpath -m "${TAVIK_BUILD_DIR:-build/test}")

echo "== core: build and test"
cmake -S . -B "$BUILD/core" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DTAVIK_BUILD_TESTS=ON -DTAVIK_BUILD_BENCH=ON -DTAVIK_BUILD_PYTHON=OFF >/dev/null
cmake --build "$BUILD/core" -j2
ctest --test-dir "$BUILD/core" --output-on-failure -j2

echo "== python: build the wheel and install it into a fresh environment"
rm -rf "$BUILD/wheel" "$BUILD/venv"
"$PYTHON" -m pip wheel . --no-build-isolation --no-deps -q -w "$BUILD/wheel"
"$PYTHON" -m venv --system-site-packages "$BUILD/venv"
"$BUILD/venv/bin/python" -m pip install -q --disable-pip-version-check --no-deps --no-index "$BUILD"/wheel/tavik-*.whl

echo "== python: tests"
# Run from the tests folder so the source tree cannot shadow the installed module.
(cd python/tests && "$BUILD/venv/bin/python" -m pytest -q -p no:cacheprovider .)

# Sanitizer pass: the core tests under ASan/UBSan with leak checks, then the
# Python suite against a sanitized build (scripts/sanitize.sh).
# TAVIK_SANITIZE_IN_TESTS=0 skips it.
if [ "${TAVIK_SANITIZE_IN_TESTS:-1}" != "0" ]; then
  echo "== sanitize"
  TAVIK_SANITIZE_BUILD_DIR="$BUILD/sanitize" bash scripts/sanitize.sh
fi
