"""What two busy processes get done on this machine against one, measured now.

A virtual machine's two cores may be two threads of one physical core, or shared with other
tenants: two busy processes then do less than twice the work of one, and how much less
depends on the work. Two processes share nothing, so the ratio they reach on the bench's own
work bounds what two threads or two workers can reach on it; the benches print it beside their
own two-thread or two-worker ratios.
"""

from __future__ import annotations

import multiprocessing as mp
import statistics
import time
from typing import Any, Callable


def _child(start: Any, out: Any, work: Callable[..., float], args: tuple) -> None:
    start.wait()
    out.put(work(*args))


def _run(ctx: Any, processes: int, work: Callable[..., float], args: tuple) -> list[float]:
    start, out = ctx.Event(), ctx.Queue()
    children = [ctx.Process(target=_child, args=(start, out, work, args)) for _ in range(processes)]
    for c in children:
        c.start()
    time.sleep(1.0)  # every child imported and waiting
    start.set()
    rates = [out.get() for _ in children]
    for c in children:
        c.join()
    return rates


def spin(n: int = 3_000_000) -> float:
    """A plain interpreter loop; its rate."""
    t = time.perf_counter()
    x = 0
    for i in range(n):
        x += i
    return n / (time.perf_counter() - t)


def two_process_ratio(work: Callable[..., float] = spin, *args: Any, rounds: int = 3) -> float:
    """The summed rates of two processes running work(*args) at once, in units of one process
    alone (2.0 on two free cores). `work` returns its own rate and must be importable by a new
    interpreter (a module-level function). Median of `rounds`, each one alone then a pair."""
    ctx = mp.get_context("spawn")  # a fork of a process with threads may copy held locks
    ratios = []
    for _ in range(rounds):
        (alone,) = _run(ctx, 1, work, args)
        ratios.append(sum(_run(ctx, 2, work, args)) / alone)
    return statistics.median(ratios)


if __name__ == "__main__":
    print(f"two busy processes, plain interpreter loop: {two_process_ratio():.2f} times the work of one")
