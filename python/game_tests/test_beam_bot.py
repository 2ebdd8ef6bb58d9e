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


# ---------------------------------------------------------------- weights, evaluation, lookahead

def test_weights_round_trip_and_refuse_unknown_names():
    w = tg.BotWeights(links=12.5, danger=-7)
    assert (w.links, w.danger) == (12.5, -7.0)
    assert tg.BotWeights(**w.as_dict()) == w
    assert tg.BotWeights.from_sequence(tg.BeamBot(4, 2, weights=w).weights) == w
    assert tg.BotWeights.from_sequence(tg.BeamBot(4, 2).weights) == tg.BotWeights.classic()
    assert tg.BotWeights.from_sequence(tg.BeamBot(4, 2, queues=2).weights) == tg.BotWeights()
    with pytest.raises(TypeError, match="unknown weight"):
        tg.BotWeights(link=1)


@pytest.mark.parametrize("weights, error", [([1.0] * 9, ValueError), ([float("nan")] * 10, ValueError),
                                             (["1"] * 10, TypeError), (3, TypeError)])
def test_bad_weights_are_refused(weights, error):
    with pytest.raises(error):
        tg.BeamBot(4, 2, weights=weights)


def _field(rows):
    return tavik.Field.from_str_array(rows)


# Each feature on a field small enough to count by hand (Python columns 0 to 5).
@pytest.mark.parametrize(
    "rows, expected",
    [
        (["RR    "], {"links": 1, "bump": 1, "puyos": 2, "top": 1, "valley": 0, "ridge": 0}),
        (["R     ", "RB    ", "RBY   "], {"links": 3, "bump": 3, "puyos": 6, "top": 3}),
        # Column 0 stands 4 above its one neighbour: a ridge of 2.
        (["R     ", "B     ", "R     ", "B     "], {"ridge": 2, "bump": 4, "links": 0}),
        # Column 1 sits 4 below both neighbours: a valley of 2.
        (["Y Y   ", "B B   ", "Y Y   ", "B B   "], {"valley": 2, "bump": 12}),
        # Three reds and a trigger column: potential and chain of the best extension.
        (["RRR   "], {"chain": 1, "potential": 40, "unreachable": 0}),
    ],
)
def test_each_feature_counts_what_it_names(rows, expected):
    ev = tg.evaluate(_field(rows))
    for name, value in expected.items():
        assert ev.features[name] == value, name


def test_evaluate_sums_the_weighted_features():
    f = _field(["Y     ", "BRR   ", "BBRGY "])
    ev = tg.evaluate(f, tg.BotWeights.classic())
    w = tg.BotWeights.classic().as_dict()
    assert ev.value == round(sum(w[k] * v for k, v in ev.features.items()))
    only_links = tg.BotWeights(**{k: float(k == "links") for k in tg.bot.FEATURES})
    assert tg.evaluate(f, only_links).value == ev.features["links"]


def test_lookahead_is_deterministic_legal_and_analysed():
    kwargs = dict(width=6, depth=2, queues=3, horizon=3, queue_width=5, seed=9, fire_score=30000)
    bots = [tg.BeamBot(**kwargs, threads=t) for t in (1, 2)]
    game = tg.Game(seed=21, visible=2)
    for _ in range(12):
        hands = [b.choose(game) for b in bots]
        assert hands[0] == hands[1] and hands[0] in game.legal_hands()
        ranked, stats = bots[0].analyse(game)
        assert ranked[0][0] == hands[0]
        assert [v for _, v in ranked] == sorted((v for _, v in ranked), reverse=True)
        assert stats["levels"] == 5 and stats["nodes"] > 0 and stats["seconds"] >= 0
        game.play(hands[0])
    assert "queues=3" in repr(bots[0])
    assert (bots[0].queues, bots[0].horizon, bots[0].queue_width, bots[0].seed, bots[0].fire_score) == (
        3, 3, 5, 9, 30000)
