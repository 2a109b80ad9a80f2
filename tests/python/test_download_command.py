"""python -m sigtrove download: mirroring a database from a web server (nginx on the loopback address)."""

import io
import os
import pathlib
import pty
import shutil
import subprocess
import sys

import pytest
from conftest import RECORDS
from web_servers import Nginx

import _sigtrove
from sigtrove.commands._progress import FileProgress, FileView, SharedProgress
from sigtrove.commands.download import path_parts

MULTI_SEGMENT = "s25047/s25047-2704-05-04-10-44"


@pytest.fixture(scope="module")
def database(tmp_path_factory):
    """A small database as PhysioNet publishes one: records, a RECORDS list, an ANNOTATORS list."""
    root = tmp_path_factory.mktemp("database")
    for name in ("100.hea", "100.dat", "100.atr"):
        shutil.copy(RECORDS / name, root / name)
    (root / "s25047").mkdir()
    for path in (RECORDS / "s25047").iterdir():
        if path.name.startswith(("s25047-2704-05-04-10-44.", "3234460_0", "3234460_layout")):
            shutil.copy(path, root / "s25047" / path.name)
    (root / "RECORDS").write_text("100\n%s\n" % MULTI_SEGMENT)
    (root / "ANNOTATORS").write_text("atr\treference beat, rhythm, and signal quality annotations\n")
    server = Nginx(root)
    yield root, server
    server.stop()


def files_under(folder):
    return sorted(str(p.relative_to(folder)) for p in pathlib.Path(folder).rglob("*") if p.is_file())


def download(*args, stderr=subprocess.PIPE):
    return subprocess.run(
        [sys.executable, "-m", "sigtrove", "download", *args],
        stdout=subprocess.PIPE,
        stderr=stderr,
        text=True,
        timeout=300,
    )


def test_mirrors_every_record_that_the_records_list_names(database, tmp_path):
    root, server = database
    result = download(server.url().rstrip("/"), "--to", str(tmp_path))
    assert result.returncode == 0, result.stderr
    assert files_under(tmp_path) == files_under(root)
    for name in files_under(root):
        assert (tmp_path / name).read_bytes() == (root / name).read_bytes(), name
    # The mirror reads as the original does.
    mirrored = _sigtrove.Record(str(tmp_path / MULTI_SEGMENT))
    original = _sigtrove.Record(str(root / MULTI_SEGMENT))
    assert mirrored.read(1, 123000, 3000) == original.read(1, 123000, 3000)


def test_mirrors_only_the_records_named(database, tmp_path):
    root, server = database
    result = download(server.url(), "100", "--to", str(tmp_path))
    assert result.returncode == 0, result.stderr
    assert files_under(tmp_path) == ["100.atr", "100.dat", "100.hea", "ANNOTATORS"]


def test_a_stopped_download_goes_on_where_it_stopped(database, tmp_path):
    root, server = database
    (tmp_path / "100.dat.part").write_bytes((root / "100.dat").read_bytes()[:100000])
    seen = len(server.requests())
    result = download(server.url(), "100", "--to", str(tmp_path))
    assert result.returncode == 0, result.stderr
    assert (tmp_path / "100.dat").read_bytes() == (root / "100.dat").read_bytes()
    assert not (tmp_path / "100.dat.part").exists()
    gets = [r for r in server.requests()[seen:] if r[:2] == ("GET", "/100.dat")]
    assert [(r[2], r[3], r[4]) for r in gets] == [(206, 1950000 - 100000, "bytes=100000-")]


def test_files_already_whole_are_only_checked(database, tmp_path):
    root, server = database
    assert download(server.url(), "--to", str(tmp_path)).returncode == 0
    seen = len(server.requests())
    result = download(server.url(), "--to", str(tmp_path))
    assert result.returncode == 0, result.stderr
    again = server.requests()[seen:]
    # Only sizes are asked for (and annotation files a record does not have, again).
    assert again and [r for r in again if r[0] != "HEAD" and r[2] != 404] == [], again


def test_a_file_cut_short_never_takes_its_name(fault_server, tmp_path):
    result = download(fault_server.url("drop"), "100", "--to", str(tmp_path))
    assert result.returncode == 1
    assert fault_server.url("drop/100.dat") in result.stderr
    assert (tmp_path / "100.hea").exists()
    assert not (tmp_path / "100.dat").exists()
    assert (tmp_path / "100.dat.part").stat().st_size < (RECORDS / "100.dat").stat().st_size


def test_progress_is_shown_on_a_terminal_only(database, tmp_path):
    root, server = database
    plain = download(server.url(), "100", "--to", str(tmp_path / "plain"))
    assert plain.returncode == 0 and plain.stderr == ""
    controller, terminal = pty.openpty()
    try:
        shown = download(server.url(), "100", "--to", str(tmp_path / "shown"), stderr=terminal)
        os.close(terminal)
        terminal = None
        output = b""
        while True:
            try:
                chunk = os.read(controller, 65536)
            except OSError:
                break
            if not chunk:
                break
            output += chunk
    finally:
        os.close(controller)
        if terminal is not None:
            os.close(terminal)
    assert shown.returncode == 0
    assert b"\r[" in output and b"files" in output and b"100.dat" in output


@pytest.mark.parametrize("first_ends", ["whole", "failed"])
def test_the_progress_line_follows_one_file_of_those_fetched_at_once(first_ends):
    line = FileProgress(io.StringIO())
    shared = SharedProgress(line)
    first, second = FileView(shared), FileView(shared)
    first.update("a.dat", 10, 100)
    second.update("b.dat", 50, 100)  # not shown while a.dat is
    assert (line.name, line.done, line.files) == ("a.dat", 10, 0)
    second.finished(100)  # counted, a.dat still shown
    assert (line.name, line.done, line.files, line.bytes) == ("a.dat", 10, 1, 100)
    if first_ends == "whole":
        first.finished(100)
    first.release()  # whole or not, the line is free for the next file
    third = FileView(shared)
    third.update("c.dat", 5, None)
    assert (line.name, line.done, line.files) == ("c.dat", 5, 2 if first_ends == "whole" else 1)


@pytest.mark.parametrize(
    "listing, message",
    [
        ("../outside\n", "unsafe record name '../outside'"),
        ("/etc/passwd\n", "unsafe record name '/etc/passwd'"),
    ],
)
def test_names_that_would_leave_the_folder_are_refused(tmp_path, listing, message):
    root = tmp_path / "served"
    root.mkdir()
    (root / "RECORDS").write_text(listing)
    server = Nginx(root)
    try:
        result = download(server.url(), "--to", str(tmp_path / "mirror"))
    finally:
        server.stop()
    assert result.returncode == 1 and message in result.stderr
    assert files_under(tmp_path / "mirror") == ["RECORDS"]


@pytest.mark.parametrize("args, status", [([], 2), (["ftp://example.invalid/db"], 2), (["data/db"], 2)])
def test_refused_arguments(args, status):
    result = download(*args)
    assert result.returncode == status
    assert "usage" in result.stderr


@pytest.mark.parametrize(
    "name, folders, parts",
    [
        ("100", True, ["100"]),
        ("30/3000003", True, ["30", "3000003"]),
        ("atr", False, ["atr"]),
        ("x/../../../.bashrc", False, None),
        ("x/../../../.bashrc", True, None),
        ("a/b", False, None),
        ("/etc/passwd", True, None),
        ("a//b", True, None),
        ("a/./b", True, None),
        ("a/", True, None),
        ("..", True, None),
        ("a\\b", True, None),
        ("a\0b", True, None),
        ("a\x1b[2Jb", True, None),
        ("a\x9bb", True, None),
        ("http://elsewhere/100.dat", True, None),
        ("", True, None),
    ],
)
def test_a_name_from_the_server_becomes_a_path_only_inside_the_mirror(name, folders, parts):
    assert path_parts(name, folders) == parts


def test_nothing_is_written_through_a_link_in_the_mirror(database, tmp_path):
    root, server = database
    outside = tmp_path / "outside"
    outside.mkdir()
    (outside / "100.dat").write_bytes(b"the user's own file\n")
    mirror = tmp_path / "mirror"
    mirror.mkdir()
    (mirror / "100.dat").symlink_to(outside / "100.dat")
    (mirror / "s25047").symlink_to(outside, target_is_directory=True)
    result = download(server.url(), "--to", str(mirror))
    assert result.returncode == 1
    assert "100.dat: 100.dat is in the way: it is not a regular file (left as it is)" in result.stderr, result.stderr
    assert server.url("s25047/s25047-2704-05-04-10-44.hea") in result.stderr
    assert sorted(p.name for p in outside.iterdir()) == ["100.dat"]
    assert (outside / "100.dat").read_bytes() == b"the user's own file\n"
    assert (mirror / "100.hea").read_bytes() == (root / "100.hea").read_bytes()


@pytest.fixture(scope="module")
def tls_database(database):
    root, _ = database
    server = Nginx(root, tls=True)
    yield root, server
    server.stop()


@pytest.mark.parametrize(
    "start, path, followed",
    [
        ("http", "to-http/", True),  # the same host and scheme
        ("http", "to-https/", True),  # an upgrade
        ("https", "to-http/", False),  # a downgrade
        ("http", "to-ftp/", False),
        ("http", "to-localhost/", False),  # another host (by name)
    ],
    ids=["same-host", "upgrade", "downgrade", "ftp", "another-host"],
)
def test_redirects_are_followed_only_to_the_same_host_by_scheme_or_upgrade(
    tls_database, tmp_path, monkeypatch, start, path, followed
):
    root, server = tls_database
    monkeypatch.setenv("CURL_CA_BUNDLE", server.certificate)
    url = (server.https_url if start == "https" else server.url)(path).rstrip("/")
    result = download(url, "100", "--to", str(tmp_path))
    if followed:
        assert result.returncode == 0, result.stderr
        assert (tmp_path / "100.dat").read_bytes() == (root / "100.dat").read_bytes()
        return
    assert result.returncode == 1
    assert "%s/100.hea: redirected to " % url in result.stderr and "not followed" in result.stderr, result.stderr
    assert not (tmp_path / "100.hea").exists()


def test_a_urls_credentials_go_to_its_server_and_nowhere_else(database, tmp_path):
    root, server = database
    url = server.url().replace("http://", "http://someone:s3cret@")
    seen = len(server.requests())
    result = download(url, "100", "--to", str(tmp_path))
    assert result.returncode == 0, result.stderr
    assert {r[5] for r in server.requests()[seen:]} == {"someone"}
    failed = download(url + "nothing", "--to", str(tmp_path / "other"))
    assert failed.returncode == 1
    assert "s3cret" not in failed.stderr and "someone" not in failed.stderr, failed.stderr


def test_errors_come_in_the_order_of_the_records(database, tmp_path):
    root, server = database
    # Fetched at once, reported as named: each missing header in its record's place.
    names = ["gone2", "100", "gone0", "gone1"]
    result = download(server.url(), *names, "--to", str(tmp_path))
    assert result.returncode == 1
    shown = [result.stderr.index(server.url(name + ".hea")) for name in ("gone2", "gone0", "gone1")]
    assert shown == sorted(shown), result.stderr
    assert (tmp_path / "100.dat").read_bytes() == (root / "100.dat").read_bytes()
