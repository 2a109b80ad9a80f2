"""sigtrove.write_annotations: the files are what the field's wrann wrote for the same lists
(tests/fixtures/written/annotations), every shared annotation file written again from its arrays reads
back the same through sigtrove and the wfdb package, and a list's own mnemonics survive."""

import json
import math
import re

import numpy as np
import pandas as pd
import pytest
from conftest import FIXTURES, RECORDS

import sigtrove

pytestmark = pytest.mark.filterwarnings("ignore:The inplace keyword")
WRITTEN = FIXTURES / "written" / "annotations"
CASES = [c for c in json.loads((FIXTURES / "written" / "cases.json").read_text())["annotations"]]
WRANN_CASES = [c for c in CASES if c["commands"][-1].startswith("wrann")]
# The mend: wrann writes a mnemonic of the list's own as a NOTE with the mnemonic as its text; a table
# of code definitions keeps it (and its code).
OWN_MNEMONICS = {"12726.wabp", "100.codes"}
LISTING = re.compile(r"^\s*(\[[^]]*\]|\S+)\s+(-?\d+)\s+(\S+)\s+(-?\d+)\s+(-?\d+)\s+(-?\d+)(?:\t(.*))?$")


def listing(name):
    """The columns of an rdann listing, as Annotation.arrays() has them (without codes)."""
    rows = [LISTING.match(line).groups() for line in (WRITTEN / (name + ".txt")).read_text().splitlines() if line]
    return {
        "time": np.array([int(r[1]) for r in rows], dtype=np.int64),
        "symbol": [r[2] for r in rows],
        "subtype": np.array([int(r[3]) for r in rows]),
        "chan": np.array([int(r[4]) for r in rows]),
        "num": np.array([int(r[5]) for r in rows]),
        "aux": [r[6] for r in rows],
    }


@pytest.mark.parametrize("case", WRANN_CASES, ids=lambda c: c["name"])
def test_files_are_the_bytes_wrann_wrote(case, tmp_path):
    name, record, annotator = case["name"], case["record"], case["name"].split(".", 1)[1]
    folder = RECORDS / case["record_folder"]
    header = folder / (record + ".hea")
    if case.get("header"):
        (tmp_path / (record + ".hea")).write_text(case["header"])
    elif header.exists():
        (tmp_path / (record + ".hea")).write_bytes(header.read_bytes())
    sigtrove.write_annotations(tmp_path / record, annotator, listing(name))
    got, want = (tmp_path / name).read_bytes(), (WRITTEN / name).read_bytes()
    if name in OWN_MNEMONICS:
        assert got != want
        back = sigtrove.Annotation(str(tmp_path / record), annotator).arrays()
        assert list(back["symbol"]) == sorted_listing(listing(name))["symbol"]
    else:
        assert got == want


def sorted_listing(columns):
    order = sorted(
        range(len(columns["time"])), key=lambda i: (columns["time"][i], columns["num"][i], columns["chan"][i])
    )
    return {k: [v[i] for i in order] for k, v in columns.items()}


def test_the_frequency_given_is_the_files_time_resolution(tmp_path):
    columns = listing("100.hires")
    sigtrove.write_annotations(tmp_path / "100", "hires", columns, frequency=1000)
    assert (tmp_path / "100.hires").read_bytes() == (WRITTEN / "100.hires").read_bytes()
    # Read with record 100's header (360 Hz), the times are record samples.
    (tmp_path / "100.hea").write_bytes((RECORDS / "100.hea").read_bytes())
    back = sigtrove.Annotation(str(tmp_path / "100"), "hires").arrays()
    assert list(back["time"][:5]) == [0, 0, 1, 1, 360]


SHARED_FILES = [
    ("100", "atr"),
    ("100", "qrs"),
    ("100", "aha"),
    ("1003", "atr"),
    ("12726", "anI"),
    ("12726", "wabp"),
    ("12726", "wqrs"),
    ("xform", "all"),
    ("xform", "wabp"),
    ("huge", "qrs"),
    ("237s/237s", "all"),
]


def same_columns(got, want):
    for column in ("time", "code", "symbol", "subtype", "chan", "num", "aux"):
        assert list(got[column]) == list(want[column]), column


@pytest.mark.parametrize("record, annotator", SHARED_FILES, ids=lambda v: v.replace("/", "_"))
def test_every_shared_annotation_file_written_from_its_arrays_reads_back_the_same(record, annotator, tmp_path):
    source = RECORDS / record
    arrays = sigtrove.Annotation(str(source), annotator).arrays()
    name = record.split("/")[-1]
    header = source.with_suffix(".hea")
    if header.exists():
        (tmp_path / (name + ".hea")).write_bytes(header.read_bytes())
    sigtrove.write_annotations(tmp_path / name, annotator, arrays)
    same_columns(sigtrove.Annotation(str(tmp_path / name), annotator).arrays(), arrays)
    # A second reader of what was written: the wfdb package.
    wfdb = pytest.importorskip("wfdb")
    theirs = wfdb.rdann(str(tmp_path / name), annotator)
    assert list(theirs.sample) == list(arrays["time"])
    assert list(theirs.subtype) == list(arrays["subtype"])
    assert list(theirs.num) == list(arrays["num"])
    assert [a or None for a in theirs.aux_note] == [a or None for a in arrays["aux"]]
    assert list(theirs.symbol) == list(arrays["symbol"])


def test_a_data_frame_in_any_order_with_missing_values(tmp_path):
    frame = pd.DataFrame(
        {
            "time": [300, 100, 200, 200, 0],
            "symbol": ["N", "V", None, "CAL", "N"],
            "code": [np.nan, np.nan, 1, np.nan, np.nan],
            "chan": [0, -1, np.nan, 2, 0],
            "aux": [None, "(AFIB", np.nan, "", "first"],
        }
    )
    sigtrove.write_annotations(tmp_path / "r", "det", frame)
    back = pd.DataFrame(sigtrove.Annotation(str(tmp_path / "r"), "det").arrays())
    assert list(back.time) == [0, 100, 200, 200, 300]
    assert list(back.symbol) == ["N", "V", "N", "CAL", "N"]
    assert list(back.code) == [1, 5, 1, 42, 1]
    assert list(back.chan) == [0, -1, 0, 2, 0]  # -1 is stored as 255, which reads back as -1
    assert [None if pd.isna(a) else a for a in back.aux] == ["first", "(AFIB", None, None, None]


def test_what_an_annotation_file_can_not_hold_is_refused_and_nothing_is_written(tmp_path):
    bad = [
        ({"time": [0, -5], "symbol": ["N", "N"]}, "a time can not be negative"),
        ({"time": [1.5], "symbol": ["N"]}, "no sample number"),
        ({"time": [1], "symbol": ["N"], "num": [300]}, "number 300 is not within -128 to 127"),
        ({"time": [1], "symbol": ["N"], "aux": ["x" * 256]}, "at most 255 bytes"),
        ({"time": [1, 2], "code": [42, 42], "symbol": ["A1", "A2"]}, "two mnemonics"),
        ({"time": [1]}, "a code or a symbol"),
        ({"time": [1], "symbol": ["N", "V"]}, "differ in length"),
    ]
    for columns, text in bad:
        with pytest.raises(ValueError, match=text):
            sigtrove.write_annotations(tmp_path / "r", "bad", columns)
    assert list(tmp_path.iterdir()) == []
    with pytest.raises(ValueError, match="holds a folder separator|annotator name"):
        sigtrove.write_annotations(tmp_path / "r", "a/b", {"time": [1], "symbol": ["N"]})


def test_an_existing_file_is_replaced_only_with_overwrite(tmp_path):
    sigtrove.write_annotations(tmp_path / "r", "atr", {"time": [1], "symbol": ["N"]})
    with pytest.raises(FileExistsError):
        sigtrove.write_annotations(tmp_path / "r", "atr", {"time": [2], "symbol": ["V"]})
    sigtrove.write_annotations(tmp_path / "r", "atr", {"time": [2], "symbol": ["V"]}, overwrite=True)
    assert list(sigtrove.Annotation(str(tmp_path / "r"), "atr").arrays()["symbol"]) == ["V"]


def test_a_record_object_names_where_the_file_goes(tmp_path, monkeypatch):
    sigtrove.write_record(tmp_path / "r", np.zeros((360, 1)), 360)
    # Opened by a relative path from another folder: the file goes beside its header all the same.
    monkeypatch.chdir(tmp_path.parent)
    record = sigtrove.Record(tmp_path.name + "/r")
    monkeypatch.chdir(tmp_path)
    sigtrove.write_annotations(record, "qrs", {"time": np.array([10, 20]), "code": np.array([1, 1])})
    data = (tmp_path / "r.qrs").read_bytes()
    assert data.startswith(b"\x00\x58\x17\xfc## time resolution: 360\x00")
    assert math.isclose(sigtrove.Annotation(str(tmp_path / "r"), "qrs").arrays()["time"][1], 20)
