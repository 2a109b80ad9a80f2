"""sigtrove samples: what rdsamp prints, checked against Record.frames."""

import csv
import io
import math
import os
import pty
import subprocess
import sys
import textwrap

import numpy as np
import pytest
from command import sigtrove
from conftest import RECORDS

import _sigtrove

LAYOUTS = {"columns": [], "csv": ["--csv"], "tsv": ["--tsv"]}


def parse(text, layout):
    """The output's lines as lists of fields."""
    if layout == "csv":
        return list(csv.reader(io.StringIO(text)))
    if layout == "tsv":
        return [line.split("\t") for line in text.splitlines()]
    return [line.split() for line in text.splitlines()]


def number(field):
    return math.nan if field == "NaN" else float(field)


# record, -f, -t, -s, what Record.frames takes for them, layout
CASES = [
    ("100", None, None, None, (None, None, None), "columns"),  # the whole record: many blocks
    ("100", "0:10", "0:11.5", None, ("0:10", "0:11.5", None), "csv"),
    ("100", "s100", "s200", ["V5", "0", "V5"], ("s100", "s200", ["V5", 0, "V5"]), "tsv"),
    ("100", "1799.9", "e", ["MLII"], ("1799.9", "e", ["MLII"]), "columns"),
    ("100", "40:00", None, None, ("40:00", None, None), "columns"),  # past the end: nothing
    ("100-no-len", "29:59", None, ["1"], ("29:59", None, [1]), "columns"),  # length from the data
    ("s0010_re", None, "2", ["14", "iii", "0"], (None, "2", [14, "iii", 0]), "csv"),
    ("xform", "0:58", "e", None, ("0:58", "e", None), "columns"),  # several samples per frame; baselines
    ("xform", "[22:00:33]", "[22:00:34.5]", ["ABP"], ("[22:00:33]", "[22:00:34.5]", ["ABP"]), "csv"),  # clock
    ("binformats", None, None, ["4", "2", "9"], (None, None, [4, 2, 9]), "csv"),  # 8- to 32-bit formats
    ("flacformats", None, None, None, (None, None, None), "tsv"),
    ("a103l", "1:00", "1:01", None, ("1:00", "1:01", None), "columns"),  # gains of thousands
    ("3000003_0003", None, None, None, (None, None, None), "columns"),  # gains below 100
    ("s25047/s25047-2704-05-04-10-44", "3:00", "3:30", None, ("3:00", "3:30", None), "columns"),  # invalid samples
]


def arguments(name, start, stop, signals, layout, physical):
    args = ["samples", RECORDS / name]
    if start is not None:
        args += ["-f", start]
    if stop is not None:
        args += ["-t", stop]
    if signals is not None:
        args += ["-s", *signals]
    return args + LAYOUTS[layout] + (["-p"] if physical else [])


@pytest.mark.parametrize("physical", [False, True], ids=["stored", "physical"])
@pytest.mark.parametrize("name, start, stop, signals, window, layout", CASES)
def test_samples_equal_the_frames(name, start, stop, signals, window, layout, physical):
    result = sigtrove(*arguments(name, start, stop, signals, layout, physical))
    assert result.returncode == 0, result.stderr
    assert result.stderr == ""
    record = _sigtrove.Record(str(RECORDS / name))
    first, _ = record.window(window[0], window[1])
    wanted = record.frames(window[0], window[1], window[2], physical=physical)
    rows = parse(result.stdout, layout)
    assert [int(row[0]) for row in rows] == list(range(first, first + len(wanted)))
    assert all(len(row) == 1 + wanted.shape[1] for row in rows)
    if not physical:
        assert np.array_equal(np.array([row[1:] for row in rows], dtype=np.int64).reshape(wanted.shape), wanted)
        return
    printed = np.array([[number(f) for f in row[1:]] for row in rows]).reshape(wanted.shape)
    stored = record.frames(window[0], window[1], window[2], physical=False)
    for column, signal in enumerate(window[2] if window[2] is not None else range(record.nsig)):
        signal = record.signal_names.index(signal) if isinstance(signal, str) else signal
        gain = record.signals[signal].gain or 200.0
        texts = [row[1 + column] for row in rows]
        places = {len(t.partition(".")[2]) for t in texts if t != "NaN"}
        if not places:
            continue  # nothing printed, or every sample invalid
        assert len(places) == 1, "one precision per signal"
        places = places.pop()
        # Within half a unit of the last decimal printed, NaN where the sample is invalid ...
        got, exact = printed[:, column], wanted[:, column]
        assert np.array_equal(np.isnan(got), np.isnan(exact))
        assert np.all(np.abs(got - exact)[~np.isnan(exact)] <= 0.5 * 10.0**-places + 1e-12)
        # ... with decimals enough that values one ADC step apart print apart, and no more.
        pairs = set(zip(stored[:, column].tolist(), texts))
        assert len(pairs) == len({v for v, _ in pairs}) == len({t for _, t in pairs})
        assert 10.0**-places <= 1 / gain * (1 + 1e-9)
        assert places == 0 or 10.0 ** -(places - 1) > 1 / gain


@pytest.mark.parametrize(
    "name, signal, text",
    [
        ("100", 1, "-0.065"),  # gain 200: steps of 0.005
        ("s0010_re", 14, "-0.0090"),  # gain 2000: steps of 0.0005, trailing zero kept
        ("a103l", 1, "0.86759"),  # gain 10520
        ("3000003_0003", 0, "-0.17"),  # gain 29: steps of 0.034
    ],
)
def test_the_precision_follows_the_gain(name, signal, text):
    result = sigtrove("samples", RECORDS / name, "-t", "s1", "-s", signal, "-p")
    assert parse(result.stdout, "columns") == [["0", text]]


@pytest.mark.parametrize(
    "layout, physical, lines",
    [
        ("columns", False, ["sample   MLII     V5", "number    adu    adu", "  3600"]),
        ("columns", True, ["sample   MLII     V5", "number     mV     mV", "  3600 -0.390 -0.275"]),
        ("tsv", True, ["sample\tMLII\tV5", "number\tmV\tmV", "3600\t-0.390\t-0.275"]),
    ],
)
def test_the_header_names_the_signals_and_their_units(layout, physical, lines):
    result = sigtrove(
        "samples",
        RECORDS / "100",
        "-f",
        "10",
        "-t",
        "s3601",
        "--header",
        *LAYOUTS[layout],
        *(["-p"] if physical else []),
    )
    assert result.returncode == 0, result.stderr
    got = result.stdout.splitlines()
    assert got[:2] == lines[:2]
    assert got[2].startswith(lines[2]) and len(got) == 3


def test_csv_quotes_names_that_hold_commas():
    result = sigtrove("samples", RECORDS / "binformats", "-t", "s1", "-s", "0", "9", "--csv", "--header")
    assert parse(result.stdout, "csv")[0] == ["sample", "sig 0, fmt 8", "sig 9, fmt 32"]


def test_aligned_columns_stay_aligned_across_values_and_blocks():
    lines = sigtrove("samples", RECORDS / "100", "-f", "s65530", "-t", "s65540", "-p", "--header").stdout.splitlines()
    assert len({len(line) for line in lines}) == 1


PEAK_MEMORY = textwrap.dedent("""
    import resource, subprocess, sys
    with open(sys.argv[1], "w") as out:
        status = subprocess.run([sys.executable, "-m", "sigtrove", "samples", *sys.argv[2:]], stdout=out).returncode
    print(status, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss // 1024)
""")


def peak_memory(out, *args):
    """The exit status and peak memory (MB) of a samples command writing into the file `out`."""
    result = subprocess.run(
        [sys.executable, "-c", PEAK_MEMORY, str(out), *map(str, args)], capture_output=True, text=True, timeout=600
    )
    status, peak = map(int, result.stdout.split())
    assert status == 0, result.stderr
    return peak


@pytest.mark.skipif(
    "libasan" in os.environ.get("LD_PRELOAD", ""),
    reason="the sanitizer's quarantine keeps freed blocks: memory is not the program's",
)
def test_a_day_long_record_is_read_in_blocks(tmp_path):
    # Four signals of 3 million frames: 96 MB as one float64 array, more as text. The output streams
    # through a process whose memory grows by a small part of that over printing one second.
    frames = 3_000_000
    np.zeros((frames, 4), dtype=np.int8).tofile(tmp_path / "long.dat")
    (tmp_path / "long.hea").write_text(
        "long 4 360 %d\n" % frames + "".join("long.dat 80 200 8 0 0 0 0 s%d\n" % i for i in range(4))
    )
    second = peak_memory(tmp_path / "second.txt", tmp_path / "long", "-p", "-t", "1")
    whole = peak_memory(tmp_path / "whole.txt", tmp_path / "long", "-p")
    with open(tmp_path / "whole.txt") as out:
        assert sum(1 for _ in out) == frames
    assert whole - second < 40, "%d MB for the whole record, %d MB for a second of it" % (whole, second)


def run_on_terminal(args, stdout_is_terminal, out_path):
    """Runs the command with standard error on a pseudo-terminal, and standard output on it too or
    into a file; returns its exit status, what reached the terminal and what reached the file."""
    controller, terminal = pty.openpty()
    with open(out_path, "wb") as out:
        process = subprocess.Popen(
            [sys.executable, "-m", "sigtrove", *map(str, args)],
            stdin=subprocess.DEVNULL,
            stdout=terminal if stdout_is_terminal else out,
            stderr=terminal,
        )
    os.close(terminal)
    shown = b""
    while True:
        try:
            chunk = os.read(controller, 65536)
        except OSError:  # EIO: the terminal closed with the process
            break
        if not chunk:
            break
        shown += chunk
    os.close(controller)
    process.wait(timeout=300)
    return process.returncode, shown, out_path.read_bytes()


def test_the_progress_bar_shows_on_the_terminal_while_the_output_goes_to_a_file(tmp_path):
    status, shown, written = run_on_terminal(["samples", RECORDS / "100", "-t", "5:00"], False, tmp_path / "out")
    assert status == 0
    assert b"samples" in shown and b"108000/108000 frames" in shown and b"100%" in shown
    assert shown.endswith(b"\r\x1b[K"), "the bar is cleared at the end"
    assert written.count(b"\n") == 108000 and b"%" not in written


def test_no_progress_bar_when_the_output_is_on_the_terminal_too(tmp_path):
    status, shown, _ = run_on_terminal(["samples", RECORDS / "100", "-t", "0.1"], True, tmp_path / "out")
    assert status == 0
    assert b"frames" not in shown and b"%" not in shown and shown.count(b"\n") == 36


def test_no_progress_bar_when_standard_error_is_not_a_terminal():
    result = sigtrove("samples", RECORDS / "100", "-t", "5:00")
    assert result.returncode == 0 and result.stderr == ""


def test_the_record_files_are_left_as_they_were(tmp_path):
    for name in ("100.hea", "100.dat"):
        (tmp_path / name).write_bytes((RECORDS / name).read_bytes())
    before = {p.name: (p.read_bytes(), p.stat().st_mtime_ns) for p in tmp_path.iterdir()}
    assert sigtrove("samples", "100", "-t", "1", "-p", cwd=tmp_path).returncode == 0
    assert {p.name: (p.read_bytes(), p.stat().st_mtime_ns) for p in tmp_path.iterdir()} == before
