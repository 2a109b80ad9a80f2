"""Hostile web servers: the tests' own fault server on 127.0.0.1 misbehaving one way per row, against
`sigtrove download` and against records read by their URL.

Every row ends in a clear error within its bound (the timeout, the record memory ceiling), and after
each download nothing exists outside the folder it mirrors into: not a file written through a name
that climbs out of it, nor a file already there renamed or appended to.
"""

import os
import shutil
import subprocess
import sys

import pytest
from conftest import RECORDS
from web_servers import FaultServer

import _sigtrove

# The ceiling and timeout of the runs: an answer without a length is refused after a megabyte, and a
# server that sends less than the rate floor is given up on after a second.
CEILING = "1M"
TIMEOUT = "1"
# What the fault server answers, under /any/, for a name its folder does not have.
PAYLOAD = b"written by the server\n"


def _copy_record(folder, name="100"):
    for suffix in (".hea", ".dat", ".atr"):
        shutil.copy(RECORDS / (name + suffix), folder / (name + suffix))


def build_hostile_root(root):
    """The folders the fault server serves: a plain database, and one database per hostile name."""
    databases = {
        "db": {"RECORDS": "100\n", "ANNOTATORS": "atr\treference beat annotations\n"},
        "trav-records": {"RECORDS": "../../../../evil\n"},
        "trav-annotators": {"RECORDS": "100\n", "ANNOTATORS": "x/../../../../victim\tclimbs out\n"},
        "trav-signal": {"RECORDS": "rec\n", "rec.hea": "rec 1 360 10\n../../../../evil.dat 16 200 16 0 0 0 0 x\n"},
        "trav-segment": {"RECORDS": "rec\n", "rec.hea": "rec/2 1 360 20\n../../../../seg 10\n~ 10\n"},
        "other-origin": {"RECORDS": "rec\n"},  # rec.hea names the server's port: written once it runs
        "escape": {
            "RECORDS": "a\x1b[2Jb\nrec\n",
            "rec.hea": "rec 1 360 10\nx\x1b]2;owned\x07.dat 16 200 16 0 0 0 0 x\n",
        },
        "secret": {"secret.dat": "an internal resource\n"},
    }
    for name, files in databases.items():
        folder = root / name
        folder.mkdir()
        (folder / "ANY").write_bytes(PAYLOAD)
        for file, text in files.items():
            (folder / file).write_bytes(text.encode("latin-1"))
    for name in ("db", "trav-annotators"):
        _copy_record(root / name)


@pytest.fixture(scope="module")
def hostile(tmp_path_factory):
    root = tmp_path_factory.mktemp("hostile")
    build_hostile_root(root)
    server = FaultServer(root)
    # A header that names its signal file on another origin: the same server under another host name.
    (root / "other-origin" / "rec.hea").write_text(
        "rec 1 360 10\nhttp://localhost:%d/plain/secret/secret.dat 16 200 16 0 0 0 0 x\n" % server.port
    )
    # One that names it by an absolute URL in its own directory, which is where it should be.
    (root / "own-url").mkdir()
    shutil.copy(RECORDS / "100.dat", root / "own-url" / "100.dat")
    header = (RECORDS / "100.hea").read_text().replace("100.dat", server.url("plain/own-url/100.dat"))
    (root / "own-url" / "100.hea").write_text(header)
    yield server
    server.stop()


def environment():
    env = dict(os.environ, SIGTROVE_MAX_RECORD_MEMORY=CEILING, SIGTROVE_TIMEOUT=TIMEOUT)
    env.pop("SIGTROVE_CACHE", None)
    return env


def files_in(folder):
    return {p.relative_to(folder).as_posix(): p.read_bytes() for p in folder.rglob("*") if not p.is_dir()}


# Files that lie where the names that climb out of the mirror lead (relative to the sandbox). Each
# must be there unchanged afterwards, with nothing beside it.
VICTIMS = {"a/b/victim": b"the user's own file\n", "a/b/victim.part": None}

DOWNLOADS = [
    # (row, the database's path on the server, records named (none: its RECORDS), a part of the error)
    ("names-in-records", "any/trav-records", [], "unsafe record name '../../../../evil'"),
    ("names-in-annotators", "any/trav-annotators", [], "unsafe annotator name 'x/../../../../victim'"),
    ("signal-file-name", "any/trav-signal", [], "unsafe signal file name '../../../../evil.dat'"),
    ("segment-name", "any/trav-segment", [], "unsafe segment name '../../../../seg'"),
    ("another-origin", "plain/other-origin", [], "unsafe signal file name 'http://localhost:"),
    ("endless-list", "endless-all/db", [], "RECORDS: the server sent more than 1 MB without saying how long"),
    ("endless-header-line", "endless-all/db", ["100"], "100.hea: the server sent more than 1 MB without saying"),
    ("endless-body", "endless/db", [], "100.dat: the server sent more than 1 MB without saying how long"),
    ("huge-length", "huge/db", [], "100.dat: the server says the file has 100000000000000 bytes, more than"),
    ("trickle", "trickle/db", [], "100.dat: too slow: fewer than 1024 bytes a second arrived over 1 s"),
    ("trickling-head", "trickle-head/db", [], "RECORDS: timed out: no answer (a whole response head) within 1 s"),
    ("cross-host-redirect", "cross/db", [], "RECORDS: redirected to http://localhost:"),
    ("bad-length", "bad-length/db", [], "RECORDS: the server's Content-Length '"),
    ("terminal-escapes", "any/escape", [], "unsafe record name 'a\\x1b[2Jb'"),
]


@pytest.mark.parametrize("row, path, records, text", DOWNLOADS, ids=[row[0] for row in DOWNLOADS])
def test_a_hostile_server_ends_a_download_in_a_clear_error(hostile, tmp_path, row, path, records, text):
    mirror = tmp_path / "a" / "b" / "c" / "d" / "mirror"
    mirror.mkdir(parents=True)
    for name, contents in VICTIMS.items():
        if contents is not None:
            (tmp_path / name).write_bytes(contents)
    result = subprocess.run(
        [sys.executable, "-m", "sigtrove", "download", hostile.url(path), *records, "--to", str(mirror)],
        capture_output=True,
        text=True,
        env=environment(),
        timeout=60,  # every row ends within a few timeouts
        stdin=subprocess.DEVNULL,
    )
    assert result.returncode == 1, result.stderr
    assert text in result.stderr, result.stderr
    assert "Traceback" not in result.stderr and "\x1b" not in result.stderr and "\x07" not in result.stderr
    outside = {name: data for name, data in files_in(tmp_path).items() if not name.startswith("a/b/c/d/mirror/")}
    assert outside == {name: data for name, data in VICTIMS.items() if data is not None}
    # What a server sent without a length, past the ceiling, is not kept either.
    assert all(len(data) <= 1 << 20 for name, data in files_in(mirror).items() if name.endswith(".part"))


ENGINE_ROWS = [
    # (row, the record's path on the server, where it fails, a part of the error)
    ("another-origin", "plain/other-origin/rec", "open", "not in the record's own directory"),
    ("endless-header-line", "endless-all/db/100", "open", "the server sent more than 1 MB without saying"),
    ("endless-body", "endless/db/100", "read", "the server sent more than 1 MB without saying how long"),
    ("trickle", "trickle/db/100", "read", "too slow: fewer than 1024 bytes a second arrived over 1 s"),
    ("trickling-head", "trickle-head/db/100", "open", "timed out: no answer (a whole response head) within 1 s"),
    ("cross-host-redirect", "cross/db/100", "open", "redirected to http://localhost:"),
    ("bad-length", "bad-length/db/100", "open", "Content-Length"),
]

READ = """
import sys, _sigtrove
try:
    record = _sigtrove.Record(sys.argv[1])
except _sigtrove.InitError as error:
    print("open", error.args[0], end="")
    sys.exit(0)
try:
    record.read(0)
except _sigtrove.InitError as error:
    print("read", error.args[0], end="")
    sys.exit(0)
print("read whole", end="")
"""


@pytest.mark.parametrize("row, path, fails_at, text", ENGINE_ROWS, ids=[row[0] for row in ENGINE_ROWS])
def test_a_hostile_server_ends_a_remote_read_in_a_clear_error(hostile, row, path, fails_at, text):
    url = hostile.url(path)
    # A process of its own: the module holds the interpreter lock while it waits on the server.
    result = subprocess.run(
        [sys.executable, "-c", READ, url], capture_output=True, text=True, env=environment(), timeout=60
    )
    assert result.returncode == 0, result.stderr
    where, _, message = result.stdout.partition(" ")
    assert (where, text in message, url in message) == (fails_at, True, True), result.stdout


def test_a_huge_claimed_length_costs_the_cache_nothing(hostile, child, tmp_path):
    # A HEAD that says 10^14 bytes: the cache's record of blocks held is sized by the blocks it holds.
    # The peak of this process's own memory (ru_maxrss would be the test runner's, kept across exec).
    code = (
        "import _sigtrove\n"
        "def peak_mb():\n"
        "    with open('/proc/self/status') as f:\n"
        "        return [int(l.split()[1]) / 1024 for l in f if l.startswith('VmHWM:')][0]\n"
        "sigtrove.set_remote_options(cache=%r)\n"
        "before = resident_mb()\n"
        "record = _sigtrove.Record(%r)\n"
        "samples = record.read(0, 0, 1000, correct_gain=False)\n"
        "report(before=before, peak=peak_mb(), samples=samples)\n"
    )
    report = child(code % (str(tmp_path / "cache"), hostile.url("huge/db/100")))
    assert report["samples"] == _sigtrove.Record(str(RECORDS / "100")).read(0, 0, 1000, correct_gain=False)
    assert report["peak"] - report["before"] < 64, report


def test_terminal_escapes_in_a_servers_names_reach_standard_error_escaped(hostile):
    result = subprocess.run(
        [sys.executable, "-m", "sigtrove", "samples", hostile.url("any/escape/rec")],
        capture_output=True,
        text=True,
        env=environment(),
        timeout=60,
    )
    assert result.returncode == 1
    assert "x\\x1b]2;owned\\x07.dat" in result.stderr and "\x1b" not in result.stderr, result.stderr


@pytest.mark.parametrize(
    "path, command",
    [("plain/db/nothing", ["describe"]), ("error/db/100", ["samples"]), ("plain/nothing", ["download"])],
)
def test_credentials_in_a_url_never_reach_standard_error(hostile, path, command):
    url = hostile.url(path).replace("http://", "http://someone:s3cret@")
    result = subprocess.run(
        [sys.executable, "-m", "sigtrove", *command, url],
        capture_output=True,
        text=True,
        env=environment(),
        timeout=60,
    )
    assert result.returncode == 1, result.stderr
    assert hostile.url(path) in result.stderr and "s3cret" not in result.stderr and "someone" not in result.stderr


def test_credentials_in_a_url_never_reach_an_error_text(hostile):
    url = hostile.url("plain/db/nothing").replace("http://", "http://someone:s3cret@")
    with pytest.raises(_sigtrove.InitError) as info:
        _sigtrove.Record(url)
    assert info.value.args == ("init: can't open header for record %s\n" % hostile.url("plain/db/nothing"),)


@pytest.mark.parametrize(
    "signal, message",
    [("nope", "record %s has no signal named 'nope'"), (7, "record %s has no signal 7 (it has 2)")],
)
def test_credentials_in_a_url_never_reach_the_modules_own_texts(hostile, signal, message):
    url = hostile.url("plain/db/100").replace("http://", "http://someone:s3cret@")
    with pytest.raises(ValueError) as info:
        _sigtrove.Record(url).frames(0, 10, [signal])
    assert info.value.args == (message % hostile.url("plain/db/100"),)


def test_a_record_that_names_its_file_by_a_url_in_its_own_directory_still_reads(hostile):
    remote = _sigtrove.Record(hostile.url("plain/own-url/100"))
    assert remote.read(0, 1000, 20) == _sigtrove.Record(str(RECORDS / "100")).read(0, 1000, 20)
