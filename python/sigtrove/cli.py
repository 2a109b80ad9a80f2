"""The ``sigtrove`` command (also ``python -m sigtrove``): what the WFDB tools do for a record, and
pictures of its signals."""

import argparse
import importlib
import os
import sys
from typing import Optional, Protocol, Sequence, cast

import _sigtrove
from sigtrove._version import __version__
from sigtrove.commands._arguments import (
    CommandFailure,
    UsageError,
    add_package_records_to_database_path,
    engine_text,
    shown,
)


# A command's module: its docstring (the command's description; None when Python runs with
# -OO), SUMMARY (one line), add_arguments(parser) and run(options) -> exit status.
class _Command(Protocol):
    __doc__: Optional[str]
    SUMMARY: str

    def add_arguments(self, parser: argparse.ArgumentParser) -> None: ...

    def run(self, options: argparse.Namespace) -> int: ...


# command -> its module (a _Command)
COMMANDS = {
    "describe": "sigtrove.commands.describe",
    "samples": "sigtrove.commands.samples",
    "annotations": "sigtrove.commands.annotations",
    "plot": "sigtrove.commands.plot",
    "download": "sigtrove.commands.download",
    "view": "sigtrove.commands.view",
    "convert": "sigtrove.commands.convert",
}

DESCRIPTION = """\
Read WFDB (MIT-BIH, PhysioNet) records. A RECORD is a record name or path without
extension (its header is RECORD.hea), or an EDF or BDF file named with its extension
(RECORD.edf, RECORD.bdf), found as the WFDB tools find it: in the current folder, or
along the WFDB environment variable's path. The bundled sample record,
ten seconds of MIT-BIH record 100 with its beat annotations, is called "sample".

Exit status: 0 done; 1 a record or annotation file that can not be read, or a
picture or record that can not be written; 2 bad usage."""


def build_parser(prog: str) -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=prog, description=DESCRIPTION, formatter_class=argparse.RawDescriptionHelpFormatter
    )
    parser.add_argument(
        "--version", action="version", version="sigtrove %s (%s)" % (__version__, _sigtrove._engine_version.strip())
    )
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    commands.add_parser("version", help="print the engine's version line")
    for name, module_name in COMMANDS.items():
        module = cast(_Command, importlib.import_module(module_name))
        description = (module.__doc__ or module.SUMMARY).strip()
        command = commands.add_parser(
            name, help=module.SUMMARY, description=description, formatter_class=argparse.RawDescriptionHelpFormatter
        )
        module.add_arguments(command)
        command.set_defaults(run=module.run, parser=command)
    return parser


def main(argv: Optional[Sequence[str]] = None, prog: str = "sigtrove") -> int:
    argv = list(sys.argv[1:] if argv is None else argv)
    parser = build_parser(prog)
    if argv[:1] == ["help"]:
        argv = argv[1:2] + ["--help"]
    options, extra = parser.parse_known_args(argv)
    if extra:
        # Said by the command's own parser, whose usage shows what it takes.
        getattr(options, "parser", parser).error("unrecognized arguments: %s" % " ".join(extra))
    if options.command in (None, "version"):
        sys.stdout.write(_sigtrove._engine_version)
        if options.command is None:
            parser.print_help(sys.stdout)
        return 0
    add_package_records_to_database_path()
    command = "%s %s" % (prog, options.command)
    try:
        status: int = options.run(options)
        return status
    except UsageError as error:
        options.parser.print_usage(sys.stderr)
        sys.stderr.write("%s: error: %s\n" % (command, shown(str(error))))
        return 2
    except BrokenPipeError:
        # The reader went away (`... | head`): no traceback, and nothing more to write.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    except (CommandFailure, _sigtrove.Error, OSError) as error:
        # Texts may carry what a server sent (names, reasons): shown escaped, and without a URL's password.
        sys.stderr.write("%s: %s\n" % (command, shown(engine_text(error))))
        return 1
    except KeyboardInterrupt:
        sys.stderr.write("\n")
        return 130
