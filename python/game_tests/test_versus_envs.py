"""The versus environments: their checkers, what a side observes, who is selected, bad actions."""

import warnings

import pytest

np = pytest.importorskip("numpy")
gym = pytest.importorskip("gymnasium")

import tavik  # noqa: E402
import tavik_game as tg  # noqa: E402

if not hasattr(tg, "Match"):
    pytest.skip("the native match is not built yet", allow_module_level=True)

from tavik_game.envs import VersusEnv, VersusOpponentEnv  # noqa: E402

HANDS = tavik.Hand.enumerate()


def first_legal(mask) -> int:
    return int(np.flatnonzero(mask)[0])


def test_the_aec_environment_passes_pettingzoos_api_test():
    pytest.importorskip("pettingzoo")
    from pettingzoo.test import api_test

    with warnings.catch_warnings():
        # The checker would like flat observations; ours are a dict of arrays.
        warnings.simplefilter("ignore", UserWarning)
        api_test(VersusEnv(), num_cycles=400)
        api_test(VersusEnv(colours=3, visible=2, max_frames=600), num_cycles=100)


@pytest.mark.parametrize("opponent", ["random", "greedy", "beam:10"])
def test_the_gymnasium_environment_passes_the_checker(opponent):
    from gymnasium.utils.env_checker import check_env

    check_env(gym.make("tavik/Versus-v0", opponent=opponent).unwrapped)


def check_observation(obs, m, p):
    me, them = m.players[p], m.players[1 - p]
    np.testing.assert_array_equal(obs["field"], tg.observe([me.field], m.colours)[0])
    np.testing.assert_array_equal(obs["opponent_field"], tg.observe([them.field], m.colours)[0])
    for k, pair in enumerate(me.pairs):
        assert obs["pairs"][k, 0].tolist() == [int(pair.child == 4 + c) for c in range(m.colours)]
        assert obs["pairs"][k, 1].tolist() == [int(pair.axis == 4 + c) for c in range(m.colours)]
    assert obs["ojama"].tolist() == [[me.pending_ojama, me.fixed_ojama], [them.pending_ojama, them.fixed_ojama]]
    assert obs["frames"].tolist() == [max(0, me.next_frame - m.frame), max(0, them.next_frame - m.frame)]
    assert obs["target"].tolist() == [m.rules.target_at(m.frame)]


def test_the_due_side_is_selected_and_both_choose_before_either_hand_is_applied():
    pytest.importorskip("pettingzoo")
    env = VersusEnv(rules=tg.VersusRules(target_points=10, margin_time=None))
    env.reset(seed=3)
    rng = np.random.default_rng(0)
    both_due = 0
    while not any(env.terminations.values()):
        m = env.match
        agent = env.agent_selection
        p = int(agent[-1])
        assert p in m.due()
        obs = env.observe(agent)
        check_observation(obs["observation"], m, p)
        assert [HANDS[i] for i in np.flatnonzero(obs["action_mask"])] == m.legal_hands(p)
        events, due = len(m.events), m.due()
        env.step(int(rng.choice(np.flatnonzero(obs["action_mask"]))))
        if p == 0 and due == (0, 1):
            # Player 0's hand waits for player 1's, which now sees no sign of it.
            both_due += 1
            assert env.agent_selection == "player_1" and len(m.events) == events
            assert not env.observe("player_0")["action_mask"].any()
    assert both_due >= 1
    winner = env.match.winner
    assert env.rewards == {"player_0": 0.0 if winner is None else 1.0 - 2 * winner,
                           "player_1": 0.0 if winner is None else 2 * winner - 1.0}


def test_an_illegal_hand_loses_the_match():
    pytest.importorskip("pettingzoo")
    env = VersusEnv()
    env.reset(seed=0)
    # Player 0 stacks column 1 (hand 1 is x=1 top) until column 0 is walled off.
    while True:
        agent = env.agent_selection
        mask = env.observe(agent)["action_mask"]
        if agent == "player_0" and not mask.all():
            break
        assert not any(env.terminations.values())
        env.step(1 if agent == "player_0" else first_legal(mask))
    env.step(int(np.flatnonzero(mask == 0)[0]))
    assert env.terminations == {"player_0": True, "player_1": True}
    assert env.rewards == {"player_0": -1.0, "player_1": 1.0} and env.infos["player_0"]["illegal"]


@pytest.mark.parametrize("action, error", [(-1, ValueError), (22, ValueError), (1.5, TypeError), (True, TypeError)])
def test_bad_actions_raise_and_change_nothing(action, error):
    env = VersusOpponentEnv()
    env.reset(seed=1)
    before = env.match.copy()
    with pytest.raises(error):
        env.step(action)
    assert env.match == before


def play_out(env, seed, steps):
    obs, info = env.reset(seed=seed)
    trace = []
    for t in range(steps):
        mask = info["action_mask"]
        obs, reward, terminated, truncated, info = env.step(int(np.flatnonzero(mask)[t % int(mask.sum())]))
        trace.append((obs["field"].tobytes(), obs["opponent_field"].tobytes(), reward, terminated, truncated))
        if terminated or truncated:
            obs, info = env.reset()
    return trace


def test_a_seed_replays_the_match_and_its_opponent():
    for opponent in ("random", "greedy"):
        a = play_out(VersusOpponentEnv(opponent=opponent), 5, 80)
        assert a == play_out(VersusOpponentEnv(opponent=opponent), 5, 80)
        assert a != play_out(VersusOpponentEnv(opponent=opponent), 6, 80)


def test_the_opponent_env_observes_player_0_and_stops_at_max_frames():
    env = VersusOpponentEnv(opponent="greedy", max_frames=900)
    obs, info = env.reset(seed=2)
    while True:
        check_observation(obs, env.match, 0)
        assert 0 in env.match.due()
        obs, reward, terminated, truncated, info = env.step(first_legal(info["action_mask"]))
        if terminated or truncated:
            break
    assert truncated == (not env.match.over) and env.match.frame >= 900 or terminated
    with pytest.raises(ValueError, match="episode is over"):
        env.step(0)


@pytest.mark.parametrize("kwargs, message", [
    (dict(opponent="beam:0"), "width"),
    (dict(opponent="smart"), "bot must be"),
    (dict(colours=5), "colours"),
    (dict(max_frames=0), "max_frames"),
    (dict(opponent="beam:10,depth=4"), "searches 4 pairs"),
    (dict(render_mode="human"), "render_mode"),
])
def test_bad_settings_are_refused_when_made(kwargs, message):
    with pytest.raises(ValueError, match=message):
        VersusOpponentEnv(**kwargs)


def test_random_play_through_the_opponent_env_keeps_its_invariants():
    from conftest import random_play_env

    random_play_env(lambda: VersusOpponentEnv(opponent="random"), seed=3, steps=60)


def test_ansi_rendering_shows_the_clock_and_both_sides():
    env = VersusOpponentEnv(render_mode="ansi")
    env.reset(seed=0)
    env.step(0)
    text = env.render()
    assert text.startswith(f"frame {env.match.frame}  target 70\n")
    assert "P1: score" in text and "P2: score" in text
    assert VersusOpponentEnv().render() is None


@pytest.mark.parametrize("seed", range(6))
def test_random_play_stays_in_the_spaces_and_pays_only_at_the_end(seed):
    env = VersusOpponentEnv(opponent="random", rules=tg.VersusRules(target_points=20, margin_time=5.0))
    obs, info = env.reset(seed=seed)
    rng = np.random.default_rng(seed)
    done = False
    while not done:
        assert env.observation_space.contains(obs)
        assert [HANDS[i] for i in np.flatnonzero(info["action_mask"])] == env.match.legal_hands(0)
        obs, reward, terminated, truncated, info = env.step(int(rng.choice(np.flatnonzero(info["action_mask"]))))
        done = terminated or truncated
        assert terminated == env.match.over and not truncated
        winner = env.match.winner
        assert reward == (0.0 if not terminated or winner is None else 1.0 - 2 * winner)
    assert env.observation_space.contains(obs) and not info["action_mask"].any()
