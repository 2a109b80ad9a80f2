"""Record.signal_info and str(record): what the header says of each signal."""

import pytest
from conftest import RECORDS, expected, library_text
from test_record import OPENING_RECORDS

import _sigtrove

KEYS = [
    "record",
    "file",
    "frequency",
    "description",
    "adc_zero",
    "adc_resolution",
    "initial_value",
    "storage_format",
    "gain",
    "units",
    "starting_time",
    "length",
    "samples",
    "checksum",
    "baseline",
]


def expected_info(name, ref, i):
    s = ref["signals"][i]
    info = {
        "record": name.rsplit("/", 1)[-1],
        "file": library_text(s["fname"]),
        "frequency": float(ref["sampfreq"]["value"]),
        "description": library_text(s["desc"]),
        "adc_zero": s["adczero"],
        "adc_resolution": s["adcres"],
        "initial_value": s["initval"],
        "storage_format": s["fmt"],
        "gain": float(s["gain"] or 200.0),
        "units": library_text(s["units"]) if s["units"] is not None else "mV",
        "starting_time": library_text(ref["timstr"]["t0"]),
    }
    if s["nsamp"] > 0:
        info["length"] = library_text(ref["timstr"]["nsamp"][i]["text"])
        info["samples"] = s["nsamp"]
        info["checksum"] = s["cksum"]
    info["baseline"] = s["baseline"]
    return info


@pytest.mark.parametrize("name", OPENING_RECORDS)
def test_signal_info_of_every_signal(name):
    ref = expected(name)
    record = _sigtrove.Record(str(RECORDS / name))
    for i in range(record.nsig):
        by_number = record.signal_info(i)
        assert by_number == expected_info(name, ref, i)
        assert list(by_number) == [k for k in KEYS if k in by_number]
        assert by_number["record"] is record.record
        first_named = record.signal_names.index(record.signal_names[i])
        assert record.signal_info(record.signal_names[i]) == record.signal_info(first_named)


@pytest.mark.parametrize("name", OPENING_RECORDS)
def test_description_of_every_record(name):
    ref = expected(name)
    record = _sigtrove.Record(str(RECORDS / name))
    text = str(record)
    assert text.endswith("\n")
    lines = text.split("\n")[:-1]
    known = sum(1 for s in ref["signals"] if s["nsamp"] > 0)
    assert len(lines) == 4 + 11 * known + 10 * (record.nsig - known)
    assert lines[0] == "Record %s" % record.record
    assert lines[1] == "Starting time:  %s" % library_text(ref["timstr"]["t0"])
    assert lines[2] == "Sampling frequency: %g Hz" % record.frequency
    assert lines[3] == "%d signals" % record.nsig


@pytest.mark.parametrize(
    "header_gain, adcres, bsize, nsamp_with_checksum, expect",
    [
        ("200", 12, 0, True, [" Gain: 200 adu/mV", " I/O: can be unbuffered", " Checksum: 0"]),
        ("0", 12, 0, True, [" Gain: uncalibrated assume 200 adu/mV"]),
        ("2000.5/uV", 12, 512, True, [" Gain: 2000.5 adu/uV", " I/O: 512-byte blocks"]),
        ("1000000/mmHg", 8, 0, True, [" Gain: 1e+06 adu/mmHg", " ADC resolution: 8 bits"]),
        ("200", 12, 0, False, [" Length undefined"]),
    ],
)
def test_description_lines(tmp_path, header_gain, adcres, bsize, nsamp_with_checksum, expect):
    checksum = "0 %d" % bsize if nsamp_with_checksum else ""
    (tmp_path / "d.dat").write_bytes(bytes(8))
    line = "d.dat 16 %s %d 0 0 %s" % (header_gain, adcres, checksum)
    (tmp_path / "d.hea").write_text("d 1 360 4\n%s\n" % line.rstrip())
    record = _sigtrove.Record(str(tmp_path / "d"))
    text = str(record)
    lines = text.split("\n")[:-1]
    assert lines[2] == "Sampling frequency: 360 Hz"
    assert lines[3] == "1 signals"
    for wanted in expect:
        assert wanted in lines
    info = record.signal_info(0)
    assert len(info) == (15 if nsamp_with_checksum else 12)
    assert list(info)[-1] == "baseline" and info["baseline"] == 0
    if header_gain == "0":
        assert info["gain"] == 200.0 and type(info["gain"]) is float
    if not nsamp_with_checksum:
        assert "Checksum" not in text and lines[-1] == " Length undefined"
    else:
        assert lines[-2] == " Length:     0:00 (4 sample intervals)"


def test_description_uses_its_own_record_times():
    a = _sigtrove.Record(str(RECORDS / "3000003_0003"))  # 125 Hz, base time 19:46:25
    b = _sigtrove.Record(str(RECORDS / "100"))  # 360 Hz, no base time
    b.read(0, 0, 10)
    text = str(a)
    assert "Starting time:  [19:46:25]" in text
    assert a.signal_info(0)["length"] == "    0:08"
    assert str(b).split("\n")[1] == "Starting time:      0:00"


def test_signal_info_errors_and_docstring():
    record = _sigtrove.Record(str(RECORDS / "100"))
    with pytest.raises(ValueError, match="invalid signal number"):
        record.signal_info(2)
    with pytest.raises(ValueError, match="Wrong signal number or name"):
        record.signal_info("II")
    with pytest.raises(TypeError):
        record.signal_info()
    assert _sigtrove.Record.signal_info.__doc__ == (
        "\n        signal_info(signal_id) -> dict\n            signal_id   - signal number or signal name in "
        "record\n\n        Returns dictionary with information about specified signal.\n        "
    )


@pytest.mark.parametrize(
    "raw, text",
    [
        (b"caf\xc3\xa9", "caf\u00e9"),  # UTF-8
        (b"caf\xe9", "caf\u00e9"),  # not UTF-8: read as Latin-1
        (b"\xff\xfe", "\u00ff\u00fe"),
    ],
)
def test_engine_texts_never_fail_to_decode(tmp_path, raw, text):
    (tmp_path / "t.dat").write_bytes(bytes(4))
    (tmp_path / "t.hea").write_bytes(b"t 1 100 2\nt.dat 16 200/" + raw + b" 12 0 0 0 0 " + raw + b"\n")
    record = _sigtrove.Record(str(tmp_path / "t"))
    assert record.signal_names == (text,)
    info = record.signal_info(0)
    assert info["units"] == text and info["description"] == text
    assert " Gain: 200 adu/%s" % text in str(record).split("\n")
