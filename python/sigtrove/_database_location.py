"""Where a database is, and the one place its list files (RECORDS, ANNOTATORS) are read from.

A location is a local folder, kept as an absolute path so that a database (and the record paths
made from it) means the same in every process, whatever its working directory; or a folder on a
web server, by its URL, whose list files are fetched from it and whose records are read there.
"""

import os
from typing import Optional, Union

_Location = Union[str, "os.PathLike[str]"]

URL_SCHEMES = ("http://", "https://")


def is_url(location: str) -> bool:
    return location[:8].lower().startswith(URL_SCHEMES)


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


def read_list_file(location: str, name: str) -> Optional[str]:
    """The text of one of the database's list files (``RECORDS``, ``ANNOTATORS``, or those of its
    subfolders, "30/RECORDS"); None when the database has no such file. Names are file names, so
    the text is decoded as the file system decodes them."""
    path = record_path(location, name)
    if is_url(location):
        return _fetch_list_file(location, path)
    try:
        with open(path, "rb") as f:
            data = f.read()
    except FileNotFoundError:
        return None
    except IsADirectoryError:
        raise IsADirectoryError("database %s: %s is a folder, not a list of names" % (location, name)) from None
    return os.fsdecode(data)


def _fetch_list_file(location: str, url: str) -> Optional[str]:
    # Imported here: a local database never needs urllib and ssl.
    from sigtrove._fetcher import DownloadError, Fetcher, NotOnServer

    try:
        text: str = Fetcher().text(url)
    except NotOnServer:
        return None
    except DownloadError as error:
        raise OSError("database %s: %s" % (location, error)) from None
    return text
