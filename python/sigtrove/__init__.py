"""sigtrove: read WFDB (MIT-BIH) records, their signals and annotations.

The work is done by the compiled module ``_sigtrove``; this package re-exports it
and adds the command line (``python -m sigtrove``).

    record = sigtrove.Record(sigtrove.SAMPLE_RECORD)
    signals = record.frames()                                   # numpy array, frames x signals
    beats = sigtrove.Annotation(sigtrove.SAMPLE_RECORD).arrays()  # numpy columns of the annotations
    database = sigtrove.Database("mitdb")                       # the records of a database folder

Records on web servers are read by their URL (``Record("https://.../100")``);
``set_remote_options`` sets the cache directory and the timeout for them.

``write_record`` and ``write_annotations`` write records and annotation files, and
``Record.write`` copies a window of a record, as the field's tools read them back.

``sigtrove.dask`` (the ``dask`` extra) reads whole databases with Dask.
"""

import os as _os

from _sigtrove import (  # noqa: F401
    STAT_READ,
    STAT_READ_AHA,
    Annotation,
    AnnotationEntry,
    Error,
    InitError,
    Record,
    verbose,
)
from _sigtrove import _Signal as Signal  # noqa: F401
from sigtrove._database import Database  # noqa: F401
from sigtrove._version import __version__  # noqa: F401
from sigtrove._writing import write_annotations, write_record  # noqa: F401

#: The record that ships with the package: the first ten seconds of MIT-BIH record 100 (signals
#: MLII and V5 at 360 Hz) with its reference beat annotations ("atr"), to try things on.
SAMPLE_RECORD = _os.path.join(_os.path.dirname(_os.path.abspath(__file__)), "data", "sample")

from sigtrove._remote import set_remote_options  # noqa: E402, F401

__all__ = [
    "Record",
    "Database",
    "Annotation",
    "AnnotationEntry",
    "Signal",
    "Error",
    "InitError",
    "verbose",
    "STAT_READ",
    "STAT_READ_AHA",
    "set_remote_options",
    "write_record",
    "write_annotations",
    "SAMPLE_RECORD",
    "__version__",
]
