"""Records and annotations as numpy arrays, beside the wfdb package in the same run.

Each read is timed as a user calls it, opening included: `Record(path).frames()` against
`wfdb.rdrecord(path)`. The contenders take turns in every round (so a change in the machine's load
reaches them alike) and the best time of each is kept. Also measured: the peak memory of a
whole-record read (tracemalloc sees numpy's allocations), and reading 8 records on 1 and 2 threads.

    .venv/bin/python -m pip install wfdb      # benchmark dependency only
    .venv/bin/python bench/arrays_benchmark.py [--repeat N]
"""

import argparse
import pathlib
import shutil
import tempfile
import threading
import tracemalloc

import numpy as np
import wfdb
from _timing import best_of_interleaved

import sigtrove

RECORDS = pathlib.Path(__file__).resolve().parent.parent / "tests" / "fixtures" / "records"


def compare(title, ours, theirs, repeat, wanted):
    ours_t, theirs_t = best_of_interleaved(repeat, [ours, theirs])
    print(
        "%-44s sigtrove %8.3f ms   wfdb %8.3f ms   %6.1fx faster (wanted >= %dx)"
        % (title, ours_t * 1e3, theirs_t * 1e3, theirs_t / ours_t, wanted)
    )


def peak_memory(function):
    """The peak of traced allocations during a call (numpy's included)."""
    tracemalloc.start()
    function()
    peak = tracemalloc.get_traced_memory()[1]
    tracemalloc.stop()
    return peak


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=15)
    repeat = parser.parse_args().repeat

    for name in ("100", "s0010_re"):
        path = str(RECORDS / name)
        ours = sigtrove.Record(path).frames()
        theirs = wfdb.rdrecord(path).p_signal
        assert np.allclose(ours, theirs, equal_nan=True)
        compare(
            "Record(%s).frames(), physical" % name,
            lambda: sigtrove.Record(path).frames(),
            lambda: wfdb.rdrecord(path),
            repeat,
            10,
        )
        digital = sigtrove.Record(path).frames(physical=False)
        assert np.array_equal(digital, wfdb.rdrecord(path, physical=False).d_signal)
        compare(
            "Record(%s).frames(physical=False)" % name,
            lambda: sigtrove.Record(path).frames(physical=False),
            lambda: wfdb.rdrecord(path, physical=False),
            repeat,
            5,
        )

    path = str(RECORDS / "100")
    middle = 325000
    window = sigtrove.Record(path).frames(middle, middle + 3600)
    assert np.allclose(window, wfdb.rdrecord(path, sampfrom=middle, sampto=middle + 3600).p_signal)
    compare(
        "10 s window of 100, opening included",
        lambda: sigtrove.Record(path).frames(middle, middle + 3600),
        lambda: wfdb.rdrecord(path, sampfrom=middle, sampto=middle + 3600),
        repeat,
        20,
    )

    annotations = sigtrove.Annotation(path).arrays()
    assert annotations["time"].tolist() == wfdb.rdann(path, "atr").sample.tolist()
    compare(
        "Annotation(100).arrays()",
        lambda: sigtrove.Annotation(path).arrays(),
        lambda: wfdb.rdann(path, "atr"),
        repeat,
        20,
    )

    for name in ("100", "s0010_re"):
        path = str(RECORDS / name)
        output = sigtrove.Record(path).frames().nbytes
        ours = peak_memory(lambda: sigtrove.Record(path).frames())
        theirs = peak_memory(lambda: wfdb.rdrecord(path))
        print(
            "peak memory, whole %-9s sigtrove %7.2f MB (output %.2f MB, +%.3f MB)   wfdb %7.2f MB"
            % (name, ours / 1e6, output / 1e6, (ours - output) / 1e6, theirs / 1e6)
        )

    # 8 records, each a copy of 100 (its own files), read whole on 1 and on 2 threads.
    with tempfile.TemporaryDirectory() as folder:
        paths = []
        for i in range(8):
            for suffix in (".hea", ".dat"):
                text = (RECORDS / ("100" + suffix)).read_bytes()
                if suffix == ".hea":
                    text = text.replace(b"100", b"c%d" % i)
                (pathlib.Path(folder) / ("c%d%s" % (i, suffix))).write_bytes(text)
            paths.append(str(pathlib.Path(folder) / ("c%d" % i)))

        def read_all(chosen):
            for p in chosen:
                sigtrove.Record(p).frames()

        def on_threads(count):
            threads = [threading.Thread(target=read_all, args=(paths[i::count],)) for i in range(count)]
            for t in threads:
                t.start()
            for t in threads:
                t.join()

        one, two = best_of_interleaved(repeat, [lambda: on_threads(1), lambda: on_threads(2)])
        print(
            "8 whole records: 1 thread %.1f ms, 2 threads %.1f ms: %.2fx (wanted <= 0.6x)"
            % (one * 1e3, two * 1e3, two / one)
        )
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
