"""Draw a strip chart of a record's signals into a PNG, SVG or PDF file (by the file's extension): a
panel per signal in physical units, time in seconds (or the time of day when the header gives a base
time), and with -a the symbols of an annotator's annotations on the signal at their times. Needs
matplotlib: pip install 'sigtrove[plot]'."""

import argparse
import os

from sigtrove.commands._arguments import (
    WINDOW_HELP,
    CommandFailure,
    UsageError,
    add_signal_choice,
    frame_window,
    open_record,
    signal_choice,
)

SUMMARY = "draw a strip chart of a record's signals into a PNG, SVG or PDF file"

FORMATS = (".png", ".svg", ".pdf")


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("record", metavar="RECORD", help="the record")
    parser.add_argument(
        "-f", "--from", dest="start", metavar="START", help="the chart's start (default: 0): " + WINDOW_HELP
    )
    parser.add_argument("-t", "--to", dest="stop", metavar="STOP", help="the chart's end (default: the end)")
    add_signal_choice(parser, "signals by number (from 0) or name, a panel each, top to bottom (default: all)")
    parser.add_argument(
        "-a",
        "--annotator",
        metavar="ANNOTATOR",
        help="write the symbols of this annotator's annotations (atr, ...) on the signals",
    )
    parser.add_argument(
        "-o", "--output", metavar="FILE", required=True, help="the picture to write: FILE.png, FILE.svg or FILE.pdf"
    )
    parser.add_argument("--width", type=float, default=10.0, metavar="INCHES", help="the picture's width (default: 10)")
    parser.add_argument(
        "--height", type=float, metavar="INCHES", help="the picture's height (default: 0.8 + 1.8 per panel)"
    )
    parser.add_argument("--dpi", type=float, default=100.0, help="pixels per inch of a PNG (default: 100)")
    parser.add_argument(
        "--elapsed",
        action="store_true",
        help="time in seconds from the record's start, even when the header gives a base time",
    )


def run(options: argparse.Namespace) -> int:
    extension = os.path.splitext(options.output)[1].lower()
    if extension not in FORMATS:
        raise UsageError("-o %s: the picture's name ends in .png, .svg or .pdf" % options.output)
    for name in ("width", "height", "dpi"):
        value = getattr(options, name)
        if value is not None and not 0 < value <= 1000:
            raise UsageError("--%s %g: not between 0 and 1000" % (name, value))
    try:
        from sigtrove.plot import strip_chart
    except ImportError as error:
        raise CommandFailure(str(error)) from None
    record = open_record(options.record)
    choice = signal_choice(options.signals)
    start, stop = frame_window(record, options.start, options.stop, choice)
    figure = strip_chart(
        record,
        start,
        stop,
        choice,
        options.annotator,
        width=options.width,
        height=options.height,
        clock=False if options.elapsed else None,
    )
    figure.savefig(options.output, format=extension[1:], dpi=options.dpi)
    return 0
