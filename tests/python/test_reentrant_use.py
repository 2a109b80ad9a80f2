"""Python code that runs inside an operation (a truth test, a path-rule hook, an index, the garbage
collector's code run by an allocation) and uses other records or the same one: every operation still
returns its own record's data, nothing is written past a buffer, and the working directory stays."""

import gc
import os

import pytest
from conftest import RECORDS

import _sigtrove

RECORD_100 = str(RECORDS / "100")  # 2 signals, 360 Hz, no base time
TIMED_RECORD = str(RECORDS / "3000003_0003")  # 2 signals, 125 Hz, base time 19:46:25
WIDE_RECORD = str(RECORDS / "s0010_re")  # 15 signals, 1000 Hz


def use_wide_record():
    """Opens and reads a record with more signals than the ones under test."""
    wide = _sigtrove.Record(WIDE_RECORD)
    assert len(wide.read(14, 100, 20, False)) == 20


def use_other_annotation_file():
    assert len(_sigtrove.Annotation(RECORD_100, "qrs").read(0, 2000)) == 7


def rows(entries):
    return [(e.time, e.type, e.subtype, e.channel, e.annotator, e.aux) for e in entries]


class ReadsAnotherRecord:
    """A correct_gain whose truth test opens and reads a 15-signal record."""

    def __init__(self, truth):
        self.truth = truth
        self.calls = 0

    def __bool__(self):
        self.calls += 1
        use_wide_record()
        return self.truth


@pytest.mark.parametrize("truth", [True, False])
@pytest.mark.parametrize("signal", [0, 1])
def test_a_truth_test_that_reads_a_wider_record(truth, signal):
    record = _sigtrove.Record(RECORD_100)
    wanted = record.read(signal, 1000, 3000, truth)
    correct_gain = ReadsAnotherRecord(truth)
    assert record.read(signal, 1000, 3000, correct_gain) == wanted
    assert correct_gain.calls == 1
    # Nothing of the record was overwritten: its fields and its samples are intact.
    assert record.signal_names == ("MLII", "V5") and record.nsig == 2
    assert record.read(signal, 1000, 3000, truth) == wanted


class IndexReadsAnotherRecord:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        use_wide_record()
        return self.value


def test_an_index_that_reads_a_wider_record():
    record = _sigtrove.Record(RECORD_100)
    wanted = record.read(1, 500, 100)
    assert record.read(1, IndexReadsAnotherRecord(500), IndexReadsAnotherRecord(100)) == wanted


# ---- hooks that run while an operation opens its files or builds its result


@pytest.fixture
def path_hook(monkeypatch):
    """Makes the module's next `hook.times` calls of splitext (the last host function the path rule
    calls, once the object exists) run `hook.use` once it is set."""

    class Hook:
        use = None
        times = 1
        busy = False
        calls = 0

    real_splitext = _sigtrove.splitext

    def splitext(name):
        if Hook.use is not None and not Hook.busy and Hook.calls < Hook.times:
            Hook.busy = True
            try:
                Hook.calls += 1
                Hook.use()
            finally:
                Hook.busy = False
        return real_splitext(name)

    monkeypatch.setattr(_sigtrove, "splitext", splitext)
    return Hook


@pytest.fixture
def collector_hook():
    """Makes the garbage collector run `hook.use` (`hook.times` times at most) as it starts a
    collection, and collect at nearly every allocation of a tracked object: like a finalizer,
    that code runs in the middle of whatever C code allocated (here: the entries of a read)."""

    class Hook:
        use = None
        times = 8
        calls = 0

    def callback(phase, info):
        if phase == "start" and Hook.use is not None and Hook.calls < Hook.times:
            Hook.calls += 1
            Hook.use()

    threshold = gc.get_threshold()
    gc.callbacks.append(callback)
    gc.set_threshold(1)
    try:
        yield Hook
    finally:
        gc.set_threshold(*threshold)
        gc.callbacks.remove(callback)


RECORD_OPERATIONS = {
    "read_physical": lambda r: r.read(1, 200, 500),
    "read_raw": lambda r: r.read(0, 200, 500, False),
    "signal_info": lambda r: r.signal_info(1),
    "str": lambda r: str(r),
}


@pytest.mark.parametrize("operation", list(RECORD_OPERATIONS))
def test_a_path_hook_that_opens_another_record_during_construction(path_hook, operation):
    run = RECORD_OPERATIONS[operation]
    wanted = run(_sigtrove.Record(TIMED_RECORD))
    path_hook.use = use_wide_record
    before = os.getcwd()
    record = _sigtrove.Record(TIMED_RECORD)
    assert path_hook.calls == 1
    # Its texts are its own: its frequency and base time, not the wide record's.
    assert run(record) == wanted
    assert os.getcwd() == before


def test_a_path_hook_that_opens_another_annotation_file_during_construction(path_hook):
    wanted = rows(_sigtrove.Annotation(RECORD_100).read(0, 20000))
    path_hook.use = use_other_annotation_file
    annotation = _sigtrove.Annotation(RECORD_100)
    assert path_hook.calls == 1
    assert rows(annotation.read(0, 20000)) == wanted


class RunsCode:
    """A correct_gain whose truth test runs `code(record)` once and is true."""

    def __init__(self, code, record):
        self.code, self.record, self.calls = code, record, 0

    def __bool__(self):
        self.calls += 1
        self.code(self.record)
        return True


def leave_a_with_block(record):
    with record:
        pass  # closes the record's files


# Code that moves the record's own position, or closes its files, between the read's positioning
# and its first sample.
SAME_RECORD_USES = {
    "reads it elsewhere": lambda r: r.read(1, 600000, 50),
    "reads its frames": lambda r: r.frames(500000, 500100),
    "closes its files": leave_a_with_block,
    "another object reads its files": lambda r: _sigtrove.Record(RECORD_100).read(0, 300000, 10),
}


@pytest.mark.parametrize("use", list(SAME_RECORD_USES))
def test_a_truth_test_that_uses_the_record_under_read(use):
    record = _sigtrove.Record(RECORD_100)
    wanted = record.read(1, 1000, 20000)
    correct_gain = RunsCode(SAME_RECORD_USES[use], record)
    assert record.read(1, 1000, 20000, correct_gain) == wanted
    assert correct_gain.calls == 1


def test_collector_code_that_opens_another_annotation_file(collector_hook):
    annotation = _sigtrove.Annotation(RECORD_100)
    wanted = rows(annotation.read(0, 20000))
    collector_hook.use = use_other_annotation_file
    assert rows(annotation.read(0, 20000)) == wanted
    assert collector_hook.calls > 0
