"""Annotation.arrays: the annotations of a window as numpy columns."""

import pandas
import pytest
from conftest import RECORDS
from test_annotation import RECORDS_WITH_ANNOTATIONS, annotator_cases, expected_rows
from test_annotation_entry import run_fresh

import _sigtrove

COLUMNS = ["time", "code", "symbol", "subtype", "chan", "num", "aux"]
ANNOTATION_FILES = [
    (record, name, stat) for record in RECORDS_WITH_ANNOTATIONS for name, stat, _ in annotator_cases(record)
]


# Each file is read in a fresh process, as the reference read it: files that define codes of their
# own change the process's code tables (what entries' typestr shows) for every later open.
READ_BOTH_WAYS = r"""
import json, sys
import _sigtrove
annotation = _sigtrove.Annotation(sys.argv[1], sys.argv[2], int(sys.argv[3]))
columns = annotation.arrays()
entries = annotation.read()
print(json.dumps({
    "names": list(columns),
    "dtypes": [str(c.dtype) for c in columns.values()],
    "lengths": [len(c) for c in columns.values()],
    "rows": list(zip(*(columns[k].tolist() for k in ("time", "code", "subtype", "chan", "num", "aux")))),
    "symbols": columns["symbol"].tolist(),
    "entries": [(e.time, e.type, e.subtype, e.channel, e.annotator, e.aux) for e in entries],
    "typestr": [e.typestr for e in entries],
}))
"""


@pytest.mark.parametrize("record, name, stat", ANNOTATION_FILES)
def test_columns_equal_the_entries_read_gives(record, name, stat):
    got = run_fresh(READ_BOTH_WAYS, str(RECORDS / record), name, str(stat))
    assert got["names"] == COLUMNS
    assert len(set(got["lengths"])) == 1
    assert got["dtypes"] == ["int64", "int32", "object", "int32", "int32", "int32", "object"]
    rows = [tuple(r) for r in got["rows"]]
    assert rows == [tuple(e) for e in got["entries"]]
    # Symbols from the file's own code table, as the entries see them right after the open.
    assert got["symbols"] == got["typestr"]
    reference = dict(((n, s), r) for n, s, r in annotator_cases(record))[(name, stat)]
    assert rows == expected_rows(reference["annotations"])


@pytest.mark.parametrize(
    "start, stop, first, last",
    [
        (0, 3600, 0, 3600),
        (3600, 3601, 3600, 3601),
        (100000, None, 100000, None),
        (649000, 10**9, 649000, None),
        ("0:10", "0:20", 3600, 7200),
        ("s77", "s78", 77, 78),
        (0, 0, 0, 0),
        ("1:00", "e", 21600, 650000),
    ],
)
def test_windows(start, stop, first, last):
    annotation = _sigtrove.Annotation(str(RECORDS / "100"))
    whole = annotation.arrays()
    keep = (whole["time"] >= first) & (whole["time"] < (last if last is not None else 2**62))
    window = annotation.arrays(start, stop)
    for name in COLUMNS:
        assert window[name].tolist() == whole[name][keep].tolist()


def test_a_table_in_one_line():
    table = pandas.DataFrame(_sigtrove.Annotation(str(RECORDS / "100")).arrays())
    assert len(table) == 2274
    assert table.loc[table.symbol == "N", "time"].diff().median() > 0
    assert table.aux.dropna().tolist()[:1] == ["(N"]


@pytest.mark.parametrize(
    "start, stop, error",
    [(-1, None, ValueError), (10, 5, ValueError), ("soon", None, ValueError), (0.5, None, TypeError)],
)
def test_refused_windows(start, stop, error):
    with pytest.raises(error):
        _sigtrove.Annotation(str(RECORDS / "100")).arrays(start, stop)
