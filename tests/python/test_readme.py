"""The README's examples run as written, and type-check with mypy --strict against the installed
package's stubs, which refuse what the interface refuses."""

import os
import pathlib
import re
import subprocess
import sys

import pytest

README = pathlib.Path(__file__).resolve().parent.parent.parent / "README.md"


def python_examples():
    return re.findall(r"```python\n(.*?)```", README.read_text(encoding="utf-8"), flags=re.S)


def test_there_are_examples():
    assert len(python_examples()) >= 2


@pytest.mark.parametrize("index", range(len(python_examples())))
def test_each_example_runs_as_written(index, tmp_path):
    example = tmp_path / "example.py"
    example.write_text(python_examples()[index], encoding="utf-8")
    result = subprocess.run([sys.executable, str(example)], cwd=tmp_path, capture_output=True, text=True,
                            timeout=300, env=dict(os.environ, MPLBACKEND="Agg"))
    assert result.returncode == 0, result.stderr


def mypy(tmp_path, *sources):
    """mypy --strict over each source as a module of its own. Calls into Dask, whose functions are
    mostly without annotations, are let through: everything else is checked in full."""
    targets = []
    for i, source in enumerate(sources):
        targets.append(tmp_path / ("checked_%d.py" % i))
        targets[-1].write_text(source, encoding="utf-8")
    untyped = ["--untyped-calls-exclude=dask", "--untyped-calls-exclude=distributed"]
    return subprocess.run([sys.executable, "-m", "mypy", "--strict", *untyped, "--no-incremental",
                           *map(str, targets)], cwd=tmp_path, capture_output=True, text=True, timeout=600)


def test_the_examples_pass_mypy_strict(tmp_path):
    result = mypy(tmp_path, *python_examples())
    assert result.returncode == 0, result.stdout


@pytest.mark.parametrize("call, complaint", [
    ('record.read(0, "10")', 'Argument 2 to "read" of "Record" has incompatible type "str"'),
    ("record.frames(signals=1.5)", 'Argument "signals" to "frames" of "Record"'),
    ('record.nsig = "2"', "Incompatible types in assignment"),
])
def test_mypy_refuses_what_the_interface_refuses(tmp_path, call, complaint):
    source = "import sigtrove\nrecord = sigtrove.Record(sigtrove.SAMPLE_RECORD)\n%s\n" % call
    result = mypy(tmp_path, source)
    assert result.returncode == 1 and complaint in result.stdout, result.stdout
