"""Where a database is: a local folder, kept as an absolute path so that a database (and the record
paths made from it) means the same in every process, whatever its working directory; or a folder on
a web server, by its URL (as the engine tells one: http:// or https://, the scheme in any case),
whose list files are fetched from it and whose records are read there.
"""

import os
from typing import Union

import _sigtrove

_Location = Union[str, "os.PathLike[str]"]


def database_location(location: _Location) -> str:
    """The location as it is kept: a local folder's absolute path (which must be a folder)."""
    text = os.fspath(location)
    if not isinstance(text, str):
        raise TypeError("a database location is a str or a path, not %s" % type(text).__name__)
    if "\0" in text:
        raise ValueError("a database location can not hold a null character")
    if _sigtrove._is_url(text):
        return text.rstrip("/")
    folder = os.path.abspath(text)
    if not os.path.exists(folder):
        raise FileNotFoundError("no database at %s: there is no such folder" % text)
    if not os.path.isdir(folder):
        raise NotADirectoryError("no database at %s: it is not a folder" % text)
    return folder


def record_path(location: str, name: str) -> str:
    """The path (or URL) of a record of the database, by its name in the database ("30/3000003")."""
    if _sigtrove._is_url(location):
        return location.rstrip("/") + "/" + name
    return os.path.join(location, *name.split("/"))
