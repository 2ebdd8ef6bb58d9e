import random

import pytest

import tavik

distributed = pytest.importorskip("distributed")
dataset = pytest.importorskip("tavik_game.dataset")


@pytest.fixture(scope="module")
def client():
    # One cluster for the whole module: starting one costs seconds.
    with distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None
    ) as cluster, distributed.Client(cluster) as c:
        yield c


def _random_fields(n, seed):
    rng = random.Random(seed)
    fields = []
    for _ in range(n):
        cols = []
        for _x in range(6):
            h = rng.randrange(0, 10)
            cols.append([rng.randrange(4, 8) for _ in range(h)] + [0] * (14 - h))
        fields.append(tavik.Field.from_array(cols))
    return fields


def _reference(field, depth):
    return max(((f.score, f.chain) for f in field.find_chain_recursive(depth)), default=(0, 0))


@pytest.mark.parametrize("depth", [1, 2])
def test_label_matches_per_field_search(client, depth):
    fields = _random_fields(40 if depth == 1 else 12, seed=depth)
    expected = [_reference(f, depth) for f in fields]
    assert dataset.label(fields, depth) == expected
    assert dataset.label(fields, depth, client=client) == expected
    assert any(score > 0 for score, _ in expected)


def test_label_empty_input(client):
    assert dataset.label([], 1, client=client) == []


@pytest.mark.parametrize(
    ("fields", "depth", "error"),
    [
        ([tavik.Field()], 0, ValueError),
        ([tavik.Field()], True, TypeError),
        ([tavik.Field()], 1.0, TypeError),
        (["not a field"], 1, TypeError),
    ],
)
def test_label_rejects_bad_arguments(fields, depth, error):
    with pytest.raises(error):
        dataset.label(fields, depth)
