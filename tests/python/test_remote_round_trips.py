"""How many requests, and how many round trips, remote reads cost, as the tests'
own server counts them (delay_server.py): a header is one GET, an annotation file
is one GET (beside the header, in the same round trip, when its read needs the
header), a window asks only for the bytes it needs, no file is fetched twice,
and independent files (a header and its signal files, the segment headers a read
crosses, then the bytes of their signal files; the headers of a database; the
files a mirror fetches) are asked for together, in one round trip, not one after
another, and never with a HEAD where a ranged GET says as much.
"""

import shutil
import subprocess
import sys

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
    assert window == [("GET", "/db/100.dat", "bytes=1048576-1114111")], window
    server.reset()
    sigtrove.Record(server.url("db/100")).frames(360000, 363600)
    cold = fetched(server)
    assert [r[1] for r in cold].count("/db/100.hea") == 1 and len(cold) <= 3, cold
    assert ("GET", "/db/100.hea", "bytes=0-65535") in cold
    # The header and the signal file's first block together, then the window's block.
    assert server.rounds() == 2, cold


def test_a_window_in_the_first_block_costs_no_request_once_the_record_is_open(server):
    record = sigtrove.Record(server.url("db/100"))
    server.reset()
    got = record.frames(0, 3600, physical=False)
    assert (got == sigtrove.Record(str(RECORDS / "100")).frames(0, 3600, physical=False)).all()
    assert fetched(server) == []


OPENS = [
    # (record, the requests its open makes, in round trips: each a set of (method, path, range))
    ("100", [{("GET", "/db/100.hea", "bytes=0-65535"), ("GET", "/db/100.dat", "bytes=0-65535")}]),
    (
        "s0010_re",  # two signal files: the second is asked for once the header has named it
        [
            {("GET", "/db/s0010_re.hea", "bytes=0-65535"), ("GET", "/db/s0010_re.dat", "bytes=0-65535")},
            {("GET", "/db/s0010_re.xyz", "bytes=0-65535")},
        ],
    ),
    (
        "a103l",  # a signal file of another name than RECORD.dat
        [
            {("GET", "/db/a103l.hea", "bytes=0-65535"), ("GET", "/db/a103l.dat", "bytes=0-65535")},
            {("GET", "/db/a103l.mat", "bytes=0-65535")},
        ],
    ),
]


def round_trips(server):
    """The requests, grouped by round trip (as server.rounds() counts them)."""
    groups, answered_by = [], None
    for method, path, byte_range, start, end in sorted(server.requests(), key=lambda r: r[3]):
        if answered_by is None or start >= answered_by:
            groups.append(set())
            answered_by = end
        answered_by = max(answered_by, end)
        groups[-1].add((method, path, byte_range))
    return groups


@pytest.mark.parametrize("name, expected", OPENS, ids=[row[0] for row in OPENS])
def test_opening_a_record_asks_for_its_header_and_signal_files_together(server, name, expected):
    record = sigtrove.Record(server.url("db/" + name))
    assert round_trips(server) == expected
    local = sigtrove.Record(str(RECORDS / name))
    assert (record.frames(0, 100, physical=False) == local.frames(0, 100, physical=False)).all()


def test_a_header_only_record_still_refuses_to_open_without_its_signals(server):
    url = server.url("db/1003")  # its header, and no 1003.dat
    with pytest.raises(sigtrove.InitError) as info:
        sigtrove.Record(url)
    assert info.value.args == ("isigopen: none of the signals for record %s is readable\n" % url,)
    # Its signal file by both its names, each once; the first beside the header.
    assert round_trips(server) == [
        {("GET", "/db/1003.hea", "bytes=0-65535"), ("GET", "/db/1003.dat", "bytes=0-65535")},
        {("GET", "/db/1003.dat.", "bytes=0-65535")},
    ]
    assert sigtrove.Record(url, signals_required=False).nsig == 6


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


def test_a_whole_record_read_by_frames_takes_two_round_trips(server):
    # The read says how far it goes: after the header with the first block, the rest in one
    # request that streams ahead of the decoding.
    got = sigtrove.Record(server.url("db/100")).frames(physical=False)
    assert (got == sigtrove.Record(str(RECORDS / "100")).frames(physical=False)).all()
    size = (RECORDS / "100.dat").stat().st_size
    assert round_trips(server) == [
        {("GET", "/db/100.hea", "bytes=0-65535"), ("GET", "/db/100.dat", "bytes=0-65535")},
        {("GET", "/db/100.dat", "bytes=65536-%d" % (size - 1))},
    ]


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
    # The master header (beside the first block of RECORD.dat, asked for with every header and
    # missing here: a master has no signal file of its own); the layout header, which names the
    # record's signals; the crossed segment's header; its bytes.
    assert server.rounds() == 4, fetched(server)
    assert len(server.requests()) == 5, fetched(server)


def test_the_headers_of_a_database_come_in_one_round_trip(server):
    database = sigtrove.Database(server.url("db"))
    server.reset()
    descriptions = [(record.record, record.nsig) for record in database]
    assert [name for name, _ in descriptions] == [server.url("db/" + n) for n in database.names]
    headers = [r for r in server.requests() if r[1].endswith(".hea")]
    assert len(headers) == len(database.names), fetched(server)
    first_answered = min(r[4] for r in headers)
    assert all(r[3] < first_answered for r in headers), headers
    # The signal files in one more round trip, by their heads only (none of their bytes is read),
    # each once, the alternative names of those not there among them; each record's open asks
    # for nothing then.
    trips = round_trips(server)
    assert len(trips) == 2, trips
    signal_files = [r for r in fetched(server) if not r[1].endswith(".hea")]
    assert all(method == "HEAD" for method, _, _ in signal_files), signal_files
    assert len({path for _, path, _ in signal_files}) == len(signal_files), signal_files
    for path in ("/db/a103l.mat", "/db/s0010_re.xyz", "/db/1003.dat."):
        assert ("HEAD", path, "") in trips[1], trips
    # What the records say equals the local database's.
    local = sigtrove.Database(str(RECORDS))
    assert [nsig for _, nsig in descriptions] == [local[name].nsig for name in database.names]


def test_a_databases_lists_come_in_one_round_trip(server):
    server.reset()
    database = sigtrove.Database(server.url("db"))
    assert database.names == ("100", "1003", "12726", "drive02", "a103l", "s0010_re")
    assert round_trips(server) == [{("GET", "/db/RECORDS", ""), ("GET", "/db/ANNOTATORS", "")}]


def test_a_signal_file_that_records_of_a_database_share_is_asked_for_once(tmp_path):
    # 100, 100-no-len and 100skew all read 100.dat.
    names = ["100", "100-no-len", "100skew"]
    for name in names:
        shutil.copy(RECORDS / (name + ".hea"), tmp_path / (name + ".hea"))
    shutil.copy(RECORDS / "100.dat", tmp_path / "100.dat")
    (tmp_path / "RECORDS").write_text("".join(name + "\n" for name in names))
    server = DelayServer(tmp_path, DELAY)
    try:
        database = sigtrove.Database(server.url(""))
        server.reset()
        records = list(database)
        signal_file = [r for r in fetched(server) if r[1] == "/100.dat"]
        assert signal_file == [("HEAD", "/100.dat", "")], fetched(server)
        assert len(round_trips(server)) == 1, fetched(server)
        # Each record's signals are open, and read what the local ones read.
        for name, record in zip(names, records):
            local = sigtrove.Record(str(RECORDS / name))
            assert (record.frames(0, 100, physical=False) == local.frames(0, 100, physical=False)).all()
    finally:
        server.stop()


# A database to mirror: four records (100skew reads 100.dat too), its lists, one annotator.
MIRRORED = ["100", "100skew", "a103l", "s0010_re"]


@pytest.mark.parametrize("runs", [1, 2], ids=["fresh", "again"])
def test_a_mirror_fetches_independent_files_together(tmp_path, runs):
    served = tmp_path / "served"
    served.mkdir()
    for name in MIRRORED + ["RECORDS", "ANNOTATORS"]:
        for path in RECORDS.glob(name + ".*"):
            if path.suffix in (".hea", ".dat", ".mat", ".xyz", ".atr"):
                shutil.copy(path, served / path.name)
    (served / "RECORDS").write_text("".join(name + "\n" for name in MIRRORED))
    (served / "ANNOTATORS").write_text("atr\treference beat annotations\n")
    mirror = tmp_path / "mirror"
    server = DelayServer(served, DELAY)
    try:
        for _ in range(runs):
            server.reset()
            result = subprocess.run(
                [sys.executable, "-m", "sigtrove", "download", server.url(), "--to", str(mirror)],
                stderr=subprocess.PIPE,
                text=True,
                timeout=120,
            )
            assert result.returncode == 0, result.stderr
        requests = fetched(server)
        rounds = server.rounds()
    finally:
        server.stop()
    files = sorted(p.name for p in served.iterdir())
    assert sorted(p.name for p in mirror.iterdir()) == files
    assert all((mirror / name).read_bytes() == (served / name).read_bytes() for name in files)
    # Every file once (the one two records share too), and the annotation files the records lack.
    absent = ["/%s.atr" % name for name in MIRRORED if not (served / (name + ".atr")).exists()]
    assert sorted(path for _, path, _ in requests) == sorted(["/" + name for name in files] + absent), requests
    if runs == 2:  # what is whole already is only checked
        assert all(method == "HEAD" for method, path, _ in requests if path not in absent), requests
    # The lists; then the headers, beside the annotation files; then the signal files.
    assert rounds <= 3 < len(requests), requests
