#!/usr/bin/env bash
# Sets up what the tests need and runs every test: the system tools
# (scripts/install-deps.sh), the core tests (CTest), then the Python suites
# against a freshly built wheel installed into a fresh environment, once for
# each supported CPython found (TAVIK_PYTHONS to choose), the documentation
# site built strictly, the release wheels and the sanitizer pass.
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON=${PYTHON:-python3}
BUILD=$(realpath -m "${TAVIK_BUILD_DIR:-build/test}")

echo "== system tools"
PYTHON=$PYTHON bash scripts/install-deps.sh

source scripts/pythons.sh

echo "== format"
bash scripts/check-format.sh

echo "== core: build and test"
cmake -S . -B "$BUILD/core" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVIK_WERROR=ON \
  -DTAVIK_BUILD_TESTS=ON -DTAVIK_BUILD_BENCH=ON -DTAVIK_BUILD_PYTHON=OFF >/dev/null
cmake --build "$BUILD/core" -j2
ctest --test-dir "$BUILD/core" --output-on-failure -j2

tested=0
while read -r ver py <&3; do
  tested=$((tested + 1))
  dir="$BUILD/py$ver"
  echo "== python $ver: build the wheel and install it into a fresh environment"
  rm -rf "$dir"
  "$py" -m pip wheel . --no-deps -q --disable-pip-version-check -w "$dir/wheel" \
    --config-settings=cmake.define.TAVIK_WERROR=ON
  # Made from the interpreter under test, with nothing from outside: the test
  # dependencies come from the package's own extras.
  "$py" -m venv "$dir/venv"
  wheel=$(ls "$dir"/wheel/tavik-*.whl)
  "$dir/venv/bin/python" -m pip install -q --disable-pip-version-check "$wheel[test,rl,dist,docs]"
  echo "== python $ver: tests"
  # Run from the tests folders so the source tree cannot shadow the installed packages.
  (cd python/tests && "$dir/venv/bin/python" -m pytest -q -p no:cacheprovider .)
  if [ -d python/game_tests ]; then
    (cd python/game_tests && "$dir/venv/bin/python" -m pytest -q -p no:cacheprovider .)
  fi
  if [ "$tested" = 1 ]; then
    # Once: the site with its API pages read from the stubs; a broken link or reference fails.
    echo "== docs: mkdocs build --strict"
    "$dir/venv/bin/python" -m mkdocs build --strict -q -f mkdocs.yml -d "$BUILD/site"
  fi
done 3< <(supported_pythons)
# A run that tested no Python at all must not pass.
[ "$tested" -gt 0 ] || { echo "no supported CPython (3.10 to 3.13) found" >&2; exit 1; }

# The portable backend: both Python suites against a portable wheel, and the
# core tests cross-built for aarch64 under qemu (scripts/test-portable.sh).
# TAVIK_PORTABLE_IN_TESTS=0 skips it.
if [ "${TAVIK_PORTABLE_IN_TESTS:-1}" != "0" ]; then
  echo "== portable"
  TAVIK_PORTABLE_BUILD_DIR="$BUILD/portable" bash scripts/test-portable.sh
fi

# Release check: the sdist, manylinux_2_28 wheels from it, twine check, a fresh
# install and import of the x86-64 one (scripts/build-wheels.sh).
# TAVIK_WHEELS_IN_TESTS=0 skips it.
if [ "${TAVIK_WHEELS_IN_TESTS:-1}" != "0" ]; then
  echo "== wheels"
  # One CPython's wheels (x86-64 and aarch64) here: the other versions' builds
  # differ only in the interpreter they are made for, and cost ~15 minutes.
  # A release runs scripts/build-wheels.sh itself, for every version.
  read -r _ first_py < <(supported_pythons)
  TAVIK_PYTHONS="${TAVIK_WHEEL_PYTHONS:-$first_py}" TAVIK_ARM_WHEELS="${TAVIK_ARM_WHEELS:-one}" \
    TAVIK_DIST="$BUILD/dist" TAVIK_BUILD_DIR="$BUILD/wheels" bash scripts/build-wheels.sh
fi

# Sanitizer pass: the core tests under ASan/UBSan with leak checks, then the
# Python suite against a sanitized build (scripts/sanitize.sh).
# TAVIK_SANITIZE_IN_TESTS=0 skips it.
if [ "${TAVIK_SANITIZE_IN_TESTS:-1}" != "0" ]; then
  echo "== sanitize"
  TAVIK_SANITIZE_BUILD_DIR="$BUILD/sanitize" bash scripts/sanitize.sh
fi
