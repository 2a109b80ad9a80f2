"""scripts/check_includes.py refuses every include that points against the engine's layers, and the
project's own sources pass it. Each case is a tiny tree of the project's shape with one include in it."""

import pathlib
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent.parent
CHECKER = ROOT / "scripts" / "check_includes.py"
sys.path.insert(0, str(CHECKER.parent))
from check_includes import LAYERS  # noqa: E402


def check(root):
    return subprocess.run([sys.executable, str(CHECKER), str(root)], capture_output=True, text=True, timeout=60)


def tree(tmp_path, files):
    """Every layer's folder, and FILES ({path below src/: text}) in them."""
    engine = tmp_path / "src" / "engine"
    for layer in LAYERS:
        (engine / ("include/wfdb" if layer == "wfdb" else layer)).mkdir(parents=True, exist_ok=True)
    (tmp_path / "src" / "module").mkdir(parents=True)
    (engine / "time" / "time_text.h").write_text("")
    (engine / "header" / "header.h").write_text("")
    for path, text in files.items():
        (tmp_path / "src" / path).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / "src" / path).write_text(text)
    return tmp_path


def test_the_project_sources_pass():
    result = check(ROOT)
    assert result.returncode == 0, result.stdout


@pytest.mark.parametrize(
    "files",
    [
        # Down the layers, within a folder, a system header, the C interface's header by its folder.
        {"engine/record/record.cpp": '#include "header/header.h"\n#include "record/record.h"\n'},
        {"engine/header/header_parser.cpp": '#include <string>\n#include "time/time_text.h"\n'},
        {"engine/include/wfdb/wfdb.h": '#include "ecgcodes.h"\n', "engine/include/wfdb/ecgcodes.h": ""},
        # The module reaches the engine's objects, and its own headers by name.
        {"module/record.cpp": '#include "record/record.h"\n#include "pyref.h"\n#include <Python.h>\n'},
    ],
)
def test_includes_down_the_layers_pass(tmp_path, files):
    result = check(tree(tmp_path, files))
    assert result.returncode == 0, result.stdout
    assert result.stdout == ""


@pytest.mark.parametrize(
    "files, fault",
    [
        (
            {"engine/time/time_text.cpp": '#include "header/header.h"\n'},
            'src/engine/time/time_text.cpp:1: #include "header/header.h": time/ may include only folders below it, '
            "and header/ is above",
        ),
        (
            {"engine/errors/error_state.cpp": '\n  #  include "wfdb_interface/c_boundary.h"\n'},
            'src/engine/errors/error_state.cpp:2: #include "wfdb_interface/c_boundary.h": errors/ may include only '
            "folders below it, and wfdb_interface/ is above",
        ),
        (
            {"engine/signals/signal_file_set.cpp": "#include <Python.h>\n"},
            "src/engine/signals/signal_file_set.cpp:1: #include <Python.h>: the engine includes no Python or module "
            "header",
        ),
        (
            {"engine/record/record.cpp": '#include "numpy/arrayobject.h"\n'},
            'src/engine/record/record.cpp:1: #include "numpy/arrayobject.h": the engine includes no Python or module '
            "header",
        ),
        (
            {"engine/record/record.cpp": '#include "header.h"\n'},
            'src/engine/record/record.cpp:1: #include "header.h": name engine headers by their folder',
        ),
        (
            {"engine/record/record.cpp": '#include "helpers/thing.h"\n'},
            'src/engine/record/record.cpp:1: #include "helpers/thing.h": helpers/ is no engine folder',
        ),
        (
            {"engine/helpers/thing.h": ""},
            "src/engine/helpers/: a folder that is not in the layers of scripts/check_includes.py",
        ),
        (
            {"module/record_arrays.cpp": '#include "edf/edf_header_parser.h"\n'},
            'src/module/record_arrays.cpp:1: #include "edf/edf_header_parser.h": the module reaches edf/ only '
            "through the engine's record and annotation objects",
        ),
        (
            {"module/writing.cpp": '#include "formats/sample_formats.h"\n'},
            'src/module/writing.cpp:1: #include "formats/sample_formats.h": the module reaches formats/ only '
            "through the engine's record and annotation objects",
        ),
    ],
)
def test_an_include_against_the_layers_fails_and_is_named(tmp_path, files, fault):
    result = check(tree(tmp_path, files))
    assert result.returncode == 1
    assert result.stdout.splitlines()[:-1] == [fault]


def test_a_layer_without_its_folder_fails(tmp_path):
    root = tree(tmp_path, {})
    (root / "src" / "engine" / "limits").rmdir()
    result = check(root)
    assert result.returncode == 1
    assert "scripts/check_includes.py: layer limits has no folder in src/engine/" in result.stdout
