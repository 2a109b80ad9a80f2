"""The records of a local folder that has no RECORDS file: the headers found in it and in its
subfolders, as a RECORDS file would list them.

A RECORDS file lists the records a user opens, never the segments of a multi-segment record (nor
its layout header), though those have headers of their own: they are left out here too. Which
headers are segments the engine's parser reads from the master headers' segment lines. Hidden
folders are not searched and links to folders are not followed, so a scan ends.
"""

import os
from typing import List, Set

import _sigtrove

HEADER_SUFFIX = ".hea"


def segment_names(directory: str, record: str) -> List[str]:
    """The segments the master header RECORD.hea in `directory` names (its layout segment included,
    null segments left out), or none for a header of a single-segment record or one that can not be
    read (which is reported when the record is opened)."""
    try:
        _, _, segments = _sigtrove._header_files(directory, record)
    except (_sigtrove.Error, OSError, ValueError):
        return []
    return segments


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
            name = file[: -len(HEADER_SUFFIX)]
            headers.append(prefix + name)
            segments.update(prefix + s for s in segment_names(directory, name))
    return sorted(name for name in headers if name not in segments)
