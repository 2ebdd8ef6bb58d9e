"""python -m tavik_game.dataset: the dataset command (see tavik_game.dataset.cli)."""

from tavik_game.dataset.cli import main

raise SystemExit(main())
