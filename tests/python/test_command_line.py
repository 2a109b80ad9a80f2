"""The command line as a whole (`sigtrove`, `python -m sigtrove`): version line, usage, help, exit
statuses, where records are found; and describe."""

import re
import subprocess
import sys

import pytest
from command import CONSOLE_SCRIPT, environment, sigtrove
from conftest import RECORDS
from test_record import OPENING_RECORDS, copy_record

import _sigtrove
import sigtrove as package
from sigtrove.commands._arguments import PACKAGE_RECORDS, database_path_with_package_records

COMMANDS = ["describe", "samples", "annotations", "plot", "download", "view", "convert"]


def test_describe_the_bundled_sample_record():
    result = sigtrove("describe")
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0] == "Record sample"
    assert lines[2:4] == ["Sampling frequency: 360 Hz", "2 signals"]
    assert " Description: MLII" in lines and " Description: V5" in lines


@pytest.mark.parametrize("name", OPENING_RECORDS + ["237s/237s", "s25047/s25047-2704-05-04-10-44"])
def test_describe_every_record_with_signal_files(name):
    result = sigtrove("describe", str(RECORDS / name))
    assert result.returncode == 0, result.stderr
    assert result.stdout == str(_sigtrove.Record(str(RECORDS / name)))


def test_describe_a_missing_record_fails_with_the_engine_text(tmp_path):
    result = sigtrove("describe", str(tmp_path / "nothing"))
    assert result.returncode == 1
    assert result.stderr.endswith("init: can't open header for record nothing\n")


@pytest.mark.parametrize("args", [["describe"], ["--help"], ["samples", "--help"], ["plot", "--help"]])
def test_the_commands_work_without_docstrings(args):
    # Python run with -OO drops docstrings, which the commands' help texts are made from.
    result = sigtrove(*args, env=environment(PYTHONOPTIMIZE="2"))
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines()[0] == sigtrove(*args).stdout.splitlines()[0]


def test_unknown_command():
    result = sigtrove("frobnicate")
    assert result.returncode == 2
    assert "usage: python -m sigtrove" in result.stderr


def test_the_console_script_is_python_m_sigtrove():
    script = subprocess.run([str(CONSOLE_SCRIPT), "describe"], capture_output=True, text=True, timeout=120)
    assert script.returncode == 0, script.stderr
    assert script.stdout == sigtrove("describe").stdout
    usage = subprocess.run([str(CONSOLE_SCRIPT), "samples"], capture_output=True, text=True, timeout=120)
    assert usage.returncode == 2 and usage.stderr.startswith("usage: sigtrove samples ")


def test_version():
    result = sigtrove("--version")
    assert result.returncode == 0
    assert result.stdout == "sigtrove %s (%s)\n" % (package.__version__, _sigtrove._engine_version.strip())
    assert sigtrove("version").stdout == _sigtrove._engine_version


@pytest.mark.parametrize("command", COMMANDS)
@pytest.mark.parametrize("ask", [["--help"], ["-h"], ["help"]], ids=["--help", "-h", "help"])
def test_every_command_has_help(command, ask):
    args = ask + [command] if ask == ["help"] else [command] + ask
    result = sigtrove(*args)
    assert result.returncode == 0 and result.stderr == ""
    assert result.stdout.startswith("usage: python -m sigtrove %s " % command)
    assert "RECORD" in result.stdout and "options:" in result.stdout


def test_the_help_lists_every_command_and_the_exit_statuses():
    result = sigtrove("--help")
    assert result.returncode == 0
    listed = re.findall(r"^ {4}(\S+)", result.stdout, flags=re.M)  # the command list's first column
    assert listed[-len(COMMANDS) :] == COMMANDS
    assert "Exit status: 0 done; 1 a record or annotation file that can not be read" in result.stdout


@pytest.mark.parametrize(
    "args, status, message",
    [
        (["describe", "nothing"], 1, "describe: init: can't open header for record nothing"),
        (["samples", "nothing"], 1, "samples: init: can't open header for record nothing"),
        (["annotations", "nothing"], 1, "annotations: annopen: can't read annotator atr for record nothing"),
        (["plot", "nothing", "-o", "x.png"], 1, "plot: init: can't open header for record nothing"),
        (["annotations", RECORDS / "100", "nosuchann"], 1, "can't read annotator nosuchann for record 100"),
        (["plot", RECORDS / "100", "-a", "nosuchann", "-t", "1", "-o", "x.png"], 1, "annotator nosuchann"),
        (["view", "nothing"], 1, "view: init: can't open header for record nothing"),
        (["view", RECORDS / "100", "-a", "atr", "nosuchann"], 1, "can't read annotator nosuchann for record 100"),
        (["view", RECORDS / "100", "--port", "70000"], 2, "view: error: --port 70000: not a port number"),
        (["samples", RECORDS / "12726"], 1, "samples: isigopen: none of the signals for record 12726 is readable"),
        (["samples", RECORDS / "100", "-f", "ten"], 2, "samples: error: -f ten: not a time"),
        (["samples", RECORDS / "100", "-t", "0:1x"], 2, "samples: error: -t 0:1x: not a time"),
        (["samples", RECORDS / "100", "-f", "0:10", "-t", "0:05"], 2, "samples: error: -t 0:05 is before -f 0:10"),
        (["plot", RECORDS / "100", "-t", "-3", "-o", "x.png"], 2, "plot: error: -t -3: not a time"),
        (["samples", RECORDS / "100", "-s", "V6"], 2, "samples: error: record 100 has no signal named 'V6'"),
        (["samples", RECORDS / "100", "-s", "0", "2"], 2, "samples: error: record 100 has no signal 2 (it has 2)"),
        (["plot", RECORDS / "100", "-s", "V6", "-o", "x.png"], 2, "plot: error: record 100 has no signal named 'V6'"),
        (["plot", RECORDS / "100", "-o", "x.jpg"], 2, "plot: error: -o x.jpg: the picture's name ends in .png"),
        (["plot", RECORDS / "100"], 2, "plot: error: the following arguments are required: -o/--output"),
        (["samples", RECORDS / "100", "--csv", "--tsv"], 2, "argument --tsv: not allowed with argument --csv"),
        (["samples", RECORDS / "100", "--bogus"], 2, "samples: error: unrecognized arguments: --bogus"),
        (["samples"], 2, "samples: error: the following arguments are required: RECORD"),
        (["frobnicate"], 2, "invalid choice: 'frobnicate'"),
    ],
)
def test_failures_say_what_failed_with_their_exit_status(tmp_path, args, status, message):
    result = sigtrove(*args, cwd=tmp_path)
    assert (result.returncode, result.stdout) == (status, "")
    assert message in result.stderr, result.stderr
    assert result.stderr.count("\n") == (1 if status == 1 else result.stderr.count("\n"))
    if status == 2:
        assert result.stderr.startswith("usage: python -m sigtrove")
    assert "Traceback" not in result.stderr
    assert list(tmp_path.iterdir()) == []


def test_the_bundled_sample_answers_to_its_name_from_any_folder(tmp_path):
    result = sigtrove("samples", "sample", "-t", "s2", cwd=tmp_path)
    assert (result.returncode, result.stdout) == (0, "     0    995   1011\n     1    995   1011\n")
    assert sigtrove("describe", "sample", cwd=tmp_path).stdout == sigtrove("describe").stdout


def test_a_record_of_ones_own_comes_first_and_the_wfdb_path_is_followed(tmp_path):
    # A record called "sample" in the current folder is the one read; WFDB's folders are searched.
    copy_record("100", tmp_path, "sample")
    own = sigtrove("describe", "sample", cwd=tmp_path)
    assert own.returncode == 0, own.stderr
    assert own.stdout == str(_sigtrove.Record(str(tmp_path / "sample")))
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    found = sigtrove("describe", "xform", cwd=elsewhere, env=environment(WFDB=str(RECORDS)))
    assert found.returncode == 0, found.stderr
    assert found.stdout.startswith("Record xform")
    assert sigtrove("describe", "sample", cwd=elsewhere, env=environment(WFDB=str(RECORDS))).returncode == 0


@pytest.mark.parametrize(
    "wfdb, searched",
    [
        (None, ". /usr/local/database DATA"),  # the WFDB tools' default path, then the package's folder
        ("/db http://host/db", "/db http://host/db DATA"),
        ("", ". DATA"),  # names as given, from the current folder
        ("@/etc/wfdb-path", "@/etc/wfdb-path"),  # a path read from a file is left alone
    ],
)
def test_the_package_folder_ends_the_database_path(wfdb, searched):
    environ = {} if wfdb is None else {"WFDB": wfdb}
    path = database_path_with_package_records(environ)
    assert (wfdb if path is None else path) == searched.replace("DATA", PACKAGE_RECORDS)


def test_the_commands_leave_the_environment_as_it_is(tmp_path):
    # A command that finds the bundled sample along the path it chose still hands the user's own
    # WFDB (or none) to what it starts: the child prints what it sees.
    script = (
        "import os, sys\n"
        "from sigtrove.cli import main\n"
        "status = main(['describe', 'sample'])\n"
        "print(repr(os.environ.get('WFDB')), os.getcwd() == sys.argv[1], status)\n"
    )
    for wfdb in (None, str(RECORDS)):
        result = subprocess.run(
            [sys.executable, "-c", script, str(tmp_path)],
            cwd=tmp_path,
            env=environment(WFDB=wfdb),
            capture_output=True,
            text=True,
        )
        assert result.returncode == 0, result.stderr
        assert result.stdout.startswith("Record sample")
        assert result.stdout.splitlines()[-1] == "%r True 0" % wfdb


def test_a_reader_that_goes_away_ends_the_output_quietly():
    result = subprocess.run(
        "%s -m sigtrove samples %s | head -n 2" % (sys.executable, RECORDS / "100"),
        shell=True,
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert result.stdout == "     0    995   1011\n     1    995   1011\n"
    assert result.stderr == ""
