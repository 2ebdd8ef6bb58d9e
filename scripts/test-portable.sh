#!/usr/bin/env bash
# The portable backend's checks: both Python suites against a wheel built with
# TAVIK_SIMD=portable (one CPython: the backend is the same C++ for every
# version), then the core tests cross-built for aarch64 and run under qemu-user.
# The x86 core tests already compare the two backends field by field.
#
#   TAVIK_PORTABLE_PYTHON=0 bash scripts/test-portable.sh   # aarch64 core tests only
#   TAVIK_PORTABLE_ARM=0 bash scripts/test-portable.sh      # portable Python suites only
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON=${PYTHON:-python3}
BUILD=$(realpath -m "${TAVIK_PORTABLE_BUILD_DIR:-build/portable-test}")

source scripts/pythons.sh

if [ "${TAVIK_PORTABLE_PYTHON:-1}" != "0" ]; then
  read -r ver py < <(supported_pythons)
  start=$SECONDS
  echo "== portable: Python $ver, wheel with TAVIK_SIMD=portable"
  rm -rf "$BUILD/py"
  "$py" -m pip wheel . --no-deps -q --disable-pip-version-check -w "$BUILD/py/wheel" \
    --config-settings=cmake.define.TAVIK_WERROR=ON --config-settings=cmake.define.TAVIK_SIMD=portable
  "$py" -m venv "$BUILD/py/venv"
  wheel=$(ls "$BUILD"/py/wheel/tavik-*.whl)
  "$BUILD/py/venv/bin/python" -m pip install -q --disable-pip-version-check "$wheel[test,rl,dist]"
  echo "== portable: Python $ver, tests"
  (cd python/tests && "$BUILD/py/venv/bin/python" -m pytest -q -p no:cacheprovider .)
  (cd python/game_tests && "$BUILD/py/venv/bin/python" -m pytest -q -p no:cacheprovider .)
  echo "== portable: Python suites took $((SECONDS - start)) s"
fi

if [ "${TAVIK_PORTABLE_ARM:-1}" != "0" ]; then
  start=$SECONDS
  echo "== portable: core tests for aarch64, under qemu-user"
  cmake -S . -B "$BUILD/aarch64" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/aarch64-linux-gnu.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DTAVIK_WERROR=ON -DTAVIK_BUILD_TESTS=ON -DTAVIK_BUILD_PYTHON=OFF >/dev/null
  cmake --build "$BUILD/aarch64" -j2 --target tavik_core_tests
  # One process for the whole binary: ctest would start qemu once per test.
  qemu-aarch64 -L /usr/aarch64-linux-gnu "$BUILD/aarch64/tavik_core_tests" --gtest_brief=1
  echo "== portable: aarch64 core tests took $((SECONDS - start)) s"
fi
