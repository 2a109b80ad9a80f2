"""What becomes of a record that can not be read: an error naming it, or a warning and the
record left out (``errors="raise"`` or ``"skip"``).

A record can not be read when opening or reading it raises one of sigtrove's errors (a missing or
damaged header or signal file) or an operating-system error. Anything else is a fault of the caller
(a signal the record does not have, a fault in a function applied to it) and is raised unchanged.
"""

import warnings
from typing import Any, Tuple, Type

from _sigtrove import Error

ERROR_CHOICES = ("raise", "skip")

UNREADABLE: Tuple[Type[BaseException], ...] = (Error, OSError)


class RecordError(Error):
    """A record of a database-wide computation could not be read: `record` is its name, `path`
    where it was opened from; the text says why. It crosses process boundaries whole (a Dask worker
    raises it, the client gets it)."""

    __module__ = "sigtrove.dask"

    def __init__(self, record: str, path: str, reason: str) -> None:
        super().__init__("record %s (%s) can not be read: %s" % (record, path, reason))
        self.record = record
        self.path = path
        self.reason = reason

    def __reduce__(self) -> Tuple[Any, ...]:
        return (type(self), (self.record, self.path, self.reason))


class RecordSkipped(UserWarning):
    """Warns of a record that was left out of a computation (``errors="skip"``) because it could not
    be read. On a Dask worker the warning goes to that worker's log."""

    __module__ = "sigtrove.dask"


def check_errors_choice(errors: str) -> str:
    if errors not in ERROR_CHOICES:
        raise ValueError("errors must be 'raise' or 'skip', not %r" % (errors,))
    return errors


def reason_of(error: BaseException) -> str:
    """An error as one line of text: its kind and what it says (engine texts end in a newline)."""
    return "%s: %s" % (type(error).__name__, str(error).strip())


def unreadable(record: str, path: str, error: BaseException, errors: str) -> None:
    """Reports a record that could not be read: raises RecordError (from `error`) for "raise",
    warns with RecordSkipped for "skip"."""
    if errors == "skip":
        warnings.warn(RecordSkipped("record %s (%s) left out: %s" % (record, path, reason_of(error))), stacklevel=2)
        return
    raise RecordError(record, path, reason_of(error)) from error
