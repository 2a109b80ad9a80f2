"""The memory ceiling the engine holds one open record to, as the engine reads it: the variable
SIGTROVE_MAX_RECORD_MEMORY (bytes, or with a K, M or G suffix), else 256 MB. What the package reads
from web servers in Python is held to the same bound: the list files of a database (RECORDS,
ANNOTATORS) and the names they give, and an answer that says not how long it is."""

import os
import re

DEFAULT_MAX_RECORD_MEMORY = 256 << 20

# What Python keeps of a name read from a list, besides its characters: the string object and its
# place in the lists and sets it goes into.
BYTES_PER_NAME = 256

_SHIFTS = {"": 0, "k": 10, "m": 20, "g": 30}


def max_record_memory() -> int:
    """The ceiling in bytes ("268435456", "256M", "1G"; anything else is the default)."""
    text = os.environ.get("SIGTROVE_MAX_RECORD_MEMORY", "")
    match = re.fullmatch(r"([0-9]+)([kKmMgG]?)[bB]?", text)
    if not match or int(match.group(1)) <= 0:
        return DEFAULT_MAX_RECORD_MEMORY
    value = int(match.group(1)) << _SHIFTS[match.group(2).lower()]
    return value if value < 2**63 else DEFAULT_MAX_RECORD_MEMORY


def megabytes(amount: int) -> str:
    """'256 MB', '1.5 MB': as the engine says an amount of memory."""
    mega = 1 << 20
    if amount % mega == 0 or amount >= 10 * mega:
        return "%d MB" % (amount // mega + (amount % mega >= mega // 2))
    return "%.1f MB" % (amount / mega)


class CeilingExceeded(ValueError):
    """What a server sent, or a list holds, would take more than the memory ceiling."""


class MemoryBudget:
    """What the names read from a server's lists may take together: each list's bytes and, for each
    name, BYTES_PER_NAME, against the ceiling. A database (or a download) charges all its lists to
    one budget, so that nested lists can not add up past it either."""

    def __init__(self) -> None:
        self.ceiling = max_record_memory()
        self.left = self.ceiling

    def charge(self, what: str, size: int, names: int = 0) -> None:
        """Takes `size` bytes and `names` names for `what` (a URL or a file, for the error)."""
        self.left -= size + names * BYTES_PER_NAME
        if self.left < 0:
            raise CeilingExceeded(
                "%s: more than %s of names: past the record memory ceiling (SIGTROVE_MAX_RECORD_MEMORY)"
                % (what, megabytes(self.ceiling))
            )
