"""Where a database is, and the one place its list files (RECORDS, ANNOTATORS) are read from.

A location is a local folder, kept as an absolute path so that a database (and the record paths
made from it) means the same in every process, whatever its working directory; or a folder on a
web server, by its URL, whose list files are fetched from it and whose records are read there.
"""

import os
from typing import Optional, Union

from sigtrove._memory_ceiling import CeilingExceeded, MemoryBudget
from sigtrove._url_text import without_credentials

_Location = Union[str, "os.PathLike[str]"]

URL_SCHEMES = ("http://", "https://", "s3://", "physionet://")


def is_url(location: str) -> bool:
    return location[:12].lower().startswith(URL_SCHEMES)


def database_location(location: _Location) -> str:
    """The location as it is kept: a local folder's absolute path (which must be a folder)."""
    text = os.fspath(location)
    if not isinstance(text, str):
        raise TypeError("a database location is a str or a path, not %s" % type(text).__name__)
    if "\0" in text:
        raise ValueError("a database location can not hold a null character")
    if is_url(text):
        return text.rstrip("/")
    folder = os.path.abspath(text)
    if not os.path.exists(folder):
        raise FileNotFoundError("no database at %s: there is no such folder" % text)
    if not os.path.isdir(folder):
        raise NotADirectoryError("no database at %s: it is not a folder" % text)
    return folder


def record_path(location: str, name: str) -> str:
    """The path (or URL) of a record of the database, by its name in the database ("30/3000003")."""
    if is_url(location):
        return location.rstrip("/") + "/" + name
    return os.path.join(location, *name.split("/"))


# What str.splitlines splits at: a text has at most one line more than these characters.
_LINE_ENDS = "\n\r\v\f\x1c\x1d\x1e\x85\u2028\u2029"


def line_count(text: str) -> int:
    """How many lines `text` has at most, counted without splitting it."""
    return 1 + sum(text.count(end) for end in _LINE_ENDS)


def read_list_file(location: str, name: str, budget: Optional[MemoryBudget] = None) -> Optional[str]:
    """The text of one of the database's list files (``RECORDS``, ``ANNOTATORS``, or those of its
    subfolders, "30/RECORDS"); None when the database has no such file. Names are file names, so
    the text is decoded as the file system decodes them. What it holds (its bytes, and for each of
    its names what Python keeps of it) is charged to `budget`, which the lists of one database
    share: past the memory ceiling, CeilingExceeded (a ValueError) says which list went past it."""
    budget = budget if budget is not None else MemoryBudget()
    path = record_path(location, name)
    try:
        if is_url(location):
            text = _fetch_list_file(location, path, budget)
        else:
            text = _read_local_list(location, name, path, budget)
        if text is not None:
            budget.charge(name, len(text), line_count(text))
    except CeilingExceeded as error:
        raise CeilingExceeded("database %s: %s" % (without_credentials(location), error)) from None
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


def _fetch_list_file(location: str, url: str, budget: MemoryBudget) -> Optional[str]:
    if not url[:8].lower().startswith(("http://", "https://")):
        # An object store or PhysioNet by name: read by the engine's client, which knows those names.
        from _sigtrove import _fetch_remote_file

        try:
            data = _fetch_remote_file(url, budget.left)
        except OSError as error:
            raise OSError("database %s: %s" % (without_credentials(location), error)) from None
        if data is None:
            return None
        if len(data) > budget.left:
            budget.charge(url.rsplit("/", 1)[-1], len(data))
        return data.decode("utf-8", "replace")
    # Imported here: a local database never needs urllib and ssl.
    from sigtrove._fetcher import DownloadError, Fetcher, NotOnServer

    try:
        text: str = Fetcher().text(url, budget)
    except NotOnServer:
        return None
    except DownloadError as error:
        raise OSError("database %s: %s" % (without_credentials(location), error)) from None
    return text
