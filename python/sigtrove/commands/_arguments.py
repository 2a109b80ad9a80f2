"""What the commands' common arguments mean (records, windows, signals) and the two kinds of failure a
command reports: a usage error (exit status 2), and work that can not be done, such as reading a record
that is not there (exit status 1)."""

import argparse
import os
from typing import Callable, List, Mapping, Optional, Sequence, Tuple, TypeVar, Union

import _sigtrove

# The folder of the bundled sample record, which the commands find by the name "sample".
PACKAGE_RECORDS = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "data")

# The WFDB tools' database path when WFDB is not set: the current directory, then the usual install.
DEFAULT_DATABASE_PATH = ". /usr/local/database"

TIME_FORMS = "seconds such as 12.5, [h:]m:s such as 1:30, s1200 for sample 1200, e for the end"
WINDOW_HELP = (
    "a WFDB time: seconds (12.5), [h:]m:s (1:30, 1:02:03.5), a sample number (s1200), the end (e), "
    "or a time of day when the record has one ([08:15:00])"
)


class UsageError(Exception):
    """The arguments do not fit the command or the record: exit status 2."""


class CommandFailure(Exception):
    """The command can not do its work (a record or annotation file that can not be read, a library
    that is not installed): exit status 1."""


_Window = TypeVar("_Window")


def database_path_with_package_records(environ: Mapping[str, str] = os.environ) -> Optional[str]:
    """Records are found along the WFDB database path, as the WFDB tools find them; the commands append
    the package's own folder, so that the bundled sample answers to "sample" from anywhere. The path
    that makes, or None where it stays as WFDB says: a path read from a file ("@..."), or a package
    folder whose name the path's separators would split."""
    if any(c in PACKAGE_RECORDS for c in " \t\n;:"):
        return None
    path = environ.get("WFDB")
    if path is None:
        path = DEFAULT_DATABASE_PATH
    elif path.startswith("@"):
        return None  # the path is read from a file
    elif not path.strip():
        path = "."  # names as given: from the current directory
    return path + " " + PACKAGE_RECORDS


def add_package_records_to_database_path() -> None:
    """Makes the engine look records up along database_path_with_package_records(), for the records
    the command opens. The environment stays as it is (child processes see the user's WFDB)."""
    path = database_path_with_package_records()
    if path is not None:
        _sigtrove._choose_database_path(path)


def printable(text: str) -> str:
    """`text` with every character that is not printable (escape sequences, bells, NULs) escaped."""
    if text.isprintable():
        return text
    return "".join(c if c.isprintable() else repr(c)[1:-1] for c in text)


def shown(text: str) -> str:
    """A failure's text as a command prints it: no URL's user name and password, nothing a terminal
    would act on (texts may carry what a server sent)."""
    return printable(_sigtrove._without_credentials(text))


def engine_text(error: BaseException) -> str:
    """A failure's text without the newline that the engine's texts end in."""
    return str(error).rstrip("\n")


def open_record(path: str) -> _sigtrove.Record:
    try:
        return _sigtrove.Record(path)
    except (_sigtrove.Error, OSError) as error:
        raise CommandFailure(engine_text(error)) from None


def open_annotation(path: str, annotator: str) -> _sigtrove.Annotation:
    try:
        return _sigtrove.Annotation(path, annotator)
    except (_sigtrove.Error, OSError) as error:
        raise CommandFailure(engine_text(error)) from None


def add_signal_choice(
    parser: argparse.ArgumentParser,
    help: str = "signals by number (from 0) or name, in the order wanted (default: all)",
) -> None:
    """The -s/--signals option of the commands that read a record's signals (see signal_choice)."""
    parser.add_argument("-s", "--signals", nargs="+", action="extend", metavar="SIGNAL", help=help)


def signal_choice(words: Optional[Sequence[str]]) -> Optional[List[Union[int, str]]]:
    """Signals as the commands take them (numbers and names, as words) for Record.frames: None for all."""
    if not words:
        return None
    return [int(word) if word.isdigit() else word for word in words]


def checked_window(
    window: Callable[[Optional[str], Optional[str]], _Window], start: Optional[str], stop: Optional[str]
) -> _Window:
    """window(start, stop) (Record.window, Annotation.arrays) of the -f and -t options' words, with a
    usage error that names the option at fault. A bare number is seconds, as with the WFDB tools: the
    words reach the window as texts, which the engine reads as WFDB times."""
    # Without -f, start is None: the beginning; without -t, stop is None: the end.
    for option, text in (("-f", start), ("-t", stop)):
        if text is not None:
            try:
                window(text, text)
            except ValueError:
                raise UsageError("%s %s: not a time (%s)" % (option, text, TIME_FORMS)) from None
    try:
        return window(start, stop)
    except ValueError as error:
        if start is not None and stop is not None:
            raise UsageError("-t %s is before -f %s" % (stop, start)) from None
        raise UsageError(str(error)) from None


def frame_window(
    record: _sigtrove.Record,
    start: Optional[str],
    stop: Optional[str],
    signals: Optional[Sequence[Union[int, str]]] = None,
) -> Tuple[int, Optional[int]]:
    """The frames [start, stop) of a record that the -f and -t options name, after checking the
    chosen signals; stop is None when the record's length is not known and -t was not given."""
    try:
        record.frames(0, 0, signals=signals)
    except (ValueError, TypeError) as error:
        raise UsageError(str(error)) from None
    return checked_window(record.window, start, stop)
