"""sigtrove: read WFDB (MIT-BIH) records, their signals and annotations.

The work is done by the compiled module ``_sigtrove``; this package re-exports it.
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

__all__ = [
    "Record",
    "Annotation",
    "AnnotationEntry",
    "Error",
    "InitError",
    "verbose",
    "STAT_READ",
    "STAT_READ_AHA",
]
