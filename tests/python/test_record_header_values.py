"""What a record's header says, as Python values: Record.signals, comments, base_datetime,
frame_count; and sigtrove's own names."""

import datetime

import pytest
from conftest import RECORDS, expected
from test_record import HEADER_ONLY_RECORDS, OPENING_RECORDS

import _sigtrove
import sigtrove


@pytest.mark.parametrize("name", OPENING_RECORDS)
def test_signals_are_what_the_header_says(name):
    record = _sigtrove.Record(str(RECORDS / name))
    wanted = expected(name)["signals"]
    assert len(record.signals) == record.nsig
    for got, signal in zip(record.signals, wanted):
        assert isinstance(got, sigtrove.Signal)
        assert (
            got.name,
            got.file,
            got.format,
            got.samples_per_frame,
            got.gain,
            got.baseline,
            got.adc_zero,
            got.adc_resolution,
            got.initial_value,
            got.block_size,
        ) == (
            signal["desc"],
            signal["fname"],
            signal["fmt"],
            signal["spf"],
            signal["gain"],
            signal["baseline"],
            signal["adczero"],
            signal["adcres"],
            signal["initval"],
            signal["bsize"],
        )
        assert got.units == (signal["units"] or "mV")
        assert got.length == (signal["nsamp"] or None)
        assert got.checksum == signal["cksum"]
    assert record.frame_count == (expected(name)["strtim_e"] or None)


def test_skew_and_byte_offset():
    assert [s.skew for s in _sigtrove.Record(str(RECORDS / "100skew")).signals] == [0, 3]
    assert {s.byte_offset for s in _sigtrove.Record(str(RECORDS / "a103l")).signals} == {24}


def test_signals_are_read_only_records():
    signal = _sigtrove.Record(str(RECORDS / "100")).signals[0]
    with pytest.raises(AttributeError):
        signal.gain = 1.0
    assert signal == tuple(signal) and signal[0] == signal.name == "MLII"


@pytest.mark.parametrize(
    "name, comments",
    [
        ("100", ("unnecessary comment", "69 M 1085 1629 x1", "Aldomet, Inderal")),
        ("binformats", ()),
    ],
)
def test_comments_in_order_without_their_hash(name, comments):
    got = _sigtrove.Record(str(RECORDS / name)).comments
    assert got[: len(comments)] == comments
    assert all(not c.startswith("#") and c == c.strip() for c in got)


def test_the_comments_of_a_long_comment_block():
    comments = _sigtrove.Record(str(RECORDS / "s0010_re")).comments
    lines = (RECORDS / "s0010_re.hea").read_text().splitlines()
    assert comments == tuple(line.lstrip("#").strip() for line in lines if line.startswith("#"))
    assert comments[:3] == ("age: 81", "sex: female", "ECG date: 01/10/1990")


@pytest.mark.parametrize(
    "name, when",
    [
        ("100", None),
        ("3000003_0003", datetime.time(19, 46, 25, 757000)),
        ("xform", datetime.datetime(1995, 7, 20, 22, 0, 23)),
        ("s25047/s25047-2704-05-04-10-44", datetime.datetime(2704, 5, 4, 10, 44, 18, 529000)),
    ],
)
def test_base_datetime(name, when):
    assert _sigtrove.Record(str(RECORDS / name)).base_datetime == when


def test_header_only_records_still_construct_nothing():
    for name in HEADER_ONLY_RECORDS:
        with pytest.raises(_sigtrove.InitError):
            _sigtrove.Record(str(RECORDS / name))


def test_package_names():
    assert sigtrove.__version__ == "0.1.0"
    assert sigtrove.Record is _sigtrove.Record and sigtrove.Signal is _sigtrove._Signal
    assert set(sigtrove.__all__) <= set(dir(sigtrove))
