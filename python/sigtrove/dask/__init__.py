"""Whole databases with Dask: records as lazy arrays, annotations as one lazy table, and a function
of each record as a bag, computed where Dask computes them (threads, processes, a cluster).

    import sigtrove, sigtrove.dask

    database = sigtrove.Database("mitdb")
    arrays = sigtrove.dask.frames(database)                 # {"100": dask array, frames x signals, ...}
    beats = sigtrove.dask.annotations(database, "atr")      # dask DataFrame: record, time, code, symbol, ...
    lengths = sigtrove.dask.map_records(lambda r: r.readable_frames, database)   # dask bag

What travels to the workers is each record's path (absolute, so a worker's working directory does
not matter) and what to read of it, never samples: every read is done by the worker that computes
it. A record that can not be read raises RecordError naming it, or with ``errors="skip"`` is left
out with a RecordSkipped warning.

This module needs Dask (``pip install 'sigtrove[dask]'``); ``import sigtrove`` does not import it.
"""

try:
    import dask as _dask  # noqa: F401
    import dask.array as _dask_array  # noqa: F401
    import dask.bag as _dask_bag  # noqa: F401
    import dask.dataframe as _dask_dataframe  # noqa: F401
except ImportError as error:  # pragma: no cover - the test environment has Dask
    raise ImportError(
        "sigtrove.dask needs Dask with its array, bag and dataframe parts: pip install 'sigtrove[dask]' (%s)" % error
    ) from error

from sigtrove.dask._annotation_frame import annotations
from sigtrove.dask._frame_arrays import frames
from sigtrove.dask._record_bag import map_records
from sigtrove.dask._record_errors import RecordError, RecordSkipped

__all__ = ["frames", "annotations", "map_records", "RecordError", "RecordSkipped"]
