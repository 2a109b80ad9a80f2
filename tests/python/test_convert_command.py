"""`sigtrove convert SOURCE DEST`: a record written again in other formats, a window, a choice of
signals, with its annotation files; a progress bar on a terminal; and an interrupted conversion leaves
nothing half written."""

import os
import pty
import signal
import subprocess
import sys
import time

import numpy as np
import pytest
from command import ctrl_c_as_at_a_terminal
from command import sigtrove as run
from conftest import RECORDS

import sigtrove


def files(folder):
    return sorted(p.name for p in folder.iterdir())


def test_a_window_of_chosen_signals_in_another_format_with_the_annotations(tmp_path):
    result = run("convert", RECORDS / "100", tmp_path / "cut", "-f", "0:10", "-t", "0:20", "-s", "V5", "-F", "16")
    assert result.returncode == 0, result.stderr
    assert (result.stdout, result.stderr) == ("", "")
    assert files(tmp_path) == ["cut.aha", "cut.atr", "cut.dat", "cut.hea", "cut.qrs"]
    source, cut = sigtrove.Record(str(RECORDS / "100")), sigtrove.Record(str(tmp_path / "cut"))
    assert cut.signal_names == ("V5",) and cut.signals[0].format == 16
    assert np.array_equal(cut.frames(physical=False), source.frames(3600, 7200, ["V5"], physical=False))
    for annotator in ("atr", "qrs", "aha"):
        whole = sigtrove.Annotation(str(RECORDS / "100"), annotator).arrays(3600, 7200)
        copied = sigtrove.Annotation(str(tmp_path / "cut"), annotator).arrays()
        assert list(copied["time"]) == list(whole["time"] - 3600)
        assert list(copied["symbol"]) == list(whole["symbol"]) and list(copied["aux"]) == list(whole["aux"])


def test_the_annotators_are_those_named(tmp_path):
    assert run("convert", RECORDS / "100", tmp_path / "a", "-t", "1", "-a", "qrs").returncode == 0
    assert files(tmp_path) == ["a.dat", "a.hea", "a.qrs"]
    assert run("convert", RECORDS / "100", tmp_path / "b", "-t", "1", "-a").returncode == 0
    assert files(tmp_path) == ["a.dat", "a.hea", "a.qrs", "b.dat", "b.hea"]
    result = run("convert", RECORDS / "100", tmp_path / "c", "-t", "1", "-a", "nothere")
    assert result.returncode == 1 and "can't read annotator nothere" in result.stderr


def test_what_can_not_be_done_says_why(tmp_path):
    assert run("convert", RECORDS / "100", tmp_path / "r", "-t", "1").returncode == 0
    cases = [
        (["-t", "1"], 1, "record %s exists (--overwrite replaces it)" % (tmp_path / "r")),
        (["-F", "16", "212", "80"], 2, "-F: 3 formats for 2 signals"),
        (["-F", "80", "--overwrite"], 1, "format 80 can not hold"),
        (["-s", "nosuch"], 2, "has no signal named 'nosuch'"),
    ]
    for options, status, text in cases:
        result = run("convert", RECORDS / "100", tmp_path / "r", *options)
        assert result.returncode == status and text in result.stderr, (options, result.stderr)
    result = run("convert", tmp_path / "r", tmp_path / "r", "--overwrite")
    assert result.returncode == 1 and "record being read" in result.stderr
    result = run("convert", RECORDS / "100", tmp_path / "r.edf", "-F", "16")
    assert result.returncode == 2 and "EDF" in result.stderr
    assert files(tmp_path) == ["r.aha", "r.atr", "r.dat", "r.hea", "r.qrs"]


def test_the_progress_bar_shows_on_a_terminal(tmp_path):
    controller, terminal = pty.openpty()
    process = subprocess.Popen(
        [sys.executable, "-m", "sigtrove", "convert", RECORDS / "100", tmp_path / "c", "-F", "16"],
        stdin=subprocess.DEVNULL,
        stdout=subprocess.DEVNULL,
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
    assert process.wait(timeout=300) == 0
    assert b"convert" in shown and b"650000/650000 frames" in shown and shown.endswith(b"\r\x1b[K")


def test_an_interrupted_conversion_leaves_nothing_half_written(tmp_path):
    # A long record, so that the interruption comes while its copy is being written.
    frames = 40_000_000
    source = tmp_path / "source"
    source.mkdir()
    np.zeros(frames, dtype=np.uint8).tofile(source / "long.dat")
    (source / "long.hea").write_text("long 1 360 %d\nlong.dat 80 200 8 0 0 0 0 s\n" % frames)
    out = tmp_path / "out"
    out.mkdir()
    process = subprocess.Popen(
        [sys.executable, "-m", "sigtrove", "convert", source / "long", out / "copy", "-F", "16"],
        stdin=subprocess.DEVNULL,
        preexec_fn=ctrl_c_as_at_a_terminal,
        stdout=subprocess.DEVNULL,
        stderr=subprocess.PIPE,
    )
    deadline = time.monotonic() + 60
    while not any(name.startswith(".copy.dat.") for name in os.listdir(out)):
        assert process.poll() is None and time.monotonic() < deadline, "the copy did not start"
        time.sleep(0.002)
    process.send_signal(signal.SIGINT)
    _, errors = process.communicate(timeout=60)
    if process.returncode == 0:
        pytest.skip("the copy finished before the interruption reached it")
    assert process.returncode == 130, errors
    assert os.listdir(out) == []
