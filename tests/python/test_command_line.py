"""python -m sigtrove: version line, usage, and describe."""

import subprocess
import sys

import pytest

from conftest import RECORDS
from test_record import OPENING_RECORDS


def sigtrove(*args, cwd=None):
    return subprocess.run([sys.executable, "-m", "sigtrove", *args], capture_output=True, text=True,
                          cwd=cwd, timeout=120)


def test_describe_the_bundled_sample_record():
    result = sigtrove("describe")
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0] == "Record sample"
    assert lines[2:4] == ["Sampling frequency: 360 Hz", "2 signals"]
    assert " Description: MLII" in lines and " Description: V5" in lines


@pytest.mark.parametrize("name", OPENING_RECORDS + ["237s/237s", "s25047/s25047-2704-05-04-10-44"])
def test_describe_every_record_with_signal_files(name):
    import _sigtrove
    result = sigtrove("describe", str(RECORDS / name))
    assert result.returncode == 0, result.stderr
    assert result.stdout == str(_sigtrove.Record(str(RECORDS / name)))


def test_describe_a_missing_record_fails_with_the_engine_text(tmp_path):
    result = sigtrove("describe", str(tmp_path / "nothing"))
    assert result.returncode == 1
    assert result.stderr.endswith("init: can't open header for record nothing\n")


def test_unknown_command():
    result = sigtrove("frobnicate")
    assert result.returncode == 2
    assert "usage: python -m sigtrove" in result.stderr
