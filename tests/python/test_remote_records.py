"""Records read by their URL from a web server on the loopback address.

A record or annotation file read over HTTP(S) gives exactly what the local read
gives; a URL path never changes the working directory; a URL in the database
path is searched; every fault of a server ends in an InitError that names the
URL, well within the timeout; the cache serves a second read without a request
and fetches a file again once it changed on the server.
"""

import os
import subprocess
import sys
import time

import pytest
from conftest import RECORDS
from test_record import OPENING_RECORDS
from web_servers import Nginx

import _sigtrove
import sigtrove

MULTI_SEGMENT_RECORDS = ["s25047/s25047-2704-05-04-10-44", "237s/237s"]


def signal_infos(record):
    infos = []
    for i in range(record.nsig):
        info = record.signal_info(i)
        info.pop("record")
        infos.append(info)
    return infos


def outcome(call):
    """What a call gives: its value (NaN, for an invalid sample, as a text that compares equal to
    itself), or the kind and text of its error."""
    try:
        value = call()
    except (ValueError, _sigtrove.Error) as error:
        return (type(error).__name__, str(error))
    return [("nan" if v != v else v) for v in value] if isinstance(value, list) else value


def reads(record):
    """Every signal read whole in both modes, and a window of each."""
    out = []
    for i in range(record.nsig):
        n = record.signal_info(i).get("samples", 0)
        out.append(outcome(lambda: record.read(i, 0, min(n, 20000))))
        out.append(outcome(lambda: record.read(i, correct_gain=False)))
        out.append(outcome(lambda: record.read(i, n // 2, 7, correct_gain=False)))
    return out


@pytest.mark.parametrize("name", OPENING_RECORDS + MULTI_SEGMENT_RECORDS)
def test_a_record_read_by_its_url_equals_the_local_read(web_server, name):
    local = _sigtrove.Record(str(RECORDS / name))
    local_view = (
        local.nsig,
        local.frequency,
        local.signal_names,
        signal_infos(local),
        reads(local),
        str(local).replace("Record %s\n" % local.record, ""),
    )
    url = web_server.url(name)
    remote = _sigtrove.Record(url)
    assert remote.record == url and remote.basedir == ""
    assert (
        remote.nsig,
        remote.frequency,
        remote.signal_names,
        signal_infos(remote),
        reads(remote),
        str(remote).replace("Record %s\n" % url, ""),
    ) == local_view


@pytest.mark.parametrize(
    "name, annotator", [("100", "atr"), ("100", "qrs"), ("xform", "wabp"), ("237s/237s", "all"), ("12726", "wqrs")]
)
def test_annotations_read_by_url_equal_the_local_read(web_server, name, annotator):
    def rows(annotation, *window):
        return [(e.time, e.type, e.subtype, e.channel, e.annotator, e.aux) for e in annotation.read(*window)]

    local = _sigtrove.Annotation(str(RECORDS / name), annotator)
    remote = _sigtrove.Annotation(web_server.url(name), annotator)
    assert rows(remote) == rows(local) and rows(local)
    assert rows(remote, 1000, 5000) == rows(local, 1000, 5000)


def test_a_record_object_gives_its_annotations_from_the_server(web_server):
    remote = _sigtrove.Record(web_server.url("100")).annotation("atr").read(0, 3600, "N")
    local = _sigtrove.Record(str(RECORDS / "100")).annotation("atr").read(0, 3600, "N")
    assert [(e.time, e.typestr) for e in remote] == [(e.time, e.typestr) for e in local]


@pytest.mark.parametrize("kind", [_sigtrove.Record, _sigtrove.Annotation], ids=lambda t: t.__name__)
def test_a_url_path_never_changes_the_working_directory(web_server, monkeypatch, kind):
    calls = []
    for function in ("dirname", "chdir"):
        monkeypatch.setattr(_sigtrove, function, lambda *a, _f=function: calls.append(_f))
    opened = kind(web_server.url("100.hea"))
    assert (opened.record, opened.basedir) == (web_server.url("100"), "")
    assert calls == []
    assert repr(opened).startswith("sigtrove.%s(%s" % (kind.__name__, web_server.url("100.hea")))


@pytest.mark.parametrize("start", [0, 21000, 325000, 646400])
def test_ten_seconds_of_a_thirty_minute_record_cost_at_most_two_blocks_beyond_the_first(web_server, start):
    # The first block comes with the open, beside the header; a window elsewhere asks for its own
    # blocks (two at most for ten seconds), and no byte comes twice.
    seen = len(web_server.requests())
    samples = _sigtrove.Record(web_server.url("100")).read(0, start, 3600)
    assert samples == _sigtrove.Record(str(RECORDS / "100")).read(0, start, 3600)
    data = [r for r in web_server.requests()[seen:] if r[1] == "/100.dat"]
    assert data[0][4] == "bytes=0-65535" and data[0][3] == 65536, data
    assert sum(r[3] for r in data[1:]) <= 2 * 65536, data
    spans = sorted(tuple(int(v) for v in r[4][len("bytes=") :].split("-")) for r in data)
    assert all(after[0] > before[1] for before, after in zip(spans, spans[1:])), data


def test_https_with_the_servers_certificate_trusted(web_server, monkeypatch):
    monkeypatch.setenv("CURL_CA_BUNDLE", web_server.certificate)
    record = _sigtrove.Record(web_server.https_url("100"))
    assert record.read(1, 1000, 360) == _sigtrove.Record(str(RECORDS / "100")).read(1, 1000, 360)


def run_python(code, env):
    return subprocess.run(
        [sys.executable, "-c", code],
        capture_output=True,
        text=True,
        timeout=120,
        env=dict(os.environ, **env),
        cwd=env.get("CWD"),
    )


def test_a_url_in_the_database_path_is_searched_after_the_local_directory(web_server, tmp_path):
    code = (
        "import _sigtrove\nr = _sigtrove.Record('3234460_0001')\nprint(r.nsig, r.read(0, 5, 3, correct_gain=False))\n"
    )
    env = {"WFDB": ". " + web_server.url("s25047"), "CWD": str(tmp_path)}
    remote = run_python(code, env)
    assert remote.returncode == 0, remote.stderr
    local = _sigtrove.Record(str(RECORDS / "s25047/3234460_0001"))
    assert remote.stdout == "%d %s\n" % (local.nsig, local.read(0, 5, 3, correct_gain=False))


def test_not_found_reads_as_the_local_texts(web_server):
    url = web_server.url("nothing/here")
    with pytest.raises(_sigtrove.InitError) as info:
        _sigtrove.Record(url)
    assert info.value.args == ("init: can't open header for record %s\n" % url,)
    with pytest.raises(_sigtrove.InitError) as info:
        _sigtrove.Annotation(web_server.url("100"), "nope")
    assert info.value.args == ("annopen: can't read annotator nope for record %s\n" % web_server.url("100"),)


# ---- faults: each gives its error, with the URL, long before the default timeout of 30 s

FAULTS = [
    # (path, what is opened whole, fails at, a part of the text)
    ("drop/100", "read", "the connection closed before the whole body arrived"),
    ("short/100", "read", "short body"),
    ("error/100", "read", "HTTP 500"),
    ("stall/100", "read", "timed out"),
    ("stall-all/100", "open", "timed out"),
]


@pytest.mark.parametrize("path, fails_at, text", FAULTS, ids=[f[0].split("/")[0] for f in FAULTS])
def test_a_faulty_server_gives_a_clear_error_within_the_timeout(fault_server, monkeypatch, path, fails_at, text):
    monkeypatch.setenv("SIGTROVE_TIMEOUT", "1")
    url = fault_server.url(path)
    started = time.monotonic()
    with pytest.raises(_sigtrove.InitError) as info:
        record = _sigtrove.Record(url)
        assert fails_at == "read", "the record opened"
        record.read(0)
    message = info.value.args[0]
    assert text in message and url in message, message
    assert time.monotonic() - started < 15


def test_a_refused_connection_gives_a_clear_error():
    with socket_closed_port() as port:
        url = "http://127.0.0.1:%d/100" % port
        with pytest.raises(_sigtrove.InitError) as info:
            _sigtrove.Record(url)
    assert url in info.value.args[0] and "Couldn't connect" in info.value.args[0]


def test_an_untrusted_certificate_gives_a_clear_error(web_server, monkeypatch):
    monkeypatch.setenv("CURL_CA_BUNDLE", "/etc/ssl/certs/ca-certificates.crt")
    url = web_server.https_url("100")
    with pytest.raises(_sigtrove.InitError) as info:
        _sigtrove.Record(url)
    assert url in info.value.args[0] and "TLS failed" in info.value.args[0]


class socket_closed_port:
    """A loopback port where nothing listens."""

    def __enter__(self):
        from web_servers import free_port

        return free_port()

    def __exit__(self, *exc):
        return False


# ---- the cache


def request_count(server):
    return len(server.requests())


def test_a_second_read_through_the_cache_makes_no_request(web_server, tmp_path):
    sigtrove.set_remote_options(cache=tmp_path)
    first = _sigtrove.Record(web_server.url("s0010_re")).read(0, correct_gain=False)
    before = request_count(web_server)
    again = _sigtrove.Record(web_server.url("s0010_re")).read(0, correct_gain=False)
    assert again == first
    assert request_count(web_server) == before
    host = "127.0.0.1_%d" % web_server.port
    assert (tmp_path / host / "s0010_re.dat").read_bytes() == (RECORDS / "s0010_re.dat").read_bytes()


READ_ONE = "import _sigtrove, sys\nprint(_sigtrove.Record(sys.argv[1]).read(0, 1000, 5, correct_gain=False))\n"


def test_the_cache_fetches_a_file_again_once_it_changed(tmp_path):
    served = tmp_path / "served"
    served.mkdir()
    for name in ("100.hea", "100.dat"):
        (served / name).write_bytes((RECORDS / name).read_bytes())
    server = Nginx(served)
    try:
        env = {"SIGTROVE_CACHE": str(tmp_path / "cache")}
        run = lambda: subprocess.run(
            [sys.executable, "-c", READ_ONE, server.url("100")],
            capture_output=True,
            text=True,
            timeout=120,
            env=dict(os.environ, **env),
        )
        before = run()
        data = bytearray((served / "100.dat").read_bytes())
        for i in range(3000, 3015):
            data[i] ^= 0x5A
        (served / "100.dat").write_bytes(bytes(data) + b"\0\0\0")  # a new size: new validators for sure
        after = run()
        assert before.returncode == after.returncode == 0, before.stderr + after.stderr
        changed = tmp_path / "changed"
        changed.mkdir()
        for name in ("100.hea", "100.dat"):
            (changed / name).write_bytes((served / name).read_bytes())
        assert after.stdout == "%s\n" % _sigtrove.Record(str(changed / "100")).read(0, 1000, 5, correct_gain=False)
        assert after.stdout != before.stdout
    finally:
        server.stop()


@pytest.mark.parametrize(
    "options, error", [({"timeout": 0}, ValueError), ({"timeout": "soon"}, ValueError), ({"cache": 3}, TypeError)]
)
def test_remote_options_refuse_bad_values(options, error):
    with pytest.raises(error):
        sigtrove.set_remote_options(**options)


@pytest.mark.parametrize(
    "environment, options, cached, readable",
    [
        ({}, {"cache": "DIR"}, True, True),
        ({"SIGTROVE_CACHE": "DIR"}, {"cache": None}, False, True),  # no cache, whatever the variable says
        ({"SIGTROVE_CACHE": "DIR"}, {}, True, True),  # the variable, while nothing is set
        ({"SIGTROVE_TIMEOUT": "soon"}, {"timeout": 5}, False, True),
        ({"SIGTROVE_TIMEOUT": "soon"}, {"timeout": None}, False, True),  # the default, not the variable
        ({"SIGTROVE_TIMEOUT": "soon"}, {"cache": "DIR"}, False, False),  # the timeout is still the variable's
    ],
)
def test_remote_options_set_the_engine_and_leave_the_environment_alone(
    web_server, tmp_path, monkeypatch, environment, options, cached, readable
):
    for name, value in environment.items():
        monkeypatch.setenv(name, value.replace("DIR", str(tmp_path)))
    before = dict(os.environ)
    sigtrove.set_remote_options(**{k: str(tmp_path) if v == "DIR" else v for k, v in options.items()})
    assert dict(os.environ) == before
    if readable:
        _sigtrove.Record(web_server.url("s0010_re")).read(0, correct_gain=False)
    else:
        with pytest.raises(_sigtrove.Error, match="SIGTROVE_TIMEOUT must be a number of seconds"):
            _sigtrove.Record(web_server.url("s0010_re"))
    assert (tmp_path / ("127.0.0.1_%d" % web_server.port) / "s0010_re.dat").exists() == cached


@pytest.mark.parametrize("name", ["100", "s0010_re", "xform", "flacformats"] + MULTI_SEGMENT_RECORDS)
def test_arrays_read_by_url_equal_the_local_arrays(web_server, name):
    import numpy as np

    local = _sigtrove.Record(str(RECORDS / name))
    try:
        wanted = local.frames(physical=False)
    except _sigtrove.InitError:
        pytest.skip("this build reads no FLAC")
    remote = _sigtrove.Record(web_server.url(name))
    assert np.array_equal(remote.frames(physical=False), wanted)
    middle = len(wanted) // 2
    assert np.array_equal(remote.frames(middle, middle + 1000, physical=False), wanted[middle : middle + 1000])
    assert remote.signals == local.signals and remote.comments == local.comments


def test_annotation_arrays_and_pickles_by_url(web_server):
    import pickle

    remote = _sigtrove.Annotation(web_server.url("100"), "atr")
    local = _sigtrove.Annotation(str(RECORDS / "100"), "atr")
    assert remote.arrays()["time"].tolist() == local.arrays()["time"].tolist()
    record = _sigtrove.Record(web_server.url("100"))
    again = pickle.loads(pickle.dumps(record))
    assert again.record == web_server.url("100")
    assert again.frames(0, 10).tolist() == record.frames(0, 10).tolist()
    assert pickle.loads(pickle.dumps(remote)).arrays(0, 400)["time"].tolist() == local.arrays(0, 400)["time"].tolist()


def test_an_endless_header_line_on_a_server_is_refused_naming_its_url(tmp_path):
    # Before: the line was kept whole, however long: this 300 MB one took 5 s, 553 MB and 629 MB
    # sent by the server, and then failed as a header cut short.
    with open(tmp_path / "r.hea", "wb") as header:
        header.write(b"r 1 250 10 ")
        header.truncate(300 << 20)  # NUL bytes to the end, and no line break
    server = Nginx(tmp_path)
    try:
        url = server.url("r")
        began = time.monotonic()
        with pytest.raises(_sigtrove.InitError) as info:
            _sigtrove.Record(url)
        seconds = time.monotonic() - began
        sent = sum(r[3] for r in server.requests())
    finally:
        server.stop()
    assert info.value.args == (
        "init: line 1 of header %s.hea is longer than 4 MB, the most a header line may take (1/64 of the "
        "256 MB a record may use, SIGTROVE_MAX_RECORD_MEMORY)\n" % url,
    )
    assert seconds < 1 and sent < 64 << 20
