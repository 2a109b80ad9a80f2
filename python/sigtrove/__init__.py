"""sigtrove: read WFDB (MIT-BIH) records, their signals and annotations.

The work is done by the compiled module ``_sigtrove``; this package re-exports it
and adds the command line (``python -m sigtrove``).

    record = sigtrove.Record("mitdb/100")
    signals = record.frames()                       # numpy array, frames x signals
    beats = sigtrove.Annotation("mitdb/100").arrays()  # numpy columns of the annotations
"""

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

from sigtrove._version import __version__  # noqa: F401

__all__ = [
    "Record",
    "Annotation",
    "AnnotationEntry",
    "Signal",
    "Error",
    "InitError",
    "verbose",
    "STAT_READ",
    "STAT_READ_AHA",
    "__version__",
]
