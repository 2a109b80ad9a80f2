"""Reads an EDF file of an hour of 23 signals at 256 Hz (as CHB-MIT's files are; written by pyEDFlib
into a temporary folder) with sigtrove, pyEDFlib and MNE in the same run, after checking that they
read the same values. Prints the best times, the ratios, and the peak memory each read adds.

- the whole file into a float64 array (frames by signals): sigtrove's Record.frames(), pyEDFlib's
  readSignal for every signal into one array, MNE's read_raw_edf(preload=True);
- opening the file and reading a 10-second window: sigtrove, and MNE without preload
  (read_raw_edf, then get_data over the window).

    .venv/bin/python bench/edf_benchmark.py [--repeat N] [--seconds S]

Memory is how far one whole read raises the peak resident size of a fresh process that has imported
only that reader (each reader in its own child process, so one reader's freed memory can not hide
another's peak); the output array alone is frames x signals x 8 bytes.
"""

import argparse
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

import numpy as np
from _timing import best_of_interleaved

SIGNALS = 23
RATE = 256


def write_file(path, seconds):
    import pyedflib

    rng = np.random.default_rng(1)
    writer = pyedflib.EdfWriter(str(path), SIGNALS, file_type=pyedflib.FILETYPE_EDFPLUS)
    writer.setSignalHeaders(
        [
            dict(
                label="EEG %02d" % i,
                dimension="uV",
                sample_frequency=RATE,
                physical_min=-800.0,
                physical_max=800.0,
                digital_min=-32768,
                digital_max=32767,
                transducer="",
                prefilter="",
            )
            for i in range(SIGNALS)
        ]
    )
    # A minute at a time, as a recorder writes; random values so that nothing compresses or repeats.
    for _ in range(0, seconds, 60):
        block = [rng.integers(-32768, 32768, RATE * 60).astype(np.int32) for _ in range(SIGNALS)]
        writer.writeSamples(block, digital=True)
    writer.close()


def read_sigtrove(path):
    import sigtrove

    return sigtrove.Record(str(path)).frames()


def read_pyedflib(path):
    import pyedflib

    reader = pyedflib.EdfReader(str(path))
    try:
        n = reader.getNSamples()[0]
        out = np.empty((n, reader.signals_in_file))
        for i in range(reader.signals_in_file):
            out[:, i] = reader.readSignal(i)
        return out
    finally:
        reader.close()


def read_mne(path):
    import mne

    raw = mne.io.read_raw_edf(str(path), preload=True, verbose="error")
    return raw.get_data().T  # volts, signals by samples in MNE


def window_sigtrove(path, start):
    import sigtrove

    return sigtrove.Record(str(path)).frames(start * RATE, (start + 10) * RATE)


def window_mne(path, start):
    import mne

    raw = mne.io.read_raw_edf(str(path), preload=False, verbose="error")
    return raw.get_data(start=start * RATE, stop=(start + 10) * RATE).T


WHOLE = {"sigtrove": read_sigtrove, "pyEDFlib": read_pyedflib, "MNE preload": read_mne}


def peak_memory(path, reader):
    """The memory one whole read adds to a fresh process: peak resident size minus the size before."""
    module = {"sigtrove": "sigtrove", "pyEDFlib": "pyedflib", "MNE preload": "mne"}[reader]
    code = (
        "import json, sys; sys.path.insert(0, %r); import edf_benchmark as b; import %s;"
        # The peak of this process's memory (VmHWM): ru_maxrss would carry over the parent's across exec.
        "peak = lambda: 1024 * int([l for l in open('/proc/self/status') if l.startswith('VmHWM')][0].split()[1]);"
        "before = peak(); b.WHOLE[%r](%r); print(json.dumps([before, peak()]))"
    ) % (str(pathlib.Path(__file__).parent), module, reader, str(path))
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    before, peak = json.loads(done.stdout)
    return peak - before


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--seconds", type=int, default=3600)
    options = parser.parse_args()
    folder = pathlib.Path(tempfile.mkdtemp())
    try:
        path = folder / "hour.edf"
        write_file(path, options.seconds)
        frames = options.seconds * RATE
        size = os.path.getsize(path) / 1e6
        print("file: %d signals at %d Hz, %d s, %.1f MB" % (SIGNALS, RATE, options.seconds, size))

        # The same values from every reader (MNE in volts, the others in the file's microvolts).
        ours, theirs, mne_values = read_sigtrove(path), read_pyedflib(path), read_mne(path)
        assert ours.shape == theirs.shape == mne_values.shape == (frames, SIGNALS)
        np.testing.assert_allclose(ours, theirs, rtol=1e-12, atol=1e-9)
        np.testing.assert_allclose(ours * 1e-6, mne_values, rtol=1e-9, atol=1e-12)
        start = options.seconds // 2
        assert np.allclose(window_sigtrove(path, start) * 1e-6, window_mne(path, start), rtol=1e-9, atol=1e-12)

        names = list(WHOLE)
        times = best_of_interleaved(options.repeat, [lambda f=WHOLE[n]: f(path) for n in names])
        print("\nwhole file into float64 (best of %d):" % options.repeat)
        for name, seconds in zip(names, times):
            print("  %-12s %8.3f s   %6.1fx sigtrove's time" % (name, seconds, seconds / times[0]))

        windows = best_of_interleaved(
            options.repeat * 10, [lambda: window_sigtrove(path, start), lambda: window_mne(path, start)]
        )
        print("\nopen + 10-s window (best of %d):" % (options.repeat * 10))
        print("  %-12s %8.2f ms" % ("sigtrove", windows[0] * 1e3))
        print("  %-12s %8.2f ms   %6.1fx sigtrove's time" % ("MNE", windows[1] * 1e3, windows[1] / windows[0]))

        output = frames * SIGNALS * 8
        print("\npeak memory a whole read adds (the float64 output alone is %.0f MB):" % (output / 1e6))
        for name in names:
            added = peak_memory(path, name)
            print("  %-12s %8.0f MB   %5.2fx the output" % (name, added / 1e6, added / output))
    finally:
        shutil.rmtree(folder)


if __name__ == "__main__":
    main()
