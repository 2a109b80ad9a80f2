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

``sigtrove.dask`` (the ``dask`` extra) reads whole databases with Dask; ``sigtrove.view(record,
annotators)`` browses a record and its annotations in the web browser (``sigtrove.viewer``).
"""

import os as _os
from typing import TYPE_CHECKING as _TYPE_CHECKING
from typing import Iterable as _Iterable
from typing import Optional as _Optional
from typing import Union as _Union

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

if _TYPE_CHECKING:
    from sigtrove.viewer import Viewer


def view(
    record: "_Union[Record, str, _os.PathLike[str]]",
    annotators: _Union[None, str, _Iterable[str]] = None,
    *,
    port: int = 0,
    browser: _Optional[bool] = None,
) -> "Viewer":
    """Serves a record and its annotators' annotations to a web page on 127.0.0.1 and returns the
    running ``sigtrove.viewer.Viewer``: in a notebook, the cell's value shows the page inline;
    elsewhere the page opens in the system's browser (``browser=False``: see ``viewer.url``).
    ``port=0`` takes a free port. The viewer serves until ``viewer.close()`` or the process ends.
    """
    # The web server's modules load when a viewer is asked for, not with the package.
    from sigtrove.viewer import view as start_viewer

    return start_viewer(record, annotators, port=port, browser=browser)


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
    "view",
    "write_record",
    "write_annotations",
    "SAMPLE_RECORD",
    "__version__",
]
