"""``python -m sigtrove describe [RECORD]``: print a record's description."""

import sys

import _sigtrove

from sigtrove import SAMPLE_RECORD


def run(args):
    if len(args) > 1:
        sys.stderr.write("usage: python -m sigtrove describe [RECORD]\n")
        return 2
    path = args[0] if args else SAMPLE_RECORD
    try:
        record = _sigtrove.Record(path)
        sys.stdout.write(str(record))
    except _sigtrove.Error as error:
        sys.stderr.write("python -m sigtrove describe: %s" % error.args[0])
        return 1
    return 0
