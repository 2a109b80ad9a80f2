"""`sigtrove view`: serves a record until Ctrl-C, says where on standard output, and opens the
browser on a private file that forwards to that address (the token never on a command line)."""

import os
import re
import signal
import stat
import subprocess
import sys

import pytest
from command import ctrl_c_as_at_a_terminal, environment
from conftest import RECORDS
from viewer_client import Client
from web_servers import free_port


class RunningCommand:
    """`python -m sigtrove view ARGS...` in a process of its own, until stop()."""

    def __init__(self, *args, env=None):
        self.process = subprocess.Popen(
            [sys.executable, "-m", "sigtrove", "view", *map(str, args)],
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            stdin=subprocess.DEVNULL,
            preexec_fn=ctrl_c_as_at_a_terminal,
            text=True,
            env=env,
        )
        self.first_line = self.process.stdout.readline()
        match = re.match(r"sigtrove view: record (\S+) at (http://127\.0\.0\.1:\d+/\S+/)$", self.first_line)
        self.record, self.url = match.groups() if match else (None, None)
        self.second_line = self.process.stdout.readline() if match else ""

    def stop(self):
        """Ctrl-C, as a user at the terminal ends it: (exit status, rest of stdout, stderr)."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGINT)
        try:
            out, err = self.process.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            out, err = self.process.communicate()
        return self.process.returncode, out, err


@pytest.fixture
def run_view():
    running = []

    def start(*args, env=None):
        running.append(RunningCommand(*args, env=env))
        return running[-1]

    yield start
    for command in running:
        command.stop()


def test_it_serves_the_record_and_its_annotators_until_ctrl_c(run_view):
    port = free_port()
    command = run_view(RECORDS / "100", "-a", "atr", "qrs", "--port", port, "--no-browser")
    assert command.url is not None, command.first_line + command.process.stderr.read()
    assert command.record == "100" and command.url.startswith("http://127.0.0.1:%d/" % port)
    client = Client(command.url)
    described = client.json("record")
    assert [a["name"] for a in described["annotators"]] == ["atr", "qrs"]
    assert client.request(client.base).status == 200
    assert client.request("/").status == 403
    assert command.second_line == "(Ctrl-C stops)\n"
    assert command.stop() == (0, "", "")


def test_the_browser_is_given_a_private_file_that_forwards_to_the_page(run_view, tmp_path):
    # webbrowser runs $BROWSER with the address it opens: here a script that notes it down.
    noted = tmp_path / "opened"
    script = tmp_path / "browser.sh"
    script.write_text('#!/bin/sh\nprintf "%%s" "$1" > %s\ncp "${1#file://}" %s.copy\n' % (noted, noted))
    script.chmod(0o755)
    command = run_view("sample", "-a", "atr", env=environment(BROWSER=str(script)))
    assert command.url is not None, command.first_line + command.process.stderr.read()
    token = command.url.split("/")[3]
    for _ in range(200):
        if noted.exists() and (tmp_path / "opened.copy").exists():
            break
        subprocess.run(["sleep", "0.05"])
    opened = noted.read_text()
    assert opened.startswith("file://") and token not in opened
    forwarding = opened[len("file://") :]
    assert stat.S_IMODE(os.stat(forwarding).st_mode) == 0o600
    assert stat.S_IMODE(os.stat(os.path.dirname(forwarding)).st_mode) == 0o700
    assert 'content="0;url=%s"' % command.url in (tmp_path / "opened.copy").read_text()
    status, _, err = command.stop()
    assert (status, err) == (0, "")
    assert not os.path.exists(forwarding)  # removed when the viewer stops


def test_a_port_already_taken_fails_in_words(run_view):
    first = run_view("sample", "--no-browser")
    assert first.url is not None
    port = int(first.url.split(":")[2].split("/")[0])
    second = run_view("sample", "--no-browser", "--port", port)
    status, out, err = second.stop()
    assert (status, second.first_line, out) == (1, "", "")
    assert err.startswith("python -m sigtrove view: can not listen on 127.0.0.1:%d: " % port), err
