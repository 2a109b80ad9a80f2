"""The one reader of a database's list files (RECORDS, ANNOTATORS, and those of its subfolders), for a
Database and for the download command, here or on a web server; and what the names they give may take
together: the list's bytes and, for each name, what Python keeps of it, against the engine's memory
ceiling (SIGTROVE_MAX_RECORD_MEMORY), so that a list can not make the package hold more than a
record may."""

import os
from typing import List, Optional

import _sigtrove
from sigtrove._database_location import record_path
from sigtrove._http_files import DownloadError, NotOnServer, fetch_text, shown_url

# What Python keeps of a name read from a list, besides its characters: the string object and its
# place in the lists and sets it goes into.
BYTES_PER_NAME = 256

# What str.splitlines splits at: a text has at most one line more than these characters.
_LINE_ENDS = "\n\r\v\f\x1c\x1d\x1e\x85\u2028\u2029"


class CeilingExceeded(ValueError):
    """What a server sent, or a list holds, would take more than the memory ceiling."""


class MemoryBudget:
    """What the names read from a database's lists may take together. A database (or a download)
    charges all its lists to one budget, so that nested lists can not add up past it either."""

    def __init__(self) -> None:
        self.ceiling = _sigtrove._max_record_memory()
        self.left = self.ceiling

    def charge(self, what: str, size: int, names: int = 0) -> None:
        """Takes `size` bytes and `names` names for `what` (a URL or a file, for the error)."""
        self.left -= size + names * BYTES_PER_NAME
        if self.left < 0:
            raise CeilingExceeded(
                "%s: more than %s of names: past the record memory ceiling (SIGTROVE_MAX_RECORD_MEMORY)"
                % (what, _sigtrove._megabytes(self.ceiling))
            )


def line_count(text: str) -> int:
    """How many lines `text` has at most, counted without splitting it."""
    return 1 + sum(text.count(end) for end in _LINE_ENDS)


def list_lines(text: str) -> List[str]:
    """The entries of a list file: its lines, stripped, without blank lines and comments ("#")."""
    stripped = (line.strip() for line in text.splitlines())
    return [line for line in stripped if line and not line.startswith("#")]


def read_list_file(location: str, name: str, budget: Optional[MemoryBudget] = None) -> Optional[str]:
    """The text of one of the list files of the database at `location` (a folder's absolute path or
    a URL): ``RECORDS``, ``ANNOTATORS``, or those of its subfolders ("30/RECORDS"); None when there
    is no such file. A local file's text is decoded as the file system decodes names. What it holds
    is charged to `budget`, which the lists of one database share: past the memory ceiling,
    CeilingExceeded (a ValueError) says which list went past it. A list that can not be fetched
    raises OSError."""
    budget = budget if budget is not None else MemoryBudget()
    path = record_path(location, name)
    try:
        if _sigtrove._is_url(location):
            text = _fetch_list_file(location, path, name, budget)
        else:
            text = _read_local_list(location, name, path, budget)
        if text is not None:
            budget.charge(name, len(text), line_count(text))
    except CeilingExceeded as error:
        raise CeilingExceeded("database %s: %s" % (shown_url(location), error)) from None
    return text


def _read_local_list(location: str, name: str, path: str, budget: MemoryBudget) -> Optional[str]:
    try:
        with open(path, "rb") as f:
            size = os.fstat(f.fileno()).st_size
            if size > budget.left:
                budget.charge(name, size)
            data = f.read(budget.left + 1)
    except FileNotFoundError:
        return None
    except IsADirectoryError:
        raise IsADirectoryError("database %s: %s is a folder, not a list of names" % (location, name)) from None
    if len(data) > budget.left:
        budget.charge(name, len(data))
    return os.fsdecode(data)


def _fetch_list_file(location: str, url: str, name: str, budget: MemoryBudget) -> Optional[str]:
    try:
        return fetch_text(url, max(budget.left, 0))
    except NotOnServer:
        return None
    except OverflowError as error:
        size = error.args[0] if error.args and error.args[0] is not None else budget.left + 1
        budget.charge(shown_url(url), size)
        raise  # not reached: the charge is past what is left
    except DownloadError as error:
        raise OSError("database %s: %s" % (shown_url(location), error)) from None
