"""tavik_game: what users need around the tavik field (game rules, environments, datasets)."""
