"""Python code that runs inside an operation (a truth test, a directory-change hook, an index, the
garbage collector's code run by an allocation) and uses other records: every operation still returns its own
record's data, nothing is written past a buffer, and the working directory comes back."""

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
def directory_hook(monkeypatch):
    """Makes the module's next `hook.times` directory changes run `hook.use` once it is set."""

    class Hook:
        use = None
        times = 2  # the two changes of one open: into the record's directory and back
        busy = False
        calls = 0

    real_chdir = _sigtrove.chdir

    def chdir(directory):
        real_chdir(directory)
        if Hook.use is None or Hook.busy or Hook.calls >= Hook.times:
            return
        Hook.busy = True
        try:
            Hook.calls += 1
            Hook.use()
        finally:
            Hook.busy = False

    monkeypatch.setattr(_sigtrove, "chdir", chdir)
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
def test_a_directory_hook_that_opens_another_record(directory_hook, operation):
    run = RECORD_OPERATIONS[operation]
    record = _sigtrove.Record(TIMED_RECORD)
    wanted = run(record)
    use_wide_record()  # the record under test must reopen, changing directory twice
    directory_hook.use = use_wide_record
    before = os.getcwd()
    assert run(record) == wanted
    assert directory_hook.calls == 2
    assert os.getcwd() == before


def test_a_directory_hook_that_opens_another_annotation_file(directory_hook):
    annotation = _sigtrove.Annotation(RECORD_100)
    wanted = rows(annotation.read(0, 20000))
    use_other_annotation_file()
    directory_hook.use = use_other_annotation_file
    assert rows(annotation.read(0, 20000)) == wanted
    assert directory_hook.calls == 2


def test_collector_code_that_opens_another_annotation_file(collector_hook):
    annotation = _sigtrove.Annotation(RECORD_100)
    wanted = rows(annotation.read(0, 20000))
    collector_hook.use = use_other_annotation_file
    assert rows(annotation.read(0, 20000)) == wanted
    assert collector_hook.calls > 0


NEVER_CURRENT = {
    "Record.read": (lambda: _sigtrove.Record(RECORD_100), lambda r: r.read(0, 0, 10), use_wide_record),
    "Annotation.read": (lambda: _sigtrove.Annotation(RECORD_100), lambda a: a.read(0, 2000), use_other_annotation_file),
}


@pytest.mark.parametrize("kind", list(NEVER_CURRENT))
def test_an_object_that_can_never_stay_current_fails_cleanly(directory_hook, kind):
    open_object, run, use = NEVER_CURRENT[kind]
    opened = open_object()
    use()
    directory_hook.use, directory_hook.times = use, float("inf")
    before = os.getcwd()
    with pytest.raises(_sigtrove.InitError) as info:
        run(opened)
    assert info.value.args[0].endswith("\n") and "100" in info.value.args[0]
    assert os.getcwd() == before
    directory_hook.use = None
    assert len(run(opened)) > 0
