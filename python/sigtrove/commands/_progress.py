"""The commands' one progress bar, on standard error, for output that goes to files or a pipe while a
person watches the terminal: drawn only when standard error is a terminal (and, for output on
standard output, when that is not), redrawn at most ten times a second in one line."""

import os
import sys
import threading
import time
from typing import Optional, TextIO, Union

from sigtrove.commands._arguments import printable


def wanted(stdout: Optional[TextIO] = None, stderr: Optional[TextIO] = None) -> bool:
    stdout = sys.stdout if stdout is None else stdout
    stderr = sys.stderr if stderr is None else stderr
    return is_terminal(stderr) and not is_terminal(stdout)


def is_terminal(stream: TextIO) -> bool:
    try:
        return stream.isatty()
    except (AttributeError, ValueError):
        return False


class ProgressBar:
    """One line, redrawn at most ten times a second and cleared at the end: a bar and the count of
    `unit` done out of `total`, or the count alone when the total is not known."""

    INTERVAL = 0.1

    def __init__(self, label: str, total: Optional[int], unit: str, stream: TextIO) -> None:
        self.label, self.total, self.unit, self.stream = label, total, unit, stream
        self.drawn_at: Optional[float] = None
        self.done = 0

    def advance(self, done: int) -> None:
        self.done = done
        now = time.monotonic()
        if self.drawn_at is None or now - self.drawn_at >= self.INTERVAL:
            self.drawn_at = now
            self._draw()

    def close(self) -> None:
        if self.drawn_at is not None:
            self._draw()
            self.stream.write("\r\x1b[K")
            self.stream.flush()

    def line(self) -> str:
        """What the line says now."""
        if not self.total:
            return "%s %d %s" % (self.label, self.done, self.unit)
        count = "%d/%d %s" % (self.done, self.total, self.unit)
        fraction = min(self.done / self.total, 1.0)
        room = max(10, min(40, self.columns() - len(self.label) - len(count) - 10))
        return "%s %3d%% %s %s" % (self.label, fraction * 100, bar(fraction, room), count)

    def _draw(self) -> None:
        self.stream.write("\r" + self.line()[: self.columns() - 1] + "\x1b[K")
        self.stream.flush()

    def columns(self) -> int:
        try:
            return os.get_terminal_size(self.stream.fileno()).columns or 80
        except (OSError, ValueError, AttributeError):
            return 80


def bar(fraction: float, room: int) -> str:
    """[####......]: `room` places, filled as far as `fraction` (0 to 1) says."""
    filled = int(min(max(fraction, 0.0), 1.0) * room)
    return "[%s%s]" % ("#" * filled, "." * (room - filled))


class FileProgress(ProgressBar):
    """The bar of a run that fetches files: the file being fetched (its bar and share done) and the
    files and megabytes done so far; the last line stays when it ends."""

    def __init__(self, stream: TextIO) -> None:
        super().__init__("", None, "bytes", stream)
        self.name = ""
        self.files = 0
        self.bytes = 0

    def update(self, name: str, done: int, total: Optional[int]) -> None:
        """`done` bytes of the file `name`, of `total` (None: not known). Each file is shown once
        at least, however soon after the one before it comes."""
        if name != self.name:
            self.drawn_at = None
        self.name, self.total = name, total
        self.advance(done)

    def finished(self, size: int) -> None:
        """A file is whole, of `size` bytes fetched."""
        self.counted(size)
        self.done, self.total = 0, None

    def counted(self, size: int) -> None:
        """A file other than the one shown is whole, of `size` bytes fetched."""
        self.files += 1
        self.bytes += size

    def line(self) -> str:
        fraction = self.done / self.total if self.total else 0.0
        share = "%d%%" % (100 * self.done // self.total) if self.total else ""
        return "%s %d files, %.1f MB  %s %s" % (
            bar(fraction, 30),
            self.files,
            (self.bytes + self.done) / 1e6,
            printable(self.name),
            share,
        )

    def close(self) -> None:
        if self.drawn_at is not None:
            self._draw()
            self.stream.write("\n")
            self.stream.flush()


class NoProgress:
    def advance(self, done: int) -> None:
        pass

    def update(self, name: str, done: int, total: Optional[int]) -> None:
        pass

    def finished(self, size: int) -> None:
        pass

    def counted(self, size: int) -> None:
        pass

    def close(self) -> None:
        pass


class SharedProgress:
    """The one progress line of files fetched at once: it follows one file (the first to report
    once the one it followed is whole) and counts every file that ends."""

    def __init__(self, progress: Union[FileProgress, NoProgress]) -> None:
        self.progress = progress
        self.lock = threading.Lock()
        self.shown: Optional[FileView] = None

    def close(self) -> None:
        self.progress.close()


class FileView:
    """What fetch_file reports of one file, passed on to the shared line."""

    def __init__(self, shared: SharedProgress) -> None:
        self.shared = shared

    def update(self, name: str, done: int, total: Optional[int]) -> None:
        with self.shared.lock:
            if self.shared.shown is None:
                self.shared.shown = self
            if self.shared.shown is self:
                self.shared.progress.update(name, done, total)

    def finished(self, size: int) -> None:
        with self.shared.lock:
            if self.shared.shown is self or self.shared.shown is None:
                self.shared.shown = None
                self.shared.progress.finished(size)
            else:
                self.shared.progress.counted(size)

    def release(self) -> None:
        """The file is done with, whole or not: the line may follow another."""
        with self.shared.lock:
            if self.shared.shown is self:
                self.shared.shown = None


def progress_bar(
    label: str, total: Optional[int], unit: str, beside_output: bool = True
) -> Union[ProgressBar, NoProgress]:
    """A ProgressBar on standard error when it is wanted there, else one that draws nothing. A command
    whose output is files (not standard output) passes beside_output=False: the bar shows whenever
    standard error is a terminal."""
    if wanted() if beside_output else is_terminal(sys.stderr):
        return ProgressBar(label, total, unit, sys.stderr)
    return NoProgress()


def file_progress() -> Union[FileProgress, NoProgress]:
    """A FileProgress on standard error when that is a terminal, else one that draws nothing."""
    return FileProgress(sys.stderr) if is_terminal(sys.stderr) else NoProgress()
