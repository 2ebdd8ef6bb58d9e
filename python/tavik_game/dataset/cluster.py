"""Many independent jobs over Dask workers (or in this process), the same results whatever the
number of workers; and the local cluster a command starts for itself."""

from __future__ import annotations

import contextlib
from collections.abc import Callable, Generator, Iterator, Sequence
from typing import Any, Optional, TypeVar

J = TypeVar("J")
R = TypeVar("R")

# Settings of the cluster a command starts itself. This process (scheduler and
# client) and the workers share the machine's cores, so Dask's own background
# work comes out of the throughput: the workers' sampling profiler (a stack
# walk every 10 ms), compression of results already compressed, and event-loop
# ticks and heartbeats at their defaults of a few tens of milliseconds, cost a
# tenth of the CPU of a two-worker run together.
LOCAL_CLUSTER_CONFIG = {
    "distributed.worker.profile.enabled": False,
    "distributed.comm.compression": False,
    "distributed.admin.tick.interval": "1s",
    "distributed.client.heartbeat": "5s",
    "distributed.worker.memory.monitor-interval": "1s",
    # Each process samples its CPU and memory for the dashboard: every 5 s
    # instead of 0.5 s halves what an idle cluster costs the cores.
    "distributed.admin.system-monitor.interval": "5s",
    # Tasks of equal size, queued on the scheduler: nothing for stealing to balance.
    "distributed.scheduler.work-stealing": False,
}


def worker_count(client: object) -> int:
    info = client.scheduler_info()  # type: ignore[attr-defined]
    return max(1, len(info.get("workers", {})))


@contextlib.contextmanager
def local_client(workers: int) -> Iterator[Any]:
    """A client of a new local cluster of `workers` single-threaded processes, closed on exit."""
    import dask
    import distributed

    # One single-threaded process per worker: the searches release the
    # interpreter lock, but Parquet encoding and task handling do not.
    # The dashboard on a free port: the usual one may be taken by another cluster.
    with dask.config.set(LOCAL_CLUSTER_CONFIG), distributed.LocalCluster(  # type: ignore[no-untyped-call]
        n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=":0"
    ) as cluster, distributed.Client(cluster, direct_to_workers=True) as client:  # type: ignore[no-untyped-call]
        yield client


@contextlib.contextmanager
def open_client(workers: int = 0, scheduler: Optional[str] = None) -> Iterator[Any]:
    """What a command's ``--workers K`` / ``--scheduler ADDRESS`` ask for: None for this process
    (workers 0), a local cluster's client, or a client of the running scheduler. An unreachable
    scheduler is a ConnectionError that names it."""
    if scheduler is not None:
        import distributed

        try:
            client = distributed.Client(scheduler, timeout=10)  # type: ignore[no-untyped-call]
        except OSError as e:
            raise ConnectionError(f"cannot reach the scheduler {scheduler}: {e}") from None
        with client:
            yield client
    elif workers:
        with local_client(workers) as client:
            yield client
    else:
        yield None


def batches(todo: list[int], workers: int) -> list[list[int]]:
    """The jobs to run, cut into tasks that shrink as the run goes on: each
    about half of what is left per worker, so the workers finish together on
    small tasks; none more than a sixteenth of the run, so progress shows.
    A task costs the client and a worker about 5 ms of CPU each."""
    most = max(1, -(-len(todo) // 16))
    out = []
    at = 0
    while at < len(todo):
        size = min(most, max(1, -(-(len(todo) - at) // (2 * max(1, workers)))))
        out.append(todo[at : at + size])
        at += size
    return out


def _run_batch(fn: Callable[[J], R], jobs: list[J]) -> list[R]:
    return [fn(job) for job in jobs]


def run_jobs(
    fn: Callable[[J], R],
    jobs: Sequence[J],
    *,
    client: Any = None,
    workers: int = 0,
    on_start: Optional[Callable[[int], None]] = None,
) -> Generator[tuple[int, R], None, None]:
    """Runs ``fn(job)`` for every job; yields ``(index, result)`` as results come in.

    fn(job) -> result: each job must be independent of the others, and its randomness made from
    the job itself (a seed derived from the run's seed and the job's index), so the results are
    the same whatever the number of workers and the order they finish in. fn and the jobs must
    pickle: a module-level function, or a functools.partial of one. Results come in job order
    without Dask, in completion order otherwise: key them by index (or use map_jobs).

    Where it runs: on `client` (a dask.distributed.Client) if given; else in this process when
    workers is 0, or on a local cluster of `workers` single-threaded processes, started for the
    iteration and closed after it. on_start(n) is called once the n workers are ready (0 in this
    process), before any job: a caller timing throughput starts its clock there. Jobs go in
    tasks of several (see batches()). Closing the iterator early cancels what is left; a job's
    exception is raised here, the other tasks cancelled.
    """
    if client is None and workers == 0:
        if on_start is not None:
            on_start(0)
        for i, job in enumerate(jobs):
            yield i, fn(job)
        return
    import distributed

    with contextlib.ExitStack() as stack:
        c = client if client is not None else stack.enter_context(local_client(workers))
        n = worker_count(c)
        if on_start is not None:
            on_start(n)
        tasks = batches(list(range(len(jobs))), n)
        futures = c.map(_run_batch, [fn] * len(tasks), [[jobs[i] for i in t] for t in tasks], pure=False)
        index = {f.key: t for f, t in zip(futures, tasks)}
        try:
            for future in distributed.as_completed(futures):  # type: ignore[no-untyped-call]
                results = future.result()
                future.release()
                yield from zip(index[future.key], results)
        finally:
            # Nothing left running on a shared cluster once the caller has stopped listening.
            c.cancel([f for f in futures if not f.done()])


def map_jobs(
    fn: Callable[[J], R], jobs: Sequence[J], *, client: Any = None, workers: int = 0
) -> list[R]:
    """run_jobs' results in job order."""
    out: list[Any] = [None] * len(jobs)
    for i, result in run_jobs(fn, jobs, client=client, workers=workers):
        out[i] = result
    return out
