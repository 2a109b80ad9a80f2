"""The annotations of many records as one lazy Dask DataFrame, a partition per record.

A partition is a task that opens its record's annotation file by path on the worker that computes
it. Its columns are declared, not learned by reading: building the frame reads nothing.
"""

from typing import Any, Callable, Dict, cast

import dask.dataframe
import numpy as np
import numpy.typing as npt
import pandas as pd
from dask.dataframe import DataFrame

from _sigtrove import Annotation
from sigtrove.dask._record_errors import UNREADABLE, check_errors_choice, unreadable
from sigtrove.dask._record_sources import DatabaseOrRecords, RecordSource, record_sources

# Dask's constructors, which carry no type information.
_from_map: Callable[..., Any] = dask.dataframe.from_map
_from_pandas: Callable[..., Any] = dask.dataframe.from_pandas

# The columns of Annotation.arrays(), with the types it gives them.
ARRAY_COLUMNS = {
    "time": np.int64,
    "code": np.int32,
    "symbol": object,
    "subtype": np.int32,
    "chan": np.int32,
    "num": np.int32,
    "aux": object,
}
# The annotations of EDF files (annotator "edf") have two more, after the time: the onset and the
# duration in seconds (NaN where none is given).
EDF_COLUMNS = {"time": np.int64, "onset": np.float64, "duration": np.float64, **ARRAY_COLUMNS}
# Texts as Dask keeps them (pyarrow strings); a missing aux text is <NA>.
TEXT = pd.StringDtype("pyarrow")


def columns_of(annotator: str) -> Dict[str, Any]:
    return EDF_COLUMNS if annotator == "edf" else ARRAY_COLUMNS


def annotation_table(record: str, columns: Dict[str, npt.NDArray[Any]], annotator: str = "") -> pd.DataFrame:
    """A record's annotation columns as a table with a `record` column first, typed alike whether
    it holds annotations or none."""
    count = len(columns["time"])
    # Made at once from its columns: adding them one by one to a table is several times slower.
    data: Dict[str, Any] = {"record": pd.array([record] * count, dtype=TEXT)}
    for name, kind in columns_of(annotator).items():
        # A WFDB annotation file named "edf" beside a record has no onsets or durations.
        column = columns[name] if name in columns else np.full(count, np.nan)
        data[name] = pd.array(column, dtype=TEXT) if kind is object else column.astype(kind, copy=False)
    return pd.DataFrame(data, copy=False)


def no_annotations(annotator: str = "") -> Dict[str, npt.NDArray[Any]]:
    return {name: np.empty(0, dtype=kind) for name, kind in columns_of(annotator).items()}


def read_partition(source: RecordSource, annotator: str, errors: str) -> pd.DataFrame:
    try:
        with Annotation(source.path, annotator) as annotation:
            columns = annotation.arrays()
    except UNREADABLE as error:
        unreadable(source.name, source.path, error, errors)
        columns = no_annotations(annotator)
    return annotation_table(source.name, columns, annotator)


def annotations(database_or_records: DatabaseOrRecords, annotator: str, errors: str = "raise") -> DataFrame:
    """Every annotation of the annotator's files of every record, as one lazy Dask DataFrame with
    one partition per record, in the records' order: a `record` column (the record's name), then
    the columns of ``Annotation.arrays()`` (time, code, symbol, subtype, chan, num, aux; for the
    annotator "edf" of EDF files also onset and duration after the time). A record
    whose annotation file can not be read raises RecordError naming it when its partition is
    computed (``errors="raise"``), or gives no rows and a RecordSkipped warning (``errors="skip"``)."""
    check_errors_choice(errors)
    if not isinstance(annotator, str):
        raise TypeError('an annotator is a str ("atr"), not %s' % type(annotator).__name__)
    sources = record_sources(database_or_records)
    meta = annotation_table("", no_annotations(annotator), annotator)
    if not sources:
        return cast(DataFrame, _from_pandas(meta, npartitions=1))
    return cast(
        DataFrame,
        _from_map(
            read_partition,
            sources,
            args=(annotator, errors),
            meta=meta,
            label="sigtrove-annotations",
            enforce_metadata=False,
        ),
    )
