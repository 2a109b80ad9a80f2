"""Mirror a database on a web server into a folder, for offline use.

Fetches the records named (or every record its RECORDS file lists) with all
their files: the header, its signal files, the headers and signal files of the
segments of a multi-segment record, and the annotation files its ANNOTATORS file
lists. Each file is written under a passing name (NAME.part) and takes its own
name only once its size is that the server gave, so nothing partial ever lies
under a final name; a run that was stopped goes on where it stopped. Files that
need nothing of each other are fetched at once (WORKERS at a time): the lists,
then the headers of several records beside their annotation files, then the
signal files the headers name; a file that several records name is fetched once.
Errors are reported in the order of the records, as a run one file after another
would give them. A progress line is shown on standard error when that is a
terminal.

The server is not trusted. A name it gives (in RECORDS, ANNOTATORS or a header)
becomes a path only when it stays inside the folder: no absolute path, no "..",
no empty part, no backslash, NUL or control character, and no "/" at all in an
annotator's name. Files are made through folders opened one inside the other,
never through a symbolic link. A file larger than the disk has free is refused
before it is written; one that says not how long it is is held to the memory
ceiling (SIGTROVE_MAX_RECORD_MEMORY), as are the lists and headers read; a
server that sends more slowly than the rate floor, or redirects to another host,
gives an error for that file. Names from the server are printed escaped.
"""

import argparse
import os
import stat
import threading
import urllib.parse
from concurrent.futures import Future, ThreadPoolExecutor
from typing import Dict, List, Optional, Sequence, Tuple, Union

import _sigtrove
from sigtrove._http_files import DownloadError, NotOnServer, open_file, read_body, shown_url
from sigtrove._list_files import CeilingExceeded, MemoryBudget, list_lines, read_list_file
from sigtrove.commands._arguments import CommandFailure, UsageError, engine_text, printable
from sigtrove.commands._progress import FileProgress, FileView, NoProgress, SharedProgress, file_progress

SUMMARY = "mirror a database on a web server (its RECORDS, or the records named) for offline use"
CHUNK = 256 * 1024

# The progress line, and what a file fetched beside others reports to it through.
_Line = Union[FileProgress, NoProgress]
_Progress = Union[_Line, FileView]

_DIRECTORY = os.O_RDONLY | os.O_DIRECTORY | os.O_NOFOLLOW | os.O_CLOEXEC


def path_parts(name: str, folders: bool = True) -> Optional[List[str]]:
    """The parts of the path inside the mirror that a name from the server stands for ("30/3000003"
    is ["30", "3000003"]), or None when the name could lead anywhere else or is not one a file may
    safely have: empty, absolute, with a NUL, a backslash or a character that is not printable, a
    part that is empty, "." or "..", or, without `folders` (an annotator's name), any "/"."""
    if not name or "\\" in name or not name.isprintable():
        return None
    parts = name.split("/")
    if (not folders and len(parts) > 1) or any(part in ("", ".", "..") for part in parts):
        return None
    return parts


class Place:
    """Where one file of the mirror goes: its folder, open (made where missing, each folder opened
    from the one above without following a link), and its name there."""

    def __init__(self, root: int, parts: Sequence[str]) -> None:
        self.name = parts[-1]
        self.fd = os.dup(root)
        try:
            for part in parts[:-1]:
                try:
                    os.mkdir(part, 0o777, dir_fd=self.fd)
                except FileExistsError:
                    pass
                inner = os.open(part, _DIRECTORY, dir_fd=self.fd)
                os.close(self.fd)
                self.fd = inner
        except BaseException:
            os.close(self.fd)
            raise

    def __enter__(self) -> "Place":
        return self

    def __exit__(self, *exc: object) -> None:
        os.close(self.fd)

    def size(self, name: str) -> Optional[int]:
        """The size of the regular file `name` here; None when there is none; an error when something
        else (a symbolic link, a folder) is in the way."""
        try:
            info = os.stat(name, dir_fd=self.fd, follow_symlinks=False)
        except FileNotFoundError:
            return None
        if not stat.S_ISREG(info.st_mode):
            raise DownloadError("%s is in the way: it is not a regular file (left as it is)" % printable(name))
        return info.st_size

    def open(self, name: str, flags: int) -> int:
        return os.open(name, flags | os.O_NOFOLLOW | os.O_CLOEXEC, 0o666, dir_fd=self.fd)

    def free(self) -> int:
        space = os.fstatvfs(self.fd)
        return space.f_bavail * space.f_frsize


def fetch_file(url: str, place: Place, progress: _Progress) -> bool:
    """Fetches `url` into the file of `place`, going on from NAME.part if a run stopped there."""
    name, part = place.name, place.name + ".part"
    shown = shown_url(url)
    try:
        present, have = place.size(name), place.size(part)
    except DownloadError as error:
        raise DownloadError("%s: %s" % (shown, error)) from None
    if present is not None:
        head = open_file(url, head_only=True)
        assert head is not None  # only a request from a byte on can be answered 416
        length = head.content_length
        head.close()
        if length is not None and present == length:
            progress.finished(0)
            return False
        os.replace(name, part, src_dir_fd=place.fd, dst_dir_fd=place.fd)  # not the server's file: fetched again
        have = present
    have = have or 0
    response = open_file(url, first=have)
    if response is None:  # 416: the part already holds every byte
        response = open_file(url)
        have = 0
    assert response is not None
    try:
        total: Optional[int] = None
        if response.status == 206:
            first, total = response.content_range or (None, None)
            if first is None or total is None:
                raise DownloadError("%s: unreadable Content-Range in an answer of part of the file" % shown)
            if first != have:
                raise DownloadError("%s: the server answered from byte %d, not %d" % (shown, first, have))
            append = True
        else:
            have = 0
            total = response.content_length
            append = False
        if total is not None and total - have > place.free():
            raise DownloadError(
                "%s: the server says the file has %d bytes, more than the %d bytes free in the folder"
                % (shown, total, place.free())
            )
        done = have
        flags = os.O_WRONLY | os.O_CREAT | (os.O_APPEND if append else os.O_TRUNC)
        with os.fdopen(place.open(part, flags), "wb") as out:
            while True:
                try:
                    chunk = read_body(response, CHUNK)
                except DownloadError:
                    if total is None and done >= _sigtrove._max_record_memory():
                        # Past the memory ceiling without a length: the bytes kept would only hold the disk.
                        os.unlink(part, dir_fd=place.fd)
                    raise
                if not chunk:
                    break
                out.write(chunk)
                done += len(chunk)
                progress.update(name, done, total)
    finally:
        response.close()
    size = place.size(part) or 0
    if total is not None and size != total:
        raise DownloadError("%s: short body: %d of %d bytes (run again to go on)" % (shown, size, total))
    os.replace(part, name, src_dir_fd=place.fd, dst_dir_fd=place.fd)
    progress.finished(size)
    return True


# Files fetched at once, and records worked on at once (each waits on its files).
WORKERS = 8

# What fetching one file came to: None when it is there, else (the error, whether the server
# said it has no such file).
_Outcome = Optional[Tuple[str, bool]]


class Mirror:
    def __init__(self, base: str, folder: str, progress: _Line) -> None:
        # A URL's user name and password stay in it: the engine sends them to its server, and
        # texts name the URL without them.
        self.base = base.rstrip("/")
        os.makedirs(folder, exist_ok=True)
        self.folder = os.path.abspath(folder)
        self.root = os.open(folder, os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
        self.progress = SharedProgress(progress)
        self.budget = MemoryBudget()
        # Guards the budget, the claims and the reading of headers, which record threads share.
        self.lock = threading.Lock()
        # Each file is fetched once, however many records name it: the others wait for it.
        self.claims: Dict[Tuple[str, ...], "Future[_Outcome]"] = {}
        self.files = ThreadPoolExecutor(WORKERS, thread_name_prefix="sigtrove-download")

    def close(self) -> None:
        self.files.shutdown(wait=True, cancel_futures=True)
        os.close(self.root)

    def url(self, parts: Sequence[str]) -> str:
        return self.base + "/" + urllib.parse.quote("/".join(parts))

    def shown(self, parts: Sequence[str]) -> str:
        """The URL of a file as texts name it."""
        return shown_url(self.url(parts))

    def start(self, parts: Sequence[str]) -> "Future[_Outcome]":
        """Starts fetching one file (or finds it started already), beside the others under way."""
        key = tuple(parts)
        with self.lock:
            claim = self.claims.get(key)
            if claim is None:
                claim = self.claims[key] = self.files.submit(self.fetch, key)
        return claim

    def fetch(self, parts: Sequence[str]) -> _Outcome:
        url = self.url(parts)
        view = FileView(self.progress)
        try:
            with Place(self.root, parts) as place:
                fetch_file(url, place, view)
            return None
        except NotOnServer as error:
            return str(error), True
        except DownloadError as error:
            return str(error), False
        except OSError as error:
            return "%s: %s" % (shown_url(url), printable(error.strerror or str(error))), False
        finally:
            view.release()

    @staticmethod
    def settle(claim: "Future[_Outcome]", errors: List[str], optional: bool = False) -> bool:
        """Waits for a file started; True when it is there. Its error goes to `errors`, but a file
        that is `optional` may be missing."""
        outcome = claim.result()
        if outcome is None:
            return True
        text, missing = outcome
        if not (missing and optional):
            errors.append(text)
        return False

    def listing(self, name: str, claim: "Future[_Outcome]", errors: List[str]) -> Optional[List[str]]:
        """The entries of the database's RECORDS or ANNOTATORS file, fetched by `claim` (None when
        it has none)."""
        if not self.settle(claim, errors, optional=True):
            return None
        try:
            with self.lock:
                text = read_list_file(self.folder, name, self.budget)
        except (CeilingExceeded, OSError) as error:
            errors.append(printable(str(error)))
            return None
        return None if text is None else [line.split()[0] for line in list_lines(text)]

    def headers(self, records: Sequence[Sequence[str]], errors: List[str]) -> List[Tuple[List[str], List[str]]]:
        """Fetches RECORD.hea of each record at once and gives what the engine reads each to name:
        (signal files, segments)."""
        headers = [list(parts[:-1]) + [parts[-1] + ".hea"] for parts in records]
        claims = [self.start(header) for header in headers]
        return [
            self.header_names(parts, header, claim, errors) for parts, header, claim in zip(records, headers, claims)
        ]

    def header_names(
        self, parts: Sequence[str], header: List[str], claim: "Future[_Outcome]", errors: List[str]
    ) -> Tuple[List[str], List[str]]:
        if not self.settle(claim, errors):
            return [], []
        try:
            with self.lock:
                _, files, segments = _sigtrove._header_files(os.path.join(self.folder, *parts[:-1]), parts[-1])
                names = files + segments
                self.budget.charge(self.shown(header), sum(map(len, names)), len(names))
        except CeilingExceeded as error:
            errors.append(str(error))
            return [], []
        except (_sigtrove.Error, OSError, ValueError) as error:
            errors.append("%s: %s" % (self.shown(header), printable(engine_text(error))))
            return [], []
        return files, segments

    def record(self, parts: List[str], annotators: Sequence[str]) -> List[str]:
        """Fetches one record's files, those independent of each other at once; gives its errors,
        in the order of its files."""
        errors: List[str] = []
        record = "/".join(parts)
        directory = parts[:-1]
        # The annotation files need nothing the header says: they come beside it.
        notes = [self.start(directory + [parts[-1] + "." + annotator]) for annotator in annotators]
        if os.path.splitext(parts[-1])[1].lower() in (".edf", ".bdf"):
            # An EDF or BDF file is a record of its own: no header names its files.
            self.settle(self.start(parts), errors)
            files: List[str] = []
            segments: List[str] = []
        else:
            files, segments = self.headers([parts], errors)[0]
        inner = []
        for segment in segments:
            segment_parts = path_parts(segment)
            if segment_parts is None:
                errors.append("%s: unsafe segment name %r" % (record, segment))
                continue
            inner.append(directory + segment_parts)
        for segment_files, _ in self.headers(inner, errors):
            files += [f for f in segment_files if f not in files]
        claims: List[Union[str, "Future[_Outcome]"]] = []
        for name in files:
            name_parts = path_parts(name)
            if name_parts is None:
                claims.append("%s: unsafe signal file name %r" % (record, name))
            else:
                claims.append(self.start(directory + name_parts))
        for claim in claims:
            if isinstance(claim, str):
                errors.append(claim)
            else:
                self.settle(claim, errors)
        for note in notes:
            self.settle(note, errors, optional=True)
        return errors


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("url", metavar="URL", help="the database's folder on the server (http:// or https://)")
    parser.add_argument(
        "records",
        metavar="RECORD",
        nargs="*",
        help="the records to fetch (default: every record its RECORDS file lists)",
    )
    parser.add_argument("--to", default=".", metavar="DIR", help="the folder to mirror into (default: here)")


def run(options: argparse.Namespace) -> int:
    if not _sigtrove._is_url(options.url):
        raise UsageError("%r is not an http:// or https:// URL" % shown_url(options.url))
    errors: List[str] = []
    progress = file_progress()
    mirror = Mirror(options.url, options.to, progress)
    try:
        records: Optional[List[str]] = options.records
        # The two lists come together.
        listed = None if records else mirror.start(["RECORDS"])
        annotator_list = mirror.start(["ANNOTATORS"])
        if listed is not None:
            records = mirror.listing("RECORDS", listed, errors)
            if records is None:
                records = []
                if not errors:
                    errors.append("%s: no RECORDS list: name the records to fetch" % mirror.shown(["RECORDS"]))
        annotators = []
        for annotator in mirror.listing("ANNOTATORS", annotator_list, errors) or []:
            if path_parts(annotator, folders=False) is None:
                errors.append("%s: unsafe annotator name %r" % (mirror.shown(["ANNOTATORS"]), annotator))
            else:
                annotators.append(annotator)
        # Records at once, each waiting on its files; their errors in the order of the records.
        outcomes: List[Union[str, "Future[List[str]]"]] = []
        with ThreadPoolExecutor(WORKERS, thread_name_prefix="sigtrove-record") as workers:
            try:
                for record in records or []:
                    parts = path_parts(record)
                    if parts is None:
                        outcomes.append("unsafe record name %r" % record)
                    else:
                        outcomes.append(workers.submit(mirror.record, parts, annotators))
                for outcome in outcomes:
                    errors.extend([outcome] if isinstance(outcome, str) else outcome.result())
            except BaseException:
                workers.shutdown(wait=False, cancel_futures=True)
                mirror.files.shutdown(wait=False, cancel_futures=True)
                raise
    except DownloadError as error:
        errors.append(str(error))
    finally:
        mirror.close()
        progress.close()
    if errors:
        raise CommandFailure("; ".join(errors))
    return 0
