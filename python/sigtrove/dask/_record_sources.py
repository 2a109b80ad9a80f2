"""The records a database-wide computation works on, as small values that travel to workers: each
record's name and the path that opens it in any process (absolute, or a URL)."""

import os
from typing import Iterable, List, NamedTuple, Union

import _sigtrove
from _sigtrove import Record
from sigtrove._database import Database

RecordItem = Union[Record, str, "os.PathLike[str]"]
DatabaseOrRecords = Union[Database, Iterable[RecordItem]]


class RecordSource(NamedTuple):
    name: str  # its name in the database, or the path it was given by
    path: str  # what opens it, whatever the working directory


def _source_of(item: RecordItem) -> RecordSource:
    if isinstance(item, Record):
        # A record pickles by the absolute path its header was found at: that path opens it anywhere.
        path = item.__reduce__()[1][0]
        return RecordSource(os.path.join(item.basedir, item.record), path)
    if isinstance(item, (str, os.PathLike)):
        given = os.fspath(item)
        if isinstance(given, str):
            return RecordSource(given, given if _sigtrove._is_url(given) else os.path.abspath(given))
    raise TypeError("records are given as sigtrove.Record objects or record paths, not %s" % type(item).__name__)


def record_sources(database_or_records: DatabaseOrRecords) -> List[RecordSource]:
    """The records of a Database, or of an iterable of Records and record paths, in their order."""
    if isinstance(database_or_records, Database):
        return [RecordSource(name, database_or_records.path(name)) for name in database_or_records.names]
    if isinstance(database_or_records, (str, bytes, os.PathLike, Record)):
        raise TypeError(
            "give a sigtrove.Database, or a list of records or record paths, not one %s (a database "
            "folder is sigtrove.Database(path))" % type(database_or_records).__name__
        )
    try:
        items = iter(database_or_records)
    except TypeError:
        raise TypeError(
            "give a sigtrove.Database, or a list of records or record paths, not %s"
            % type(database_or_records).__name__
        ) from None
    return [_source_of(item) for item in items]
