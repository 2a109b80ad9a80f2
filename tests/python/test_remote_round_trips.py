"""How many requests, and how many round trips, remote reads cost, as the tests'
own server counts them (delay_server.py): a header is one GET, an annotation file
is one GET (beside the header, in the same round trip, when its read needs the
header), a window asks only for the bytes it needs, no file is fetched twice,
and independent files (the segment headers a read crosses, then the bytes of
their signal files; the headers of a database) are asked for together, in one
round trip, not one after another, and never with a HEAD.
"""

import shutil

import pytest
from conftest import RECORDS
from delay_server import DelayServer

import sigtrove

# Long enough that requests sent together overlap for certain, short enough for a quick test.
DELAY = 0.15


@pytest.fixture
def server(tmp_path):
    # A database of a few records, with its RECORDS list, beside the shared records.
    database = tmp_path / "db"
    database.mkdir()
    names = ["100", "1003", "12726", "drive02", "a103l", "s0010_re"]
    for name in names:
        for path in RECORDS.glob(name + ".*"):
            shutil.copy(path, database / path.name)
    (database / "RECORDS").write_text("".join(name + "\n" for name in names))
    shutil.copytree(RECORDS / "s25047", tmp_path / "s25047")
    running = DelayServer(tmp_path, DELAY)
    yield running
    running.stop()


def fetched(server):
    """(method, path, range) of every request, in the order they came."""
    return [
        (method, path, byte_range) for method, path, byte_range, _, _ in sorted(server.requests(), key=lambda r: r[3])
    ]


def test_a_window_fetches_the_header_once_and_only_the_blocks_it_needs(server):
    record = sigtrove.Record(server.url("db/100"))
    server.reset()
    record.frames(360000, 363600)
    window = fetched(server)
    assert [r for r in window if r[0] == "GET"] == [("GET", "/db/100.dat", "bytes=1048576-1114111")], window
    server.reset()
    sigtrove.Record(server.url("db/100")).frames(360000, 363600)
    cold = fetched(server)
    assert [r[1] for r in cold].count("/db/100.hea") == 1 and len(cold) <= 3, cold
    assert ("GET", "/db/100.hea", "bytes=0-65535") in cold


def test_an_annotation_file_is_one_request(server):
    entries = sigtrove.Annotation(server.url("db/100"), "atr").read()
    assert entries and fetched(server) == [("GET", "/db/100.atr", "bytes=0-65535")]


@pytest.mark.parametrize("needs", ["arrays", "high resolution"])
def test_an_annotation_read_that_needs_the_header_fetches_both_together(server, monkeypatch, needs):
    local = sigtrove.Annotation(str(RECORDS / "100"), "atr").arrays()
    if needs == "arrays":
        # The arrays need the record's clock (the construction read the file alone).
        annotation = sigtrove.Annotation(server.url("db/100"), "atr")
        server.reset()
        assert len(annotation.arrays()["time"]) == len(local["time"])
    else:
        # Times in high-resolution samples need the record's frequency from the start.
        monkeypatch.setenv("WFDBGVMODE", "1")
        assert len(sigtrove.Annotation(server.url("db/100"), "atr").read()) == len(local["time"])
    assert sorted(fetched(server)) == [("GET", "/db/100.atr", "bytes=0-65535"), ("GET", "/db/100.hea", "bytes=0-65535")]
    assert server.rounds() == 1


def test_a_whole_record_fetches_every_byte_once(server):
    signal = sigtrove.Record(server.url("db/100")).read(0)
    assert signal == sigtrove.Record(str(RECORDS / "100")).read(0)
    ranges = [r[2] for r in fetched(server) if r[1] == "/db/100.dat" and r[0] == "GET"]
    spans = sorted(tuple(int(v) for v in r[len("bytes=") :].split("-")) for r in ranges)
    size = (RECORDS / "100.dat").stat().st_size
    assert spans[0][0] == 0 and spans[-1][1] == size - 1
    assert all(after[0] == before[1] + 1 for before, after in zip(spans, spans[1:])), spans


def test_the_segment_headers_a_read_crosses_come_in_one_round_trip(server):
    name = "s25047/s25047-2704-05-04-10-44"
    record = sigtrove.Record(server.url(name))
    server.reset()
    # Frames from the middle of segment 1 into segment 5: four segment headers the read needs.
    got = record.frames(100000, 1600000, physical=False)
    assert (got == sigtrove.Record(str(RECORDS / name)).frames(100000, 1600000, physical=False)).all()
    headers = [r for r in server.requests() if r[1].endswith(".hea")]
    assert len(headers) >= 3, fetched(server)
    # Sent together: each began before the first of them was answered.
    first_answered = min(r[4] for r in headers)
    assert all(r[3] < first_answered for r in headers), headers
    assert len({r[1] for r in headers}) == len(headers), "a segment header fetched twice"


MULTI = "s25047/s25047-2704-05-04-10-44"


@pytest.mark.parametrize(
    "start, stop, segments",
    [
        # Inside one segment (the long 16th).
        (300000, 301250, ["0016"]),
        # Across ten segments, four of them four frames long.
        (54000, 58200, ["0001", "0002", "0003", "0004", "0005", "0006", "0007", "0008", "0009", "0010"]),
        # From the gap at the start into the first segment with files.
        (25000, 26000, ["0001"]),
    ],
)
def test_a_multi_segment_window_asks_for_its_headers_then_its_bytes_in_two_rounds(server, start, stop, segments):
    record = sigtrove.Record(server.url(MULTI))
    server.reset()
    got = record.frames(start, stop, physical=False)
    assert (got == sigtrove.Record(str(RECORDS / MULTI)).frames(start, stop, physical=False)).all()
    requests = fetched(server)
    # Each crossed segment's header, then each crossed segment's signal file: every one once,
    # by a ranged GET (its answer says the file is there, and its size): no HEAD, nothing else.
    assert all(method == "GET" and byte_range for method, _, byte_range in requests), requests
    paths = sorted(path for _, path, _ in requests)
    assert paths == sorted(
        "/s25047/3234460_%s.%s" % (segment, kind) for segment in segments for kind in ("hea", "dat")
    ), requests
    assert server.rounds() == 2, requests


def test_a_cold_multi_segment_window_takes_four_rounds(server):
    sigtrove.Record(server.url(MULTI)).frames(300000, 301250)
    # The master header; the layout header, which names the record's signals; the crossed
    # segment's header; its bytes.
    assert server.rounds() == 4, fetched(server)
    assert len(server.requests()) == 4


def test_the_headers_of_a_database_come_in_one_round_trip(server):
    database = sigtrove.Database(server.url("db"))
    server.reset()
    descriptions = [(record.record, record.nsig) for record in database]
    assert [name for name, _ in descriptions] == [server.url("db/" + n) for n in database.names]
    headers = [r for r in server.requests() if r[1].endswith(".hea")]
    assert len(headers) == len(database.names), fetched(server)
    first_answered = min(r[4] for r in headers)
    assert all(r[3] < first_answered for r in headers), headers
