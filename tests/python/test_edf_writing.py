"""Writing EDF+ and BDF+ files: read back equal by sigtrove and by pyEDFlib, annotations included,
and values a format can not hold refused with nothing written."""

import datetime
import os
import pathlib
import subprocess
import sys

import numpy as np
import pytest

import sigtrove

FIXTURES = pathlib.Path(__file__).resolve().parent.parent / "fixtures" / "records"
RECORD_100 = str(FIXTURES / "100")

pyedflib = pytest.importorskip("pyedflib")


def _texts(arrays):
    return [s if not a else s + " " + a for s, a in zip(arrays["symbol"], arrays["aux"])]


def test_record_100_with_every_annotation_reads_back_equal_by_sigtrove_and_pyedflib(tmp_path):
    record = sigtrove.Record(RECORD_100)
    beats = record.annotation("atr").arrays()
    path = str(tmp_path / "100.edf")
    sigtrove.write_record(path, record, annotations=beats)
    frames = record.frame_count if isinstance(record.frame_count, int) else len(record.frames())
    digital = record.frames(physical=False, dtype="int64")
    back = sigtrove.Record(path)
    assert back.frequency == 360 and list(back.signal_names) == ["MLII", "V5"]
    assert np.array_equal(back.frames(physical=False, dtype="int64")[:frames], digital)
    assert np.allclose(back.frames()[:frames], record.frames(), rtol=0, atol=1e-12)
    # 650,000 frames at 360 Hz divide into no data records of whole frames: 1 s records, the last
    # filled out with each signal's last value.
    assert back.frame_count == 650160
    assert np.array_equal(back.frames(frames, physical=False, dtype="int64"), np.repeat(digital[-1:], 160, axis=0))
    listed = sigtrove.Annotation(path, "edf").arrays()
    assert np.array_equal(listed["time"], beats["time"])  # every one of the 2274, at its own frame
    assert list(listed["aux"]) == _texts(beats)
    reader = pyedflib.EdfReader(path)
    try:
        assert reader.getSignalLabels() == ["MLII", "V5"]
        assert list(reader.getSampleFrequencies()) == [360, 360]
        for s in range(2):
            # The EDF formula with the written physical range gives back (value - baseline) / gain.
            assert np.allclose(reader.readSignal(s)[:frames], record.frames()[:, s], rtol=0, atol=1e-12)
            assert np.array_equal(reader.readSignal(s, digital=True)[:frames], digital[:, s])
        onsets, _, texts = reader.readAnnotations()
        assert len(onsets) == len(beats["time"])
        assert list(texts) == _texts(beats)
        # pyEDFlib keeps onsets to 100 ns: each is its frame's start, to the nearest frame.
        assert np.array_equal(np.rint(onsets * 360).astype(int), beats["time"])
    finally:
        reader.close()


@pytest.mark.parametrize(
    "name, kind, values, options, frequency",
    [
        # physical values spread over the format's range (gain chosen), with an invalid sample
        ("spread.edf", "edf", np.array([[-1.5, 0.0], [0.25, 2.0], [np.nan, 1.0], [3.0, -2.0]]), {}, 250.0),
        # stored values with a gain and a baseline, kept exactly; 24-bit values in BDF
        (
            "wide.bdf",
            "bdf",
            np.array([[-8388608, 0], [8388607, 5], [100000, -7]]),
            {"physical": False, "gains": [1000, 3.5], "baselines": [0, -12]},
            128.0,
        ),
        # 2.5 frames per second: 3 frames make one data record of 1.2 s
        ("tenths.edf", "edf", np.array([[1, 2], [3, 4], [5, 6]], dtype=np.int64), {"physical": False}, 2.5),
        # format="bdf" chooses the kind of a path without a suffix
        ("plain", "bdf", np.array([[7], [-7]], dtype=np.int64), {"physical": False, "format": "bdf"}, 1.0),
    ],
)
def test_a_table_of_records_reads_back_by_both_readers(name, kind, values, options, frequency, tmp_path):
    path = str(tmp_path / name)
    base = datetime.datetime(2024, 2, 29, 13, 5, 7)
    sigtrove.write_record(
        path, values, frequency, names=["a", "b"][: values.shape[1]], units="uV", base_datetime=base, **options
    )
    written = path if os.path.splitext(path)[1] else path + "." + kind
    back = sigtrove.Record(written)
    n = len(values)
    assert back.frequency == frequency and back.base_datetime == base
    if options.get("physical", True):
        got = back.frames()[:n]
        finite = np.isfinite(values)
        span = np.nanmax(values, axis=0) - np.nanmin(values, axis=0)
        assert np.all(np.abs(got[finite] - values[finite]) <= (span / 65000).max())
    else:
        assert np.array_equal(back.frames(physical=False, dtype="int64")[:n], values)
    reader = pyedflib.EdfReader(written)
    try:
        assert reader.getSignalLabels() == ["a", "b"][: values.shape[1]]
        assert reader.getPhysicalDimension(0) == "uV"
        assert reader.getStartdatetime() == base
        for s in range(values.shape[1]):
            assert np.allclose(reader.readSignal(s)[:n], back.frames()[:n, s], equal_nan=True, rtol=0, atol=1e-9)
    finally:
        reader.close()


@pytest.mark.parametrize(
    "name, values, options, message",
    [
        ("big.edf", np.array([[0], [32768]]), {"physical": False}, "frame 1"),
        ("low.bdf", np.array([[-8388609]]), {"physical": False}, "frame 0"),
        ("gain.edf", np.array([[0.0], [1.0], [200.0]]), {"gains": 200.0, "baselines": 0}, "frame 2"),
        ("rate.edf", np.array([[0], [1]]), {"physical": False, "frequency": 1 / 3}, "frequency"),
        ("../", np.array([[0]]), {"physical": False}, "record name"),
    ],
)
def test_values_a_format_can_not_hold_are_refused_and_nothing_is_written(name, values, options, message, tmp_path):
    frequency = options.pop("frequency", 100.0)
    with pytest.raises(ValueError, match=message):
        sigtrove.write_record(str(tmp_path / name), values, frequency, **options)
    assert os.listdir(tmp_path) == []


def test_an_existing_file_is_replaced_only_with_overwrite(tmp_path):
    path = tmp_path / "x.edf"
    sigtrove.write_record(path, np.array([[1]]), 1.0, physical=False)
    with pytest.raises(FileExistsError):
        sigtrove.write_record(path, np.array([[2]]), 1.0, physical=False)
    sigtrove.write_record(path, np.array([[2]]), 1.0, physical=False, overwrite=True)
    assert sigtrove.Record(str(path)).frames(physical=False)[0, 0] == 2
    assert os.listdir(tmp_path) == ["x.edf"]


def _convert(*arguments):
    return subprocess.run([sys.executable, "-m", "sigtrove", "convert", *arguments], capture_output=True, text=True)


def test_convert_wfdb_to_edf_and_back_keeps_samples_and_annotations(tmp_path):
    edf = str(tmp_path / "c100.edf")
    assert _convert(RECORD_100, edf, "-t", "60").returncode == 0
    back = str(tmp_path / "w100")
    done = _convert(edf, back)
    assert done.returncode == 0, done.stderr
    record = sigtrove.Record(RECORD_100)
    wfdb_again = sigtrove.Record(back)
    assert np.array_equal(wfdb_again.frames(physical=False)[: 360 * 60], record.frames(0, 360 * 60, physical=False))
    ours = record.annotation("atr").arrays(0, 360 * 60)
    again = wfdb_again.annotation("atr").arrays()
    for column in ("time", "symbol", "aux"):
        assert list(again[column]) == list(ours[column])


def test_convert_edf_holding_the_lowest_value_writes_format_24(tmp_path):
    edf = str(tmp_path / "low.edf")
    sigtrove.write_record(edf, np.array([[-32768, 1], [5, 2]]), 10.0, physical=False)
    back = str(tmp_path / "low")
    assert _convert(edf, back).returncode == 0
    record = sigtrove.Record(back)
    assert [s.format for s in record.signals] == [24, 16]
    assert list(record.frames(physical=False)[:2, 0]) == [-32768, 5]


@pytest.mark.parametrize(
    "name, start, stop, signals",
    [
        ("window.edf", "0:02", "0:07", None),  # 1800 frames: five 1 s data records, nothing added
        ("v5.bdf", 100, 3520, ["V5"]),  # 3420 frames: ten data records of 0.95 s
        ("swapped.edf", 0, None, [1, 0]),
    ],
)
def test_record_write_copies_a_window_and_its_annotations_into_an_edf_file(name, start, stop, signals, tmp_path):
    record = sigtrove.Record(sigtrove.SAMPLE_RECORD)
    beats = record.annotation("atr").arrays()
    path = str(tmp_path / name)
    record.write(path, start, stop, signals, annotations=beats)
    expected = record.frames(start, stop, signals, physical=False, dtype="int64")
    back = sigtrove.Record(path)
    # The frames divide into data records: the file holds exactly the window.
    assert back.frame_count == len(expected)
    assert np.array_equal(back.frames(physical=False, dtype="int64"), expected)
    chosen = (
        list(record.signal_names)
        if signals is None
        else [s if isinstance(s, str) else record.signal_names[s] for s in signals]
    )
    assert list(back.signal_names) == chosen
    offset = len(record.frames(0, start, physical=False)) if start else 0
    inside = (beats["time"] >= offset) & (beats["time"] < offset + len(expected))
    listed = sigtrove.Annotation(path, "edf").arrays()
    assert np.array_equal(listed["time"], beats["time"][inside] - offset)
    assert list(listed["aux"]) == [t for t, keep in zip(_texts(beats), inside) if keep]
    reader = pyedflib.EdfReader(path)
    try:
        assert reader.getSignalLabels() == chosen
        for s in range(len(chosen)):
            assert np.array_equal(reader.readSignal(s, digital=True), expected[:, s])
    finally:
        reader.close()


def test_a_negative_gain_and_a_start_with_milliseconds_read_back_by_both_readers(tmp_path):
    path = str(tmp_path / "inverted.edf")
    values = np.array([[-1.5, 0.25], [0.0, -0.75], [2.0, 1.0]])
    base = datetime.datetime(2024, 2, 29, 13, 5, 7, 250000)
    beats = {"time": [0, 2], "symbol": ["N", "V"]}
    sigtrove.write_record(
        path,
        values,
        100.0,
        names=["a", "b"],
        gains=[-200, 1000],
        baselines=[5, 0],
        base_datetime=base,
        annotations=beats,
    )
    back = sigtrove.Record(path)
    assert back.base_datetime == base
    assert np.allclose(back.frames()[:3], values, rtol=0, atol=1e-12)
    listed = sigtrove.Annotation(path, "edf").arrays()
    assert list(listed["time"]) == [0, 2] and list(listed["onset"]) == [0.25, 0.27]
    reader = pyedflib.EdfReader(path)
    try:
        # The start's fraction, in EDFlib's units of 100 ns (pyEDFlib's getStartdatetime divides them
        # by 100 where it means 10, so it gives 25 ms); onsets are counted from it.
        assert reader.getStartdatetime().replace(microsecond=0) == base.replace(microsecond=0)
        assert reader.starttime_subsecond == 2500000
        assert list(reader.readAnnotations()[0]) == [0.0, 0.02]
        for s in range(2):
            assert np.allclose(reader.readSignal(s)[:3], values[:, s], rtol=0, atol=1e-9)
    finally:
        reader.close()


@pytest.mark.parametrize(
    "path, options, error",
    [
        ("r.edf", {"formats": 16}, ValueError),
        ("r", {"annotations": {"time": [0], "symbol": ["N"]}}, TypeError),
        ("r.edf", {"annotations": {"time": [0], "symbol": ["N"], "aux": ["a\x14b"]}}, ValueError),
    ],
)
def test_record_write_refuses_what_the_kind_of_file_can_not_hold(path, options, error, tmp_path):
    record = sigtrove.Record(sigtrove.SAMPLE_RECORD)
    with pytest.raises(error):
        record.write(str(tmp_path / path), **options)
    assert os.listdir(tmp_path) == []


def test_convert_edf_to_bdf_keeps_a_window_its_annotations_and_their_durations(tmp_path):
    edf = str(tmp_path / "events.edf")
    values = np.arange(40, dtype=np.int64).reshape(20, 2)
    events = {"time": [2, 5, 15], "aux": ["start", "arousal", "end"], "duration": [None, 1.25, None]}
    sigtrove.write_record(edf, values, 4.0, names=["x", "y"], physical=False, annotations=events)
    bdf = str(tmp_path / "events.bdf")
    done = _convert(edf, bdf, "-f", "s4", "-t", "s16", "-s", "y")
    assert done.returncode == 0, done.stderr
    back = sigtrove.Record(bdf)
    assert list(back.signal_names) == ["y"]
    assert np.array_equal(back.frames(physical=False, dtype="int64"), values[4:16, 1:])
    listed = sigtrove.Annotation(bdf, "edf").arrays()
    assert list(listed["time"]) == [1, 11] and list(listed["aux"]) == ["arousal", "end"]
    assert listed["duration"][0] == 1.25 and np.isnan(listed["duration"][1])
