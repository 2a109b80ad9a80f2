"""Record on multi-segment records: 237s (fixed layout, a segment whose header does not
exist) and s25047 (variable layout: a layout header, a null segment, segments with fewer
signals). Reads reach every segment; the missing segment fails only the reads that need it."""

import pytest
from conftest import RECORDS, expected, library_text

import _sigtrove

FIXED = "237s/237s"
VARIABLE = "s25047/s25047-2704-05-04-10-44"
# 237s: 237s1 (2500 frames), missing (4195000), 237s1 again, 237s2 (6250).
MISSING_START, MISSING_END = 2500, 2500 + 4195000


def open_record(name):
    return _sigtrove.Record(str(RECORDS / name))


@pytest.mark.parametrize("name", [FIXED, VARIABLE])
def test_fields_are_the_master_records(name):
    ref = expected(name)
    record = open_record(name)
    assert record.nsig == ref["header_open"]["ret"]
    assert record.frequency == ref["sampfreq"]["value"]
    assert record.signal_names == tuple(library_text(s["desc"]) for s in ref["signals"])
    # Every signal reports the record's total length, not the first segment's.
    assert record.signal_info(0)["samples"] == ref["strtim_e"]


def test_variable_layout_reads_every_segment_of_every_signal():
    ref = expected(VARIABLE)
    record = open_record(VARIABLE)
    for i in range(record.nsig):
        raw = record.read(i, correct_gain=False)
        assert len(raw) == ref["strtim_e"]
        assert sum(raw) == ref["samples"]["sum"][i]
        assert raw.count(-32768) == ref["samples"]["invalid_count"][i]


def test_variable_layout_windows_match_the_reference_seeks():
    ref = expected(VARIABLE)
    record = open_record(VARIABLE)
    for call in ref["seek"]["calls"]:
        t = call["t"]
        if not 0 <= t < ref["strtim_e"]:
            continue
        delivered = [f["vector"] for f in call["frames"] if f["ret"] > 0]
        for i in range(record.nsig):
            assert record.read(i, t, 5, False) == [v[i] for v in delivered]


def test_fixed_layout_whole_read_raises_the_engine_text_at_the_missing_segment():
    record = open_record(FIXED)
    for i in range(record.nsig):
        with pytest.raises(_sigtrove.InitError) as info:
            record.read(i, correct_gain=False)
        assert info.value.args == ("getvec: error opening segment missing\n",)


def test_fixed_layout_windows_before_and_after_the_missing_segment():
    ref = expected(FIXED)
    record = open_record(FIXED)
    alone_1 = open_record("237s/237s1")
    alone_2 = open_record("237s/237s2")
    for i in range(record.nsig):
        first = record.read(i, 0, MISSING_START, False)
        assert first[:20] == [frame[i] for frame in ref["samples"]["first"]]
        assert sum(first) == ref["samples"]["sum"][i]
        # After the missing segment: 237s1 again, then 237s2, up to the end of the record.
        after = record.read(i, MISSING_END, 0, False)
        assert len(after) == 2500 + 6250
        assert after == alone_1.read(i, correct_gain=False) + alone_2.read(i, correct_gain=False)
        assert after[:2500] == first


@pytest.mark.parametrize(
    "start, length, text",
    [
        (MISSING_START, 10, "isigsettime: can't open segment missing\n"),
        (MISSING_END - 1, 10, "isigsettime: can't open segment missing\n"),
        (MISSING_START - 5, 10, "getvec: error opening segment missing\n"),
    ],
)
def test_fixed_layout_reads_that_need_the_missing_segment_raise(start, length, text):
    record = open_record(FIXED)
    with pytest.raises(_sigtrove.InitError) as info:
        record.read(0, start, length, False)
    assert info.value.args == (text,)
    # The failure leaves the record readable elsewhere.
    assert len(record.read(0, MISSING_END, 10, False)) == 10


def test_two_multi_segment_records_read_in_turns():
    fixed_ref, variable_ref = expected(FIXED), expected(VARIABLE)
    fixed, variable = open_record(FIXED), open_record(VARIABLE)
    middle = next(c for c in variable_ref["seek"]["calls"] if c["label"] == "N/2")
    for _ in range(5):
        assert fixed.read(2, 0, 20, False) == [frame[2] for frame in fixed_ref["samples"]["first"]]
        assert variable.read(0, middle["t"], 5, False) == [f["vector"][0] for f in middle["frames"]]
        assert fixed.frequency == 125 and variable.frequency == 125
        # Segment 2 is segment 0's record again.
        assert fixed.read(5, MISSING_END, 20, False) == [frame[5] for frame in fixed_ref["samples"]["first"]]
