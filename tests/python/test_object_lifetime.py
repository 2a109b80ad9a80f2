"""Records and annotation files as Python objects: `with` closes their files and a later use opens
them again; records, annotation files and entries pickle, and open again in another process."""

import os
import pickle
import subprocess
import sys

import numpy as np
import pytest
from conftest import RECORDS

import _sigtrove


def files_open(name):
    """How many of this process's descriptors are open on files whose path holds `name`."""
    count = 0
    for fd in os.listdir("/proc/self/fd"):
        try:
            count += name in os.readlink("/proc/self/fd/" + fd)
        except OSError:
            pass
    return count


def test_with_closes_a_records_files_and_a_later_use_opens_them_again():
    with _sigtrove.Record(str(RECORDS / "s0010_re")) as record:
        frames = record.frames(physical=False)
        assert record.read(0, 0, 5, False)
        assert files_open("s0010_re.") > 0
    assert files_open("s0010_re.") == 0
    assert np.array_equal(record.frames(physical=False), frames)
    assert record.read(0, 0, 5, False) == (frames[:5, 0] - record.signals[0].adc_zero).tolist()


def test_with_closes_an_annotation_file():
    with _sigtrove.Annotation(str(RECORDS / "100")) as annotation:
        columns = annotation.arrays()
        assert files_open("100.atr") > 0
    assert files_open("100.atr") == 0
    assert annotation.arrays()["time"].tolist() == columns["time"].tolist()
    assert len(annotation.read()) == 2274


def test_exceptions_pass_through_with():
    with pytest.raises(KeyError):
        with _sigtrove.Record(str(RECORDS / "100")):
            raise KeyError("x")


UNPICKLE_ELSEWHERE = r"""
import os, pickle, sys
import numpy as np
os.chdir(sys.argv[1])
objects = pickle.loads(sys.stdin.buffer.read())
record, annotation, entries = objects
print(record.record, record.frames(0, 4, physical=False).tolist())
print(annotation.name, annotation.arrays(0, 400)["time"].tolist())
print([(e.time, e.type, e.aux) for e in entries])
"""


def test_objects_pickle_and_open_again_in_another_process(tmp_path, monkeypatch):
    monkeypatch.chdir(RECORDS)
    record = _sigtrove.Record("100")  # a relative path: the pickle must not depend on it
    annotation = _sigtrove.Annotation("100", "atr")
    entries = annotation.read(0, 400) + [_sigtrove.AnnotationEntry(5, 1, aux="note")]
    payload = pickle.dumps((record, annotation, entries))
    result = subprocess.run(
        [sys.executable, "-c", UNPICKLE_ELSEWHERE, str(tmp_path)], input=payload, capture_output=True, timeout=120
    )
    assert result.returncode == 0, result.stderr.decode()
    lines = result.stdout.decode().splitlines()
    assert lines[0] == "100 %s" % record.frames(0, 4, physical=False).tolist()
    assert lines[1] == "atr %s" % annotation.arrays(0, 400)["time"].tolist()
    assert lines[2] == str([(e.time, e.type, e.aux) for e in entries])


def test_an_entry_keeps_a_code_the_constructor_would_refuse():
    entry = pickle.loads(pickle.dumps(_sigtrove.Annotation(str(RECORDS / "12726"), "anI").read()[0]))
    assert (entry.type, entry.channel) == (22, -1)
    weird = _sigtrove.AnnotationEntry(1, 1)
    weird.typestr = "nosuch"  # code 0, which only a mnemonic can set
    assert pickle.loads(pickle.dumps(weird)).type == 0
