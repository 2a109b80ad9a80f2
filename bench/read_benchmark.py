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

from _timing import best_of_interleaved

import _sigtrove

RECORD = pathlib.Path(__file__).resolve().parent.parent / "tests" / "fixtures" / "records" / "100"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=5)
    options = parser.parse_args()

    record = _sigtrove.Record(str(RECORD))
    raw = record.read(0, correct_gain=False)
    floats = record.read(0)
    ints_array = array.array("i", raw)
    floats_array = array.array("d", floats)
    candidates = [
        ("list from a C array (int)", ints_array.tolist),
        ("list from a C array (float)", floats_array.tolist),
        ("Record.read, ADC units", lambda: record.read(0, correct_gain=False)),
        ("Record.read, physical units", lambda: record.read(0)),
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
        candidates.append(("wfdb package, digital", with_wfdb_digital))
        candidates.append(("wfdb package, physical", with_wfdb_physical))
    times = best_of_interleaved(options.repeat, [function for _, function in candidates])
    rows = [(name, seconds) for (name, _), seconds in zip(candidates, times)]

    measured = dict(rows)
    print("%d samples of signal 0 of %s, best of %d" % (len(raw), os.path.basename(RECORD), options.repeat))
    for name, seconds in rows:
        print("%-32s %8.2f ms" % (name, seconds * 1000))
    print(
        "Record.read / list from a C array: ADC units %.2fx, physical units %.2fx"
        % (
            measured["Record.read, ADC units"] / measured["list from a C array (int)"],
            measured["Record.read, physical units"] / measured["list from a C array (float)"],
        )
    )
    if wfdb is None:
        print("(install the wfdb package to compare with it)")


if __name__ == "__main__":
    main()
