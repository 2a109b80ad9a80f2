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
