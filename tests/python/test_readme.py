"""The README's examples run as written (its Python examples type-check with mypy --strict against the
installed package's stubs, which refuse what the interface refuses; its command lines print what it
shows), and its picture is what its plot command draws."""

import os
import pathlib
import re
import subprocess
import sys

import pytest

README = pathlib.Path(__file__).resolve().parent.parent.parent / "README.md"


def python_examples():
    return re.findall(r"```python\n(.*?)```", README.read_text(encoding="utf-8"), flags=re.S)


def shell_examples():
    """Each ```sh block, with the ```text block that shows its output when one follows it."""
    return re.findall(r"```sh\n(.*?)```\n(?:\n```text\n(.*?)```)?", README.read_text(encoding="utf-8"), flags=re.S)


def clean_environment(path):
    """A user's environment with nothing of ours but the search path, and the sanitizer's variables
    when the suite runs under it (the sanitized module loads only with its runtime preloaded)."""
    sanitizer = ("LD_PRELOAD", "PYTHONMALLOC", "ASAN_OPTIONS", "UBSAN_OPTIONS")
    return dict({"MPLBACKEND": "Agg", "PATH": path}, **{k: os.environ[k] for k in sanitizer if k in os.environ})


def run_shell(commands, cwd):
    """Runs commands as a user's shell does, with the installed package's command on the path."""
    return subprocess.run(
        ["bash", "-euo", "pipefail", "-c", commands],
        cwd=cwd,
        capture_output=True,
        text=True,
        timeout=300,
        env=clean_environment("%s:/usr/bin:/bin" % pathlib.Path(sys.executable).parent),
    )


def test_there_are_examples():
    assert len(python_examples()) >= 3
    commands = " ".join(command for command, _ in shell_examples())
    for command in ("describe", "samples", "annotations", "plot"):
        assert "sigtrove %s " % command in commands


@pytest.mark.parametrize("index", range(len(shell_examples())))
def test_each_command_line_example_prints_what_the_readme_shows(index, tmp_path):
    commands, shown = shell_examples()[index]
    result = run_shell(commands, tmp_path)
    assert result.returncode == 0, result.stderr
    assert result.stdout or any(tmp_path.iterdir())
    if shown:
        assert result.stdout == shown


def test_the_picture_is_what_the_plot_example_draws(tmp_path):
    image = pytest.importorskip("matplotlib.image")
    picture = re.search(r"!\[[^]]*\]\(([^)]+\.png)\)", README.read_text(encoding="utf-8")).group(1)
    (command,) = [c for c, _ in shell_examples() if "sigtrove plot " in c]
    assert run_shell(command, tmp_path).returncode == 0
    (drawn,) = tmp_path.glob("*.png")
    committed, fresh = image.imread(README.parent / picture), image.imread(drawn)
    assert committed.shape == fresh.shape
    assert abs(committed - fresh).mean() < 0.02


# The README reads MIT-BIH from PhysioNet; the tests read the same records from a web server of
# their own on the loopback address.
PHYSIONET_MITDB = "https://physionet.org/files/mitdb/1.0.0"
# Its EDF example reads a file of the EEG motor movement/imagery database; the tests read a stand-in
# of the same layout that pyEDFlib writes (64 signals at 160 Hz in uV, EDF+ annotations T0, T1, T2).
PHYSIONET_EEGMMIDB_FILE = "https://physionet.org/files/eegmmidb/1.0.0/S001/S001R03.edf"


def write_eegmmidb_stand_in(path):
    import numpy as np
    import pyedflib

    writer = pyedflib.EdfWriter(str(path), 64, file_type=pyedflib.FILETYPE_EDFPLUS)
    writer.setSignalHeaders(
        [
            dict(
                label="Fc%d." % i,
                dimension="uV",
                sample_frequency=160,
                physical_min=-8092.0,
                physical_max=8092.0,
                digital_min=-32768,
                digital_max=32767,
                transducer="",
                prefilter="",
            )
            for i in range(64)
        ]
    )
    rng = np.random.default_rng(3)
    writer.writeSamples([rng.integers(-2000, 2000, 160 * 30).astype(np.int32) for _ in range(64)], digital=True)
    for onset, text in ((0.0, "T0"), (4.2, "T2"), (8.3, "T0"), (12.5, "T1")):
        writer.writeAnnotation(onset, 4.1 if text != "T0" else 4.2, text)
    writer.close()


@pytest.mark.parametrize("index", range(len(python_examples())))
def test_each_example_runs_as_written(index, tmp_path, web_server):
    example = tmp_path / "example.py"
    source = python_examples()[index]
    if PHYSIONET_EEGMMIDB_FILE in source:
        write_eegmmidb_stand_in(tmp_path / "S001R03.edf")
        source = source.replace(PHYSIONET_EEGMMIDB_FILE, "S001R03.edf")
    example.write_text(source.replace(PHYSIONET_MITDB, web_server.url().rstrip("/")), encoding="utf-8")
    result = subprocess.run(
        [sys.executable, str(example)],
        cwd=tmp_path,
        capture_output=True,
        text=True,
        timeout=300,
        env=clean_environment("/usr/bin:/bin"),
    )
    assert result.returncode == 0, result.stderr


def mypy(tmp_path, *sources):
    """mypy --strict over each source as a module of its own. Calls into Dask, whose functions are
    mostly without annotations, are let through: everything else is checked in full."""
    targets = []
    for i, source in enumerate(sources):
        targets.append(tmp_path / ("checked_%d.py" % i))
        targets[-1].write_text(source, encoding="utf-8")
    untyped = ["--untyped-calls-exclude=dask", "--untyped-calls-exclude=distributed"]
    return subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", *untyped, "--no-incremental", *map(str, targets)],
        cwd=tmp_path,
        capture_output=True,
        text=True,
        timeout=600,
    )


def test_the_examples_pass_mypy_strict(tmp_path):
    result = mypy(tmp_path, *python_examples())
    assert result.returncode == 0, result.stdout


@pytest.mark.parametrize(
    "call, complaint",
    [
        ('record.read(0, "10")', 'Argument 2 to "read" of "Record" has incompatible type "str"'),
        ("record.frames(signals=1.5)", 'Argument "signals" to "frames" of "Record"'),
        ('record.nsig = "2"', "Incompatible types in assignment"),
    ],
)
def test_mypy_refuses_what_the_interface_refuses(tmp_path, call, complaint):
    source = "import sigtrove\nrecord = sigtrove.Record(sigtrove.SAMPLE_RECORD)\n%s\n" % call
    result = mypy(tmp_path, source)
    assert result.returncode == 1 and complaint in result.stdout, result.stdout


def test_the_viewer_picture_is_what_the_view_example_shows(tmp_path):
    """The README's `sigtrove view` command, run as written (with --no-browser), and its page opened
    in Chromium: the screenshot is the README's picture. SIGTROVE_UPDATE_PICTURES=1 writes it anew."""
    image = pytest.importorskip("matplotlib.image")
    from browser import ViewerPage, chromium
    from test_view_command import RunningCommand

    text = README.read_text(encoding="utf-8")
    (command,) = re.findall(r"^    sigtrove view (.*)$", text, flags=re.M)
    picture = README.parent / re.search(r"!\[[^]]*\]\((docs/[^)]*viewer[^)]*\.png)\)", text).group(1)
    running = RunningCommand(*command.split(), "--no-browser", env=clean_environment(os.environ["PATH"]))
    try:
        assert running.url is not None, running.first_line + running.process.stderr.read()
        with chromium() as browser:
            page = ViewerPage(browser, running, width=1000, height=560)
            fresh = tmp_path / "viewer.png"
            page.page.screenshot(path=str(fresh))
            page.close()
    finally:
        assert running.stop()[0] == 0
    if os.environ.get("SIGTROVE_UPDATE_PICTURES") == "1":
        picture.write_bytes(fresh.read_bytes())
    committed, drawn = image.imread(picture), image.imread(fresh)
    assert committed.shape == drawn.shape
    assert abs(committed - drawn).mean() < 0.02
