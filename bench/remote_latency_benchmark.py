"""Remote reads at network latency: sigtrove against the wfdb package (pn_dir pointed at the
same server), in one run, from the tests' own server on the loopback address that waits a fixed
time before every answer (tests/python/delay_server.py), at 25 and at 100 ms. Every read is cold:
fresh objects, no cache. Beside each time: the requests the server got and the round trips they
took (a request that began after every earlier one was answered begins a new round).

    .venv/bin/python bench/remote_latency_benchmark.py [--delays 0.025 0.1] [--repeat N]
"""

import argparse
import contextlib
import io
import os
import pathlib
import random
import shutil
import sys
import tempfile
import time

import _sigtrove
import sigtrove
from sigtrove.commands import download as download_command
from sigtrove.commands._arguments import CommandFailure

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "python"))
from delay_server import DelayServer  # noqa: E402

RECORDS = ROOT / "tests" / "fixtures" / "records"
MULTI = "s25047-2704-05-04-10-44"
WINDOW = 3600  # 10 s of record 100


def served_folder():
    """The shared records under records/1.0/, and a database db/1.0/ of every shared record (its
    header, signal and annotation files) with its RECORDS list (a version in each path, as PhysioNet
    has: wfdb then asks no index for one)."""
    folder = pathlib.Path(tempfile.mkdtemp(prefix="sigtrove-latency-"))
    shutil.copytree(RECORDS, folder / "records" / "1.0")
    database = folder / "db" / "1.0"
    database.mkdir(parents=True)
    names = sorted(path.stem for path in RECORDS.glob("*.hea"))
    for path in RECORDS.iterdir():
        if path.is_file():
            shutil.copy(path, database / path.name)
    (database / "RECORDS").write_text("".join(name + "\n" for name in names))
    (folder / "content" / "db").mkdir(parents=True)
    (folder / "content" / "db" / "1.0").write_text("db, version 1.0\n")  # the project page wfdb checks
    return folder, names


def whole_records(names):
    """The shared records all of whose signal files are there (one segment each): what a mirror of
    them fetches cannot fail."""
    whole = []
    for name in names:
        try:
            _, files, segments = _sigtrove._header_files(str(RECORDS), name)
        except (_sigtrove.Error, OSError, ValueError):
            continue
        if files and not segments and all((RECORDS / f).is_file() for f in files):
            whole.append(name)
    return whole


def mirror_with_sigtrove(url, records):
    folder = tempfile.mkdtemp(prefix="sigtrove-mirror-")
    try:
        options = argparse.Namespace(url=url, records=records, to=folder)
        try:
            download_command.run(options)
        except CommandFailure as failure:
            raise SystemExit("download failed: %s" % failure) from None
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def mirror_with_wfdb(records):
    import wfdb

    folder = tempfile.mkdtemp(prefix="wfdb-mirror-")
    try:
        with contextlib.redirect_stdout(io.StringIO()):  # it names each record as it goes
            wfdb.dl_database("db", os.path.join(folder, "db"), records=records, annotators=None)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def measure(server, repeat, function):
    best, counts = float("inf"), (0, 0)
    for _ in range(repeat):
        server.reset()
        start = time.perf_counter()
        function()
        elapsed = time.perf_counter() - start
        if elapsed < best:
            best, counts = elapsed, (len(server.requests()), server.rounds())
    return best, counts


def cases(server, names):
    import wfdb
    from wfdb.io import download

    download.config.db_index_url = server.url()
    # dl_database first looks the database up on PhysioNet's project pages: here, the server's
    # content/db/1.0 (one request, as there), and the version this folder has.
    download.PN_CONTENT_URL = server.url("content/")
    download.get_version = lambda _: "1.0"
    url = server.url("records/1.0/100")
    starts = random.Random(27).sample(range(0, 650000 - WINDOW), 10)
    multi_url = server.url("records/1.0/s25047/" + MULTI)

    def wfdb_database():
        for name in names:
            wfdb.rdheader(name, pn_dir="db/1.0")

    whole = whole_records(names)

    return [
        (
            "10 s window of 100",
            lambda: sigtrove.Record(url).frames(325000, 325000 + WINDOW),
            lambda: wfdb.rdrecord("100", pn_dir="records/1.0", sampfrom=325000, sampto=325000 + WINDOW),
            1.0,
        ),
        (
            "ten 10 s windows of 100",
            lambda: [r.frames(s, s + WINDOW) for r in [sigtrove.Record(url)] for s in starts],
            lambda: [wfdb.rdrecord("100", pn_dir="records/1.0", sampfrom=s, sampto=s + WINDOW) for s in starts],
            0.6,
        ),
        (
            "whole record 100",
            lambda: sigtrove.Record(url).frames(),
            lambda: wfdb.rdrecord("100", pn_dir="records/1.0"),
            1.0,
        ),
        (
            "annotations 100.atr",
            lambda: sigtrove.Annotation(url, "atr").read(),
            lambda: wfdb.rdann("100", "atr", pn_dir="records/1.0"),
            0.6,
        ),
        (
            "10 s window, 18 segments",
            lambda: sigtrove.Record(multi_url).frames(300000, 301250),
            lambda: wfdb.rdrecord(MULTI, pn_dir="records/1.0/s25047", sampfrom=300000, sampto=301250),
            0.25,
        ),
        (
            "%d headers via Database" % len(names),
            lambda: [record.nsig for record in sigtrove.Database(server.url("db/1.0"))],
            wfdb_database,
            0.2,
        ),
        (
            "download of %d records" % len(whole),
            lambda: mirror_with_sigtrove(server.url("db/1.0"), whole),
            lambda: mirror_with_wfdb(whole),
            None,
        ),
    ]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--delays", type=float, nargs="+", default=[0.025, 0.1])
    parser.add_argument("--repeat", type=int, default=3)
    options = parser.parse_args()
    folder, names = served_folder()
    try:
        for delay in options.delays:
            server = DelayServer(folder, delay)
            try:
                print("\n%g ms before every answer, best of %d" % (delay * 1000, options.repeat))
                print(
                    "%-28s %22s %22s %7s %7s"
                    % ("read", "sigtrove (req/rounds)", "wfdb (req/rounds)", "ratio", "target")
                )
                for name, ours, theirs, target in cases(server, names):
                    mine, (my_requests, my_rounds) = measure(server, options.repeat, ours)
                    peer, (peer_requests, peer_rounds) = measure(server, options.repeat, theirs)
                    print(
                        "%-28s %9.0f ms (%3d/%3d) %9.0f ms (%3d/%3d) %6.2fx %7s"
                        % (
                            name,
                            mine * 1000,
                            my_requests,
                            my_rounds,
                            peer * 1000,
                            peer_requests,
                            peer_rounds,
                            mine / peer,
                            "-" if target is None else "%6.2fx" % target,
                        )
                    )
            finally:
                server.stop()
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
