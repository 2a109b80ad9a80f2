"""Browse a record and its annotations in the web browser: a small web server on 127.0.0.1 serves one
page, with a lane per signal in physical units against the record's clock time (or seconds from its
start) and the annotations of each -a annotator on the signals. Drag, the arrow keys, the wheel and the
page's buttons move through the record and zoom from one second to the whole record.

The page's address carries a random token, printed on standard output: only a request that presents
it is answered. The server runs until Ctrl-C."""

import argparse
import sys

from sigtrove.commands._arguments import CommandFailure, UsageError, engine_text, open_record

SUMMARY = "browse a record and its annotations in the web browser"


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("record", metavar="RECORD", help="the record")
    parser.add_argument(
        "-a",
        "--annotator",
        dest="annotators",
        nargs="+",
        action="extend",
        default=[],
        metavar="NAME",
        help="show this annotator's annotations (atr, ...); several may be given",
    )
    parser.add_argument(
        "--port", type=int, default=0, metavar="N", help="the port to listen on, on 127.0.0.1 (default: a free one)"
    )
    parser.add_argument(
        "--no-browser", action="store_true", help="print the page's address without opening a browser on it"
    )


def run(options: argparse.Namespace) -> int:
    if not 0 <= options.port <= 65535:
        raise UsageError("--port %d: not a port number (0 to 65535)" % options.port)
    record = open_record(options.record)
    from sigtrove.viewer import Viewer

    try:
        viewer = Viewer(record, options.annotators, options.port)
    except OSError as error:
        raise CommandFailure("can not listen on 127.0.0.1:%d: %s" % (options.port, error.strerror or error)) from None
    except ValueError as error:  # an annotator the viewer can not hold
        raise CommandFailure(engine_text(error)) from None
    try:
        sys.stdout.write("sigtrove view: record %s at %s\n(Ctrl-C stops)\n" % (record.name, viewer.url))
        sys.stdout.flush()
        if not options.no_browser and not viewer.open_browser():
            sys.stderr.write("sigtrove view: no browser could be opened; open the address above\n")
        viewer.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        viewer.close()
    return 0
