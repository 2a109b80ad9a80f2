"""Physical values on real records whose baseline is not their ADC zero: (sample - baseline) / gain,
NaN exactly where the record marks a sample invalid; the integer form stays sample - ADC zero, and
signal_info gives the baseline."""

import math
import struct

import numpy as np
import pytest
from conftest import INVALID_SAMPLE, RECORDS, expected, physical_value, same_values

import _sigtrove

MULTI_SEGMENT = "s25047/s25047-2704-05-04-10-44"

# Records with signal files, against the samples the reference library read from them.
RECORDS_WITH_BASELINES = [
    "xform",  # arterial and pulmonary pressures with baselines -1600 and -1605
    "237s/237s1",  # the same signals, one segment of a fixed-layout record
    MULTI_SEGMENT,  # variable layout: rescaled segments, a null segment, signals segments lack
    "s25047/3234460_0001",  # one of its segments, with gaps of its own
    "s25047/s25047-2704-05-04-10-44n",  # numerics with gaps
]


@pytest.mark.parametrize("name", RECORDS_WITH_BASELINES)
def test_physical_values_against_the_reference_samples(name):
    ref = expected(name)
    samples_ref = ref["samples"]
    record = _sigtrove.Record(str(RECORDS / name))
    for i, signal in enumerate(ref["signals"]):
        assert record.signal_info(i)["baseline"] == signal["baseline"]
        raw = record.read(i, correct_gain=False)
        physical = record.read(i)
        assert len(raw) == len(physical) == samples_ref["frames_delivered"]
        samples = [v + signal["adczero"] for v in raw]
        assert sum(samples) == samples_ref["sum"][i]
        # The reference's own frames at both ends of the record.
        assert same_values(physical[:20], [physical_value(f[i], signal) for f in samples_ref["first"]])
        assert same_values(
            physical[samples_ref["last_start_index"] :], [physical_value(f[i], signal) for f in samples_ref["last"]]
        )
        # NaN exactly at the invalid samples, which the integer form keeps as they are.
        nan_at = [k for k, v in enumerate(physical) if math.isnan(v)]
        assert nan_at == [k for k, v in enumerate(samples) if v == INVALID_SAMPLE]
        assert len(nan_at) == samples_ref["invalid_count"][i]
        assert same_values(physical, [physical_value(v, signal) for v in samples])


def test_arterial_pressure_reads_as_other_readers_show_it():
    # xform's ABP starts at ADC value -700 with gain 13.335 and baseline -1600: 67.49 mmHg,
    # where measuring from the ADC zero (0) would give -52.49.
    record = _sigtrove.Record(str(RECORDS / "xform"))
    assert record.read("ABP", 0, 1) == [(-700 + 1600) / 13.335]
    assert record.read("ABP", 0, 1, False) == [-700]


def segments_of(name):
    """(segment name, first frame, frames) of each segment of a multi-segment record after its layout."""
    lines = [line for line in (RECORDS / (name + ".hea")).read_text().splitlines() if not line.startswith("#")]
    count = int(lines[0].split()[0].split("/")[1])
    start, segments = 0, []
    for line in lines[1 : 1 + count]:
        segment, frames = line.split()[0], int(line.split()[1])
        if frames:
            segments.append((segment, start, frames))
        start += frames
    return segments


def test_each_segment_reads_as_on_its_own_in_the_multi_segment_record():
    # The record rescales each segment's samples to the layout's gain and baseline; in physical
    # units a segment must read as on its own (within the rounding of the rescaled samples), and a
    # signal it lacks, like every signal of the null segment, as NaN.
    record = _sigtrove.Record(str(RECORDS / MULTI_SEGMENT))
    layout = expected(MULTI_SEGMENT)["signals"]
    for segment, start, frames in segments_of(MULTI_SEGMENT):
        alone = None if segment == "~" else _sigtrove.Record(str(RECORDS / "s25047" / segment))
        for i, name in enumerate(record.signal_names):
            window = record.read(i, start, frames)
            assert len(window) == frames
            if alone is None or name not in alone.signal_names:
                assert all(math.isnan(v) for v in window), (segment, name)
                continue
            own = alone.read(name)
            assert [math.isnan(v) for v in window] == [math.isnan(v) for v in own], (segment, name)
            tolerance = 0.5 / layout[i]["gain"] + 1e-9
            assert all(abs(w - o) <= tolerance for w, o in zip(window, own) if not math.isnan(o)), (segment, name)


def test_1003_header_with_a_signal_file_written_here(tmp_path):
    # 1003's signal file is not shared: its header's signal lines (baselines -55 to -1461, two
    # signals without one) are given a short file written here.
    signals = expected("1003")["header_signals"]["signals"]
    frames = [[s["baseline"], s["baseline"] + 100, INVALID_SAMPLE, 0, -s["baseline"]] for s in signals]
    columns = list(zip(*frames))
    (tmp_path / "1003.dat").write_bytes(b"".join(struct.pack("<%dh" % len(c), *c) for c in columns))
    lines = (RECORDS / "1003.hea").read_text().splitlines()
    header = ["1003 %d 360 %d" % (len(signals), len(columns))]
    for line, samples in zip(lines[1 : 1 + len(signals)], frames):
        fields = line.split(" ", 8)
        checksum = (sum(samples) + 32768) % 65536 - 32768
        header.append(" ".join(fields[:6] + [str(checksum)] + fields[7:]))
    (tmp_path / "1003.hea").write_text("\n".join(header) + "\n")
    record = _sigtrove.Record(str(tmp_path / "1003"))
    assert record.signal_names == tuple(s["desc"] for s in signals)
    for i, (signal, samples) in enumerate(zip(signals, frames)):
        assert record.signal_info(i)["baseline"] == signal["baseline"]
        assert same_values(record.read(i), [physical_value(v, signal) for v in samples])
        assert record.read(i)[:2] == [0.0, 100 / (signal["gain"] or 200.0)]
        assert record.read(i, correct_gain=False) == [v - signal["adczero"] for v in samples]


def divided(stored, signals, dtype=np.float64):
    """(stored - baseline) / gain in double for each column, NaN at invalid samples, then as dtype."""
    baseline = np.array([s["baseline"] for s in signals], dtype=np.float64)
    gain = np.array([s["gain"] or 200.0 for s in signals], dtype=np.float64)
    values = (stored.astype(np.float64) - baseline) / gain
    values[stored == INVALID_SAMPLE] = np.nan
    return values.astype(dtype)


def bitwise_equal(got, wanted):
    """Same shape, type and bits (NaN matching NaN), as no tolerance could tell."""
    return got.dtype == wanted.dtype and got.shape == wanted.shape and got.tobytes() == wanted.tobytes()


# Long reads (many more values than a conversion table holds), in one file and in two, across
# segments with gaps, and with baselines away from the ADC zero.
LONG_RECORDS = ["100", "s0010_re", MULTI_SEGMENT, "xform"]


@pytest.mark.parametrize("name", LONG_RECORDS)
@pytest.mark.parametrize("dtype", [np.float64, np.float32])
def test_long_reads_are_the_division_bit_for_bit(name, dtype):
    record = _sigtrove.Record(str(RECORDS / name))
    signals = expected(name)["signals"]
    stored = record.frames(physical=False, dtype=np.int32)
    wanted = divided(stored, signals, dtype)
    assert bitwise_equal(record.frames(dtype=dtype), wanted)
    # One signal of a block of several, alone or with others in another order.
    last = record.nsig - 1
    assert bitwise_equal(record.signal(last, dtype=dtype), wanted[:, last].copy())
    assert bitwise_equal(record.frames(signals=[last, 0], dtype=dtype), wanted[:, [last, 0]].copy())
    # A window that starts inside the data, after a short read by the same record.
    record.frames(0, 10)
    assert bitwise_equal(record.frames(1000, None, dtype=dtype), wanted[1000:])
    if dtype is np.float64:
        assert bitwise_equal(np.array(record.read(last), dtype=np.float64), wanted[:, last].copy())
