"""Write a record again as a new WFDB record: in other formats (-F), a window of it (-f, -t), a choice
of its signals (-s), with its annotation files. Every header field is kept (the base time moves to the
window's start); signals in their own formats keep their stored values exactly. The new files are
written under temporary names beside DEST and put in place only when complete, so an interrupted
conversion (Ctrl-C) leaves nothing half written; an existing record is replaced only with
--overwrite, and the record being read never. A progress bar shows while it runs on a terminal."""

import argparse
import glob
import os
from typing import Any, List, Optional

import numpy as np

import _sigtrove
import sigtrove
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
    if is_edf(options.dest):
        return _to_edf(options)
    record = open_record(options.source)
    choice = signal_choice(options.signals)
    start, stop = frame_window(record, options.start, options.stop, choice)
    count = len(choice) if choice is not None else record.nsig
    formats: Optional[List[int]] = options.format
    if formats is not None and len(formats) not in (1, count):
        raise UsageError("-F: %d formats for %d signals (give one for all, or one per signal)" % (len(formats), count))
    if formats is not None and len(formats) == 1:
        formats = formats * count
    if formats is None and is_edf(options.source):
        # EDF's lowest value is a sample; in format 16 it would be WFDB's invalid sample.
        formats = [24 if _holds_lowest(record, s) else 16 for s in (choice if choice is not None else range(count))]
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
    if is_edf(options.source):
        _edf_annotations_to_wfdb(options, start, stop, annotators if explicit else ["atr"])
        return 0
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


# The mnemonics of the standard annotation codes: an EDF text that begins with one is that code.
STANDARD_MNEMONICS = set("N L R a V F J A S E j / Q ~ | s T * D = p B ^ t + u ? ! [ ] e n @ x f ( ) r".split())


def _holds_lowest(record: _sigtrove.Record, signal: "int | str") -> bool:
    values = record.signal(signal, physical=False, dtype=np.int32)
    return bool(values.size) and bool((values == -32768).any())


def _wfdb_annotation(text: str) -> "tuple[str, str | None]":
    """(mnemonic, aux) of an EDF annotation text: its first word where that is a standard mnemonic,
    with the rest as aux text; else a note ('"') with the whole text."""
    head, _, rest = text.partition(" ")
    if head in STANDARD_MNEMONICS:
        return head, rest or None
    return '"', text


def _edf_annotations_to_wfdb(
    options: argparse.Namespace, start: int, stop: "int | None", annotators: List[str]
) -> None:
    if not annotators:
        return
    try:
        rows = _sigtrove.Annotation(options.source, "edf").arrays(start, stop)
    except (_sigtrove.Error, ValueError, OSError) as error:
        if options.annotators is not None:
            raise CommandFailure(writer_text(error)) from None
        return  # a plain EDF file has no annotation signal
    if not len(rows["time"]):
        return
    pairs = [_wfdb_annotation(t if t is not None else "") for t in rows["aux"]]
    columns = {
        "time": rows["time"] - start,
        "symbol": np.array([p[0] for p in pairs], dtype=object),
        "aux": np.array([p[1] for p in pairs], dtype=object),
    }
    try:
        sigtrove.write_annotations(options.dest, annotators[0], columns, overwrite=options.overwrite)
    except FileExistsError:
        raise CommandFailure(
            "annotation file %s.%s exists (--overwrite replaces it)" % (options.dest, annotators[0])
        ) from None
    except (_sigtrove.Error, ValueError, OSError) as error:
        raise CommandFailure(writer_text(error)) from None


def _to_edf(options: argparse.Namespace) -> int:
    """A record (WFDB or EDF) written as one EDF+ or BDF+ file, with its annotations in the file's
    annotation signal."""
    if options.format is not None:
        raise UsageError("-F: an EDF file's format is its name's (.edf 16-bit, .bdf 24-bit)")
    record = open_record(options.source)
    choice = signal_choice(options.signals)
    start, stop = frame_window(record, options.start, options.stop, choice)
    names = list(record.signal_names)
    for s in choice if choice is not None else []:
        if isinstance(s, int) and not 0 <= s < record.nsig:
            raise UsageError("-s: the record has no signal %d" % s)
        if isinstance(s, str) and s not in names:
            raise UsageError("-s: the record has no signal %r" % s)
    explicit = options.annotators is not None
    if explicit:
        annotators = options.annotators
    elif is_edf(options.source):
        annotators = ["edf"]
    else:
        # One EDF file has one list of annotations: the reference annotations where the record has
        # them (the others are named with -a, and are merged into the list).
        beside = annotators_beside(record)
        annotators = ["atr"] if "atr" in beside else beside[:1]
    where = options.source if is_edf(options.source) else record.__reduce__()[1][0]
    merged: "dict[str, List[Any]]" = {"time": [], "symbol": [], "aux": [], "duration": []}
    for annotator in annotators:
        try:
            rows = _sigtrove.Annotation(where, annotator).arrays(start, stop)
        except (_sigtrove.Error, ValueError, OSError) as error:
            if explicit:
                raise CommandFailure(writer_text(error)) from None
            continue
        merged["time"].extend(int(t) for t in rows["time"])
        merged["symbol"].extend(rows["symbol"])
        merged["aux"].extend(rows["aux"])
        merged["duration"].extend(rows["duration"] if "duration" in rows else [None] * len(rows["time"]))
    annotations = None
    if merged["time"]:
        order = np.argsort(np.asarray(merged["time"]), kind="stable")
        annotations = {k: [v[i] for i in order] for k, v in merged.items()}
    progress = progress_bar("convert", None if stop is None else stop - start, "frames", beside_output=False)
    try:
        # The window's frames with their times, names, units, gains and baselines; the base time
        # moves to the window's start.
        record.write(
            options.dest,
            start,
            stop,
            choice,
            overwrite=options.overwrite,
            progress=progress.advance,
            annotations=annotations,
        )
    except FileExistsError:
        raise CommandFailure("record %s exists (--overwrite replaces it)" % options.dest) from None
    except (ValueError, OSError) as error:
        raise CommandFailure(writer_text(error)) from None
    finally:
        progress.close()
    return 0
