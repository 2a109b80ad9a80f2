"""The records of a local folder that has no RECORDS file: the headers found in it and in its
subfolders, as a RECORDS file would list them.

A RECORDS file lists the records a user opens, never the segments of a multi-segment record (nor
its layout header), though those have headers of their own: they are left out here too. Which
headers are segments is read from the master headers' segment lines; nothing else of a header is
read. Hidden folders are not searched and links to folders are not followed, so a scan ends.
"""

import os
from typing import List, Set

HEADER_SUFFIX = ".hea"
# A master header names its segments on the lines after its record line; a header is read this far
# at most, so that a large file with a .hea name costs no more than this.
HEADER_READ_LIMIT = 1 << 20


def _lines(path: str) -> List[str]:
    """A header's lines that are neither blank nor comments."""
    try:
        with open(path, "rb") as f:
            text = os.fsdecode(f.read(HEADER_READ_LIMIT))
    except OSError:
        return []  # what can not be read here is reported when the record is opened
    stripped = (line.strip() for line in text.splitlines())
    return [line for line in stripped if line and not line.startswith("#")]


def segment_names(path: str) -> List[str]:
    """The segments a master header names (its layout segment included), or none for a header of
    a single-segment record. A record line "237s/4 6 125 4206250" has 4 segment lines after it, each
    starting with a segment's name ("~" for a null segment, which has no header)."""
    lines = _lines(path)
    if not lines:
        return []
    name = lines[0].split()[0]
    _, slash, count = name.partition("/")
    if not slash or not count.isdigit():
        return []
    segments = [line.split()[0] for line in lines[1 : 1 + int(count)]]
    return [s for s in segments if s != "~"]


def scan_records(folder: str) -> List[str]:
    """The names of the records whose headers are in `folder` or below it ("100", "s25047/x"),
    sorted, segments of multi-segment records left out."""
    headers: List[str] = []
    segments: Set[str] = set()
    for directory, subfolders, files in os.walk(folder):
        subfolders[:] = [d for d in subfolders if not d.startswith(".")]
        relative = os.path.relpath(directory, folder)
        prefix = "" if relative == "." else relative.replace(os.sep, "/") + "/"
        for file in files:
            if not file.endswith(HEADER_SUFFIX) or file.startswith("."):
                continue
            name = prefix + file[: -len(HEADER_SUFFIX)]
            headers.append(name)
            segments.update(prefix + s for s in segment_names(os.path.join(directory, file)))
    return sorted(name for name in headers if name not in segments)
