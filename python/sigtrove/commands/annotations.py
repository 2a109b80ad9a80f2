"""List a record's annotations, as rdann does: a line per annotation with its time (elapsed, as the
record's header counts it), sample number, type, subtype, channel and annotator number, then its aux
text (a rhythm label, a measurement, a note) after a tab when it has one. -f and -t choose a window,
-a the types listed."""

import argparse
import csv
import sys
from typing import Sequence, Set

import _sigtrove
from sigtrove.commands._arguments import WINDOW_HELP, UsageError, checked_window, open_annotation

SUMMARY = "list a record's annotations, a line per annotation (as rdann does)"

COLUMNS = ["time", "sample", "type", "subtype", "chan", "num", "aux"]


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("record", metavar="RECORD", help="the record")
    parser.add_argument(
        "annotator",
        metavar="ANNOTATOR",
        nargs="?",
        default="atr",
        help="the annotation file's extension (default: atr, the reference annotations)",
    )
    parser.add_argument(
        "-f",
        "--from",
        dest="start",
        metavar="START",
        help="list annotations from this time on (default: the start): " + WINDOW_HELP,
    )
    parser.add_argument(
        "-t", "--to", dest="stop", metavar="STOP", help="list annotations before this time (default: all)"
    )
    parser.add_argument(
        "-a",
        "--types",
        nargs="+",
        action="extend",
        metavar="TYPE",
        help="list only annotations of these types, by mnemonic (N, V, +, ...)",
    )
    parser.add_argument("--csv", action="store_true", help="comma-separated values")
    parser.add_argument("--header", action="store_true", help="begin with a line naming the columns")


def format_line(time_text: str, sample: int, symbol: str, subtype: int, chan: int, num: int, aux: str) -> str:
    line = "%12s %10d %6s %4d %4d %4d" % (time_text, sample, symbol, subtype, chan, num)
    return line + "\t" + aux if aux else line


def header_line() -> str:
    return "%12s %10s %6s %4s %4s %4s\t%s" % ("time", "sample", "type", "sub", "chan", "num", "aux")


def checked_types(annotation: _sigtrove.Annotation, types: Sequence[str]) -> Set[str]:
    """The mnemonics asked for, each one the annotation file's code table knows."""
    for mnemonic in types:
        try:
            annotation.read(0, 1, mnemonic)
        except (ValueError, TypeError, _sigtrove.Error):
            raise UsageError("unknown annotation type %r" % mnemonic) from None
    return set(types)


def run(options: argparse.Namespace) -> int:
    annotation = open_annotation(options.record, options.annotator)
    wanted = checked_types(annotation, options.types) if options.types else None
    columns = checked_window(annotation.arrays, options.start, options.stop)
    entries = zip(
        columns["time"].tolist(),
        columns["symbol"].tolist(),
        columns["subtype"].tolist(),
        columns["chan"].tolist(),
        columns["num"].tolist(),
        columns["aux"].tolist(),
    )
    rows = [
        (annotation.time_text(sample, milliseconds=True), sample, symbol, subtype, chan, num, aux or "")
        for sample, symbol, subtype, chan, num, aux in entries
        if wanted is None or symbol in wanted
    ]
    if options.csv:
        writer = csv.writer(sys.stdout, lineterminator="\n")
        if options.header:
            writer.writerow(COLUMNS)
        writer.writerows(rows)
    else:
        if options.header:
            sys.stdout.write(header_line() + "\n")
        sys.stdout.write("".join(format_line(*row) + "\n" for row in rows))
    return 0
