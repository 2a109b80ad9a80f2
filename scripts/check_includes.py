#!/usr/bin/env python3
"""Checks that the C++ sources include one another only down the engine's layers.

The engine (src/engine/) is a stack of folders, each built only on the ones below it: a file
may include files of its own folder and of folders further down LAYERS, never one above. The
engine includes no Python header and nothing of the module. The module (src/module/) is an
adapter over the engine's objects: it never includes a file parser or sample decoder (edf/,
formats/), which it reaches only through the record and annotation objects.

Prints each include that breaks a rule and exits 1 when there is one.
    scripts/check_includes.py [ROOT]   checks the tree at ROOT (default: this checkout)
"""

from __future__ import annotations

import re
import sys
from pathlib import Path

# The engine's folders from the top down; README.md ("How it is built") says what each holds.
# "wfdb" is include/wfdb/, the C interface's public header with its constants.
LAYERS = [
    "wfdb_interface",
    "writers",
    "record",
    "annotations",
    "multi_segment",
    "record_header",
    "edf",
    "signals",
    "header",
    "formats",
    "paths",
    "network",
    "io",
    "time",
    "limits",
    "errors",
    "texts",
    "wfdb",
]

# Engine folders the module may not include: parsers and decoders of files.
MODULE_FORBIDDEN = {"edf", "formats"}

# Headers of Python and of the module: never in the engine.
PYTHON_HEADER = re.compile(r"^(Python\.h|structmember\.h|numpy/.*|pyref\.h|sigtrove\.h|sigtrove_capi\.h)$")

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def folder_of(engine: Path, path: Path) -> str:
    relative = path.relative_to(engine)
    if relative.parts[0] == "include":
        return relative.parts[1]
    return relative.parts[0]


def quoted(bracket: str, target: str) -> str:
    return f"{bracket}{target}{'>' if bracket == '<' else bracket}"


def includes(path: Path) -> list[tuple[int, str, str]]:
    found = []
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        match = INCLUDE.match(line)
        if match:
            found.append((number, match.group(1), match.group(2)))
    return found


def sources(directory: Path) -> list[Path]:
    return sorted(p for p in directory.rglob("*") if p.suffix in {".cpp", ".h"})


def check_engine(root: Path, faults: list[str]) -> None:
    engine = root / "src" / "engine"
    rank = {name: index for index, name in enumerate(LAYERS)}
    folders = {p.name for p in engine.iterdir() if p.is_dir() and p.name != "include"}
    folders |= {p.name for p in (engine / "include").iterdir() if p.is_dir()}
    for name in sorted(folders - rank.keys()):
        faults.append(f"src/engine/{name}/: a folder that is not in the layers of scripts/check_includes.py")
    for name in sorted(rank.keys() - folders):
        faults.append(f"scripts/check_includes.py: layer {name} has no folder in src/engine/")
    for path in sources(engine):
        own = folder_of(engine, path)
        shown = path.relative_to(root)
        for number, bracket, target in includes(path):
            where = f"{shown}:{number}: #include {quoted(bracket, target)}"
            if PYTHON_HEADER.match(target):
                faults.append(f"{where}: the engine includes no Python or module header")
                continue
            if bracket == "<":
                continue
            if "/" not in target:
                if not (path.parent / target).is_file():
                    faults.append(f"{where}: name engine headers by their folder")
                continue
            folder = target.split("/", 1)[0]
            if folder not in rank:
                faults.append(f"{where}: {folder}/ is no engine folder")
            elif own in rank and rank[folder] < rank[own]:
                faults.append(f"{where}: {own}/ may include only folders below it, and {folder}/ is above")


def check_module(root: Path, faults: list[str]) -> None:
    for path in sources(root / "src" / "module"):
        shown = path.relative_to(root)
        for number, bracket, target in includes(path):
            folder = target.split("/", 1)[0] if "/" in target else ""
            if bracket == '"' and folder in MODULE_FORBIDDEN:
                faults.append(
                    f"{shown}:{number}: #include {quoted(bracket, target)}: the module reaches "
                    f"{folder}/ only through the engine's record and annotation objects"
                )


def main(arguments: list[str]) -> int:
    root = Path(arguments[0]) if arguments else Path(__file__).resolve().parent.parent
    faults: list[str] = []
    check_engine(root, faults)
    check_module(root, faults)
    for fault in faults:
        print(fault)
    if faults:
        print("check_includes: the engine's layers are listed in scripts/check_includes.py and README.md")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
