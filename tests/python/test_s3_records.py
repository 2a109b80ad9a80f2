"""Records in an S3 bucket (s3://BUCKET/KEY) and on PhysioNet (physionet://DB/VERSION/RECORD).

A record read from an S3-compatible server on the loopback address (moto's, with
its signature checks on) gives exactly what the local read gives, through signed
requests when credentials are set and anonymous ones from an open bucket; a wrong
key is a refusal and a missing key is a record that is not there, each naming the
location and never the secret. physionet:// names are read from the mirror that
SIGTROVE_PHYSIONET_URL names.
"""

import pytest
from conftest import FIXTURES, RECORDS
from delay_server import DelayServer
from s3_server import S3Server
from test_record import OPENING_RECORDS
from test_remote_records import MULTI_SEGMENT_RECORDS, reads, signal_infos

import _sigtrove

BUCKET = "records"
PREFIX = "db/1.0/"


@pytest.fixture(scope="module")
def private_store():
    server = S3Server(RECORDS, BUCKET, PREFIX, authenticated=True)
    yield server
    server.stop()


@pytest.fixture(scope="module")
def open_store():
    server = S3Server(RECORDS, "open-data", PREFIX, authenticated=False)
    yield server
    server.stop()


@pytest.fixture
def signed(private_store, monkeypatch):
    monkeypatch.setenv("AWS_ENDPOINT_URL_S3", private_store.url())
    monkeypatch.setenv("AWS_ACCESS_KEY_ID", private_store.key)
    monkeypatch.setenv("AWS_SECRET_ACCESS_KEY", private_store.secret)
    monkeypatch.setenv("AWS_REGION", private_store.region)
    return "s3://%s/%s" % (BUCKET, PREFIX)


def view(record):
    return (
        record.nsig,
        record.frequency,
        record.signal_names,
        signal_infos(record),
        reads(record),
        str(record).replace("Record %s\n" % record.record, ""),
    )


@pytest.mark.parametrize("name", OPENING_RECORDS + MULTI_SEGMENT_RECORDS)
def test_every_shared_record_read_from_the_bucket_equals_the_local_read(signed, name):
    local = str(RECORDS / name)
    remote = _sigtrove.Record(signed + name)
    assert remote.record == signed + name
    assert view(remote) == view(_sigtrove.Record(local))


@pytest.mark.parametrize("name, annotator", [("100", "atr"), ("237s/237s", "all"), ("12726", "wqrs")])
def test_annotations_read_from_the_bucket_equal_the_local_read(signed, name, annotator):
    def rows(annotation):
        return [(e.time, e.type, e.subtype, e.channel, e.aux) for e in annotation.read()]

    local = _sigtrove.Annotation(str(RECORDS / name), annotator)
    assert rows(_sigtrove.Annotation(signed + name, annotator)) == rows(local) and rows(local)


def test_an_open_bucket_is_read_without_credentials(open_store, monkeypatch):
    monkeypatch.setenv("AWS_ENDPOINT_URL", open_store.url())
    name = "s3://open-data/%s100" % PREFIX
    remote = _sigtrove.Record(name)
    local = _sigtrove.Record(str(RECORDS / "100"))
    assert remote.read(0, 0, 5000) == local.read(0, 0, 5000)
    assert [e.time for e in _sigtrove.Annotation(name, "atr").read()] == [
        e.time for e in _sigtrove.Annotation(str(RECORDS / "100"), "atr").read()
    ]


@pytest.mark.parametrize(
    "change, name, text",
    [
        # Signed with a secret that is not the key's: the store refuses, and says so.
        ({"AWS_SECRET_ACCESS_KEY": "not-the-secret"}, "100", "HTTP 403"),
        # No credentials for a bucket that wants them: refused as well, not "no such record".
        ({"AWS_ACCESS_KEY_ID": None, "AWS_SECRET_ACCESS_KEY": None}, "100", "HTTP 403"),
        # A key that the bucket does not have: the record is not there.
        ({}, "no-such-record", "can't open header for record s3://records/db/1.0/no-such-record"),
    ],
    ids=["wrong-secret", "no-credentials", "missing-key"],
)
def test_a_refusal_and_a_missing_key_give_their_errors(private_store, signed, monkeypatch, change, name, text):
    for variable, value in change.items():
        if value is None:
            monkeypatch.delenv(variable)
        else:
            monkeypatch.setenv(variable, value)
    with pytest.raises(_sigtrove.InitError) as raised:
        _sigtrove.Record(signed + name)
    message = str(raised.value)
    assert text in message and signed + name in message
    assert "not-the-secret" not in message and private_store.secret not in message


def test_the_cache_keeps_what_was_read_from_a_bucket(private_store, signed, monkeypatch, tmp_path):
    import sigtrove

    sigtrove.set_remote_options(cache=tmp_path)
    local = _sigtrove.Record(str(RECORDS / "100"))
    first = _sigtrove.Record(signed + "100").read(0, correct_gain=False)
    assert first == local.read(0, correct_gain=False)
    # Kept under the endpoint's URL (the bucket's objects there), never under a credential.
    kept = tmp_path / ("127.0.0.1_%d" % private_store.port) / BUCKET / "db" / "1.0"
    assert (kept / "100.dat").read_bytes() == (RECORDS / "100.dat").read_bytes()
    assert (kept / "100.hea").read_bytes() == (RECORDS / "100.hea").read_bytes()
    for path in tmp_path.rglob("*"):
        assert private_store.key not in str(path) and private_store.secret not in str(path)
        if path.is_file():
            data = path.read_bytes()
            assert private_store.key.encode() not in data and private_store.secret.encode() not in data
    # Read again from the cache alone: with a secret the store would refuse, no request is made.
    monkeypatch.setenv("AWS_SECRET_ACCESS_KEY", "not-the-secret")
    assert _sigtrove.Record(signed + "100").read(0, correct_gain=False) == first


def test_physionet_names_read_from_the_mirror_set(monkeypatch):
    server = DelayServer(FIXTURES, 0)
    try:
        monkeypatch.setenv("SIGTROVE_PHYSIONET_URL", server.url(""))
        for name in ("records/100", "records/s25047/s25047-2704-05-04-10-44"):
            remote = _sigtrove.Record("physionet://" + name)
            assert remote.record == "physionet://" + name
            local = _sigtrove.Record(str(FIXTURES / name))
            assert remote.read(0, 1000, 3000, correct_gain=False) == local.read(0, 1000, 3000, correct_gain=False)
        # The header and its signal file, asked for together.
        assert {entry[1] for entry in server.requests()[:2]} == {"/records/100.hea", "/records/100.dat"}
    finally:
        server.stop()


@pytest.fixture(scope="module")
def small_database(tmp_path_factory):
    """An open bucket holding a database of two records with its RECORDS and ANNOTATORS lists."""
    root = tmp_path_factory.mktemp("bucket")
    for path in RECORDS.glob("100.*"):
        if path.suffix in (".hea", ".dat", ".atr"):
            (root / path.name).write_bytes(path.read_bytes())
    for path in RECORDS.glob("a103l.*"):
        (root / path.name).write_bytes(path.read_bytes())
    (root / "RECORDS").write_text("100\na103l\n")
    (root / "ANNOTATORS").write_text("atr\treference beat annotations\n")
    server = S3Server(root, "small", PREFIX, authenticated=False)
    yield server, root
    server.stop()


def test_a_database_the_commands_and_download_read_an_open_bucket(small_database, monkeypatch, tmp_path):
    import subprocess
    import sys

    import sigtrove

    server, root = small_database
    monkeypatch.setenv("AWS_ENDPOINT_URL", server.url())
    location = "s3://small/" + PREFIX
    database = sigtrove.Database(location)
    assert list(database.names) == ["100", "a103l"]
    for record in database:
        local = _sigtrove.Record(str(root / record.record.rsplit("/", 1)[-1]))
        assert record.read(0, 0, 2000) == local.read(0, 0, 2000)

    def run(*arguments):
        return subprocess.run([sys.executable, "-m", "sigtrove", *arguments], capture_output=True, text=True)

    described = run("describe", location + "100")
    assert described.returncode == 0 and "MLII" in described.stdout, described.stderr
    mirrored = run("download", "--to", str(tmp_path / "copy"), location)
    assert mirrored.returncode == 0, mirrored.stderr
    for name in ("100.hea", "100.dat", "100.atr", "a103l.hea", "a103l.mat", "RECORDS", "ANNOTATORS"):
        assert (tmp_path / "copy" / name).read_bytes() == (root / name).read_bytes(), name
