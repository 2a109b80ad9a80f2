"""Record.time_text and Annotation.time_text: a record's WFDB time texts, from its own header."""

import os

import pytest
from conftest import RECORDS, expected
from test_record import OPENING_RECORDS

import _sigtrove


@pytest.mark.parametrize("name", OPENING_RECORDS + ["237s/237s", "s25047/s25047-2704-05-04-10-44"])
def test_time_texts_equal_the_reference(name):
    record = _sigtrove.Record(str(RECORDS / name))
    texts = expected(name)["timstr"]
    assert record.time_text(0) == texts["t0"].lstrip()
    for point in texts["points"] + texts["nsamp"]:
        assert record.time_text(point["t"]) == point["text"].lstrip(), point


def test_time_texts_follow_their_own_record_not_the_one_opened_last():
    xform = _sigtrove.Record(str(RECORDS / "xform"))  # 125 Hz, a base date
    hundred = _sigtrove.Record(str(RECORDS / "100"))  # 360 Hz, no base time
    assert hundred.read(0, 0, 1, False)  # the C interface now holds 100
    assert xform.time_text(7500) == "1:00"
    assert xform.time_text(-1) == "[22:00:23 20/07/1995]"
    assert hundred.time_text(360 * 60) == "1:00"
    assert hundred.time_text(1, milliseconds=True) == "0:00.003"


def test_annotation_time_texts_need_no_working_directory(tmp_path):
    annotation = _sigtrove.Annotation(str(RECORDS / "xform"), "all")
    before = os.getcwd()
    os.chdir(tmp_path)
    try:
        assert annotation.time_text(125 * 61) == "1:01"
    finally:
        os.chdir(before)
    assert _sigtrove.Annotation(str(RECORDS / "huge"), "qrs").time_text(250 * 3600) == "1:00:00"


@pytest.mark.parametrize("sample, error", [("1", TypeError), (2**70, OverflowError), (1.5, TypeError)])
def test_refused_samples(sample, error):
    with pytest.raises(error):
        _sigtrove.Record(str(RECORDS / "100")).time_text(sample)
