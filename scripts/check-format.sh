#!/usr/bin/env bash
# Fails when a tracked C++ file differs from what clang-format (.clang-format)
# makes of it; files matching a pattern in scripts/format-pending.txt are skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang-format >/dev/null; then
  echo "clang-format is missing: run scripts/install-deps.sh" >&2
  exit 1
fi
mapfile -t pending < <(grep -v -e '^#' -e '^$' scripts/format-pending.txt || true)
skipped() {
  local pat
  for pat in "${pending[@]}"; do
    # shellcheck disable=SC2053  # the pattern is meant to glob
    [[ $1 == $pat ]] && return 0
  done
  return 1
}
bad=0
while IFS= read -r f; do
  skipped "$f" && continue
  clang-format --dry-run --Werror "$f" || bad=1
done < <(git ls-files '*.cpp' '*.hpp')
if [ "$bad" = 1 ]; then
  echo "format check failed: run clang-format -i on the files above" >&2
  exit 1
fi
echo "format check: clean"
