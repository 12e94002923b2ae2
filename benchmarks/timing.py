"""Timing shared by the single-purpose benchmarks: the best of several runs, in wall-clock seconds."""

import time


def best_of(runs, fn):
    """The shortest time `fn()` takes in `runs` calls."""
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return min(times)
