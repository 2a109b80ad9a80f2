"""Array reads from many threads: each record object reads on its own lock with the interpreter lock
released, beside the original operations; the reads neither change nor depend on the working
directory."""

import os
import threading

import numpy as np
from conftest import RECORDS

import _sigtrove

NAMES = ["100", "s0010_re", "xform", "s25047/s25047-2704-05-04-10-44"]


def work(shared, name, wanted, failures):
    try:
        for i in range(200):
            record = _sigtrove.Record(str(RECORDS / name))
            start = (i * 997) % (len(wanted[name]) - 50)
            got = (
                record.read(0, start, 50, False),
                record.frames(start, start + 50, physical=False),
                shared.frames(start, start + 50, physical=False),
            )
            want = wanted[name]
            assert got[0] == (want[start : start + 50, 0] - record.signals[0].adc_zero).tolist()
            assert np.array_equal(got[1], want[start : start + 50])
            assert np.array_equal(got[2], wanted["shared"][start : start + 50])
    except BaseException as error:  # noqa: BLE001 - reported by the main thread
        failures.append(error)


def test_four_threads_on_shared_and_distinct_records():
    shared = _sigtrove.Record(str(RECORDS / "100"))
    wanted = {name: _sigtrove.Record(str(RECORDS / name)).frames(physical=False) for name in NAMES}
    wanted["shared"] = wanted["100"]
    failures = []
    before = os.getcwd()
    threads = [threading.Thread(target=work, args=(shared, name, wanted, failures)) for name in NAMES]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not failures, failures[0]
    assert os.getcwd() == before


def test_array_reads_neither_change_nor_depend_on_the_working_directory(tmp_path):
    # Records opened by relative path, then read while another thread keeps moving the
    # process elsewhere: the reads go on from where each record was found.
    home = os.getcwd()
    os.chdir(RECORDS)
    try:
        records = {name: _sigtrove.Record(name) for name in NAMES}  # not read yet: they open while moving
        annotation = _sigtrove.Annotation("100")
        wanted = {name: _sigtrove.Record(name).frames(physical=False) for name in NAMES}
        wanted_times = _sigtrove.Annotation("100").arrays()["time"]
    finally:
        os.chdir(home)
    failures, stop = [], threading.Event()

    def wander():
        while not stop.is_set():
            os.chdir(tmp_path)
            os.chdir(home)

    def read(name):
        try:
            for i in range(100):
                start = (i * 131) % (len(wanted[name]) - 500)
                got = records[name].frames(start, start + 500, physical=False)
                assert np.array_equal(got, wanted[name][start : start + 500])
                assert np.array_equal(annotation.arrays()["time"], wanted_times)
        except BaseException as error:  # noqa: BLE001 - reported by the main thread
            failures.append(error)

    wanderer = threading.Thread(target=wander)
    readers = [threading.Thread(target=read, args=(name,)) for name in NAMES]
    wanderer.start()
    for t in readers:
        t.start()
    for t in readers:
        t.join()
    stop.set()
    wanderer.join()
    os.chdir(home)
    assert not failures, failures[0]


def test_array_reads_release_the_interpreter_lock():
    # While one thread decodes a long record, another thread runs Python code.
    record = _sigtrove.Record(str(RECORDS / "s25047/s25047-2704-05-04-10-44"))
    ticks = []
    done = threading.Event()

    def count():
        while not done.is_set():
            ticks.append(1)

    counter = threading.Thread(target=count)
    counter.start()
    for _ in range(20):
        record.frames()
    done.set()
    counter.join()
    assert len(ticks) > 0
