"""Record.read: samples of one signal as a list, by number or name, raw or in physical units."""

import struct
import traceback

import pytest
from conftest import INVALID_SAMPLE, RECORDS, expected, physical_value, same_values
from test_record import OPENING_RECORDS

import _sigtrove


def open_record(name):
    return _sigtrove.Record(str(RECORDS / name))


def readable(ref):
    """Signals whose length is known, with the number of frames the engine delivers."""
    frames = ref["samples"]["frames_delivered"]
    return [(i, s) for i, s in enumerate(ref["signals"]) if s["nsamp"] > 0], frames


@pytest.mark.parametrize("name", OPENING_RECORDS)
def test_whole_signals_match_the_reference_sums(name):
    ref = expected(name)
    record = open_record(name)
    signals, frames = readable(ref)
    for i, info in signals:
        raw = record.read(i, correct_gain=False)
        assert len(raw) == min(frames, info["nsamp"])
        assert all(type(v) is int for v in raw[:10])
        assert sum(raw) == ref["samples"]["sum"][i] - info["adczero"] * len(raw)
        assert sum((v + info["adczero"]) ** 2 for v in raw) == ref["samples"]["sumsq"][i]
        physical = record.read(i)
        assert len(physical) == len(raw)
        assert all(type(v) is float for v in physical[:10])
        assert same_values(physical[:50], [physical_value(v + info["adczero"], info) for v in raw[:50]])
        assert same_values(physical[-50:], [physical_value(v + info["adczero"], info) for v in raw[-50:]])


@pytest.mark.parametrize("name", OPENING_RECORDS)
def test_windows_after_seeks(name):
    ref = expected(name)
    record = open_record(name)
    signals, frames = readable(ref)
    whole = {i: record.read(i, correct_gain=False) for i, _ in signals}
    for call in ref["seek"]["calls"]:
        t = call["t"]
        for i, info in signals:
            n = info["nsamp"]
            if not 0 <= t < n:
                continue
            window = record.read(i, t, 5, False)
            assert window == whole[i][t : t + 5]
            if info["fmt"] != 8:  # the reference keeps a stale running value after a seek
                delivered = [f["vector"][i] - info["adczero"] for f in call["frames"] if f["ret"] > 0]
                assert window == delivered[: len(window)]


def test_names_and_numbers_select_the_same_signal():
    record = open_record("test01_00s")
    assert record.signal_names == ("ECG 1", "ECG 2", "ECG 3", "ECG 4")
    for i, name in enumerate(record.signal_names):
        assert record.read(name, 100, 10, False) == record.read(i, 100, 10, False)


@pytest.mark.parametrize(
    "signal_id, message",
    [
        (True, "Wrong signal number or name"),
        (1.0, "Wrong signal number or name"),
        (None, "Wrong signal number or name"),
        (b"ECG 1", "Wrong signal number or name"),
        ("ecg 1", "Wrong signal number or name"),
        ("ECG 1 ", "Wrong signal number or name"),
        (4, "invalid signal number"),
        (-1, "invalid signal number"),
        (2**70, "invalid signal number"),
    ],
)
def test_refused_signal_ids(signal_id, message):
    record = open_record("test01_00s")
    with pytest.raises(ValueError) as info:
        record.read(signal_id)
    assert info.value.args == (message,)
    names = [f.name for f in traceback.extract_tb(info.value.__traceback__)]
    assert names[-2:] == ["_sigtrove.Record.read", "_sigtrove.Record.signal_number"]


def test_int_subclasses_are_refused():
    import enum

    class Number(enum.IntEnum):
        ONE = 1

    with pytest.raises(ValueError, match="Wrong signal number or name"):
        open_record("test01_00s").read(Number.ONE)


@pytest.mark.parametrize(
    "start, length, expected_len, error",
    [
        (0, 0, 4000, None),
        (3999, 0, 1, None),
        (3995, 100, 5, None),
        (10, 20, 20, None),
        (4000, 0, None, "start index out of range (4000)"),
        (4000, -1, None, "start index out of range (4000)"),
        (-1, 0, None, "start index out of range (4000)"),
        (0, -1, None, "invalid length"),
        (2**62, 2**62, None, "start index out of range (4000)"),
        (1, 2**63 - 1, 3999, None),
    ],
)
def test_windows_and_their_limits(start, length, expected_len, error):
    record = open_record("test01_00s")
    if error is None:
        window = record.read(0, start, length, False)
        assert len(window) == expected_len
        assert window == record.read(0, correct_gain=False)[start : start + expected_len]
    else:
        with pytest.raises(ValueError) as info:
            record.read(0, start, length)
        assert info.value.args == (error,)


def test_parser_errors():
    record = open_record("test01_00s")
    with pytest.raises(TypeError):
        record.read()
    with pytest.raises(TypeError):
        record.read(0, 1.5)
    with pytest.raises(TypeError):
        record.read(0, stat=1)
    with pytest.raises(OverflowError):
        record.read(0, 2**64)
    assert record.read(signal_id=0, start=1, length=2, correct_gain=False) == record.read(0, 1, 2, False)


@pytest.mark.parametrize(
    "flag, kind",
    [
        (0, int),
        (None, int),
        ("", int),
        ([], int),
        (False, int),
        (1, float),
        ("x", float),
        ([0], float),
        (True, float),
    ],
)
def test_correct_gain_truth_values(flag, kind):
    values = open_record("test01_00s").read(0, 0, 3, flag)
    assert all(type(v) is kind for v in values)


def test_skewed_record_ends_early_without_empty_slots():
    record = open_record("100skew")
    values = record.read(1, 649990, 0, False)
    assert len(values) == 7  # the last 3 frames are lost to the skew
    assert None not in values


def test_signal_without_length_cannot_be_read():
    record = open_record("100-no-len")
    with pytest.raises(ValueError) as info:
        record.read(0)
    assert info.value.args == ("start index out of range (0)",)


def write_record(directory, name, samples, nsamp, fmt=16, gain="200", adczero=0):
    """A one-signal record in format 16 (or 80) whose header claims nsamp frames."""
    data = b"".join(struct.pack("<h", s) for s in samples) if fmt == 16 else bytes(s + 128 for s in samples)
    (directory / (name + ".dat")).write_bytes(data)
    (directory / (name + ".hea")).write_text(
        "%s 1 100 %d\n%s.dat %d %s 12 %d 0 0 0 sig\n" % (name, nsamp, name, fmt, gain, adczero)
    )


def test_truncated_file_raises_instead_of_returning_invented_samples(tmp_path):
    write_record(tmp_path, "short", [1, 2, 3, 4, 5], nsamp=8)
    record = _sigtrove.Record(str(tmp_path / "short"))
    with pytest.raises(_sigtrove.InitError) as info:
        record.read(0, correct_gain=False)
    assert info.value.args == ("getvec: unexpected EOF in signal 0\n",)
    with pytest.raises(_sigtrove.InitError):
        record.read(0, 3, 0, False)  # also after a seek
    assert record.read(0, 1, 3, False) == [2, 3, 4]


NAN = float("nan")


# Physical values measure from the baseline (the ADC zero when the header gives none);
# raw values from the ADC zero; an invalid sample is NaN in physical units only.
@pytest.mark.parametrize(
    "gain, adczero, raw, physical",
    [
        ("0", 0, [0, 200, -400], [0.0, 1.0, -2.0]),
        ("200", 10, [10, 210], [0.0, 1.0]),
        ("2000.5/mV", 0, [4001], [4001 / 2000.5]),
        ("200(5)", 10, [5, 205, 10], [0.0, 1.0, 0.025]),
        ("0(100)", 0, [300, -100], [1.0, -1.0]),
        ("13.335(-1600)/mmHg", 0, [-700], [900 / 13.335]),
        ("200(5)", 10, [INVALID_SAMPLE, 205, INVALID_SAMPLE], [NAN, 1.0, NAN]),
        ("200", 0, [INVALID_SAMPLE + 1, INVALID_SAMPLE, 32767], [-32767 / 200, NAN, 32767 / 200]),
    ],
)
def test_gain_baseline_and_adc_zero(tmp_path, gain, adczero, raw, physical):
    write_record(tmp_path, "g", raw, nsamp=len(raw), gain=gain, adczero=adczero)
    record = _sigtrove.Record(str(tmp_path / "g"))
    assert same_values(record.read(0), physical)
    assert record.read(0, correct_gain=False) == [v - adczero for v in raw]


def test_two_records_read_in_turn_return_their_own_samples():
    a, b = open_record("100_3chan"), open_record("3000003_0003")
    first_a, first_b = a.read(0, 0, 20, False), b.read(0, 0, 20, False)
    for _ in range(3):
        assert a.read(0, 0, 20, False) == first_a
        assert b.read(0, 0, 20, False) == first_b


def test_read_docstring():
    assert _sigtrove.Record.read.__doc__ == (
        "\n        read(signal_id, start=0, length=0, correct_gain=True) -> list\n        \n"
        "            signal_id    - signal number or signal name in record\n"
        "            start        - index in sample intervals from the beginning of the record \n"
        "            length       - sample count, if 0 - read all annotations\n"
        "            correct_gain - return values in real physical units instead of sampled data file values\n"
        "        "
    )
