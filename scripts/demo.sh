#!/usr/bin/env bash
# Sets up what the demo needs and runs it: the system tools, then tavik with every
# extra, installed into the Python environment in use when it is a virtual one, and
# into .venv at the top of the checkout otherwise (a system Python may refuse pip).
# Arguments go to examples/demo.py; it writes demo.html into the current folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
PYTHON=${PYTHON:-python3}

PYTHON=$PYTHON bash "$root/scripts/install-deps.sh"
if "$PYTHON" -c 'import sys; sys.exit(sys.prefix == sys.base_prefix)'; then
  py=$("$PYTHON" -c 'import sys; print(sys.executable)')
else
  [ -x "$root/.venv/bin/python" ] || "$PYTHON" -m venv "$root/.venv"
  py=$root/.venv/bin/python
fi
echo "== installing tavik with every extra into $("$py" -c 'import sys; print(sys.prefix)')" \
  "(the first build compiles the C++ for a few minutes; a second one reuses it)"
"$py" -m pip install --disable-pip-version-check -q "$root[rl,dist]"
echo "== examples/demo.py"
exec "$py" "$root/examples/demo.py" "$@"
