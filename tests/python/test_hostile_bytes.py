"""Arbitrary bytes opened as a record through the module: a header built from
plausible and implausible pieces (any format, samples per frame, skew, offset,
checksum, length, file names shared between lines, multi-segment masters) over
random signal files. Opening either fails with InitError or gives a record whose
every signal can be read, described and printed; nothing else may happen (no
crash, no other exception, no unbounded memory or time).

Every input that ever failed is kept in tests/fuzz/regressions/python/ and replayed.
With SIGTROVE_FUZZ_SECONDS set, one more test generates records for that long
(scripts/fuzz.sh runs it)."""

import json
import os
import pathlib
import tempfile
import time

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import sigtrove

REGRESSIONS = pathlib.Path(__file__).resolve().parent.parent / "fuzz" / "regressions" / "python"
FORMATS = [0, 8, 16, 61, 80, 160, 212, 310, 311, 24, 32, 508, 516, 524]
FILE_NAMES = ["r.dat", "r.dat", "s.dat", "~", "r.hea", "missing.dat"]


def number(small, large):
    """Mostly small values, now and then huge or negative ones."""
    return st.one_of(st.integers(*small), st.integers(*large), st.sampled_from([0, -1, 2**31 - 1, 2**26 - 1]))


@st.composite
def signal_line(draw):
    fmt = draw(st.one_of(st.sampled_from(FORMATS), st.integers(-5, 600)))
    field = str(fmt)
    if draw(st.booleans()):
        field += "x" + str(draw(number((1, 4), (-10, 2**27))))
    if draw(st.booleans()):
        field += ":" + str(draw(number((0, 5), (-10, 2**31))))
    if draw(st.booleans()):
        field += "+" + str(draw(number((0, 64), (-10, 2**40))))
    parts = [draw(st.sampled_from(FILE_NAMES)), field]
    words = st.one_of(st.integers(-(2**33), 2**33).map(str), st.sampled_from(["200", "200(3)/mV", "x", "0.5"]))
    extra = draw(st.lists(words, max_size=7))
    return " ".join(parts + extra)


@st.composite
def record_files(draw):
    nsig = draw(st.integers(0, 6))
    lines = [draw(signal_line()) for _ in range(nsig)]
    claimed = draw(st.one_of(st.just(nsig), number((0, 8), (-3, 30000000))))
    nsamp = draw(st.one_of(st.none(), number((0, 64), (-3, 10**12))))
    if draw(st.integers(0, 9)) == 0:
        # A multi-segment master over segments "seg" (the header above, renamed) and null ones.
        segments = draw(
            st.lists(
                st.tuples(st.sampled_from(["seg", "~", "nosuch"]), number((0, 20), (-3, 10**9))), min_size=1, max_size=4
            )
        )
        header = f"r/{len(segments)} {claimed} 250\n" + "".join(f"{n} {length}\n" for n, length in segments)
        segment = f"seg {nsig} 250 {nsamp if nsamp is not None else ''}\n" + "".join(
            line.replace("r.", "seg.", 1) + "\n" for line in lines
        )
        extra = {"seg.hea": segment.encode()}
    else:
        header = (
            f"r {claimed} 250" + ("" if nsamp is None else f" {nsamp}") + "\n" + "".join(line + "\n" for line in lines)
        )
        extra = {}
    if draw(st.integers(0, 9)) == 0:
        header = draw(st.text(max_size=200))
    files = {"r.hea": header.encode("utf-8", "surrogateescape"), **extra}
    for name in ("r.dat", "s.dat", "seg.dat"):
        files[name] = draw(st.binary(max_size=1024))
    return files


def open_and_read(files):
    """Writes the files into a fresh folder, opens record r and reads every signal."""
    with tempfile.TemporaryDirectory() as folder:
        for name, data in files.items():
            pathlib.Path(folder, name).write_bytes(data)
        try:
            record = sigtrove.Record(os.path.join(folder, "r"))
        except sigtrove.InitError:
            return
        for signal in range(record.nsig):
            for gain in (True, False):
                try:
                    record.read(signal, 0, 2000, correct_gain=gain)
                    record.read(signal, 3, 5, correct_gain=gain)
                except (sigtrove.InitError, ValueError):
                    pass
            record.signal_info(signal)
        str(record)
        record.close()


def regression_cases():
    return sorted(REGRESSIONS.glob("*.json")) if REGRESSIONS.is_dir() else []


@pytest.mark.parametrize("case", regression_cases(), ids=lambda p: p.stem)
def test_inputs_that_once_failed_open_or_fail_cleanly(case):
    saved = json.loads(case.read_text())
    open_and_read({name: bytes.fromhex(data) for name, data in saved.items()})


@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
@given(files=record_files())
def test_generated_records_open_or_fail_cleanly(files):
    open_and_read(files)


def test_generated_records_for_a_time_budget():
    seconds = float(os.environ.get("SIGTROVE_FUZZ_SECONDS", "0"))
    if seconds <= 0:
        pytest.skip("SIGTROVE_FUZZ_SECONDS is not set")
    examples = 0

    @settings(
        max_examples=100,
        deadline=None,
        database=None,
        suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
    )
    @given(files=record_files())
    def run(files):
        nonlocal examples
        examples += 1
        open_and_read(files)

    end = time.monotonic() + seconds
    while time.monotonic() < end:
        run()
    print(f"\nstat::number_of_executed_units: {examples}")
