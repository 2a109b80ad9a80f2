import json
import math
import os
import pathlib

import pytest

FIXTURES = pathlib.Path(__file__).resolve().parent.parent / "fixtures"
RECORDS = FIXTURES / "records"
EXPECTED = FIXTURES / "expected"


def expected(name):
    """The reference outputs for record `name` (e.g. "100" or "s25047/3234460_0001")."""
    with open(EXPECTED / (name + ".json"), encoding="utf-8") as f:
        return json.load(f)


def library_text(text):
    """A library text from the expected files as the engine's bytes decode it."""
    return text.encode("latin-1").decode("utf-8", "replace") if text is not None else None


INVALID_SAMPLE = -32768  # what the engine delivers for a sample the record marks invalid


def physical_value(sample, signal):
    """A sample in physical units as every WFDB reader gives it, from a signal's header fields
    (`gain`, `baseline`); NaN for an invalid sample."""
    if sample == INVALID_SAMPLE:
        return math.nan
    return (sample - signal["baseline"]) / (signal["gain"] or 200.0)


def same_values(got, wanted):
    """Equal lists of numbers, NaN matching NaN."""
    return len(got) == len(wanted) and all(
        g == w or (isinstance(g, float) and isinstance(w, float) and math.isnan(g) and math.isnan(w))
        for g, w in zip(got, wanted)
    )


@pytest.fixture(autouse=True)
def _keep_working_directory():
    """Every test must leave the working directory as it found it."""
    before = os.getcwd()
    yield
    after = os.getcwd()
    os.chdir(before)
    assert after == before, "the test left the working directory changed"


@pytest.fixture
def records():
    return RECORDS


@pytest.fixture(scope="session")
def web_server():
    """nginx serving the shared records over HTTP and HTTPS on the loopback address."""
    from web_servers import Nginx

    server = Nginx(RECORDS, tls=True)
    yield server
    server.stop()


@pytest.fixture(scope="session")
def fault_server():
    """The tests' own server of the shared records, misbehaving as its paths say."""
    from web_servers import FaultServer

    server = FaultServer(RECORDS)
    yield server
    server.stop()


@pytest.fixture(autouse=True)
def _remote_environment(monkeypatch):
    """No test inherits a cache directory or a timeout, nor leaves one to the next (set_remote_options sets them);
    nor credentials, an endpoint or a region for s3:// names, nor a PhysioNet mirror, so that no name can lead
    a test beyond this machine."""
    from sigtrove._remote import reset_remote_options

    for name in (
        "SIGTROVE_CACHE",
        "SIGTROVE_TIMEOUT",
        "SIGTROVE_PHYSIONET_URL",
        "AWS_ACCESS_KEY_ID",
        "AWS_SECRET_ACCESS_KEY",
        "AWS_SESSION_TOKEN",
        "AWS_ENDPOINT_URL",
        "AWS_ENDPOINT_URL_S3",
        "AWS_REGION",
        "AWS_DEFAULT_REGION",
    ):
        monkeypatch.setenv(name, "")  # remembers the value to put back, even none
        monkeypatch.delenv(name)
    reset_remote_options()
    yield
    reset_remote_options()


@pytest.fixture(scope="session")
def dask_client():
    """A Dask client of a cluster of two worker processes on the loopback address, started once for
    the tests that ask for it. It is not made Dask's default: each test says where it computes."""
    import distributed

    # No dashboard; the scheduler's own HTTP endpoint on a free port, so that runs side by side never meet.
    with distributed.LocalCluster(
        n_workers=2, processes=True, threads_per_worker=1, host="127.0.0.1", dashboard_address="127.0.0.1:0"
    ) as cluster:
        with distributed.Client(cluster, set_as_default=False) as client:
            yield client


CHILD_PRELUDE = """
import gc, json, os, resource, sys
import sigtrove

def open_files():
    return len(os.listdir("/proc/self/fd")) - 1

def resident_mb():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") / 2**20

def usage():
    r = resource.getrusage(resource.RUSAGE_SELF)
    return {"peak_mb": r.ru_maxrss / 1024, "faults": r.ru_minflt, "resident_mb": resident_mb(), "files": open_files()}

def report(**values):
    print(json.dumps(values))
"""


@pytest.fixture
def child(tmp_path):
    """Runs Python code in a fresh interpreter in tmp_path (with the helpers of
    CHILD_PRELUDE: usage(), report(...)) and returns what it reported as a dict.
    A fresh process: its peak memory and page faults are the code's own."""
    import subprocess
    import sys

    def run(code):
        done = subprocess.run(
            [sys.executable, "-c", CHILD_PRELUDE + code], cwd=tmp_path, capture_output=True, text=True, timeout=300
        )
        assert done.returncode == 0, done.stderr
        return json.loads(done.stdout.strip().splitlines()[-1])

    return run
