"""BeamBot from Python: arguments, legal choices, the game left untouched, threads."""

import threading

import pytest

tg = pytest.importorskip("tavik_game")
import tavik  # noqa: E402


@pytest.mark.parametrize(
    "kwargs, error",
    [
        ({"width": 0}, ValueError),
        ({"depth": 0}, ValueError),
        ({"threads": 0}, ValueError),
        ({"width": -1}, ValueError),
        ({"width": 2.0}, TypeError),
        ({"depth": "3"}, TypeError),
        ({"beam": 3}, TypeError),
    ],
)
def test_bad_arguments_are_refused(kwargs, error):
    with pytest.raises(error):
        tg.BeamBot(**kwargs)


def test_attributes_and_defaults():
    bot = tg.BeamBot()
    assert (bot.width, bot.depth, bot.threads) == (100, 3, 1)
    assert repr(tg.BeamBot(4, 2, threads=2)) == "BeamBot(width=4, depth=2, threads=2)"


def test_choose_refuses_what_it_cannot_search():
    bot = tg.BeamBot(width=4, depth=3)
    with pytest.raises(TypeError, match="Game"):
        bot.choose(tavik.Field())
    with pytest.raises(ValueError, match="visible"):
        bot.choose(tg.Game(seed=1, visible=2))
    over = tg.Game(seed=5)
    while not over.over:
        over.play(tavik.Hand(2, tavik.Rotation.TOP))
    with pytest.raises(ValueError, match="over"):
        bot.choose(over)


def test_plays_legal_hands_and_leaves_the_game_unchanged():
    bot = tg.BeamBot(width=6, depth=2)
    game = tg.Game(seed=3, visible=2)
    for _ in range(25):
        before = game.copy()
        hand = bot.choose(game)
        assert game == before
        assert isinstance(hand, tavik.Hand) and hand in game.legal_hands()
        game.play(hand)


def test_callers_on_other_threads_get_the_same_hands():
    bot = tg.BeamBot(width=8, depth=3, threads=2)
    games = [tg.Game(seed=s) for s in range(4)]
    alone = [bot.choose(g) for g in games]
    out = [None] * len(games)

    def work(i):
        out[i] = bot.choose(games[i])

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(games))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert out == alone
