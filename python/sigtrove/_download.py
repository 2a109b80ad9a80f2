"""Mirror a database on a web server into a folder, for offline use.

Fetches the records named (or every record its RECORDS file lists) with all
their files: the header, its signal files, the headers and signal files of the
segments of a multi-segment record, and the annotation files its ANNOTATORS file
lists. Each file is written under a passing name (NAME.part) and takes its own
name only once its size is that the server gave, so nothing partial ever lies
under a final name; a run that was stopped goes on where it stopped. A progress
line is shown on standard error when that is a terminal.
"""

import argparse
import os
import posixpath
import sys
import urllib.parse
from typing import List, Optional, Sequence, TextIO, Tuple

from sigtrove._arguments import CommandFailure, UsageError
from sigtrove._fetcher import DownloadError, Fetcher, NotOnServer

SUMMARY = "mirror a database on a web server (its RECORDS, or the records named) for offline use"
CHUNK = 256 * 1024


def _safe_relative(name: str) -> Optional[str]:
    """A relative path inside the mirror for a name read from the server, or None."""
    path = posixpath.normpath(name)
    if not name or name.startswith("/") or path.startswith("..") or "\0" in name or "\\" in name:
        return None
    return path


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
                name,
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


def fetch_file(fetcher: Fetcher, url: str, target: str, progress: Progress) -> bool:
    """Fetches `url` into `target`, going on from TARGET.part if a run stopped there."""
    name = os.path.basename(target)
    part = target + ".part"
    os.makedirs(os.path.dirname(target) or ".", exist_ok=True)
    if os.path.exists(target):
        with fetcher.open(url, method="HEAD") as head:
            length = head.headers.get("Content-Length")
        if length is not None and os.path.getsize(target) == int(length):
            progress.finished(0)
            return False
        os.replace(target, part)  # not the server's file: fetched again, from where it agrees
    have = os.path.getsize(part) if os.path.exists(part) else 0
    response = fetcher.open(url, headers={"Range": "bytes=%d-" % have} if have else None)
    if response is None:  # 416: the part already holds every byte
        response = fetcher.open(url)
        have = 0
    with response:
        total = None
        if response.status == 206:
            content_range = response.headers.get("Content-Range", "")
            try:
                first = int(content_range.split()[1].split("-")[0])
                total = int(content_range.rsplit("/", 1)[1])
            except (IndexError, ValueError):
                raise DownloadError("%s: unreadable Content-Range %r" % (url, content_range)) from None
            if first != have:
                raise DownloadError("%s: the server answered from byte %d, not %d" % (url, first, have))
            mode = "ab"
        else:
            have = 0
            length = response.headers.get("Content-Length")
            total = int(length) if length is not None else None
            mode = "wb"
        done = have
        with open(part, mode) as out:
            while True:
                try:
                    chunk = response.read(CHUNK)
                except (OSError, ValueError) as error:
                    raise DownloadError("%s: %s" % (url, error)) from None
                if not chunk:
                    break
                out.write(chunk)
                done += len(chunk)
                progress.update(name, done, total)
    size = os.path.getsize(part)
    if total is not None and size != total:
        raise DownloadError("%s: short body: %d of %d bytes (run again to go on)" % (url, size, total))
    os.replace(part, target)
    progress.finished(size)
    return True


class Mirror:
    def __init__(self, base: str, folder: str, progress: Progress, errors: List[str]) -> None:
        self.base = base.rstrip("/")
        self.folder = folder
        self.fetcher = Fetcher()
        self.progress = progress
        self.errors = errors

    def url(self, relative: str) -> str:
        return self.base + "/" + urllib.parse.quote(relative)

    def file(self, relative: str, optional: bool = False) -> bool:
        """Fetches one file; True when it is there afterwards."""
        target = os.path.join(self.folder, *relative.split("/"))
        try:
            fetch_file(self.fetcher, self.url(relative), target, self.progress)
            return True
        except NotOnServer as error:
            if not optional:
                self.errors.append(str(error))
        except DownloadError as error:
            self.errors.append(str(error))
        return False

    def listing(self, name: str) -> Optional[List[str]]:
        """Fetches the database's RECORDS or ANNOTATORS file and gives its entries (None when it has none)."""
        if not self.file(name, optional=True):
            return None
        with open(os.path.join(self.folder, name), encoding="latin-1") as f:
            return [line.split()[0] for line in f if line.strip() and not line.startswith("#")]

    def header(self, record: str) -> Tuple[List[str], List[str]]:
        """Fetches RECORD.hea and gives what it names."""
        if not self.file(record + ".hea"):
            return [], []
        path = os.path.join(self.folder, *(record + ".hea").split("/"))
        with open(path, encoding="latin-1") as f:
            return header_files(f.read())

    def record(self, record: str, annotators: Sequence[str]) -> None:
        directory = posixpath.dirname(record)
        files, segments = self.header(record)
        for segment in segments:
            segment_path = posixpath.join(directory, segment)
            if _safe_relative(segment_path) is None:
                self.errors.append("%s: unsafe segment name %r" % (record, segment))
                continue
            segment_files, _ = self.header(segment_path)
            files += [f for f in segment_files if f not in files]
        for name in files:
            relative = _safe_relative(posixpath.join(directory, name))
            if relative is None:
                self.errors.append("%s: unsafe signal file name %r" % (record, name))
                continue
            self.file(relative)
        for annotator in annotators:
            self.file(record + "." + annotator, optional=True)


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
        raise UsageError("%r is not an http:// or https:// URL" % options.url)
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
                    errors.append("%s: no RECORDS list: name the records to fetch" % mirror.url("RECORDS"))
        annotators = mirror.listing("ANNOTATORS") or []
        for record in records:
            relative = _safe_relative(record)
            if relative is None:
                errors.append("unsafe record name %r" % record)
                continue
            mirror.record(relative, annotators)
    except DownloadError as error:
        errors.append(str(error))
    finally:
        progress.close()
    if errors:
        raise CommandFailure("; ".join(errors))
    return 0
