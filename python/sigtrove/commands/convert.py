"""Write a record again as a new WFDB record: in other formats (-F), a window of it (-f, -t), a choice
of its signals (-s), with its annotation files. Every header field is kept (the base time moves to the
window's start); signals in their own formats keep their stored values exactly. The new files are
written under temporary names beside DEST and put in place only when complete, so an interrupted
conversion (Ctrl-C) leaves nothing half written; an existing record is replaced only with
--overwrite, and the record being read never. A progress bar shows while it runs on a terminal."""

import argparse
import glob
import os
from typing import List, Optional

import _sigtrove
from sigtrove.commands._arguments import (
    WINDOW_HELP,
    CommandFailure,
    UsageError,
    add_signal_choice,
    engine_text,
    frame_window,
    open_record,
    signal_choice,
)
from sigtrove.commands._progress import progress_bar

SUMMARY = "write a record again: in other formats, a window, a choice of signals, with its annotations"

# Extensions beside a record that are never annotation files.
NOT_ANNOTATIONS = {
    "hea",
    "dat",
    "mat",
    "edf",
    "bdf",
    "txt",
    "csv",
    "tsv",
    "json",
    "xml",
    "html",
    "png",
    "jpg",
    "svg",
    "pdf",
    "info",
    "gz",
    "zip",
    "part",
}


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("source", metavar="SOURCE", help="the record read, a RECORD as the other commands take it")
    parser.add_argument("dest", metavar="DEST", help='the record written: "folder/name" (the folder must exist)')
    parser.add_argument(
        "-f",
        "--start",
        "--from",
        dest="start",
        metavar="START",
        help="the first frame written (default: 0): " + WINDOW_HELP,
    )
    parser.add_argument(
        "-t",
        "--stop",
        "--to",
        dest="stop",
        metavar="STOP",
        help="write up to this frame, not including it (default: the end)",
    )
    add_signal_choice(parser)
    parser.add_argument(
        "-F",
        "--format",
        nargs="+",
        type=int,
        metavar="FORMAT",
        help="the storage format of every signal written, or one per signal: 8, 16, 24, 32, 61, 80, 160, 212, "
        "310, 311, or FLAC 508, 516, 524 (default: each signal's own)",
    )
    parser.add_argument(
        "-a",
        "--annotators",
        nargs="*",
        metavar="ANNOTATOR",
        help="the annotation files copied with the record (default: every one beside it; none with -a alone)",
    )
    parser.add_argument("--overwrite", action="store_true", help="replace an existing record DEST")


def writer_text(error: BaseException) -> str:
    """A writer's failure as the command says it: without the engine's "sigtrove: " before it."""
    text = engine_text(error)
    return text[len("sigtrove: ") :] if text.startswith("sigtrove: ") else text


def is_edf(path: str) -> bool:
    return os.path.splitext(path)[1].lower() in (".edf", ".bdf")


def annotators_beside(record: _sigtrove.Record) -> List[str]:
    """The extensions of the files beside a record's header that may be its annotation files: not its
    header, not its signal files, nothing of a kind that is never one."""
    where = record.__reduce__()[1][0]  # the header's folder and the record's name
    if _sigtrove._is_url(where):
        return []
    signal_files = {os.path.basename(s.file) for s in record.signals}
    found = []
    for path in sorted(glob.glob(glob.escape(where) + ".*")):
        name = os.path.basename(path)
        extension = name[len(os.path.basename(where)) + 1 :]
        if name in signal_files or extension.lower() in NOT_ANNOTATIONS or not os.path.isfile(path):
            continue
        found.append(extension)
    return found


def run(options: argparse.Namespace) -> int:
    if is_edf(options.source) or is_edf(options.dest):
        raise CommandFailure("converting EDF+ and BDF+ files is not available in this version")
    record = open_record(options.source)
    choice = signal_choice(options.signals)
    start, stop = frame_window(record, options.start, options.stop, choice)
    count = len(choice) if choice is not None else record.nsig
    formats: Optional[List[int]] = options.format
    if formats is not None and len(formats) not in (1, count):
        raise UsageError("-F: %d formats for %d signals (give one for all, or one per signal)" % (len(formats), count))
    if formats is not None and len(formats) == 1:
        formats = formats * count
    explicit = options.annotators is not None
    annotators = options.annotators if explicit else annotators_beside(record)

    progress = progress_bar("convert", None if stop is None else stop - start, "frames", beside_output=False)
    try:
        record.write(options.dest, start, stop, choice, formats, overwrite=options.overwrite, progress=progress.advance)
    except FileExistsError:
        raise CommandFailure("record %s exists (--overwrite replaces it)" % options.dest) from None
    except (ValueError, OSError) as error:
        raise CommandFailure(writer_text(error)) from None
    finally:
        progress.close()
    where = record.__reduce__()[1][0]
    for annotator in annotators:
        try:
            annotation = _sigtrove.Annotation(where, annotator)
            _sigtrove._copy_annotations(
                annotation, options.dest, annotator, start, stop, record.frequency, options.overwrite
            )
        except FileExistsError:
            raise CommandFailure(
                "annotation file %s.%s exists (--overwrite replaces it)" % (options.dest, annotator)
            ) from None
        except (_sigtrove.Error, ValueError, OSError) as error:
            if explicit:
                raise CommandFailure(writer_text(error)) from None
            # A file beside the record that does not read as annotations is not one of them.
            continue
    return 0
