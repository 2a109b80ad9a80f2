"""Print a record's samples, as rdsamp does: a line per frame with its sample number, then a column
per signal. The values are the stored (ADC) ones, or with -p physical values, (v - baseline) / gain,
with the decimals the gain warrants (one ADC step apart prints differently) and NaN for a sample the
record marks invalid. The record is read a block at a time, so a day-long record never sits in
memory; while the output goes to a file or a pipe, a progress bar shows on the terminal."""

import argparse
import csv
import io
import sys
from typing import Any, List, Optional, Sequence, Union

import numpy as np
import numpy.typing as npt

import _sigtrove
from sigtrove import Record, Signal
from sigtrove._frame_blocks import frame_blocks
from sigtrove.commands._arguments import WINDOW_HELP, add_signal_choice, frame_window, open_record, signal_choice
from sigtrove.commands._progress import progress_bar

SUMMARY = "print a record's samples, a line per frame (as rdsamp does)"

DEFAULT_GAIN = _sigtrove._DEFAULT_GAIN  # a header's gain of 0 means this, for every WFDB reader
STORED_UNITS = "adu"  # the WFDB name of stored values' units
SEPARATORS = {"columns": " ", "csv": ",", "tsv": "\t"}


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("record", metavar="RECORD", help="the record")
    parser.add_argument(
        "-f", "--from", dest="start", metavar="START", help="the first frame printed (default: 0): " + WINDOW_HELP
    )
    parser.add_argument(
        "-t", "--to", dest="stop", metavar="STOP", help="print up to this frame, not including it (default: the end)"
    )
    add_signal_choice(parser)
    parser.add_argument(
        "-p", "--physical", action="store_true", help="physical values (mV, mmHg, ...), not the stored ones"
    )
    layout = parser.add_mutually_exclusive_group()
    layout.add_argument("--csv", dest="layout", action="store_const", const="csv", help="comma-separated values")
    layout.add_argument(
        "--tsv",
        dest="layout",
        action="store_const",
        const="tsv",
        help="tab-separated values (default: aligned columns)",
    )
    parser.set_defaults(layout="columns")
    parser.add_argument(
        "--header", action="store_true", help="begin with two lines: the signals' names, and their units"
    )


def decimals(gain: float) -> int:
    """The fewest decimals whose last digit is at most one ADC step, 1/gain."""
    gain = abs(gain) or DEFAULT_GAIN
    places = 0
    while gain > 10.0**places * (1 + 1e-9) and places < 15:
        places += 1
    return places


class Column:
    """How one signal's values print: a %-format and, for aligned columns, a width that fits every
    value its ADC can give, its name and its units."""

    def __init__(self, signal: Signal, physical: bool, aligned: bool) -> None:
        self.name = signal.name
        self.units = (signal.units or "") if physical else STORED_UNITS
        bits = signal.adc_resolution or 16
        lowest = signal.adc_zero - 2 ** (bits - 1)
        highest = signal.adc_zero + 2 ** (bits - 1) - 1
        if physical:
            gain = signal.gain or DEFAULT_GAIN
            places = decimals(gain)
            kind = ".%df" % places
            extremes = ["%.*f" % (places, (v - signal.baseline) / gain) for v in (lowest, highest)] + ["NaN"]
        else:
            kind = "d"
            extremes = [str(lowest), str(highest), "-32768"]
        self.width = max(len(self.name), len(self.units), *map(len, extremes)) if aligned else 0
        self.format = "%" + (str(self.width) if aligned else "") + kind


def signal_specs(record: Record, choice: Optional[Sequence[Union[int, str]]]) -> List[Signal]:
    """The header's records of the chosen signals, in order."""
    if choice is None:
        return list(record.signals)
    names = list(record.signal_names)
    return [record.signals[s if isinstance(s, int) else names.index(s)] for s in choice]


def header_lines(layout: str, number_width: int, columns: Sequence[Column]) -> str:
    names = ["sample"] + [c.name for c in columns]
    units = ["number"] + [c.units for c in columns]
    if layout == "csv":
        text = io.StringIO()
        writer = csv.writer(text, lineterminator="\n")
        writer.writerows([names, units])
        return text.getvalue()
    widths = [number_width] + [c.width for c in columns]
    separator = SEPARATORS[layout]
    return "".join(separator.join(f.rjust(w) for f, w in zip(row, widths)) + "\n" for row in (names, units))


def block_text(row_format: str, first: int, values: npt.NDArray[Any]) -> str:
    """The lines of a block of frames: their sample numbers from `first`, then their values."""
    numbers = np.arange(first, first + len(values), dtype=np.float64 if values.dtype.kind == "f" else np.int64)
    table = np.column_stack((numbers, values))
    text = (row_format * len(values)) % tuple(table.ravel().tolist())
    return text.replace("nan", "NaN") if values.dtype.kind == "f" else text


def run(options: argparse.Namespace) -> int:
    record = open_record(options.record)
    choice = signal_choice(options.signals)
    start, stop = frame_window(record, options.start, options.stop, choice)
    aligned = options.layout == "columns"
    columns = [Column(s, options.physical, aligned) for s in signal_specs(record, choice)]
    last = stop if stop is not None else (record.frame_count or 0) + 10**9
    number_width = max(len("sample"), len("number"), len(str(last))) if aligned else 0
    separator = SEPARATORS[options.layout]
    row_format = "%" + (str(number_width) if aligned else "") + "d"
    row_format += "".join(separator + c.format for c in columns) + "\n"

    out = sys.stdout
    if options.header:
        out.write(header_lines(options.layout, number_width, columns))
    progress = progress_bar("samples", None if stop is None else stop - start, "frames")
    try:
        for position, values in frame_blocks(record, start, stop, choice, physical=options.physical):
            out.write(block_text(row_format, position, values))
            progress.advance(position + len(values) - start)
    finally:
        progress.close()
    out.flush()
    return 0
