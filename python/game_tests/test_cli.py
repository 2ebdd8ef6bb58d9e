"""The shared command-line pieces: bot names, the deprecated play flags, and run_jobs."""

import functools

import pytest

from tavik_game import Game
from tavik_game._cli import BotSpec, greedy_bot, parse_bot


@pytest.mark.parametrize(
    ("name", "settings"),
    [
        ("random", BotSpec("random")),
        ("greedy", BotSpec("greedy")),
        ("beam", BotSpec("beam", 100)),
        ("beam:7", BotSpec("beam", 7)),
        ("beam:100,depth=2,threads=4", BotSpec("beam", 100, 2, 4)),
        ("beam:5,threads=2", BotSpec("beam", 5, 3, 2)),
        ("beam:50,depth=2,queues=4,horizon=8,fire_score=10000",
         BotSpec("beam", 50, 2, queues=4, horizon=8, fire_score=10000)),
    ],
)
def test_bot_names_parse_and_print_back(name, settings):
    assert parse_bot(name) == settings
    assert parse_bot(str(settings)) == settings


@pytest.mark.parametrize(
    "name",
    [
        "beam:\u0663",  # Arabic-Indic three: isdigit() says yes
        "beam:\u00b3",
        "beam:\udcff",
        "gr\udcffeedy",
        "beam:",
        "beam:0",
        "beam:+5",
        "beam: 5",
        "beam:100001",
        "beam:5,depth=0",
        "beam:5,depth=9",
        "beam:5,depth=2,depth=3",
        "beam:5,queues=1025",
        "beam:5,horizon=-1",
        "beam:5,width=3",
        "beam:5,",
        "greedy:3",
        "random,threads=2",
        "Beam",
        "",
    ],
)
def test_every_bad_bot_name_is_a_value_error(name):
    with pytest.raises(ValueError) as e:
        parse_bot(name)
    str(e.value).encode("ascii")  # a message that prints anywhere, surrogates escaped


def test_greedy_takes_the_scoring_hand_and_keeps_off_the_top():
    game = Game(seed=3)
    choose = greedy_bot(1)
    for _ in range(60):
        hand = choose(game)
        outcomes = []
        for other in game.legal_hands():
            trial = game.copy()
            move = trial.play(other)
            outcomes.append((not move.over, move.score))
        trial = game.copy()
        move = trial.play(hand)
        assert (not move.over, move.score) == max(outcomes)
        game.play(hand)
        if game.over:
            break


def test_the_deprecated_play_flags_still_work_and_say_the_new_spelling(capsys):
    from tavik_game.__main__ import main

    assert main(["play", "--games", "1", "--pairs", "2", "--bot", "beam", "--beam", "4", "--threads", "2",
                 "--no-progress"]) == 0  # fmt: skip
    out, err = capsys.readouterr()
    assert "--beam 4 --threads 2 is deprecated; say --bot beam:4,threads=2" in err
    assert "beam (width 4, depth 3, 2 threads)" in out


# ---------------------------------------------------------------- run_jobs

distributed = pytest.importorskip("distributed")
cloudpickle = pytest.importorskip("cloudpickle")
from tavik_game.dataset import cluster  # noqa: E402


@pytest.fixture(autouse=False)
def by_value():
    # The workers cannot import this test module: its functions travel by value.
    import sys

    cloudpickle.register_pickle_by_value(sys.modules[__name__])
    yield
    cloudpickle.unregister_pickle_by_value(sys.modules[__name__])


def _square_plus(offset, job):
    if job == "boom":
        raise RuntimeError("job failed")
    return job * job + offset


def test_run_jobs_gives_the_same_results_in_process_and_on_workers(by_value):
    jobs = list(range(37))
    fn = functools.partial(_square_plus, 5)
    expected = [j * j + 5 for j in jobs]
    seen = []
    assert cluster.map_jobs(fn, jobs) == expected
    results = dict(cluster.run_jobs(fn, jobs, workers=2, on_start=seen.append))
    assert [results[i] for i in range(len(jobs))] == expected and seen == [2]
    assert cluster.map_jobs(fn, []) == []


@pytest.mark.parametrize("workers", [0, 1])
def test_run_jobs_raises_a_jobs_failure(by_value, workers):
    with pytest.raises(RuntimeError, match="job failed"):
        cluster.map_jobs(functools.partial(_square_plus, 0), [1, "boom", 3], workers=workers)
