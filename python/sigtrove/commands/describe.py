"""Describe a record as its header does (what wfdbdesc prints): its length, sampling frequency and
base time, then each signal's file, format, gain, baseline, units and description."""

import argparse
import sys

from sigtrove import SAMPLE_RECORD
from sigtrove.commands._arguments import open_record

SUMMARY = "describe a record (default: the bundled sample record)"


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument(
        "record",
        metavar="RECORD",
        nargs="?",
        default=SAMPLE_RECORD,
        help="the record (default: the bundled sample record)",
    )


def run(options: argparse.Namespace) -> int:
    record = open_record(options.record)
    sys.stdout.write(str(record))
    return 0
