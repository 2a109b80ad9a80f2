"""A progress bar on standard error, for output that goes to a file or a pipe while a person watches
the terminal: drawn only when standard error is a terminal and standard output is not."""

import os
import sys
import time
from typing import Optional, TextIO, Union


def wanted(stdout: Optional[TextIO] = None, stderr: Optional[TextIO] = None) -> bool:
    stdout = sys.stdout if stdout is None else stdout
    stderr = sys.stderr if stderr is None else stderr
    return _is_terminal(stderr) and not _is_terminal(stdout)


def _is_terminal(stream: TextIO) -> bool:
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

    def _draw(self) -> None:
        if self.total:
            count = "%d/%d %s" % (self.done, self.total, self.unit)
            fraction = min(self.done / self.total, 1.0)
            room = max(10, min(40, self._columns() - len(self.label) - len(count) - 10))
            filled = int(fraction * room)
            line = "%s %3d%% [%s%s] %s" % (self.label, fraction * 100, "#" * filled, "." * (room - filled), count)
        else:
            line = "%s %d %s" % (self.label, self.done, self.unit)
        self.stream.write("\r" + line[: self._columns() - 1] + "\x1b[K")
        self.stream.flush()

    def _columns(self) -> int:
        try:
            return os.get_terminal_size(self.stream.fileno()).columns or 80
        except (OSError, ValueError, AttributeError):
            return 80


class NoProgress:
    def advance(self, done: int) -> None:
        pass

    def close(self) -> None:
        pass


def progress_bar(
    label: str, total: Optional[int], unit: str, beside_output: bool = True
) -> Union[ProgressBar, NoProgress]:
    """A ProgressBar on standard error when it is wanted there, else one that draws nothing. A command
    whose output is files (not standard output) passes beside_output=False: the bar shows whenever
    standard error is a terminal."""
    if wanted() if beside_output else _is_terminal(sys.stderr):
        return ProgressBar(label, total, unit, sys.stderr)
    return NoProgress()
