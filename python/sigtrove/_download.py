"""Mirror a database on a web server into a folder, for offline use.

Fetches the records named (or every record its RECORDS file lists) with all
their files: the header, its signal files, the headers and signal files of the
segments of a multi-segment record, and the annotation files its ANNOTATORS file
lists. Each file is written under a passing name (NAME.part) and takes its own
name only once its size is that the server gave, so nothing partial ever lies
under a final name; a run that was stopped goes on where it stopped. A progress
line is shown on standard error when that is a terminal.

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
import sys
import urllib.parse
from typing import List, Optional, Sequence, TextIO, Tuple

from sigtrove._arguments import CommandFailure, UsageError
from sigtrove._database_location import line_count
from sigtrove._fetcher import DownloadError, Fetcher, NotOnServer, content_length
from sigtrove._memory_ceiling import CeilingExceeded, MemoryBudget, max_record_memory, megabytes
from sigtrove._url_text import printable, split_credentials

SUMMARY = "mirror a database on a web server (its RECORDS, or the records named) for offline use"
CHUNK = 256 * 1024

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


def header_files(text: str) -> Tuple[List[str], List[str]]:
    """What a header says about the record's other files: (signal files, segment names).

    Only the fields that name files are read: the first field of each signal
    line (of a signal whose format is not 0) and of each segment line.
    """
    lines = [line.split() for line in text.splitlines()]
    lines = [fields for fields in lines if fields and not fields[0].startswith("#")]
    if not lines:
        return [], []
    name = lines[0][0]
    if "/" in name:
        try:
            count = int(name.split("/", 1)[1])
        except ValueError:
            return [], []
        segments = [fields[0] for fields in lines[1 : 1 + count] if fields[0] != "~"]
        return [], segments
    try:
        count = int(lines[0][1]) if len(lines[0]) > 1 else 0
    except ValueError:
        count = 0
    files = []
    for fields in lines[1 : 1 + count]:
        fmt = fields[1] if len(fields) > 1 else "0"
        digits = "".join(c for c in fmt.split("x")[0].split(":")[0].split("+")[0] if c.isdigit())
        if digits and int(digits) == 0:
            continue
        if fields[0] not in files:
            files.append(fields[0])
    return files, []


class Progress:
    """One line on standard error, rewritten in place; nothing when it is not a terminal."""

    def __init__(self, stream: TextIO) -> None:
        self.stream = stream
        self.shown = stream.isatty()
        self.files = 0
        self.bytes = 0

    def update(self, name: str, done: int, total: Optional[int]) -> None:
        if not self.shown:
            return
        width = 30
        filled = width * done // total if total else 0
        self.stream.write(
            "\r[%s%s] %d files, %.1f MB  %s %s"
            % (
                "#" * filled,
                "." * (width - filled),
                self.files,
                (self.bytes + done) / 1e6,
                printable(name),
                "%d%%" % (100 * done // total) if total else "",
            )
        )
        self.stream.write("\x1b[K")
        self.stream.flush()

    def finished(self, size: int) -> None:
        self.files += 1
        self.bytes += size

    def close(self) -> None:
        if self.shown:
            self.stream.write("\n")
            self.stream.flush()


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

    def read(self, name: str, budget: MemoryBudget, what: str) -> str:
        """The text of the file `name` here, charged to `budget`."""
        fd = self.open(name, os.O_RDONLY)
        with os.fdopen(fd, "rb") as f:
            size = os.fstat(f.fileno()).st_size
            if size > budget.left:
                budget.charge(what, size)
            data = f.read(budget.left + 1)
        text = data.decode("latin-1")
        budget.charge(what, len(data), line_count(text))
        return text

    def free(self) -> int:
        space = os.fstatvfs(self.fd)
        return space.f_bavail * space.f_frsize


def _number(text: str) -> int:
    if not (text.isascii() and text.isdigit()):
        raise ValueError(text)
    return int(text)


def fetch_file(fetcher: Fetcher, url: str, place: Place, progress: Progress) -> bool:
    """Fetches `url` into the file of `place`, going on from NAME.part if a run stopped there."""
    name, part = place.name, place.name + ".part"
    try:
        present, have = place.size(name), place.size(part)
    except DownloadError as error:
        raise DownloadError("%s: %s" % (url, error)) from None
    if present is not None:
        with fetcher.open(url, method="HEAD") as head:
            length = content_length(head, url)
        if length is not None and present == length:
            progress.finished(0)
            return False
        os.replace(name, part, src_dir_fd=place.fd, dst_dir_fd=place.fd)  # not the server's file: fetched again
        have = present
    have = have or 0
    response = fetcher.open(url, headers={"Range": "bytes=%d-" % have} if have else None)
    if response is None:  # 416: the part already holds every byte
        response = fetcher.open(url)
        have = 0
    with response:
        total = None
        if response.status == 206:
            content_range = response.headers.get("Content-Range", "")
            try:
                first = _number(content_range.split()[1].split("-")[0])
                total = _number(content_range.rsplit("/", 1)[1])
            except (IndexError, ValueError):
                raise DownloadError("%s: unreadable Content-Range %r" % (url, content_range)) from None
            if first != have:
                raise DownloadError("%s: the server answered from byte %d, not %d" % (url, first, have))
            append = True
        else:
            have = 0
            total = content_length(response, url)
            append = False
        if total is not None and total - have > place.free():
            raise DownloadError(
                "%s: the server says the file has %d bytes, more than the %d bytes free in the folder"
                % (url, total, place.free())
            )
        # Without a length nothing says where the body ends: it is held to the memory ceiling.
        unsized_limit = max_record_memory()
        done = have
        flags = os.O_WRONLY | os.O_CREAT | (os.O_APPEND if append else os.O_TRUNC)
        with os.fdopen(place.open(part, flags), "wb") as out:
            while True:
                try:
                    chunk = response.read(CHUNK)
                except (OSError, ValueError) as error:
                    raise DownloadError("%s: %s" % (url, printable(str(error)))) from None
                if not chunk:
                    break
                out.write(chunk)
                done += len(chunk)
                if total is None and done > unsized_limit:
                    # Nothing to go on from: the bytes kept would only hold the disk.
                    os.unlink(part, dir_fd=place.fd)
                    raise DownloadError(
                        "%s: the server sent more than %s without saying how long the file is: past the "
                        "record memory ceiling (SIGTROVE_MAX_RECORD_MEMORY)" % (url, megabytes(unsized_limit))
                    )
                progress.update(name, done, total)
    size = place.size(part) or 0
    if total is not None and size != total:
        raise DownloadError("%s: short body: %d of %d bytes (run again to go on)" % (url, size, total))
    os.replace(part, name, src_dir_fd=place.fd, dst_dir_fd=place.fd)
    progress.finished(size)
    return True


class Mirror:
    def __init__(self, base: str, folder: str, progress: Progress, errors: List[str]) -> None:
        # The user name and password go with each request; texts name the URL without them.
        self.base, authorization = split_credentials(base.rstrip("/"))
        os.makedirs(folder, exist_ok=True)
        self.root = os.open(folder, os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
        self.fetcher = Fetcher(authorization)
        self.progress = progress
        self.errors = errors
        self.budget = MemoryBudget()

    def close(self) -> None:
        os.close(self.root)

    def url(self, parts: Sequence[str]) -> str:
        return self.base + "/" + urllib.parse.quote("/".join(parts))

    def file(self, parts: Sequence[str], optional: bool = False) -> bool:
        """Fetches one file; True when it is there afterwards."""
        url = self.url(parts)
        try:
            with Place(self.root, parts) as place:
                fetch_file(self.fetcher, url, place, self.progress)
            return True
        except NotOnServer as error:
            if not optional:
                self.errors.append(str(error))
        except DownloadError as error:
            self.errors.append(str(error))
        except OSError as error:
            self.errors.append("%s: %s" % (url, printable(error.strerror or str(error))))
        return False

    def read(self, parts: Sequence[str]) -> Optional[str]:
        """The text of a file fetched, held to the budget of the lists and headers read."""
        url = self.url(parts)
        try:
            with Place(self.root, parts) as place:
                return place.read(place.name, self.budget, url)
        except CeilingExceeded as error:
            self.errors.append(str(error))
        except OSError as error:
            self.errors.append("%s: %s" % (url, printable(error.strerror or str(error))))
        return None

    def listing(self, name: str) -> Optional[List[str]]:
        """Fetches the database's RECORDS or ANNOTATORS file and gives its entries (None when it has none)."""
        if not self.file([name], optional=True):
            return None
        text = self.read([name])
        if text is None:
            return None
        return [line.split()[0] for line in text.splitlines() if line.strip() and not line.startswith("#")]

    def header(self, parts: Sequence[str]) -> Tuple[List[str], List[str]]:
        """Fetches RECORD.hea and gives what it names."""
        header = list(parts[:-1]) + [parts[-1] + ".hea"]
        if not self.file(header):
            return [], []
        text = self.read(header)
        return header_files(text) if text is not None else ([], [])

    def record(self, parts: List[str], annotators: Sequence[str]) -> None:
        record = "/".join(parts)
        directory = parts[:-1]
        if os.path.splitext(parts[-1])[1].lower() in (".edf", ".bdf"):
            # An EDF or BDF file is a record of its own: no header names its files.
            self.file(parts)
            files: List[str] = []
            segments: List[str] = []
        else:
            files, segments = self.header(parts)
        for segment in segments:
            segment_parts = path_parts(segment)
            if segment_parts is None:
                self.errors.append("%s: unsafe segment name %r" % (record, segment))
                continue
            segment_files, _ = self.header(directory + segment_parts)
            files += [f for f in segment_files if f not in files]
        for name in files:
            name_parts = path_parts(name)
            if name_parts is None:
                self.errors.append("%s: unsafe signal file name %r" % (record, name))
                continue
            self.file(directory + name_parts)
        for annotator in annotators:
            self.file(directory + [parts[-1] + "." + annotator], optional=True)


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
    if not options.url.startswith(("http://", "https://")):
        raise UsageError("%r is not an http:// or https:// URL" % split_credentials(options.url)[0])
    errors: List[str] = []
    progress = Progress(sys.stderr)
    mirror = Mirror(options.url, options.to, progress, errors)
    try:
        records: Optional[List[str]] = options.records
        if not records:
            records = mirror.listing("RECORDS")
            if records is None:
                records = []
                if not errors:
                    errors.append("%s: no RECORDS list: name the records to fetch" % mirror.url(["RECORDS"]))
        annotators = []
        for annotator in mirror.listing("ANNOTATORS") or []:
            if path_parts(annotator, folders=False) is None:
                errors.append("%s: unsafe annotator name %r" % (mirror.url(["ANNOTATORS"]), annotator))
            else:
                annotators.append(annotator)
        for record in records:
            parts = path_parts(record)
            if parts is None:
                errors.append("unsafe record name %r" % record)
                continue
            mirror.record(parts, annotators)
    except DownloadError as error:
        errors.append(str(error))
    finally:
        progress.close()
        mirror.close()
    if errors:
        raise CommandFailure("; ".join(errors))
    return 0
