# Sourced by the build and test scripts: the CPythons to build and test with.
#
# supported_pythons prints "VERSION INTERPRETER" once per supported version:
# TAVIK_PYTHONS if set, else the interpreter the user runs (inside a venv, the
# venv's own) followed by every CPython 3.10 to 3.13 that pyenv provides.

candidate_pythons() {
  if [ -n "${TAVIK_PYTHONS:-}" ]; then
    printf '%s\n' $TAVIK_PYTHONS
    return
  fi
  "$PYTHON" -c 'import sys; print(sys.executable)'
  local root
  root=$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")
  for minor in 10 11 12 13; do
    ls -d "$root"/versions/3."$minor".*/bin/python3 2>/dev/null | sort -V | tail -1
  done
}

supported_pythons() {
  local py ver
  local -A seen=()
  for py in $(candidate_pythons); do
    ver=$("$py" -c 'import sys; print("%d.%d" % sys.version_info[:2])') || continue
    case "$ver" in
      3.1[0-3]) ;;
      *) echo "== skipping $py (Python $ver is not supported)" >&2; continue ;;
    esac
    [ -n "${seen[$ver]:-}" ] && continue
    seen[$ver]=1
    echo "$ver $py"
  done
}
