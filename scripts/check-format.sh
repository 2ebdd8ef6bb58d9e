#!/usr/bin/env bash
# Fails when a tracked C++ file differs from what clang-format (.clang-format)
# makes of it.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang-format >/dev/null; then
  echo "clang-format is missing: run scripts/install-deps.sh" >&2
  exit 1
fi
bad=0
while IFS= read -r f; do
  clang-format --dry-run --Werror "$f" || bad=1
done < <(git ls-files '*.cpp' '*.hpp')
if [ "$bad" = 1 ]; then
  echo "format check failed: run clang-format -i on the files above" >&2
  exit 1
fi
echo "format check: clean"
