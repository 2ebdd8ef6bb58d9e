#!/usr/bin/env bash
# Installs the system tools that building and testing tavik needs; does nothing
# that is already there. The Python test dependencies are declared once, as the
# package's `test` extra, and go into the environments the test scripts make, so
# nothing is installed into the user's own interpreter (a system Python may
# refuse it).
set -euo pipefail
PYTHON=${PYTHON:-python3}

missing=()
# g++-aarch64-linux-gnu and qemu-user: the core tests of the portable backend,
# cross-built for aarch64 and run under emulation.
for pkg in g++ cmake ninja-build libgtest-dev libbenchmark-dev clang-format patchelf \
  g++-aarch64-linux-gnu qemu-user; do
  dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done
# Debian's own Python makes environments only with python3-venv.
"$PYTHON" -c 'import ensurepip' >/dev/null 2>&1 || missing+=(python3-venv)
if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
