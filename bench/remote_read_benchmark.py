"""Record.read of a whole signal of record 100 (650000 samples) by its URL from nginx on
the loopback address, beside the same read from the local files, in one run; and the
wfdb package reading the same record from the same server (pn_dir), when it is installed.

    .venv/bin/python bench/remote_read_benchmark.py [--repeat N]
"""

import argparse
import pathlib
import sys
import time

import _sigtrove

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "python"))
from web_servers import Nginx  # noqa: E402

FIXTURES = ROOT / "tests" / "fixtures"


def best_of(repeat, function):
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        function()
        best = min(best, time.perf_counter() - start)
    return best


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=9)
    options = parser.parse_args()
    server = Nginx(FIXTURES)
    try:
        url = server.url("records/100")
        local = str(FIXTURES / "records" / "100")
        assert _sigtrove.Record(url).read(0) == _sigtrove.Record(local).read(0)
        rows = [
            ("Record(local).read(0)", best_of(options.repeat, lambda: _sigtrove.Record(local).read(0))),
            ("Record(URL).read(0)", best_of(options.repeat, lambda: _sigtrove.Record(url).read(0))),
        ]
        try:
            import wfdb
            from wfdb.io import download
        except ImportError:
            wfdb = None
        if wfdb is not None:
            download.config.db_index_url = server.url()

            def with_wfdb():
                return wfdb.rdrecord("100", pn_dir="records", channels=[0]).p_signal[:, 0].tolist()

            rows.append(("wfdb.rdrecord(pn_dir) over HTTP", best_of(options.repeat, with_wfdb)))
        reference = rows[0][1]
        print("signal 0 of record 100 (650000 samples), best of %d" % options.repeat)
        for name, seconds in rows:
            print("%-34s %8.2f ms   %5.2fx the local read" % (name, seconds * 1000, seconds / reference))
        if wfdb is None:
            print("(install the wfdb package to compare with it)")
    finally:
        server.stop()


if __name__ == "__main__":
    main()
