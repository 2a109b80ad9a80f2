"""Record.frames and Record.signal: windows of records as numpy arrays."""

import numpy as np
import pytest
from conftest import INVALID_SAMPLE, RECORDS, expected, physical_value
from test_record import OPENING_RECORDS

import _sigtrove

MULTI_SEGMENT = ["237s/237s", "s25047/s25047-2704-05-04-10-44"]


def open_record(name):
    return _sigtrove.Record(str(RECORDS / name))


def stacked_reads(record, correct_gain, stop=None):
    """What Record.read gives for every signal, as columns (its ADC values measured from the ADC zero)."""
    columns = [record.read(i, 0, stop or 0, correct_gain) for i in range(record.nsig)]
    return np.array(columns, dtype=float if correct_gain else np.int64).T


def same(got, wanted):
    """Equal arrays, NaN matching NaN."""
    got, wanted = np.asarray(got), np.asarray(wanted)
    return got.shape == wanted.shape and bool(
        np.all((got == wanted) | (np.isnan(got) & np.isnan(wanted)) if got.dtype.kind == "f" else got == wanted)
    )


@pytest.mark.parametrize("name", OPENING_RECORDS)
def test_frames_equal_the_stacked_reads(name):
    record = open_record(name)
    ref = expected(name)
    adczero = np.array([s["adczero"] for s in ref["signals"]])
    stored = record.frames(physical=False)
    assert stored.flags["C_CONTIGUOUS"] and stored.shape == (ref["samples"]["frames_delivered"], record.nsig)
    if record.frame_count is not None:  # read() reads only signals of a known length
        assert same(stored - adczero, stacked_reads(record, False))
        assert same(record.frames(), stacked_reads(record, True))
    # The stored samples the reference read: their sums, and the frames at both ends.
    assert stored.sum(axis=0, dtype=np.int64).tolist() == ref["samples"]["sum"]
    assert stored[: len(ref["samples"]["first"])].tolist() == ref["samples"]["first"]
    assert stored[ref["samples"]["last_start_index"] :].tolist() == ref["samples"]["last"]


@pytest.mark.parametrize("name", MULTI_SEGMENT)
def test_multi_segment_records_read_across_segments(name):
    record = open_record(name)
    ref = expected(name)
    stored = record.frames(physical=False)
    physical = record.frames()
    assert stored.shape == physical.shape == (ref["strtim_e"], record.nsig)
    invalid = stored == INVALID_SAMPLE
    assert np.array_equal(invalid, np.isnan(physical))
    if name == "s25047/s25047-2704-05-04-10-44":
        assert invalid.sum(axis=0).tolist() == ref["samples"]["invalid_count"]
        assert stored.sum(axis=0, dtype=np.int64).tolist() == ref["samples"]["sum"]
    else:
        # 237s: its second segment does not exist: its frames hold no valid sample; the
        # first and third are 237s1 again.
        assert invalid[2500 : 2500 + 4195000].all()
        first = open_record("237s/237s1").frames(physical=False)
        assert np.array_equal(stored[:2500], first)
        assert np.array_equal(stored[2500 + 4195000 : 2500 + 4195000 + 2500], first)


@pytest.mark.parametrize("name, signal", [("xform", "ABP"), ("xform", 3), ("s25047/s25047-2704-05-04-10-44", "ABP")])
def test_physical_values_measure_from_the_baseline(name, signal):
    record = open_record(name)
    index = signal if isinstance(signal, int) else record.signal_names.index(signal)
    spec = expected(name)["signals"][index]
    assert spec["baseline"] != spec["adczero"]
    stored = record.frames(signals=[signal], physical=False)[:, 0]
    physical = record.frames(signals=[signal])[:, 0]
    assert same(physical, [physical_value(int(v), spec) for v in stored])
    assert same(record.frames(signals=[signal], dtype=np.float32)[:, 0], physical.astype(np.float32))


@pytest.mark.parametrize(
    "start, stop, frames",
    [
        (0, 10, (0, 10)),
        (100, None, (100, 650000)),
        (649990, 700000, (649990, 650000)),
        (650000, None, (650000, 650000)),
        (700000, None, (650000, 650000)),
        (5, 5, (5, 5)),
        ("0:10", "0:11", (3600, 3960)),
        ("s1200", "s1201", (1200, 1201)),
        ("18:03.5", "e", (390060, 650000)),
        ("1:02:03.5", None, (650000, 650000)),
        ("0", "0.5", (0, 180)),
        (np.int64(7), np.int32(9), (7, 9)),
        ("30:00", "e", (648000, 650000)),
    ],
)
def test_windows_by_number_and_by_time(start, stop, frames):
    record = open_record("100")
    whole = record.frames(physical=False)
    assert np.array_equal(record.frames(start, stop, physical=False), whole[frames[0] : frames[1]])
    assert record.window(start, stop) == frames


@pytest.mark.parametrize(
    "start, stop, error, text",
    [
        (-1, None, ValueError, "start -1 is negative"),
        (10, 5, ValueError, "stop 5 is before start 10"),
        ("ten", None, ValueError, "neither a sample number nor a WFDB time"),
        ("1e3", None, ValueError, "neither"),
        (1.5, None, TypeError, None),
        (None, "-1", ValueError, "neither"),
    ],
)
def test_refused_windows(start, stop, error, text):
    with pytest.raises(error, match=text):
        open_record("100").frames(start, stop)
    with pytest.raises(error, match=text):
        open_record("100").window(start, stop)


def test_signals_chosen_by_number_and_name_in_any_order():
    record = open_record("s0010_re")
    whole = record.frames(physical=False)
    names = record.signal_names
    assert np.array_equal(record.frames(signals=[14, 0, 14], physical=False), whole[:, [14, 0, 14]])
    assert np.array_equal(record.frames(signals=[names[3], 12], physical=False), whole[:, [3, 12]])
    assert np.array_equal(record.frames(signals=names[5], physical=False), whole[:, [5]])
    assert np.array_equal(record.frames(signals=(np.int64(2),), physical=False), whole[:, [2]])
    assert record.frames(signals=[], physical=False).shape == (38400, 0)


@pytest.mark.parametrize(
    "signals, error, text",
    [
        (["nosuch"], ValueError, "has no signal named 'nosuch'"),
        ([15], ValueError, "has no signal 15"),
        ([-1], ValueError, "has no signal -1"),
        ([1.0], TypeError, "a signal is a number or a name"),
        (3.5, TypeError, None),
    ],
)
def test_unknown_signals_are_named(signals, error, text):
    with pytest.raises(error, match=text):
        open_record("s0010_re").frames(signals=signals)


@pytest.mark.parametrize(
    "name, physical, dtype, wanted",
    [
        ("100", True, None, np.float64),
        ("100", False, None, np.int16),
        ("100", True, np.float32, np.float32),
        ("100", False, "int64", np.int64),
        ("100", False, np.float32, np.float32),
        ("binformats", False, None, np.int32),
        ("s0010_re", False, None, np.int16),
        ("s25047/s25047-2704-05-04-10-44", False, None, np.int32),
    ],
)
def test_array_types(name, physical, dtype, wanted):
    record = open_record(name)
    frames = record.frames(0, 10, physical=physical, dtype=dtype)
    assert frames.dtype == wanted
    assert np.array_equal(frames, record.frames(0, 10, physical=physical).astype(wanted), equal_nan=True)


@pytest.mark.parametrize(
    "physical, dtype, text",
    [
        (True, np.int32, "physical values need a float dtype"),
        (False, np.int16, "need 32 bits: they do not fit int16"),
        (False, np.float32, "need 32 bits: they do not fit float32"),
        (False, np.uint8, "not one the reads fill"),
    ],
)
def test_refused_types(physical, dtype, text):
    with pytest.raises(ValueError, match=text):
        open_record("binformats").frames(physical=physical, dtype=dtype)


def test_a_record_without_a_length_reads_to_the_end_of_its_data():
    record = open_record("100-no-len")
    assert record.frame_count is None
    assert np.array_equal(record.frames(physical=False), open_record("100").frames(physical=False))
    assert record.frames("e").shape == (0, 2)
    assert record.window() == (0, 650000) and record.window("e") == (650000, 650000)


@pytest.mark.parametrize(
    "name, signal",
    [("xform", 0), ("xform", 2), ("test01_00s_frame", 1), ("test01_00s_skewframe", 1), ("237s/237s1", 0)],
)
def test_a_signal_at_its_own_rate(name, signal):
    record = open_record(name)
    spf = record.signals[signal].samples_per_frame
    assert spf > 1
    samples = record.signal(signal, physical=False)
    assert samples.ndim == 1 and samples.shape[0] == spf * record.frames(physical=False).shape[0]
    # The frame form is the mean of each frame's samples, rounded half up.
    means = np.floor((samples.reshape(-1, spf).astype(np.int64).sum(axis=1) + spf // 2) / spf)
    assert np.array_equal(means, record.frames(signals=[signal], physical=False)[:, 0])
    # Windows count the signal's own samples; times count at its own rate.
    assert np.array_equal(record.signal(signal, 3, 11, physical=False), samples[3:11])
    freq = record.frequency * spf
    assert np.array_equal(record.signal(signal, "s7", "0:01", physical=False), samples[7 : int(freq)])


def test_own_rate_samples_are_the_stored_ones():
    # test01_00s_frame reads test01_00s.dat with its signals 1 and 2 as one signal of two samples a frame.
    interleaved = open_record("test01_00s_frame").signal(1, physical=False)
    plain = open_record("test01_00s").frames(signals=[1, 2], physical=False)
    assert np.array_equal(interleaved, plain.reshape(-1))
    assert open_record("100").signal("V5", 10, 20).tolist() == open_record("100").read("V5", 10, 10)


def test_frames_of_flac_records_equal_their_stored_samples():
    record = open_record("flacformats")
    ref = expected("flacformats")
    try:
        stored = record.frames(physical=False)
    except _sigtrove.InitError:
        pytest.skip("this build reads no FLAC")
    assert stored.sum(axis=0, dtype=np.int64).tolist() == ref["samples"]["sum"]


def test_frames_need_no_working_directory(tmp_path, monkeypatch):
    record = open_record("s25047/s25047-2704-05-04-10-44")
    wanted = open_record("s25047/s25047-2704-05-04-10-44").frames(25000, 60000, physical=False)
    monkeypatch.chdir(tmp_path)
    calls = []
    monkeypatch.setattr(_sigtrove, "chdir", lambda d: calls.append(d))
    monkeypatch.setattr(_sigtrove, "getcwdu", lambda: calls.append("getcwd") or str(tmp_path))
    assert np.array_equal(record.frames(25000, 60000, physical=False), wanted)
    assert not calls


def test_a_header_claiming_more_than_its_data_hold_fails_at_the_end_of_the_data(tmp_path):
    (tmp_path / "short.hea").write_text("short 1 360 1000000000\nshort.dat 16 200 16 0 0 0 0 x\n")
    (tmp_path / "short.dat").write_bytes(bytes(range(16)))
    record = _sigtrove.Record(str(tmp_path / "short"))
    assert record.frames(0, 8, physical=False).shape == (8, 1)
    with pytest.raises(_sigtrove.InitError, match="unexpected EOF"):
        record.frames()


@pytest.mark.parametrize("name", OPENING_RECORDS + MULTI_SEGMENT)
def test_readable_frames_is_how_many_frames_a_whole_read_delivers(name):
    with open_record(name) as record:
        readable = record.readable_frames
    assert readable == len(record.frames(physical=False))


@pytest.mark.parametrize(
    "name, frame_count, readable",
    [
        ("100skew", 650000, 649997),  # a skew of 3 cuts off the last 3 frames
        ("test01_00s_skewframe", 4000, 3997),
        ("100-no-len", None, 650000),  # no length in the header: what the signal file holds
        ("a103l-no-len", None, 82500),  # ... after a byte offset
        ("s25047/s25047-2704-05-04-10-44", 543240, 543240),
    ],
)
def test_readable_frames_beside_the_headers_length(name, frame_count, readable):
    record = open_record(name)
    assert (record.frame_count, record.readable_frames) == (frame_count, readable)


def test_readable_frames_are_no_more_than_the_data_hold(tmp_path):
    (tmp_path / "short.hea").write_text("short 1 360 1000000000\nshort.dat 16 200 16 0 0 0 0 x\n")
    (tmp_path / "short.dat").write_bytes(bytes(range(16)))
    assert _sigtrove.Record(str(tmp_path / "short")).readable_frames == 8
