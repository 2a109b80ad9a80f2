"""Reads a whole signal of the longest shared record (MIT-BIH 100: 650000 samples) with
Record.read in both modes, with the wfdb package, and builds the same list from a C array
(the floor of any reader that returns a list). Prints times and ratios.

    .venv/bin/python -m pip install wfdb      # benchmark dependency only
    .venv/bin/python bench/read_benchmark.py [--repeat N]
"""

import argparse
import array
import os
import pathlib
import time

import _sigtrove

RECORD = pathlib.Path(__file__).resolve().parent.parent / "tests" / "fixtures" / "records" / "100"


def best_of(repeat, function):
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        function()
        best = min(best, time.perf_counter() - start)
    return best


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=5)
    options = parser.parse_args()

    record = _sigtrove.Record(str(RECORD))
    raw = record.read(0, correct_gain=False)
    floats = record.read(0)
    ints_array = array.array("i", raw)
    floats_array = array.array("d", floats)
    rows = [
        ("list from a C array (int)", best_of(options.repeat, ints_array.tolist)),
        ("list from a C array (float)", best_of(options.repeat, floats_array.tolist)),
        ("Record.read, ADC units", best_of(options.repeat, lambda: record.read(0, correct_gain=False))),
        ("Record.read, physical units", best_of(options.repeat, lambda: record.read(0))),
    ]
    try:
        import wfdb
    except ImportError:
        wfdb = None
    if wfdb is not None:
        def with_wfdb_digital():
            return wfdb.rdrecord(str(RECORD), channels=[0], physical=False).d_signal[:, 0].tolist()

        def with_wfdb_physical():
            return wfdb.rdrecord(str(RECORD), channels=[0]).p_signal[:, 0].tolist()

        assert with_wfdb_digital() == [v + 1024 for v in raw]
        rows.append(("wfdb package, digital", best_of(options.repeat, with_wfdb_digital)))
        rows.append(("wfdb package, physical", best_of(options.repeat, with_wfdb_physical)))

    reference = dict(rows)["Record.read, ADC units"]
    print("%d samples of signal 0 of %s, best of %d" % (len(raw), os.path.basename(RECORD), options.repeat))
    for name, seconds in rows:
        print("%-32s %8.2f ms   %6.2fx Record.read (ADC)" % (name, seconds * 1000, seconds / reference))
    if wfdb is None:
        print("(install the wfdb package to compare with it)")


if __name__ == "__main__":
    main()
