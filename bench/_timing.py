"""The timing rule every benchmark here uses."""

import time


def best_of_interleaved(repeat, functions):
    """The best time of each function, the functions taking turns in every round so that a change in
    the machine's load reaches them all alike."""
    best = [float("inf")] * len(functions)
    for _ in range(repeat):
        for i, function in enumerate(functions):
            start = time.perf_counter()
            function()
            best[i] = min(best[i], time.perf_counter() - start)
    return best
