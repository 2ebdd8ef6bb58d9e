"""Prints the requirements of the named optional-dependency groups of pyproject.toml,
one per line, so scripts install test dependencies from the one place they are declared.

    python scripts/extras.py test rl
"""

import sys
from pathlib import Path

try:
    import tomllib
except ImportError:  # Python 3.10: pip carries a copy of the same parser
    from pip._vendor import tomli as tomllib

extras = tomllib.loads((Path(__file__).resolve().parent.parent / "pyproject.toml").read_text())["project"][
    "optional-dependencies"
]
for name in sys.argv[1:]:
    if name not in extras:
        sys.exit(f"no optional dependency group {name!r} in pyproject.toml")
    print("\n".join(extras[name]))
