"""How records on web servers are read: the cache directory and the timeout.

The engine takes both from the environment each time it opens a remote file
(``SIGTROVE_CACHE``, ``SIGTROVE_TIMEOUT``) unless the program has set them; this
sets them in the engine, for the process. The environment is left as it is: reads
on other threads, made without the interpreter lock, may be looking at it.
"""

import enum
import math
import os
from typing import Final, Union

import _sigtrove


class _Unchanged(enum.Enum):
    """The default of an option that set_remote_options leaves as it is (None clears an option)."""

    UNCHANGED = enum.auto()


_UNCHANGED: Final = _Unchanged.UNCHANGED
# What timeout=None stands for.
DEFAULT_TIMEOUT = 30.0


def set_remote_options(
    *,
    cache: Union[str, "os.PathLike[str]", None, _Unchanged] = _UNCHANGED,
    timeout: Union[float, None, _Unchanged] = _UNCHANGED,
) -> None:
    """Sets where fetched files are kept and how long a server may keep the engine waiting.

    cache   -- a directory (str or os.PathLike) that keeps what is fetched, so
               that reading a record again makes no request; None for no cache.
    timeout -- seconds a connection may take, and an answer's head, before the
               read fails; a body that brings fewer than 1024 bytes a second for
               that long fails too. None for the default (30).

    An option not given stays as it is. Applies to every record and annotation
    file opened afterwards, on any thread.
    """
    if cache is not _UNCHANGED:
        if cache is None:
            _sigtrove._set_remote_cache("")
        else:
            directory = os.fspath(cache)
            if not isinstance(directory, str):
                raise TypeError("cache must be a str or os.PathLike path, not %s" % type(directory).__name__)
            _sigtrove._set_remote_cache(os.path.abspath(directory))
    if timeout is not _UNCHANGED:
        seconds = DEFAULT_TIMEOUT if timeout is None else float(timeout)
        if not (math.isfinite(seconds) and 0 < seconds <= 86400):
            raise ValueError("timeout must be a number of seconds between 0 and 86400, not %r" % (timeout,))
        _sigtrove._set_remote_timeout(seconds)


def reset_remote_options() -> None:
    """Goes back to what the environment says (SIGTROVE_CACHE, SIGTROVE_TIMEOUT), as before any
    set_remote_options."""
    _sigtrove._set_remote_cache(None)
    _sigtrove._set_remote_timeout(None)
