"""Records and annotation files used from several threads at once: every operation sees the working
directory it expects and returns its own record's data; waiting for another thread's operation lets
the rest of the program run."""

import os
import sys
import threading

import pytest
from conftest import RECORDS
from test_annotation_entry import run_fresh

import _sigtrove

ITERATIONS = 200
THREADS = 4


def rows(entries):
    return [(e.time, e.type, e.subtype, e.channel, e.annotator, e.aux) for e in entries]


def work(narrow_path, wide_path):
    """Constructions and reads of a 2-signal and a 15-signal record, with annotation reads between."""
    narrow = _sigtrove.Record(narrow_path)
    first = narrow.read(0, 1000, 300)
    wide = _sigtrove.Record(wide_path)
    second = wide.read(14, 500, 300, False)
    beats = rows(_sigtrove.Annotation(narrow_path).read(0, 20000))
    third = narrow.read(1, 5000, 300, False)  # after two other objects became current
    info = wide.signal_info(3)
    rhythm = rows(narrow.annotation().read(0, 1000, "+"))
    return first, second, beats, third, info, rhythm


@pytest.fixture
def frequent_switches():
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    try:
        yield
    finally:
        sys.setswitchinterval(interval)


def test_threads_in_relative_directories(monkeypatch, frequent_switches):
    monkeypatch.chdir(RECORDS.parent)
    paths = ("records/100", "records/s0010_re")
    wanted = work(*paths)
    results, errors = [], []
    start = threading.Barrier(THREADS)

    def run():
        start.wait()
        try:
            for _ in range(ITERATIONS):
                results.append(work(*paths) == wanted)
        except BaseException as error:  # noqa: B036 - every failure is reported below
            errors.append(error)

    threads = [threading.Thread(target=run) for _ in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert errors == []
    assert results == [True] * (THREADS * ITERATIONS)
    assert os.getcwd() == str(RECORDS.parent)


# The program below runs in a process of its own with a time limit: a wait that kept the
# interpreter lock would hang it rather than fail.
WAITING_RELEASES_THE_INTERPRETER = r"""
import json, sys, threading, time, _sigtrove
narrow_path, wide_path = sys.argv[1], sys.argv[2]
inside, proceed = threading.Event(), threading.Event()
real_chdir = _sigtrove.chdir
holder_done = []

def chdir(directory):
    real_chdir(directory)
    if threading.current_thread().name == "holder" and not inside.is_set():
        inside.set()          # the holder is now inside an operation, between two directory changes
        proceed.wait(30)

_sigtrove.chdir = chdir
narrow = _sigtrove.Record(narrow_path)
wanted = narrow.read(0, 0, 50)
doomed = _sigtrove.Record(wide_path)   # current: its destruction empties the slot

def holder():
    holder_done.append(narrow.read(0, 0, 50) == wanted)

holding = threading.Thread(target=holder, name="holder")
holding.start()
inside.wait(30)
waiter_done = []
waiting = threading.Thread(target=lambda: waiter_done.append(len(_sigtrove.Record(wide_path).read(0, 0, 5))))
waiting.start()
waiting.join(0.5)
blocked = waiting.is_alive()          # it waits for the holder's operation ...
began = time.monotonic()
del doomed                            # ... and a destruction on this thread does not wait at all
destruction_waited = time.monotonic() - began > 5
proceed.set()
holding.join(30)
waiting.join(30)
print(json.dumps({"blocked": blocked, "destruction_waited": destruction_waited, "holder": holder_done,
                  "waiter": waiter_done, "alive": holding.is_alive() or waiting.is_alive()}))
"""


def test_waiting_lets_other_threads_run_and_destruction_never_waits():
    out = run_fresh(WAITING_RELEASES_THE_INTERPRETER, str(RECORDS / "100"), str(RECORDS / "s0010_re"))
    assert out == {"blocked": True, "destruction_waited": False, "holder": [True], "waiter": [5], "alive": False}


# A child forked while another thread is inside an operation must not inherit a lock that no
# thread of its own will ever release.
FORK_WHILE_ANOTHER_THREAD_HOLDS_THE_LOCK = r"""
import json, os, sys, threading, time, _sigtrove
narrow_path, wide_path = sys.argv[1], sys.argv[2]
inside, proceed = threading.Event(), threading.Event()
real_chdir = _sigtrove.chdir

def chdir(directory):
    real_chdir(directory)
    if threading.current_thread().name == "holder" and not inside.is_set():
        inside.set()
        proceed.wait(30)

_sigtrove.chdir = chdir
narrow = _sigtrove.Record(narrow_path)
_sigtrove.Record(wide_path)
holding = threading.Thread(target=lambda: narrow.read(0, 0, 50), name="holder")
holding.start()
inside.wait(30)
child = os.fork()
if child == 0:
    ok = len(_sigtrove.Record(wide_path).read(0, 0, 5)) == 5
    os._exit(0 if ok else 1)
status = None
for _ in range(300):
    pid, status = os.waitpid(child, os.WNOHANG)
    if pid:
        break
    status = None
    time.sleep(0.1)
if status is None:
    os.kill(child, 9)
    os.waitpid(child, 0)
proceed.set()
holding.join(30)
print(json.dumps(status))
"""


def test_a_child_forked_while_another_thread_holds_the_lock_can_use_records():
    assert run_fresh(FORK_WHILE_ANOTHER_THREAD_HOLDS_THE_LOCK, str(RECORDS / "100"), str(RECORDS / "s0010_re")) == 0
