"""The ``python -m sigtrove`` command line."""

import importlib
import sys

import _sigtrove

USAGE = """\
usage: python -m sigtrove [COMMAND ...]

commands:
  version                         print the engine's version line
  describe [RECORD]               describe a record (default: the bundled sample record)
  annotations RECORD [ANNOTATOR]  list the annotations of a record (default annotator: atr)
  download URL [RECORD ...] [--to DIR]
                                  mirror a database on a web server (its RECORDS, or the
                                  records named) into DIR (default: here) for offline use
"""

# command -> module whose run(args) carries it out
COMMANDS = {
    "describe": "sigtrove._describe",
    "annotations": "sigtrove._annotations",
    "download": "sigtrove._download",
}


def main(argv=None):
    argv = list(sys.argv[1:] if argv is None else argv)
    command = argv[0] if argv else None
    if command in (None, "version"):
        sys.stdout.write(_sigtrove._engine_version)
        if command is None:
            sys.stdout.write(USAGE)
        return 0
    if command in ("-h", "--help", "help"):
        sys.stdout.write(USAGE)
        return 0
    if command not in COMMANDS:
        sys.stderr.write(USAGE)
        sys.stderr.write("python -m sigtrove: unknown command %r\n" % command)
        return 2
    return importlib.import_module(COMMANDS[command]).run(argv[1:])
