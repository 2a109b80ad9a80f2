"""The viewer's web server, asked as its page asks it (over HTTP on 127.0.0.1): who it answers, and
what: the record's description, windows of samples and envelopes, annotations, searches and times."""

import pathlib
import shutil

import numpy as np
import pytest
from conftest import RECORDS
from record_writer import write_annotations, write_record
from viewer_client import Client, read_window

import sigtrove
from sigtrove.viewer import Viewer


@pytest.fixture(scope="module")
def viewer():
    with Viewer(str(RECORDS / "100"), ["atr", "qrs"]) as running:
        yield running


@pytest.fixture(scope="module")
def client(viewer):
    return Client(viewer.url)


@pytest.fixture(scope="module")
def rhythms(tmp_path_factory):
    """Two minutes of a synthetic record with a base time, whose annotator changes rhythm twice and
    has a note with an aux text."""
    folder = tmp_path_factory.mktemp("rhythms")
    frames = np.arange(30000)
    samples = np.stack([(frames % 250) - 125, 1000 + frames % 50], axis=1)
    path = write_record(
        folder, "rhythms", samples, 250, names=["ECG", "ABP"], units=["mV", "mmHg"], base="23:59:50 31/12/2023"
    )
    rows = [(0, 28, "(N"), (5100, 22, "alarm: low SpO2"), (9000, 28, "(AFIB"), (21000, 28, "(N")]
    rows += [(t, 5 if t % 2000 == 250 else 1, None) for t in range(250, 30000, 250)]
    write_annotations(path, "atr", sorted(rows, key=lambda row: row[0]))
    return path


# ---- who is answered


def test_every_address_needs_the_token(client, viewer):
    token = client.base.strip("/")
    refused = ["/", "/index.html", "/viewer.js", "/record", "/window?start=0&stop=10", "/x/", "/x/record"]
    refused += ["/%s/" % token[:-1], "/%s/" % token.upper(), "/%sx/record" % token, "/?token=%s" % token]
    refused += ["/%s/../%s/record" % ("x", token)]
    for path in refused:
        answer = client.request(path)
        assert answer.status == 403, path
        assert b"token" in answer.body
    for path in ["", "viewer.js", "viewer.css", "record", "window?start=0&stop=10"]:
        assert client.request(client.base + path).status == 200, path


def test_only_its_own_address_in_the_host_header_is_answered(client):
    port = client.port
    cases = [
        ("127.0.0.1:%d" % port, 200),
        ("localhost:%d" % port, 200),
        ("LOCALHOST:%d" % port, 200),
        ("evil.example:%d" % port, 403),  # a site's name pointed at 127.0.0.1
        ("127.0.0.1", 403),
        ("127.0.0.1:%d" % (port + 1), 403),
        ("127.0.0.1:%d.evil.example" % port, 403),
        ("", 403),
        (False, 403),  # no Host header at all
    ]
    for host, status in cases:
        answer = client.request(client.base + "record", host=host)
        assert answer.status == status, host
        if status == 403:
            assert b"Host" in answer.body


def listening_addresses(port):
    """The local addresses that sockets listening on `port` are bound to, from the kernel's tables."""
    found = []
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            lines = pathlib.Path(table).read_text().splitlines()[1:]
        except OSError:
            continue
        for line in lines:
            fields = line.split()
            address, hex_port = fields[1].rsplit(":", 1)
            if int(hex_port, 16) == port and fields[3] == "0A":  # LISTEN
                found.append(address)
    return found


def test_it_listens_on_the_loopback_address_only(viewer):
    # 0100007F is 127.0.0.1 as the kernel writes it.
    assert listening_addresses(viewer.port) == ["0100007F"]


def test_it_answers_only_get_and_head(client):
    assert client.request(client.base + "record", method="HEAD").status == 200
    assert client.request(client.base + "record", method="HEAD").body == b""
    for method in ("POST", "PUT", "DELETE", "OPTIONS"):
        answer = client.request(client.base + "record", method=method)
        assert answer.status == 405 and answer.headers["allow"] == "GET, HEAD"


def test_the_page_may_load_nothing_from_elsewhere(client):
    page = client.request(client.base)
    assert page.headers["content-type"] == "text/html; charset=utf-8"
    policy = page.headers["content-security-policy"]
    assert "default-src 'none'" in policy and "connect-src 'self'" in policy and "script-src 'self'" in policy
    for path in ["", "viewer.js", "record"]:
        headers = client.request(client.base + path).headers
        assert headers["cache-control"] == "no-store"
        assert headers["x-content-type-options"] == "nosniff"
        assert headers["cross-origin-resource-policy"] == "same-origin"
        assert "access-control-allow-origin" not in headers
    # The page's files name no other server.
    for name in ["", "viewer.js", "viewer.css"]:
        text = client.request(client.base + name).body.decode()
        assert "http:" not in text and "https:" not in text and "//" not in text.replace("// ", "")


@pytest.mark.parametrize(
    "name",
    ["../../etc/passwd", "..%2F..%2Fetc%2Fpasswd", "assets/viewer.js", "_server.py", "viewer.js/../record", "100.dat"],
)
def test_names_outside_the_page_are_no_files(client, name):
    answer = client.request(client.base + name)
    assert answer.status == 404
    assert b"root:" not in answer.body


# ---- what it answers


def test_the_description_says_what_the_page_lays_out(client, rhythms):
    assert client.json("record") == {
        "name": "100",
        "frequency": 360.0,
        "frames": 650000,
        "base": {"seconds": None, "date": None},
        "signals": [
            {"name": "MLII", "units": "mV", "samples_per_frame": 1},
            {"name": "V5", "units": "mV", "samples_per_frame": 1},
        ],
        "annotators": [
            {"name": "atr", "counts": {"+": 1, "A": 33, "N": 2239, "V": 1}, "rhythms": 1},
            {"name": "qrs", "counts": {"N": 2273}, "rhythms": 0},
        ],
        "max_columns": 8192,
    }
    with Viewer(rhythms, "atr") as other:
        described = Client(other.url).json("record")
    assert described["base"] == {"seconds": 86390.0, "date": "2023-12-31"}
    assert [(s["name"], s["units"]) for s in described["signals"]] == [("ECG", "mV"), ("ABP", "mmHg")]
    assert described["annotators"][0]["counts"] == {"+": 3, '"': 1, "N": 104, "V": 15}


def test_a_window_with_a_column_per_frame_is_every_sample(client):
    record = sigtrove.Record(str(RECORDS / "100"))
    window = client.window(100000, 100900, 1000)
    assert (window.header["start"], window.header["stop"], window.header["stretch"]) == (100000, 100900, 0)
    frames = record.frames(100000, 100900, dtype=np.float32)
    assert [np.array_equal(v, frames[:, i]) for i, v in enumerate(window.values)] == [True, True]
    (only,) = client.window(100000, 100900, 1000, signals=[1]).values
    assert np.array_equal(only, frames[:, 1])


def expected_ranges(samples, first, last, stretch, samples_per_frame=1):
    """Each bin's lowest and highest sample, from every sample of frames [first, last)."""
    size = stretch * samples_per_frame
    padded = np.full(-(-len(samples) // size) * size, np.nan, np.float32)
    padded[: len(samples)] = samples
    shaped = padded.reshape(-1, size)
    return np.stack([np.fmin.reduce(shaped, axis=1), np.fmax.reduce(shaped, axis=1)], axis=1)


@pytest.mark.parametrize(
    "name, start, stop, columns",
    [
        ("100", 1000, 4600, 1000),  # ten seconds: bins of 4 frames, read from the record
        ("100", 12345, 98765, 777),  # bins that do not begin at the window's start
        ("100", 0, 650000, 1200),  # the whole record, from the overview
        ("100", 640001, 650000, 3),  # a last bin cut short by the record's end
        ("s25047/s25047-2704-05-04-10-44", 0, 543240, 2000),  # segments, and stretches with no signal
        ("xform", 0, 7500, 900),  # signals of 4 samples per frame: the range of every sample
        ("s0010_re", 0, 38400, 640),  # 15 signals in two files
    ],
)
def test_envelopes_are_the_range_of_the_samples_under_each_bin(name, start, stop, columns):
    record = sigtrove.Record(str(RECORDS / name))
    with Viewer(record) as viewer:
        window = Client(viewer.url).complete_window(start, stop, columns)
    header = window.header
    stretch, first, last = header["stretch"], header["start"], header["stop"]
    assert header["complete"] and stretch >= 2 and stretch & (stretch - 1) == 0
    assert first % stretch == 0 and first <= start < first + stretch
    assert last == min(record.readable_frames, -(-stop // stretch) * stretch)
    assert all(len(v) <= columns for v in window.values)
    for signal, values in enumerate(window.values):
        spf = record.signals[signal].samples_per_frame
        samples = record.signal(signal, first * spf, last * spf, dtype=np.float32)
        wanted = expected_ranges(samples, first, last, stretch, spf)
        assert np.array_equal(values, wanted, equal_nan=True), (name, signal)
    if name.startswith("s25047"):
        assert np.isnan(window.values[2]).any() and not np.isnan(window.values[2]).all()


def test_every_answer_is_bounded_in_size(client):
    for start, stop, columns in [(0, 650000, 10**9), (0, 8000, 10**9), (0, 650000, -5), (0, 10**15, 10**6)]:
        answer = client.ask("window", start=start, stop=stop, columns=columns)
        assert answer.status == 200
        window = read_window(answer.body)
        assert all(len(v) <= 8192 for v in window.values)
        assert len(answer.body) <= 8192 * 2 * 2 * 4 + 1000
        assert window.header["stop"] <= 650000
    annotations = client.json("annotations", annotator="atr", start=0, stop=650000, columns=10**9)
    assert annotations["kind"] == "counts" and len(annotations["counts"]) <= 8192


def test_an_overview_asked_for_before_it_is_read_says_so_then_comes_whole():
    from sigtrove.viewer._envelopes import RecordEnvelopes

    record = sigtrove.Record(str(RECORDS / "100"))
    envelopes = RecordEnvelopes(record, record.readable_frames)
    envelopes.pyramid.start = lambda: None  # nothing read yet
    early = envelopes.window(0, 650000, 1000, [0, 1])
    assert not early.complete and early.progress == 0.0
    assert all(np.isnan(v).all() for v in early.values)
    envelopes.pyramid.build()
    whole = envelopes.window(0, 650000, 1000, [0, 1])
    assert whole.complete and whole.progress == 1.0
    samples = record.frames(dtype=np.float32)
    for signal, values in enumerate(whole.values):
        wanted = expected_ranges(samples[:, signal], 0, 650000, whole.stretch)
        assert np.array_equal(values, wanted)


def test_a_remote_record_is_viewed_as_the_same_record_read_locally(client, web_server):
    with Viewer(web_server.url("100"), ["atr"]) as remote:
        theirs = Client(remote.url)
        assert theirs.json("record")["frames"] == 650000
        for start, stop, columns in [(2000, 2700, 1000), (300000, 303600, 900), (0, 650000, 1000)]:
            got, wanted = theirs.complete_window(start, stop, columns), client.complete_window(start, stop, columns)
            assert got.header == wanted.header
            assert all(np.array_equal(g, w) for g, w in zip(got.values, wanted.values))
        assert theirs.json("annotations", annotator="atr", start=0, stop=3600) == client.json(
            "annotations", annotator="atr", start=0, stop=3600
        )


def test_the_annotations_of_a_window_are_listed_with_the_rhythm_in_force(client):
    beats = sigtrove.Annotation(str(RECORDS / "100"), "atr").arrays(20000, 30000)
    answer = client.json("annotations", annotator="atr", start=20000, stop=30000, columns=1000)
    assert answer["kind"] == "list" and answer["total"] == len(beats["time"])
    assert answer["time"] == beats["time"].tolist()
    assert answer["symbol"] == beats["symbol"].tolist()
    assert answer["chan"] == beats["chan"].tolist()
    assert answer["aux"] == {}
    # The record's one rhythm change, at sample 18, is in force from there to its end.
    assert answer["rhythms"] == [[18, 650000, "(N", 0]]


def test_rhythm_spans_notes_and_counts(rhythms):
    with Viewer(rhythms, "atr") as viewer:
        client = Client(viewer.url)
        cases = [
            (0, 30000, [[0, 9000, "(N", 0], [9000, 21000, "(AFIB", 0], [21000, 30000, "(N", 0]]),
            (10000, 12000, [[9000, 21000, "(AFIB", 0]]),
            (21000, 21001, [[21000, 30000, "(N", 0]]),
            (20999, 21001, [[9000, 21000, "(AFIB", 0], [21000, 30000, "(N", 0]]),
        ]
        for start, stop, spans in cases:
            answer = client.json("annotations", annotator="atr", start=start, stop=stop, columns=1000)
            assert answer["rhythms"] == spans, (start, stop)
            assert "+" not in answer["symbol"]  # rhythm changes are drawn as their spans
        note = client.json("annotations", annotator="atr", start=5050, stop=5150)
        assert (note["time"], note["symbol"], note["aux"]) == ([5100], ['"'], {"0": "alarm: low SpO2"})


def test_a_window_of_more_annotations_than_are_listed_gets_their_counts_per_column(client):
    beats = sigtrove.Annotation(str(RECORDS / "100"), "qrs").arrays()
    answer = client.json("annotations", annotator="qrs", start=0, stop=650000, columns=500)
    assert answer["kind"] == "counts" and answer["total"] == 2273
    stretch, first, counts = answer["stretch"], answer["first"], answer["counts"]
    assert len(counts) <= 500 and first == 0
    assert counts == np.bincount(beats["time"] // stretch, minlength=len(counts)).tolist()


@pytest.mark.parametrize(
    "symbol, direction, frame, found",
    [
        ("V", "after", 0, "first"),
        ("V", "after", "first", None),
        ("V", "before", 650000, "first"),
        ("V", "before", "first", None),
        ("A", "after", 0, "first"),
        ("A", "after", "first", "second"),
        ("A", "before", "second", "first"),
        ("Q", "after", 0, None),  # a type that the annotator does not have
    ],
)
def test_the_next_and_previous_annotation_of_a_type(client, symbol, direction, frame, found):
    times = sigtrove.Annotation(str(RECORDS / "100"), "atr").arrays()
    of_type = times["time"][times["symbol"] == symbol].tolist() or [None, None]
    named = {"first": of_type[0], "second": of_type[1 % len(of_type)], None: None}
    at = named[frame] if isinstance(frame, str) else frame
    assert client.json("find", annotator="atr", symbol=symbol, **{direction: at}) == {"time": named[found]}


@pytest.mark.parametrize(
    "text, frame",
    [("0:10", 3600), ("1:00", 21600), ("s1200", 1200), ("90", 32400), ("e", 650000), ("  2:00 ", 43200)],
)
def test_a_time_to_go_to_is_read_as_the_commands_read_times(client, text, frame):
    assert client.json("time", text=text) == {"frame": frame}


def test_clock_times_go_to_the_frame_of_that_time_of_day(rhythms):
    with Viewer(rhythms) as viewer:
        assert Client(viewer.url).json("time", text="[23:59:52]") == {"frame": 500}


@pytest.mark.parametrize(
    "question, parameters, status, message",
    [
        ("window", {"start": "x", "stop": 10}, 400, "start 'x' is not a whole number"),
        ("window", {"stop": 10}, 400, "missing start"),
        ("window", {"start": 10, "stop": 5}, 400, "stop 5 is before start 10"),
        ("window", {"start": 0, "stop": 5, "signals": "0,7"}, 400, "signal 7: the record has signals 0 to 1"),
        ("window", {"start": 0, "stop": 5, "signals": "a"}, 400, "signals: not a list of signal numbers"),
        ("window", {"start": 0, "stop": 10**30}, 400, "stop 1000000000000000000000000000000 is out of range"),
        ("annotations", {"annotator": "wqrs", "start": 0, "stop": 5}, 404, "this viewer shows no annotator 'wqrs'"),
        ("find", {"annotator": "atr", "symbol": "N"}, 400, "find takes one of after and before"),
        ("time", {"text": "ten"}, 400, "is neither a sample number nor a WFDB time"),
        ("time", {"text": ""}, 400, "not a time"),
        ("frobnicate", {}, 404, "no such page: 'frobnicate'"),
    ],
)
def test_bad_questions_are_answered_with_what_is_wrong(client, question, parameters, status, message):
    answer = client.ask(question, **parameters)
    assert answer.status == status
    assert message in answer.json()["error"]


def test_a_record_cut_short_under_the_viewer_is_answered_with_the_failure_or_no_samples(tmp_path):
    for suffix in (".hea", ".dat"):
        shutil.copy(RECORDS / ("100" + suffix), tmp_path)
    with Viewer(str(tmp_path / "100")) as viewer:
        client = Client(viewer.url)
        assert client.complete_window(0, 650000, 100).header["complete"]
        signal_file = tmp_path / "100.dat"
        signal_file.write_bytes(signal_file.read_bytes()[:1000001])  # 333333 frames and a byte
        across = client.ask("window", start=333000, stop=333500, columns=1000)
        assert (across.status, across.json()) == (500, {"error": "getvec: unexpected EOF in signal 1"})
        beyond = client.window(600000, 600100, 1000)
        assert all(np.isnan(v).all() for v in beyond.values)
        before = client.window(0, 100, 1000)
        assert not any(np.isnan(v).any() for v in before.values)


def test_an_annotator_too_big_to_hold_is_refused_in_words(monkeypatch):
    from sigtrove.viewer import _annotation_index

    monkeypatch.setattr(_annotation_index, "MAX_ANNOTATIONS", 1000)
    with pytest.raises(ValueError, match="annotator atr has more than 1000 annotations"):
        Viewer(str(RECORDS / "100"), ["atr"])


def test_annotations_out_of_time_order_are_found_by_time(tmp_path):
    path = write_record(tmp_path, "unsorted", np.zeros((5000, 1)), 100)
    write_annotations(path, "atr", [(100, 1, None), (3000, 5, None), (2000, 1, "late"), (4000, 1, None)])
    with Viewer(path, "atr") as viewer:
        client = Client(viewer.url)
        listed = client.json("annotations", annotator="atr", start=0, stop=5000)
        assert sorted(listed["time"]) == [100, 2000, 3000, 4000]
        assert listed["time"] == sorted(listed["time"])
        assert listed["aux"] == {str(listed["time"].index(2000)): "late"}
        assert client.json("find", annotator="atr", symbol="N", after=100) == {"time": 2000}


def test_annotations_past_the_records_end_are_neither_counted_nor_gone_to(tmp_path):
    # A file may run on past its header's length (237s's alarms do): the page can show none of them.
    path = write_record(tmp_path, "short", np.zeros((5000, 1)), 100)
    write_annotations(path, "atr", [(100, 1, None), (4999, 1, None), (5000, 1, None), (90000, 5, "late")])
    with Viewer(path, "atr") as viewer:
        client = Client(viewer.url)
        assert client.json("record")["annotators"][0]["counts"] == {"N": 2}
        assert client.json("find", annotator="atr", symbol="N", after=4999) == {"time": None}
        assert client.json("find", annotator="atr", symbol="V", after=0) == {"time": None}
        assert client.json("annotations", annotator="atr", start=0, stop=10**9)["time"] == [100, 4999]


def test_view_serves_until_closed_and_shows_inline_in_a_notebook():
    viewer = sigtrove.view(sigtrove.SAMPLE_RECORD, "atr", browser=False)
    try:
        assert viewer.url.startswith("http://127.0.0.1:%d/" % viewer.port)
        assert '<iframe src="%s"' % viewer.url in viewer._repr_html_()
        assert repr(viewer) == "<sigtrove viewer of record sample at %s>" % viewer.url
        assert Client(viewer.url).json("record")["annotators"][0]["name"] == "atr"
    finally:
        viewer.close()
    assert repr(viewer) == "<sigtrove viewer of record sample closed>"
    with pytest.raises(OSError):
        Client(viewer.url).request("/")
    viewer.close()  # a second close does nothing


def test_two_viewers_never_share_a_token_or_a_port():
    with Viewer(sigtrove.SAMPLE_RECORD) as one, Viewer(sigtrove.SAMPLE_RECORD) as two:
        assert one.port != two.port
        assert one.url.split("/")[3] != two.url.split("/")[3]
        assert len(one.url.split("/")[3]) >= 32
        assert Client(one.url).request("/%s/record" % two.url.split("/")[3]).status == 403


def test_a_port_already_taken_is_refused(viewer):
    with pytest.raises(OSError):
        Viewer(sigtrove.SAMPLE_RECORD, port=viewer.port)
