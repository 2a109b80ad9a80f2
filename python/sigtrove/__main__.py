"""Command line: ``python -m sigtrove [COMMAND ...]``, the same as the ``sigtrove`` command."""

import sys

from sigtrove.cli import main

sys.exit(main(prog="python -m sigtrove"))
