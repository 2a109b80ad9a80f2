"""A database: a folder of records, as PhysioNet publishes them, here or on a web server.

Its records are the ones its ``RECORDS`` file lists, one name a line ("100", "30/3000003"); a line
that ends with "/" names a subfolder with a RECORDS file of its own, whose records are listed in
its place (as PhysioNet's largest databases nest theirs). A local folder without a RECORDS file has
the records whose headers are in it or below it. Its annotators are what its ``ANNOTATORS`` file
says ("atr<TAB>reference beat annotations").
"""

import os
from concurrent.futures import ThreadPoolExecutor
from typing import Dict, FrozenSet, Iterator, List, Set, Tuple, Union

import _sigtrove
from _sigtrove import Record, _prefetch_headers
from sigtrove._database_location import database_location, record_path
from sigtrove._header_scan import scan_records
from sigtrove._list_files import MemoryBudget, list_lines, read_list_file

_Location = Union[str, "os.PathLike[str]"]

# Headers asked for at once while a remote database's records are opened one by one.
_PREFETCHED_HEADERS = 64


class Database:
    """The records of a database folder, by name, in the order its RECORDS file gives them.

    ``len(db)`` counts them, ``for record in db`` opens them one by one, ``db["100"]`` opens one by
    name; ``db.names`` are the names, ``db.path("100")`` a record's path (what ``Record`` and
    ``Annotation`` take), ``db.annotators`` the annotators, each with its description. A record is
    opened only when it is asked for: one whose header can not be read raises then
    (``sigtrove.InitError``). A record whose signal files are not there (databases publish some
    records as headers and annotations only) is given like any other: what its header says can be
    read, and only what needs its signals (``frames``, ``read``...) raises.
    """

    location: str
    names: Tuple[str, ...]
    annotators: Dict[str, str]
    _known: FrozenSet[str]

    def __init__(self, location: _Location) -> None:
        self.location = database_location(location)
        try:
            if _sigtrove._is_url(self.location):
                # The two lists on a server are asked for side by side: one round trip, not two.
                # RECORDS fails first, as it would alone; the engine waits without the GIL.
                with ThreadPoolExecutor(max_workers=1) as pool:
                    annotators = pool.submit(_annotators, self.location)
                    self.names = tuple(_record_names(self.location))
                    self.annotators = annotators.result()
            else:
                self.names = tuple(_record_names(self.location))
                self.annotators = _annotators(self.location)
            self._known = frozenset(self.names)
        except (ValueError, OSError) as error:
            # A URL's user name and password are for its server, never for an error text.
            if _sigtrove._without_credentials(str(error)) == str(error):
                raise
            raise type(error)(_sigtrove._without_credentials(str(error))) from None

    def path(self, name: str) -> str:
        """The path of the record named `name`; KeyError when the database has no such record."""
        if name not in self:
            raise KeyError("database %s has no record %r" % (_sigtrove._without_credentials(self.location), name))
        return record_path(self.location, name)

    def __len__(self) -> int:
        return len(self.names)

    def __iter__(self) -> Iterator[Record]:
        paths = [record_path(self.location, name) for name in self.names]
        remote = _sigtrove._is_url(self.location)
        for index, path in enumerate(paths):
            # The headers of a remote database are asked for a batch at a time, all at once:
            # a round trip per batch instead of one per record.
            if remote and index % _PREFETCHED_HEADERS == 0:
                _prefetch_headers(paths[index : index + _PREFETCHED_HEADERS])
            yield Record(path, signals_required=False)

    def __getitem__(self, name: str) -> Record:
        if not isinstance(name, str):
            raise TypeError("records are looked up by name (a str), not by %s" % type(name).__name__)
        return Record(self.path(name), signals_required=False)

    def __contains__(self, name: object) -> bool:
        return name in self._known

    def __repr__(self) -> str:
        return "sigtrove.Database(%r)" % self.location


def _checked_name(location: str, list_file: str, line: str) -> str:
    """A RECORDS entry, refused when it would name a file outside the database."""
    parts = line.rstrip("/").split("/")
    if line.startswith("/") or "\\" in line or any(p in ("", ".", "..") for p in parts):
        raise ValueError(
            "database %s: %s lists %r, which is not a record name of the database" % (location, list_file, line)
        )
    return line


# How deep RECORDS files may nest folders: deeper is taken for a loop (a folder linked into itself).
NESTING_LIMIT = 16


def _record_names(location: str) -> List[str]:
    budget = MemoryBudget()
    text = read_list_file(location, "RECORDS", budget)
    if text is None:
        if _sigtrove._is_url(location):
            raise ValueError("database %s has no RECORDS file" % location)
        return scan_records(location)
    names: List[str] = []
    _add_listed(location, "RECORDS", "", text, names, set(), budget)
    return names


def _add_listed(
    location: str, list_file: str, prefix: str, text: str, names: List[str], seen: Set[str], budget: MemoryBudget
) -> None:
    """Adds the records a list file names, a nested folder's records where the folder is listed;
    a name listed twice counts once. Nested lists are charged to the budget of the first."""
    for line in list_lines(text):
        name = prefix + _checked_name(location, list_file, line)
        if not name.endswith("/"):
            if name not in seen:
                seen.add(name)
                names.append(name)
            continue
        if name.count("/") > NESTING_LIMIT:
            raise ValueError("database %s: %s nests folders more than %d deep" % (location, list_file, NESTING_LIMIT))
        inner_file = name + "RECORDS"
        inner = read_list_file(location, inner_file, budget)
        if inner is None:
            raise ValueError(
                "database %s: %s lists the folder %r, which has no RECORDS file" % (location, list_file, line)
            )
        _add_listed(location, inner_file, name, inner, names, seen, budget)


def _annotators(location: str) -> Dict[str, str]:
    text = read_list_file(location, "ANNOTATORS")
    annotators: Dict[str, str] = {}
    for line in list_lines(text or ""):
        fields = line.split(None, 1)
        annotators.setdefault(fields[0], fields[1].strip() if len(fields) > 1 else "")
    return annotators
