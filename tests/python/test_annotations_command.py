"""python -m sigtrove annotations RECORD [ANNOTATOR]."""

import subprocess
import sys

import pytest

from conftest import RECORDS, expected
from test_annotation import aux_text
from test_annotation_entry import INITIAL_CODES


def sigtrove(*args):
    return subprocess.run([sys.executable, "-m", "sigtrove", "annotations", *args], capture_output=True,
                          text=True, timeout=120)


def columns(line):
    """(sample, mnemonic, subtype, channel, number, aux) of an output line, after its time text;
    the aux text follows a tab, when there is one."""
    line, _, aux = line.partition("\t")
    fields = line.split()
    return int(fields[-5]), fields[-4], int(fields[-3]), int(fields[-2]), int(fields[-1]), aux or None


@pytest.mark.parametrize("record, annotator, index", [("100", "atr", 0), ("100", "qrs", 1),
                                                      ("xform", "wabp", 1), ("xform", "all", 0),
                                                      ("12726", "wqrs", 2)])
def test_lists_every_annotation(record, annotator, index):
    result = sigtrove(str(RECORDS / record), annotator)
    assert result.returncode == 0, result.stderr
    reference = expected(record)["annotators"][index]
    assert reference["name"] == annotator
    lines = result.stdout.splitlines()
    assert len(lines) == reference["count"]
    for line, (time, code, subtype, channel, number, aux) in zip(lines, reference["annotations"]):
        assert columns(line) == (time, INITIAL_CODES[code]["annstr"],
                                 *((v & 0xFF) - 256 if v & 0x80 else v for v in (subtype, channel, number)),
                                 aux_text(aux))


def test_the_rhythm_label_follows_its_annotation():
    lines = sigtrove(str(RECORDS / "100")).stdout.splitlines()
    assert lines[0].endswith("      18      +    0    0    0\t(N")


def test_time_texts_follow_the_record():
    # 100 is sampled at 360 Hz: sample 650000 is 30:05 into the record.
    result = sigtrove(str(RECORDS / "100"))
    assert result.returncode == 0, result.stderr
    first, last = result.stdout.splitlines()[0], result.stdout.splitlines()[-1]
    assert first.split()[0] == "0:00"
    assert last.split()[0] == "30:05"


def test_default_annotator_is_atr():
    assert sigtrove(str(RECORDS / "100")).stdout == sigtrove(str(RECORDS / "100"), "atr").stdout


def test_missing_annotator_fails_with_the_engine_text():
    result = sigtrove(str(RECORDS / "100"), "nosuchann")
    assert result.returncode == 1
    assert result.stderr.endswith("annopen: can't read annotator nosuchann for record 100\n")


@pytest.mark.parametrize("args", [(), ("a", "b", "c")])
def test_usage(args):
    result = sigtrove(*args)
    assert result.returncode == 2
    assert result.stderr.startswith("usage: python -m sigtrove annotations")


def test_time_texts_of_a_record_without_header_count_at_250_hz():
    # huge has no header: its one annotation, at sample 10^10, is 40,000,000 s in at 250 Hz.
    result = sigtrove(str(RECORDS / "huge"), "qrs")
    assert result.returncode == 0, result.stderr
    assert result.stdout.split()[:2] == ["11111:06:40", "10000000000"]
