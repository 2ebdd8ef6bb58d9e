"""VersusVectorEnv: the native batch of matches, against an opponent or playing both sides."""

import numpy as np
import pytest

import tavik
import tavik_game as tg
from tavik_game.envs import VersusVectorEnv

H = tavik.Hand.enumerate()


def first_legal(mask):
    return np.argmax(mask, axis=-1)  # a row with no legal hand (not due) gives 0, which is ignored


@pytest.mark.parametrize("opponent", ["random", "greedy", "beam:3"])
def test_against_an_opponent_the_learner_always_decides(opponent):
    env = VersusVectorEnv(6, threads=2, opponent=opponent)
    obs, info = env.reset(seed=5)
    assert env.observation_space.contains(obs)
    for _ in range(80):
        obs, reward, terminated, truncated, info = env.step(first_legal(info["action_mask"]))
        assert env.observation_space.contains(obs)
        live = ~terminated
        assert (obs["frames"][live, 0] == 0).all() and info["action_mask"][live].any(axis=1).all()
        assert set(np.unique(reward)) <= {-1.0, 0.0, 1.0}
        assert not info["illegal"].any()


def test_self_play_matches_the_match_played_with_the_same_hands():
    env = VersusVectorEnv(4, threads=1, opponent="self")
    obs, info = env.reset(seed=[11, 12, 13, 14])
    matches = [tg.Match(seed=s) for s in (11, 12, 13, 14)]
    for _ in range(40):
        actions = first_legal(info["action_mask"])
        due = info["due"]
        obs, reward, terminated, truncated, info = env.step(actions)
        for i, m in enumerate(matches):
            if m.over:
                continue
            m.play({p: H[actions[i, p]] for p in range(2) if due[i, p]})
            assert env.match(i).players == m.players and env.match(i).frame == m.frame
            mine, theirs = m.players
            assert obs["ojama"][i, 0].tolist() == [[mine.pending_ojama, mine.fixed_ojama],
                                                   [theirs.pending_ojama, theirs.fixed_ojama]]
            assert obs["frames"][i, 1].tolist() == [theirs.next_frame - m.frame, mine.next_frame - m.frame]
            assert (obs["field"][i, 1] == tg.observe([theirs.field])[0]).all()
            assert (obs["opponent_field"][i, 0] == tg.observe([theirs.field])[0]).all()
            assert (obs["target"][i] == m.rules.target_at(m.frame)).all()
            assert terminated[i] == m.over


def test_the_observation_is_the_single_environments():
    import gymnasium as gym

    single = gym.make("tavik/Versus-v0").observation_space
    env = VersusVectorEnv(2, opponent="random")
    assert env.single_observation_space == single
    obs, _ = env.reset(seed=2)
    assert all(obs[k].shape == (2,) + single[k].shape and obs[k].dtype == single[k].dtype for k in single)


def test_an_illegal_hand_ends_the_match_with_a_loss():
    env = VersusVectorEnv(1, opponent="random")
    env.reset(seed=3)
    for _ in range(20):
        obs, reward, terminated, truncated, info = env.step([0])
        if info["illegal"][0]:
            break
    assert info["illegal"][0] and terminated[0] and reward[0] == -1.0


@pytest.mark.parametrize(
    "kwargs, error",
    [({"opponent": "beam:0"}, ValueError), ({"opponent": "nobody"}, ValueError), ({"opponent": 3}, TypeError),
     ({"num_matches": 0}, ValueError), ({"max_frames": 0}, ValueError), ({"rules": 70}, TypeError)],
)
def test_bad_settings_are_refused(kwargs, error):
    with pytest.raises(error):
        VersusVectorEnv(**{"num_matches": 2, **kwargs})


def test_bad_actions_are_refused_and_change_nothing():
    env = VersusVectorEnv(2, opponent="self")
    env.reset(seed=1)
    before = [env.match(i) for i in range(2)]
    for actions, error in ([[0, 0]], ValueError), ([[0, 22], [0, 0]], ValueError), ([[0.5, 0], [0, 0]], TypeError):
        with pytest.raises(error):
            env.step(actions)
    assert [env.match(i) for i in range(2)] == before


def test_truncation_at_max_frames():
    env = VersusVectorEnv(3, opponent="random", max_frames=200)
    obs, info = env.reset(seed=0)
    ended = np.zeros(3, bool)
    for _ in range(20):
        obs, reward, terminated, truncated, info = env.step(first_legal(info["action_mask"]))
        ended |= truncated | terminated
    assert ended.all()
