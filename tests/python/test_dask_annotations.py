"""sigtrove.dask.annotations: the annotations of many records as one lazy Dask DataFrame, a
partition per record, read on the workers."""

import numpy as np
import pandas as pd
import pytest
from conftest import RECORDS

import sigtrove
import sigtrove.dask

# Every annotation file of the shared records, by annotator ("huge" has no header).
ANNOTATED = {
    "atr": ["100", "1003"],
    "aha": ["100", "1003"],
    "qrs": ["100", "huge"],
    "wabp": ["12726", "xform"],
    "wqrs": ["12726"],
    "anI": ["12726"],
    "all": ["xform", "237s/237s"],
}
COLUMNS = ["record", "time", "code", "symbol", "subtype", "chan", "num", "aux"]


def serial_table(paths, annotator):
    """What reading each record's annotations in this process gives, as rows with the record's path."""
    tables = [pd.DataFrame({"record": path, **sigtrove.Annotation(path, annotator).arrays()}) for path in paths]
    return pd.concat(tables, ignore_index=True)


def assert_same_rows(got, wanted):
    assert list(got.columns) == COLUMNS and len(got) == len(wanted)
    for column in COLUMNS:
        values = got[column].astype(object).where(got[column].notna(), None).tolist()
        assert values == wanted[column].astype(object).where(wanted[column].notna(), None).tolist(), column


@pytest.mark.parametrize("annotator, names", ANNOTATED.items())
def test_every_shared_annotation_file_computed_on_the_cluster_equals_its_serial_read(dask_client, annotator, names):
    paths = [str(RECORDS / name) for name in names]
    table = sigtrove.dask.annotations(paths, annotator)
    assert table.npartitions == len(names)
    got = dask_client.compute(table, sync=True).reset_index(drop=True)
    assert_same_rows(got, serial_table(paths, annotator))


def test_the_declared_columns_are_those_computed():
    table = sigtrove.dask.annotations(sigtrove.Database(RECORDS / "237s"), "all")
    computed = table.compute(scheduler="sync")
    assert list(table.columns) == COLUMNS
    assert table.dtypes.to_dict() == computed.dtypes.to_dict()
    assert computed.record.unique().tolist() == ["237s"]
    assert computed.time.dtype == np.int64 and computed.aux.notna().all()


def test_a_partition_without_annotations_has_the_declared_columns(tmp_path):
    empty = tmp_path / "empty"
    (tmp_path / "empty.atr").write_bytes(b"\0\0")  # the end mark alone
    table = sigtrove.dask.annotations([str(empty), str(RECORDS / "100")], "atr")
    partitions = [table.get_partition(i).compute(scheduler="sync") for i in range(2)]
    assert len(partitions[0]) == 0 and len(partitions[1]) == 2274
    assert partitions[0].dtypes.to_dict() == partitions[1].dtypes.to_dict() == table.dtypes.to_dict()


def test_a_database_wide_query_on_the_cluster(dask_client):
    # Normal beats per record over the shared records that have reference annotations.
    table = sigtrove.dask.annotations(sigtrove.Database(RECORDS), "atr", errors="skip")
    beats = table[table.symbol == "N"].groupby("record").time.count()
    wanted = {}
    for name in ANNOTATED["atr"]:
        normal = sigtrove.Annotation(str(RECORDS / name), "atr").arrays()["symbol"] == "N"
        if normal.any():
            wanted[name] = int(normal.sum())
    assert dask_client.compute(beats, sync=True).to_dict() == wanted


@pytest.mark.parametrize(
    "annotator, error, text",
    [
        (None, TypeError, "an annotator is a str"),
        ("atr", ValueError, "errors must be 'raise' or 'skip'"),
    ],
)
def test_refused_arguments(annotator, error, text):
    with pytest.raises(error, match=text):
        sigtrove.dask.annotations([str(RECORDS / "100")], annotator, errors="raise" if annotator is None else "no")
