"""The Gymnasium environments: the checker, replay by seed, vector against single, bad input."""

import warnings
import weakref

import pytest

np = pytest.importorskip("numpy")
gym = pytest.importorskip("gymnasium")

import tavik  # noqa: E402
import tavik_game as tg  # noqa: E402
from conftest import random_play_env, random_play_vector_env  # noqa: E402
from tavik_game.envs import TokopuyoEnv, TokopuyoVectorEnv  # noqa: E402

HANDS = tavik.Hand.enumerate()


def first_legal(mask) -> int:
    return int(np.flatnonzero(mask)[0])


def test_passes_the_gymnasium_checker():
    from gymnasium.utils.env_checker import check_env

    check_env(gym.make("tavik/Tokopuyo-v0", render_mode="rgb_array").unwrapped, skip_render_check=False)
    check_env(gym.make("tavik/Tokopuyo-v0", colours=3, visible=2, max_pairs=5).unwrapped)


def test_observation_and_mask_follow_the_game():
    env = TokopuyoEnv(visible=2)
    obs, info = env.reset(seed=4)
    for _ in range(30):
        game = env.game
        np.testing.assert_array_equal(obs["field"], tg.observe([game.field])[0])
        for k, pair in enumerate(game.pairs):
            assert obs["pairs"][k, 0].tolist() == [int(pair.child == 4 + c) for c in range(4)]
            assert obs["pairs"][k, 1].tolist() == [int(pair.axis == 4 + c) for c in range(4)]
        assert info["action_mask"].dtype == np.int8
        assert [HANDS[i] for i in np.flatnonzero(info["action_mask"])] == game.legal_hands()
        action = int(np.flatnonzero(info["action_mask"])[-1])
        move = game.play(HANDS[action])
        obs, reward, terminated, truncated, info = env.step(action)
        assert (reward, terminated, info["chain"], info["illegal"]) == (move.score, move.over, move.chain, False)
        if terminated:
            break


def play_out(env, seed, policy, steps):
    obs, info = env.reset(seed=seed)
    trace = []
    for t in range(steps):
        obs, reward, terminated, truncated, info = env.step(policy(t, info["action_mask"]))
        trace.append((obs["field"].tobytes(), reward, terminated, truncated))
        if terminated or truncated:
            obs, info = env.reset()
    return trace


def test_a_seed_replays_the_episode_and_unseeded_resets_continue_a_seed_chain():
    env = TokopuyoEnv(max_pairs=7)
    policy = lambda t, mask: int(np.flatnonzero(mask)[t % int(mask.sum())])  # noqa: E731
    assert play_out(env, 11, policy, 40) == play_out(TokopuyoEnv(max_pairs=7), 11, policy, 40)
    assert play_out(env, 11, policy, 40) != play_out(env, 12, policy, 40)


def test_truncation_and_illegal_actions_end_the_episode():
    env = TokopuyoEnv(max_pairs=3)
    _, info = env.reset(seed=0)
    flags = [env.step(first_legal(info["action_mask"]))[2:4] for _ in range(3)]
    assert flags == [(False, False), (False, False), (False, True)]
    with pytest.raises(ValueError, match="episode is over"):
        env.step(0)

    env = TokopuyoEnv()
    _, info = env.reset(seed=0)
    # Fill column 2 (hand index 1 places TOP at x=2) until a hand is illegal.
    while info["action_mask"].all():
        _, _, terminated, _, info = env.step(1)
        assert not terminated
    bad = int(np.flatnonzero(info["action_mask"] == 0)[0])
    before = env.game
    _, reward, terminated, truncated, info = env.step(bad)
    assert (reward, terminated, truncated, info["illegal"]) == (0, True, False, True)
    assert env.game.field == before.field


@pytest.mark.parametrize("action", [-1, 22, 2**70])
def test_out_of_range_actions_raise_and_change_nothing(action):
    env = TokopuyoEnv()
    env.reset(seed=1)
    before = env.game
    with pytest.raises(ValueError, match="outside 0..21"):
        env.step(action)
    assert env.game.field == before.field and env.game.turn == before.turn


def test_vector_env_plays_the_same_episodes_as_single_envs():
    n, steps = 5, 60
    envs = TokopuyoVectorEnv(n, threads=2, max_pairs=9)
    singles = [TokopuyoEnv(max_pairs=9) for _ in range(n)]
    obs, info = envs.reset(seed=100)
    single = [e.reset(seed=100 + i) for i, e in enumerate(singles)]
    done = [False] * n
    rng = np.random.default_rng(0)
    for _ in range(steps):
        for i in range(n):
            np.testing.assert_array_equal(obs["field"][i], single[i][0]["field"])
            np.testing.assert_array_equal(obs["pairs"][i], single[i][0]["pairs"])
            np.testing.assert_array_equal(info["action_mask"][i], single[i][1]["action_mask"])
        actions = np.argmax(rng.random((n, 22)) * info["action_mask"], axis=1)
        obs, reward, terminated, truncated, info = envs.step(actions)
        for i, e in enumerate(singles):
            if done[i]:  # next-step autoreset: the vector env resets on this step
                single[i] = e.reset()
                assert (reward[i], terminated[i], truncated[i]) == (0, False, False)
            else:
                o, r, te, tr, inf = e.step(int(actions[i]))
                single[i] = (o, inf)
                assert (reward[i], terminated[i], truncated[i], info["chain"][i]) == (r, te, tr, inf["chain"])
            done[i] = bool(terminated[i] or truncated[i])


@pytest.mark.parametrize("threads", [1, 2])
def test_vector_env_matches_gymnasiums_own_vector_env_of_single_envs(threads):
    """Same seeds, same actions: every array Gymnasium's SyncVectorEnv returns, autoreset steps included."""
    n = 6
    ours = gym.make_vec("tavik/Tokopuyo-v0", num_envs=n, vectorization_mode="vector_entry_point",
                        threads=threads, max_pairs=6)
    assert isinstance(ours.unwrapped, TokopuyoVectorEnv)
    theirs = gym.vector.SyncVectorEnv([lambda: TokopuyoEnv(max_pairs=6) for _ in range(n)])
    (obs, info), (their_obs, their_info) = ours.reset(seed=30), theirs.reset(seed=30)
    rng = np.random.default_rng(1)
    flags: list = []
    their_flags: list = []
    for step in range(40):
        assert ours.observation_space.contains(obs)
        for key in ("field", "pairs"):
            np.testing.assert_array_equal(obs[key], their_obs[key], err_msg=f"step {step}: {key}")
            assert obs[key].dtype == their_obs[key].dtype == ours.observation_space[key].dtype
        assert info.keys() == their_info.keys()
        for key in their_info:
            np.testing.assert_array_equal(info[key], their_info[key], err_msg=f"step {step}: info[{key!r}]")
            assert info[key].dtype == their_info[key].dtype, key
        for mine, their in zip(flags if step else (), their_flags if step else ()):
            assert mine.dtype == their.dtype
        # Now and then an illegal hand, so some episodes end by termination.
        actions = np.argmax(rng.random((n, 22)) * (info["action_mask"] + (rng.random((n, 22)) < 0.02)), axis=1)
        obs, *flags, info = ours.step(actions)
        their_obs, *their_flags, their_info = theirs.step(actions)
        for mine, their in zip(flags, their_flags):
            assert mine.dtype == their.dtype
            np.testing.assert_array_equal(mine, their, err_msg=f"step {step}")
    ours.close()


@pytest.mark.parametrize("threads, keep_every", [(1, 1), (2, 1), (2, 3)])
def test_vector_env_copies_are_kept_and_match_the_shared_arrays(threads, keep_every):
    """copy=True hands out new arrays at every step, which later steps leave alone, also once the
    steps between are dropped (their memory is used again) and the environment is gone; copy=False
    reuses its own. Both play the same."""
    n = 40
    kept = TokopuyoVectorEnv(n, threads=threads, max_pairs=5)
    shared = TokopuyoVectorEnv(n, threads=1, max_pairs=5, copy=False)
    (obs, info), (s_obs, s_info) = kept.reset(seed=4), shared.reset(seed=4)
    rng = np.random.default_rng(2)
    history = []
    for _ in range(12):
        actions = np.argmax(rng.random((n, 22)) * info["action_mask"], axis=1)
        step = kept.step(actions)
        s_step = shared.step(actions)
        for mine, theirs in zip(step[1:4], s_step[1:4]):
            np.testing.assert_array_equal(mine, theirs)
        for key in ("field", "pairs"):
            np.testing.assert_array_equal(step[0][key], s_step[0][key])
        assert sorted(step[4]) == sorted(s_step[4])
        for key in step[4]:
            np.testing.assert_array_equal(step[4][key], s_step[4][key])
        assert s_step[0]["field"] is s_obs["field"] and s_step[4]["action_mask"] is s_info["action_mask"]
        if len(history) % keep_every == 0:
            history.append((step, {k: v.copy() for k, v in step[0].items()}, step[1].copy()))
        else:
            history.append(None)
        obs, info = step[0], step[4]
        del step
    del kept, obs, info
    for entry in filter(None, history):
        step, obs_then, reward_then = entry
        for key in ("field", "pairs"):
            np.testing.assert_array_equal(step[0][key], obs_then[key])
        np.testing.assert_array_equal(step[1], reward_then)


@pytest.mark.parametrize("threads, copy, keep", [(1, True, False), (2, True, False), (2, False, False), (2, True, True)])
def test_vector_env_step_that_resets_every_game_reports_no_moves(threads, copy, keep):
    """One pair per episode: every game ends at once, the next step resets them all (its info
    then has no illegal or chain entries, as Gymnasium's vector envs leave out keys no env set),
    and the step after plays again. Keeping every step's result makes each step's arrays anew
    (none are handed out again), the played flags of a step that resets all among them."""
    n = 20
    envs = TokopuyoVectorEnv(n, threads=threads, max_pairs=1, copy=copy)
    envs.reset(seed=5)
    actions = np.full(n, 2)
    kept = []
    for _ in range(4 if keep else 0):  # more steps than the environment keeps sets of arrays
        kept.append(envs.step(actions))
    _, reward, terminated, truncated, info = step = envs.step(actions)
    kept.append(step)
    assert truncated.all() and not terminated.any() and set(info) >= {"illegal", "_illegal", "chain", "_chain"}
    _, reward, terminated, truncated, info = step = envs.step(actions)
    kept.append(step)
    assert set(info) == {"action_mask", "_action_mask"}
    assert not reward.any() and not terminated.any() and not truncated.any()
    assert [envs.game(i).turn for i in range(n)] == [0] * n
    _, _, _, truncated, info = envs.step(actions)
    assert truncated.all() and info["_illegal"].all() and info["_chain"].all()


def test_vector_env_uses_the_memory_of_dropped_steps_again():
    """A step's arrays share one block, which goes back to the environment once they are all
    dropped: stepping without keeping anything must not take new memory at every step."""
    envs = TokopuyoVectorEnv(64, threads=2)
    envs.reset(seed=1)
    actions = np.zeros(64, np.int64)
    blocks = set()
    for _ in range(50):
        obs, reward, *_ = envs.step(actions)
        assert obs["field"].base is reward.base and obs["field"].flags.writeable
        blocks.add(obs["field"].__array_interface__["data"][0])
        del obs, reward, _
    assert len(blocks) <= 3


def _alter_shape(step):
    step[4]["action_mask"].shape = (-1,)


def _alter_dtype(step):
    step[0]["field"].dtype = np.uint8


def _alter_writeable(step):
    step[1].flags.writeable = False


@pytest.mark.parametrize("alter", [_alter_shape, _alter_dtype, _alter_writeable])
def test_vector_env_hands_out_dropped_arrays_again_only_as_they_were_made(alter):
    """The arrays of a dropped step are handed out again (the same objects); one the caller
    reshaped, retyped or made read-only before dropping it is replaced by a new one."""
    envs = TokopuyoVectorEnv(16, threads=2)
    _, info = envs.reset(seed=3)
    actions = np.argmax(info["action_mask"], axis=1)
    seen = set()
    for i in range(12):
        step = envs.step(actions)
        obs, reward, terminated, truncated, info = step
        assert obs["field"].shape == (16, 5, 13, 6) and obs["field"].dtype == np.int8
        assert info["action_mask"].shape == (16, 22) and info["action_mask"].dtype == np.int8
        assert all(a.flags.writeable for a in (obs["field"], reward, info["action_mask"]))
        seen.add(id(obs["field"]))
        actions = np.argmax(info["action_mask"], axis=1)
        if i == 5:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", DeprecationWarning)  # NumPy 2.5 deprecates these setters
                try:
                    alter(step)
                except (AttributeError, TypeError, ValueError):
                    pytest.skip("this NumPy refuses to change an array in place")
        del step, obs, reward, terminated, truncated, info
    assert len(seen) <= 4


@pytest.mark.parametrize("hold", ["weakref", "base"])
def test_vector_env_leaves_alone_a_step_held_without_its_arrays(hold):
    """A weak reference to an array, or the block under the arrays, keeps the step's data as it was."""
    envs = TokopuyoVectorEnv(16, threads=2)
    obs, info = envs.reset(seed=3)
    step = envs.step(np.argmax(info["action_mask"], axis=1))
    then = step[0]["field"].copy()
    held = weakref.ref(step[0]["field"]) if hold == "weakref" else step[0]["field"].base
    info = step[4]
    del step
    for _ in range(8):
        _, _, _, _, info = envs.step(np.argmax(info["action_mask"], axis=1))
    data = held() if hold == "weakref" else np.frombuffer(held, np.uint8)[: then.size].reshape(then.shape)
    if data is not None:
        np.testing.assert_array_equal(data, then)


@pytest.mark.parametrize(
    "form",
    [list, lambda a: a.astype(np.int32), lambda a: a.astype(">i8"), lambda a: np.repeat(a, 2)[::2]],
    ids=["list", "int32", "big-endian", "strided"],
)
def test_vector_env_takes_actions_in_any_integer_form(form):
    actions = np.array([0, 5, 21, 3], np.int64)
    plain, other = TokopuyoVectorEnv(4, threads=2), TokopuyoVectorEnv(4, threads=2)
    plain.reset(seed=9), other.reset(seed=9)
    for want, got in zip(plain.step(actions)[1:4], other.step(form(actions))[1:4]):
        np.testing.assert_array_equal(want, got)
    assert [plain.game(i) for i in range(4)] == [other.game(i) for i in range(4)]


@pytest.mark.parametrize(
    "call, error, text",
    [
        (lambda e: e.step([0, 1, 22]), ValueError, "action 22 of environment 2 is outside 0..21"),
        (lambda e: e.step([0, -1, 0]), ValueError, "action -1 of environment 1"),
        (lambda e: e.step([0, 1]), ValueError, r"actions must be .* of shape \(3,\), .* of shape \(2,\)"),
        (lambda e: e.step(np.zeros((3, 1), np.int64)), ValueError, r"of shape \(3,\), .* of shape \(3, 1\)"),
        (lambda e: e.step([0.0, 1.0, 2.0]), TypeError, "integer actions"),
        (lambda e: e.reset(seed=[1, 2]), ValueError, "2 seeds for 3 environments"),
        (lambda e: e.reset(seed=-1), ValueError, "seeds must be ints from 0"),
    ],
)
def test_vector_env_refuses_bad_arguments_and_changes_nothing(call, error, text):
    envs = TokopuyoVectorEnv(3, threads=1, copy=False)
    obs, _ = envs.reset(seed=0)
    envs.step(np.array([1, 2, 3]))
    before = [envs.game(i) for i in range(3)]
    field = obs["field"].copy()
    with pytest.raises(error, match=text):
        call(envs)
    assert [envs.game(i) for i in range(3)] == before
    np.testing.assert_array_equal(obs["field"], field)


def test_renderings():
    env = TokopuyoEnv(render_mode="rgb_array")
    env.reset(seed=2)
    env.step(0)
    image = env.render()
    assert image.dtype == np.uint8 and image.ndim == 3 and image.shape[2] == 3
    assert image.shape[0] >= 14 * 16 and image.shape[1] >= 6 * 16
    red, blue = (255, 0, 0), (0, 0, 255)
    colours = {tuple(c) for c in image.reshape(-1, 3)}
    assert red in colours or blue in colours or (255, 255, 0) in colours or (0, 128, 0) in colours
    text = TokopuyoEnv(render_mode="ansi")
    text.reset(seed=2)
    out = text.render()
    assert "\x1b[" in out and "next:" in out


@pytest.mark.parametrize("call", ["step", "reset", "game", "render"])
def test_a_closed_vector_env_says_so(call):
    envs = TokopuyoVectorEnv(2, threads=1, render_mode="ansi")
    envs.reset(seed=1)
    envs.close()
    calls = {"step": lambda: envs.step(np.zeros(2, np.int64)), "reset": lambda: envs.reset(seed=1),
             "game": lambda: envs.game(0), "render": envs.render}
    with pytest.raises(ValueError, match="the environment is closed"):
        calls[call]()


def _arrays(result):
    """Every array in a step's or reset's result, with where it came from."""
    found = []
    for part, value in enumerate(result):
        items = value.items() if isinstance(value, dict) else [(None, value)]
        found += [(f"{part}:{key}", a) for key, a in items if isinstance(a, np.ndarray)]
    return found


@pytest.mark.parametrize("threads", [1, 2])
def test_copies_share_memory_with_nothing_else(threads):
    """With copy=True, no array of a kept result aliases another key, another kept result, or
    the environment's own arrays, and a caller writing into one changes no later result."""
    envs, twin = (TokopuyoVectorEnv(8, threads=threads, max_pairs=5) for _ in range(2))
    own = list(envs._core.outputs().values())
    result, twin_result = envs.reset(seed=2), twin.reset(seed=2)
    kept = []
    rng = np.random.default_rng(3)
    for _ in range(12):
        arrays, twin_arrays = _arrays(result), _arrays(twin_result)
        assert [w for w, _ in arrays] == [w for w, _ in twin_arrays]
        for (where, a), (_, b) in zip(arrays, twin_arrays):
            np.testing.assert_array_equal(a, b, err_msg=where)
        actions = np.argmax(rng.random((8, 22)) * result[-1]["action_mask"], axis=1)
        for _, a in arrays:
            a.fill(0)  # the caller's scratch now
        kept += arrays
        result, twin_result = envs.step(actions), twin.step(actions)
    for i, (where, a) in enumerate(kept):
        for other, b in kept[i + 1:]:
            assert not np.shares_memory(a, b), (where, other)
        for b in own:
            assert not np.shares_memory(a, b), where


def test_a_huge_num_envs_is_refused_before_anything_is_made():
    import tracemalloc

    tracemalloc.start()
    try:
        with pytest.raises(ValueError, match="num_envs"):
            TokopuyoVectorEnv(2**31, threads=1)
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    assert peak < 1 << 20


@pytest.mark.parametrize("kwargs", [{}, {"colours": 3, "visible": 1, "max_pairs": 7}, {"visible": 5}])
def test_random_play_through_the_single_env_keeps_its_invariants(kwargs):
    random_play_env(lambda: TokopuyoEnv(**kwargs), seed=11)


@pytest.mark.parametrize(
    "kwargs",
    [{"threads": 1}, {"threads": 2, "max_pairs": 6}, {"threads": 2, "copy": False, "colours": 3, "visible": 2}],
)
def test_random_play_through_the_vector_env_keeps_its_invariants(kwargs):
    random_play_vector_env(lambda: TokopuyoVectorEnv(6, **kwargs), seed=5)
