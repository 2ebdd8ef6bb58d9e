"""Helpers shared by the tavik_game tests: the hostile argument objects of the fuzz tests, and
the random-play conformance checks every game and environment test runs.

`random_play_game`, `random_play_env` and `random_play_vector_env` play random legal (now and
then illegal) actions and check at every step what must hold whatever the game: the legal mask
agrees with the legal hands, copies and pickles replay identically, observations lie in their
spaces, rewards are the moves' scores. A new game or environment gets its conformance test by
calling one of them.
"""

from __future__ import annotations

import copy
import math
import pickle
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))
from hostile import Boom, IndexRaises, IndexReturns  # noqa: E402,F401 - shared with tavik's suite

import tavik  # noqa: E402

tg = pytest.importorskip("tavik_game")
HANDS = tavik.Hand.enumerate()


def mask_bits(mask) -> list[int]:
    """The indices set in a legal mask, an int or an array of 0s and 1s."""
    if isinstance(mask, int):
        return [i for i in range(len(HANDS)) if mask >> i & 1]
    return [i for i, m in enumerate(mask) if m]


def check_game_invariants(game) -> None:
    """What any Game satisfies: the mask is the legal hands, over is a dead field, and a copy
    and a pickle are equal to it."""
    assert mask_bits(game.legal_mask()) == [HANDS.index(h) for h in game.legal_hands()]
    assert game.over == tg.is_dead(game.field)
    assert game.legal_mask() == (0 if game.over else tg.legal_mask(game.field))
    assert copy.copy(game) == game and pickle.loads(pickle.dumps(game)) == game


def random_play_game(game, rng, steps: int = 200) -> None:
    """Random legal play through `game`, a copy and a pickle played alongside."""
    twin, thawed = game.copy(), pickle.loads(pickle.dumps(game))
    for _ in range(steps):
        check_game_invariants(game)
        if game.over:
            with pytest.raises(ValueError):
                game.play(HANDS[0])
            assert game == twin
            return
        hand = game.legal_hands()[int(rng.integers(len(game.legal_hands())))]
        score, max_chain = game.score, game.max_chain
        move = game.play(hand)
        assert twin.play(hand) == move == thawed.play(hand)
        assert game == twin == thawed
        assert game.score == score + move.score and game.max_chain == max(max_chain, move.chain)
        assert move.over == game.over


def _legal_action(rng, mask, illegal_rate: float) -> int:
    legal = mask_bits(mask)
    if not legal or rng.random() < illegal_rate:
        return int(rng.integers(len(HANDS)))
    return legal[int(rng.integers(len(legal)))]


def _check_step_against_game(before, action, reward, terminated, info) -> object:
    """The step's outcome as the game before it says; returns the game after."""
    after = before.copy()
    if before.legal_mask() >> action & 1:
        move = after.play(HANDS[action])
        assert reward == move.score and bool(terminated) == move.over
        assert not info["illegal"] and info["chain"] == move.chain
    else:
        assert info["illegal"] and terminated and reward == 0
    return after


def random_play_env(make, seed: int, steps: int = 150, illegal_rate: float = 0.02) -> None:
    """Random play through a one-player Gymnasium environment made by make(); a second one
    replays the same actions identically. Where the environment shows its game (`env.game`),
    the mask, the reward and the flags are checked against that game played alongside."""
    import numpy as np

    rng = np.random.default_rng(seed)
    env, twin = make(), make()
    obs, info = env.reset(seed=seed)
    twin_obs, _ = twin.reset(seed=seed)
    has_game = hasattr(env, "game")
    for _ in range(steps):
        assert env.observation_space.contains(obs)
        for key in obs:
            np.testing.assert_array_equal(obs[key], twin_obs[key])
        if has_game:
            assert mask_bits(info["action_mask"]) == mask_bits(env.game.legal_mask())
            before = env.game
        action = _legal_action(rng, info["action_mask"], illegal_rate)
        obs, reward, terminated, truncated, info = env.step(action)
        twin_obs, *twin_rest = twin.step(action)
        assert isinstance(reward, float) and math.isfinite(reward)
        assert (reward, terminated, truncated) == tuple(twin_rest[:3])
        if has_game:
            after = _check_step_against_game(before, action, reward, terminated, info)
            if not info["illegal"]:
                assert env.game == after
        if terminated or truncated:
            obs, info = env.reset()
            twin_obs, _ = twin.reset()


def random_play_vector_env(make, seed: int, steps: int = 80, illegal_rate: float = 0.02) -> None:
    """Random play through a vector environment of next-step autoreset made by make(), against
    its sub-environments' games played alongside, and a second one replaying the actions."""
    import numpy as np

    rng = np.random.default_rng(seed)
    envs, twin = make(), make()
    n = envs.num_envs
    obs, info = envs.reset(seed=seed)
    twin_obs, _ = twin.reset(seed=seed)
    ended = np.zeros(n, bool)
    for _ in range(steps):
        assert envs.observation_space.contains(obs)
        for key in obs:
            assert obs[key].dtype == envs.observation_space[key].dtype
            np.testing.assert_array_equal(obs[key], twin_obs[key])
        games = [envs.game(i) for i in range(n)]
        for i, g in enumerate(games):
            assert mask_bits(info["action_mask"][i]) == mask_bits(g.legal_mask())
        actions = np.array([_legal_action(rng, info["action_mask"][i], illegal_rate) for i in range(n)])
        obs, reward, terminated, truncated, info = envs.step(actions)
        twin_obs, *twin_rest, twin_info = twin.step(actions)
        for mine, theirs in zip((reward, terminated, truncated), twin_rest):
            np.testing.assert_array_equal(mine, theirs)
        assert info.keys() == twin_info.keys()
        assert np.isfinite(reward).all()
        for i in range(n):
            if ended[i]:  # the autoreset step: a new episode, the action ignored
                assert (reward[i], terminated[i], truncated[i]) == (0, False, False)
                assert envs.game(i).turn == 0
                continue
            played = {key: info[key][i] for key in ("illegal", "chain")}
            assert info["_illegal"][i] and info["_chain"][i]
            after = _check_step_against_game(games[i], int(actions[i]), reward[i], terminated[i], played)
            if not played["illegal"]:
                assert envs.game(i) == after
        ended = terminated | truncated
