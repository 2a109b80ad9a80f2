"""sigtrove: read WFDB (MIT-BIH) records, their signals and annotations.

The work is done by the compiled module ``_sigtrove``; this package re-exports it.
Records on web servers are read by their URL (``Record("https://.../100")``);
``set_remote_options`` sets the cache directory and the timeout for them.
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

from sigtrove._remote import set_remote_options  # noqa: F401

__all__ = [
    "Record",
    "Annotation",
    "AnnotationEntry",
    "Error",
    "InitError",
    "verbose",
    "STAT_READ",
    "STAT_READ_AHA",
    "set_remote_options",
]
