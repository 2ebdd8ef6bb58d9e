"""Nodes the beam bot evaluates per second on one thread: the plain search against the lookahead.

    python bench/bench_bot.py [--positions N] [--rounds R] [--bot beam:...]

The positions are those of seeded games (seeds 1000 on) played by the plain bot. Each round times
choose() of the plain BeamBot(100, depth=2) and of the lookahead bot on every position, the two
alternating, and counts the children each search makes (analyse()'s nodes). Prints each bot's
median nodes per second over the rounds and the lookahead's ratio to the plain search: strength
should come from search and evaluation, not from spending more per node.
"""

from __future__ import annotations

import argparse
import statistics
import time

import tavik_game as tg
from tavik_game._cli import bot_type
from tavik_game._endless import bot_for


def positions(count: int) -> list[tg.Game]:
    bot = tg.BeamBot(100, 2)
    out: list[tg.Game] = []
    seed = 1000
    while len(out) < count:
        game = tg.Game(seed=seed, visible=2)
        while not game.over and game.turn < 40 and len(out) < count:
            out.append(game.copy())
            move = game.play(bot.choose(game))
            if move.score >= 10_000:
                break
        seed += 1
    return out


def rate(bot: tg.BeamBot, games: list[tg.Game], nodes: int) -> float:
    started = time.perf_counter()
    for g in games:
        bot.choose(g)
    return nodes / (time.perf_counter() - started)


def main() -> None:
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--positions", type=int, default=40)
    p.add_argument("--rounds", type=int, default=5)
    p.add_argument("--bot", default="beam:100,queues=4,horizon=8,queue_width=60")
    args = p.parse_args()
    games = positions(args.positions)
    plain = tg.BeamBot(100, 2)
    settings = bot_for(bot_type(args.bot), args.bot, 2, 10_000, 50)
    look = settings.beam_bot()
    plain_nodes = sum(int(plain.analyse(g)[1]["nodes"]) for g in games)
    look_nodes = sum(int(look.analyse(g)[1]["nodes"]) for g in games)
    plain_rates, look_rates = [], []
    for r in range(args.rounds):
        pair = [(plain, plain_nodes, plain_rates), (look, look_nodes, look_rates)]
        for bot, nodes, rates in pair if r % 2 == 0 else pair[::-1]:
            rates.append(rate(bot, games, nodes))
    p_med, l_med = statistics.median(plain_rates), statistics.median(look_rates)
    print(f"positions {len(games)}, rounds {args.rounds}, one thread")
    print(f"plain     {plain!r}: {plain_nodes / len(games):9.0f} nodes a move, {p_med:10.0f} nodes/s")
    print(f"lookahead {look!r}: {look_nodes / len(games):9.0f} nodes a move, {l_med:10.0f} nodes/s")
    print(f"lookahead / plain nodes per second: {l_med / p_med:.2f}")


if __name__ == "__main__":
    main()
