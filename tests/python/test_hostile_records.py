"""Hostile records through the module: headers whose claims (samples per frame,
signal counts, groups, lengths) would take far more memory, time or file handles
than their data need. Each runs in a fresh process, which reports its peak memory,
page faults (work done touching memory) and open files around the operation."""

import os

import pytest


def write(folder, name, data):
    (folder / name).write_bytes(data if isinstance(data, bytes) else data.encode())


REFUSALS = {
    "samples per frame": ("r 1 250\nr.dat 8x67108863\n", "67108863 samples per frame (signal 0)"),
    "samples per frame on 8 lines": ("r 8 250\n" + "r.dat 8x67108863\n" * 8, "67108863 samples per frame (signal 0)"),
    "multi-segment master's signal count": ("r/2 25000000 250\nseg 10\nseg 10\n", "25000000 signals"),
}


@pytest.mark.parametrize("case", REFUSALS, ids=list(REFUSALS))
def test_a_claim_past_the_ceiling_is_refused_at_once_naming_it(tmp_path, child, case):
    header, named = REFUSALS[case]
    write(tmp_path, "r.hea", header)
    write(tmp_path, "r.dat", bytes(16))
    write(tmp_path, "seg.hea", "seg 1 250 10\nseg.dat 16\n")
    out = child("""
before = usage()
try:
    sigtrove.Record("r")
    error = None
except sigtrove.InitError as e:
    error = str(e)
report(error=error, before=before, after=usage())
""")
    assert named in out["error"]
    assert "more than the 256 MB a record may use" in out["error"]
    # Before: 2.3 GB (one line), 9.2 GB (eight), 1.9 GB (the master).
    assert out["after"]["peak_mb"] - out["before"]["peak_mb"] < 16


def test_many_groups_take_memory_by_their_data(tmp_path, child):
    # 10^4 one-line format 0 groups (with a checksum field, so they have a length): a 200 KB header.
    write(tmp_path, "r.hea", "r 10000 250 100\n" + "".join(f"n{i} 0 200 12 0 0 0\n" for i in range(10000)))
    out = child("""
before = usage()
record = sigtrove.Record("r")
samples = record.read(9999, 0, 100, correct_gain=False)
report(samples=len(samples), first=samples[0], before=before, after=usage())
""")
    assert out["samples"] == 100
    assert out["first"] == -32768
    # Before: 1.27 GB, a 128 KB window per group.
    assert out["after"]["peak_mb"] - out["before"]["peak_mb"] < 64


def test_groups_naming_one_file_hold_one_handle(tmp_path, child):
    # 3000 groups: each line names the file again after a format 0 line, so each is a group of its own.
    write(tmp_path, "r.hea", "r 3000 250 1000\n" + "r.dat 16 200 12 0 0 0\nnone 0 200 12 0 0 0\n" * 1500)
    write(tmp_path, "r.dat", bytes(range(256)) * 8)  # 1024 frames
    out = child("""
before = usage()
record = sigtrove.Record("r")
opened = usage()
samples = record.read(2, 0, 1000, correct_gain=False)
reading = usage()
report(samples=len(samples), before=before, opened=opened, reading=reading)
""")
    assert out["samples"] == 1000
    # Before: 3004 descriptors held from the open on.
    assert out["opened"]["files"] == out["before"]["files"]
    assert out["reading"]["files"] == out["before"]["files"] + 1


def test_opening_another_record_gives_back_the_last_ones_files_and_memory(tmp_path, child):
    # One group with 3 million samples per frame: about 130 MB held while it is read.
    write(tmp_path, "big.hea", "big 1 250 4\nbig.dat 16x3000000 200 12 0 0 0\n")
    write(tmp_path, "big.dat", bytes(4 * 3000000 * 2))
    write(tmp_path, "small.hea", "small 1 250 4\nsmall.dat 16 200 12 0 0 0\n")
    write(tmp_path, "small.dat", bytes(8))
    out = child("""
small = sigtrove.Record("small")
small.read(0)
before = usage()
big = sigtrove.Record("big")
big.read(0, 0, 4)
holding = usage()
small.read(0)
after = usage()
report(before=before, holding=holding, after=after)
""")
    assert out["holding"]["resident_mb"] - out["before"]["resident_mb"] > 40, "the big record held its window"
    assert out["after"]["files"] == out["before"]["files"]
    if "libasan" in os.environ.get("LD_PRELOAD", ""):
        pytest.skip("AddressSanitizer keeps freed memory in its quarantine")
    # Before: 266 MB stayed resident after a huge record.
    assert out["after"]["resident_mb"] - out["before"]["resident_mb"] < 16


def test_a_length_claimed_beyond_the_file_costs_only_the_file(tmp_path, child):
    write(tmp_path, "r.hea", "r 1 250 1000000000\nr.dat 16 200 12 0 0 0 0 x\n")
    write(tmp_path, "r.dat", bytes(16))
    out = child("""
record = sigtrove.Record("r")
before = usage()
try:
    record.read(0)
    error = None
except sigtrove.InitError as e:
    error = str(e)
report(error=error, before=before, after=usage())
""")
    assert out["error"] == "getvec: unexpected EOF in signal 0\n"
    # Before: 2 s spent on a list of 10^9 slots (8 GB of address space, 2 million page faults).
    assert out["after"]["faults"] - out["before"]["faults"] < 20000
    assert out["after"]["peak_mb"] - out["before"]["peak_mb"] < 32


# ---- files that are no regular files: refused at once, naming them


def make_fifo(path):
    os.mkfifo(path)


def make_socket(path):
    import socket

    listener = socket.socket(socket.AF_UNIX)
    listener.bind(str(path))  # left bound: the file stays a socket while the child runs


def link_to_a_device(path):
    os.symlink("/dev/zero", path)


NOT_REGULAR = [
    # (the file made so, what is opened, a part of the error text)
    ("r.hea", make_fifo, "Record", "is a FIFO, not a regular file"),
    ("r.hea", make_socket, "Record", "is a socket, not a regular file"),
    ("r.hea", link_to_a_device, "Record", "is a character device, not a regular file"),
    ("r.hea", os.mkdir, "Record", "is a directory, not a regular file"),
    ("r.dat", make_fifo, "Record", "isigopen: can't open signal file r.dat of record r ("),
    ("r.dat", link_to_a_device, "Record", "r.dat is a character device, not a regular file"),
    ("r.atr", make_fifo, "Annotation", "annopen: can't read annotator atr for record r ("),
    ("r.atr", link_to_a_device, "Annotation", "r.atr is a character device, not a regular file"),
]


@pytest.mark.parametrize("name, make, kind, named", NOT_REGULAR, ids=[f"{c[0]} {c[1].__name__}" for c in NOT_REGULAR])
def test_a_file_that_is_no_regular_file_is_refused_at_once(tmp_path, child, name, make, kind, named):
    # Before: a FIFO hung Record() for ever, holding the interpreter lock and the module lock.
    write(tmp_path, "r.hea", "r 1 250 4\nr.dat 16 200 12 0 0 0 0 x\n")
    write(tmp_path, "r.dat", bytes(8))
    write(tmp_path, "r.atr", bytes(2))
    os.remove(tmp_path / name)
    make(tmp_path / name)
    out = child(f"""
import time
began = time.monotonic()
try:
    sigtrove.{kind}("r").read()
    error = None
except sigtrove.InitError as e:
    error = str(e)
report(error=error, seconds=time.monotonic() - began)
""")
    assert out["error"] is not None and named in out["error"], out["error"]
    assert str(tmp_path / name) in out["error"].replace("/./", "/")
    assert out["seconds"] < 1


# ---- headers with endless lines: every field and comment bounded

LONG_LINES = {
    # Before: a 100 MB base-time field gave a 104,857,639-character error text and took the process
    # to 520 MB; a 100 MB comment line read, peaking at 320 MB; a 300 MB line took it to 542 MB.
    "base-time field": (b"r 1 250 10 " + b"1" * (100 << 20) + b"\nr.dat 16\n", "line 1 of header"),
    "comment line": (b"r 1 250 10\n# " + b"x" * (100 << 20) + b"\nr.dat 16\n", "line 2 of header"),
    "line without an end": (b"r 1 250 10 " + b"\0" * (300 << 20), "line 1 of header"),
    "signal file name": (b"r 1 250 10\n" + b"f" * (100 << 20) + b" 16\n", "line 2 of header"),
}


@pytest.mark.parametrize("case", LONG_LINES, ids=list(LONG_LINES))
def test_a_header_line_is_bounded(tmp_path, child, case):
    header, named = LONG_LINES[case]
    write(tmp_path, "r.hea", header)
    write(tmp_path, "r.dat", bytes(40))
    out = child("""
import time
before, began = usage(), time.monotonic()
try:
    sigtrove.Record("r")
    error = None
except sigtrove.InitError as e:
    error = str(e)
report(error=error, seconds=time.monotonic() - began, before=before, after=usage())
""")
    assert named in out["error"] and "longer than 4 MB, the most a header line may take" in out["error"]
    assert len(out["error"]) < 400
    assert out["after"]["peak_mb"] - out["before"]["peak_mb"] < 32
    assert out["seconds"] < 1


def test_the_comments_count_against_the_record_memory_ceiling(tmp_path, child):
    # 120 comment lines of 40 KB: 4.8 MB of comments, past a ceiling of 4 MB.
    write(tmp_path, "r.hea", "r 1 250 10\nr.dat 16\n" + ("# " + "c" * 40000 + "\n") * 120)
    write(tmp_path, "r.dat", bytes(40))
    out = child("""
import os
os.environ["SIGTROVE_MAX_RECORD_MEMORY"] = "4M"
try:
    sigtrove.Record("r")
    error = None
except sigtrove.InitError as e:
    error = str(e)
os.environ["SIGTROVE_MAX_RECORD_MEMORY"] = "16M"
report(error=error, comments=len(sigtrove.Record("r").comments))
""")
    assert out["error"].startswith("init: the comments of record r header take ")
    assert out["error"].endswith(", more than the 4 MB a record may use (SIGTROVE_MAX_RECORD_MEMORY)\n")
    assert out["comments"] == 120
