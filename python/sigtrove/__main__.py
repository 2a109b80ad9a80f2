"""Command line: ``python -m sigtrove [COMMAND ...]``."""

import sys

from sigtrove.cli import main

sys.exit(main())
