"""Running the command line as a user does, in a process of its own."""

import os
import pathlib
import signal
import subprocess
import sys

# The console script that installing the package puts beside the interpreter.
CONSOLE_SCRIPT = pathlib.Path(sys.executable).with_name("sigtrove")


def sigtrove(*args, cwd=None, env=None, timeout=300):
    """`python -m sigtrove ARGS...`, its output as text."""
    return subprocess.run(
        [sys.executable, "-m", "sigtrove", *map(str, args)],
        capture_output=True,
        text=True,
        cwd=cwd,
        env=env,
        timeout=timeout,
        stdin=subprocess.DEVNULL,
    )


def environment(**changes):
    """The environment with some variables changed (None: removed)."""
    env = dict(os.environ)
    for name, value in changes.items():
        if value is None:
            env.pop(name, None)
        else:
            env[name] = value
    return env


def ctrl_c_as_at_a_terminal():
    """For Popen(preexec_fn=...): the command takes Ctrl-C (SIGINT) as it does at a terminal. A shell
    without job control starts its background jobs with SIGINT ignored, and a child keeps that: run
    from such a job, a test's Ctrl-C would never reach the command."""
    signal.signal(signal.SIGINT, signal.SIG_DFL)
