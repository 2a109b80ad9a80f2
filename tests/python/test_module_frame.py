"""The module's namespace, exceptions, constants, print mode, tracebacks and capsule."""

import ctypes
import json
import os
import subprocess
import sys
import traceback

import capsule as capi
import pytest
from conftest import RECORDS

import _sigtrove


def run_python(code, cwd=None):
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, cwd=cwd, timeout=120)


def test_namespace_order():
    names = [
        n
        for n in vars(_sigtrove)
        if n
        not in (
            "__name__",
            "__doc__",
            "__package__",
            "__loader__",
            "__spec__",
            "__file__",
            "_C_API",
            "_engine_version",
            "_Signal",
            "_write_record",
            "_write_edf",
            "_write_annotations",
            "_copy_annotations",
            # The engine's rules, settings and HTTP client as the package uses them.
            "_set_remote_timeout",
            "_set_remote_cache",
            "_choose_database_path",
            "_is_url",
            "_without_credentials",
            "_max_record_memory",
            "_megabytes",
            "_header_files",
            "_DEFAULT_GAIN",
            "_FileDownload",
            "_prefetch_headers",
            "_fetch_remote_file",
        )
    ]
    assert names == [
        "verbose",
        "__builtins__",
        "Record",
        "AnnotationEntry",
        "Annotation",
        "dirname",
        "basename",
        "isdir",
        "splitext",
        "chdir",
        "getcwdu",
        "Error",
        "InitError",
        "STAT_READ",
        "STAT_READ_AHA",
        "__all__",
    ]


def test_all_and_bindings():
    assert _sigtrove.__all__ == [
        "Record",
        "Annotation",
        "AnnotationEntry",
        "InitError",
        "verbose",
        "STAT_READ",
        "STAT_READ_AHA",
    ]
    assert _sigtrove.__doc__ is None
    assert _sigtrove.__builtins__ is __import__("builtins")
    assert _sigtrove.dirname is os.path.dirname
    assert _sigtrove.basename is os.path.basename
    assert _sigtrove.isdir is os.path.isdir
    assert _sigtrove.splitext is os.path.splitext
    assert _sigtrove.chdir is os.chdir
    assert _sigtrove.getcwdu is os.getcwd


@pytest.mark.parametrize(
    "name, attributes",
    [
        # The original attributes keep their order; the later methods follow the original ones.
        (
            "Record",
            [
                "read",
                "annotation",
                "signal_info",
                "close",
                "frames",
                "signal",
                "time_text",
                "window",
                "write",
                "record",
                "basedir",
                "nsig",
                "frequency",
                "signal_names",
                "name",
                "signals",
                "comments",
                "base_datetime",
                "frame_count",
                "readable_frames",
            ],
        ),
        (
            "AnnotationEntry",
            ["time", "subtype", "channel", "annotator", "aux", "type", "isqrs", "typestr", "description"],
        ),
        ("Annotation", ["read", "arrays", "time_text", "record", "basedir", "name"]),
    ],
)
def test_types(name, attributes):
    t = getattr(_sigtrove, name)
    assert t.__name__ == name
    assert t.__module__ == "_sigtrove"
    assert t.__doc__
    # methods, then plain fields, then computed attributes, each in table order
    assert [n for n in vars(t) if not n.startswith("__")] == attributes
    # subclassable and collected
    sub = type("Sub" + name, (t,), {})
    assert issubclass(sub, t)
    assert t.__flags__ & (1 << 14)  # Py_TPFLAGS_HAVE_GC


IMPORTS_SEEN_BY_A_HOOK = """
import builtins, json
calls = []
real_import = builtins.__import__
def hook(name, globals=None, locals=None, fromlist=(), level=0):
    if globals is not None and globals.get("__name__") == "_sigtrove":
        calls.append([name, "__builtins__" in globals, locals, list(fromlist or ()), level])
    return real_import(name, globals, locals, fromlist, level)
builtins.__import__ = hook
import _sigtrove
builtins.__import__ = real_import
print(json.dumps(calls))
"""


def test_host_functions_are_imported_through_the_builtin_import():
    result = run_python(IMPORTS_SEEN_BY_A_HOOK)
    assert result.returncode == 0, result.stderr
    assert json.loads(result.stdout) == [
        ["os.path", True, {}, ["dirname", "basename", "isdir", "splitext"], 0],
        ["os", True, {}, ["chdir", "getcwd"], 0],
    ]


def test_exceptions():
    assert _sigtrove.Error.__bases__ == (Exception,)
    assert _sigtrove.InitError.__bases__ == (_sigtrove.Error,)
    for cls in (_sigtrove.Error, _sigtrove.InitError):
        assert cls.__module__ == "_sigtrove"
        assert cls.__doc__ is None
        assert set(vars(cls)) <= {"__module__", "__weakref__", "__doc__"}


def test_constants():
    assert type(_sigtrove.STAT_READ) is int and _sigtrove.STAT_READ == 0
    assert type(_sigtrove.STAT_READ_AHA) is int and _sigtrove.STAT_READ_AHA == 2


def test_verbose_docstring_and_result():
    assert _sigtrove.verbose.__doc__ == (
        "\n    Set wfdblib to verbose mode (prints some extra info on error).\n    Debug only.\n    "
    )
    try:
        assert _sigtrove.verbose(0) is None
        assert _sigtrove.verbose(flag=False) is None
    finally:
        _sigtrove.verbose(False)


def test_verbose_argument_errors_keep_the_mode():
    with pytest.raises(TypeError):
        _sigtrove.verbose(1, 2)
    with pytest.raises(TypeError):
        _sigtrove.verbose(flags=1)

    class Bad:
        def __bool__(self):
            raise ZeroDivisionError("no truth")

    with pytest.raises(ZeroDivisionError) as info:
        _sigtrove.verbose(Bad())
    names = [frame.name for frame in traceback.extract_tb(info.value.__traceback__)]
    assert names[-2:] == ["_sigtrove.verbose", "__bool__"]


FAILING_OPEN = """
import _sigtrove
{setup}
try:
    _sigtrove.Record("no_such_record_here")
except _sigtrove.InitError as e:
    print(repr(e.args))
"""


@pytest.mark.parametrize(
    "setup, prints",
    [
        ("", False),
        ("_sigtrove.verbose()", True),
        ("_sigtrove.verbose(True)", True),
        ("_sigtrove.verbose(1)", True),
        ("_sigtrove.verbose(); _sigtrove.verbose(False)", False),
        ("_sigtrove.verbose(); _sigtrove.verbose(0)", False),
        ("_sigtrove.verbose(); _sigtrove.verbose('')", False),
        ("_sigtrove.verbose(); _sigtrove.verbose([])", False),
        ("_sigtrove.verbose()\ntry:\n    _sigtrove.verbose(1, 2)\nexcept TypeError:\n    pass", True),
    ],
)
def test_failing_open_prints_only_in_verbose_mode(tmp_path, setup, prints):
    result = run_python(FAILING_OPEN.format(setup=setup), cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    text = "init: can't open header for record no_such_record_here\n"
    assert result.stdout.strip() == repr((text,))
    # the open reads the header twice (signal count, then frequency): each failure prints
    assert set(result.stderr.splitlines(keepends=True)) == ({text} if prints else set())


def test_init_error_before_any_error_is_the_version_line():
    line = capi.engine_version_line()
    assert line.startswith("sigtrove engine version ") and line.endswith(").\n")


# Errors of the argument parsing (and of the path and text conversions that stand
# in for it) name no operation of the module.
PARSER_ERRORS = [
    ("verbose(1, 2)", lambda r, a: _sigtrove.verbose(1, 2), TypeError),
    ("verbose(flags=1)", lambda r, a: _sigtrove.verbose(flags=1), TypeError),
    ("Record()", lambda r, a: _sigtrove.Record(), TypeError),
    ("Record(bytes)", lambda r, a: _sigtrove.Record(b"100"), TypeError),
    ("Record(nul)", lambda r, a: _sigtrove.Record("1\0"), ValueError),
    ("Record.read()", lambda r, a: r.read(), TypeError),
    ("Record.read(0, 1.5)", lambda r, a: r.read(0, 1.5), TypeError),
    ("Record.signal_info()", lambda r, a: r.signal_info(), TypeError),
    ("Record.annotation(3 args)", lambda r, a: r.annotation("atr", 0, 1), TypeError),
    ("Record.close(1)", lambda r, a: r.close(1), TypeError),
    ("Annotation()", lambda r, a: _sigtrove.Annotation(), TypeError),
    ("Annotation(bytes)", lambda r, a: _sigtrove.Annotation(b"100"), TypeError),
    ("Annotation(nul)", lambda r, a: _sigtrove.Annotation("1\0"), ValueError),
    ("Annotation.read(1.5)", lambda r, a: a.read(1.5), TypeError),
    ("AnnotationEntry(0)", lambda r, a: _sigtrove.AnnotationEntry(0), TypeError),
    ("AnnotationEntry(aux nul)", lambda r, a: _sigtrove.AnnotationEntry(0, 1, aux="a\0"), ValueError),
]


@pytest.mark.parametrize("call, error", [c[1:] for c in PARSER_ERRORS], ids=[c[0] for c in PARSER_ERRORS])
def test_argument_parsing_errors_add_no_traceback_entry(call, error):
    record = _sigtrove.Record(str(RECORDS / "100"))
    annotation = record.annotation()
    with pytest.raises(error) as info:
        call(record, annotation)
    names = [frame.name for frame in traceback.extract_tb(info.value.__traceback__)]
    assert not [n for n in names if n.startswith("_sigtrove")]


def test_failing_operation_names_its_traceback_entry(tmp_path):
    with pytest.raises(_sigtrove.InitError) as info:
        _sigtrove.Record(str(tmp_path / "missing"))
    names = [frame.name for frame in traceback.extract_tb(info.value.__traceback__)]
    assert names[-1] == "_sigtrove.Record.__new__"


def test_capsule_layout():
    api = capi.c_api()
    assert api.version == 1
    assert api.RecordType == id(_sigtrove.Record)
    assert api.AnnotationType == id(_sigtrove.Annotation)
    ops = api.record_ops.contents
    assert ops.reopen and ops.is_current and ops.signal_number
    is_current = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.py_object)(ops.is_current)
    assert is_current(object()) == 0
    assert bool(api.annotation_entry_ops)


def test_only_the_init_function_is_exported():
    result = subprocess.run(["nm", "-D", "--defined-only", _sigtrove.__file__], capture_output=True, text=True)
    if result.returncode != 0:
        pytest.skip("nm is not available")
    functions = [line.split()[-1] for line in result.stdout.splitlines() if line.split()[1:2] == ["T"]]
    assert functions == ["PyInit__sigtrove"]


def test_command_line_prints_version_and_usage():
    result = subprocess.run([sys.executable, "-m", "sigtrove"], capture_output=True, text=True, timeout=120)
    assert result.returncode == 0
    assert result.stdout.startswith("sigtrove engine version ")
    assert "usage: python -m sigtrove" in result.stdout
