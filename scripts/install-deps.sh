#!/usr/bin/env bash
# Installs what building and testing tavik needs; does nothing that is already there.
set -euo pipefail
PYTHON=${PYTHON:-python3}

missing=()
for pkg in g++ cmake ninja-build libgtest-dev libbenchmark-dev clang-format patchelf; do
  dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done
if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

"$PYTHON" -m pip install -q --disable-pip-version-check \
  "pytest>=7" "hypothesis>=6" "scikit-build-core>=0.8" "mypy>=1.5"
