"""Record: opening, the record path rule, the current record, and the record's fields."""

import ctypes
import gc
import os
import pathlib
import shutil

import capsule as capi
import pytest
from conftest import RECORDS, expected, library_text

import _sigtrove

# Records whose signals all open (single-segment, uncompressed).
OPENING_RECORDS = [
    "100",
    "100skew",
    "100-no-len",
    "100_3chan",
    "s0010_re",
    "a103l",
    "a103l-no-len",
    "3000003_0003",
    "binformats",
    "flacformats",
    "310derive",
    "311derive",
    "test01_00s",
    "test01_00s_skew",
    "test01_00s_frame",
    "test01_00s_skewframe",
    "xform",
    "237s/237s1",
    "s25047/3234460_0001",
    "s25047/s25047-2704-05-04-10-44n",
]
# Headers whose signal files are absent: the header reads, the signals do not open.
HEADER_ONLY_RECORDS = ["12726", "1003", "drive02", "drive02-no-len"]


def is_current(obj):
    check = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.py_object)(capi.c_api().record_ops.contents.is_current)
    return bool(check(obj))


def copy_record(source, target_dir, name):
    """Copies record `source` (header and files) into target_dir as record `name`."""
    os.makedirs(target_dir, exist_ok=True)
    header = (RECORDS / (source + ".hea")).read_text().splitlines()
    lines, seen_record_line = [], False
    for line in header:
        if line.strip() and not line.lstrip().startswith("#") and not seen_record_line:
            fields = line.split()
            fields[0] = name
            line = " ".join(fields)
            seen_record_line = True
        elif seen_record_line and line.strip() and not line.lstrip().startswith("#"):
            fields = line.split(" ", 1)
            shutil.copy(RECORDS / os.path.dirname(source) / fields[0], os.path.join(target_dir, fields[0]))
        lines.append(line)
    with open(os.path.join(target_dir, name + ".hea"), "w") as f:
        f.write("\n".join(lines) + "\n")


@pytest.mark.parametrize("name", OPENING_RECORDS)
def test_fields_of_every_record_that_opens(name):
    ref = expected(name)
    record = _sigtrove.Record(str(RECORDS / name))
    assert record.record == os.path.basename(name)
    assert record.basedir == os.path.dirname(str(RECORDS / name))
    assert record.nsig == ref["header_open"]["ret"]
    assert type(record.frequency) is float
    assert record.frequency == ref["sampfreq"]["value"]
    assert record.signal_names == tuple(library_text(s["desc"]) for s in ref["signals"])
    assert record.name is record.record
    assert is_current(record)


@pytest.mark.parametrize("name", HEADER_ONLY_RECORDS)
def test_record_without_signal_files_is_refused(name):
    with pytest.raises(_sigtrove.InitError) as info:
        _sigtrove.Record(str(RECORDS / name))
    assert info.value.args == ("isigopen: none of the signals for record %s is readable\n" % name,)


@pytest.mark.parametrize(
    "path, basedir, record",
    [
        ("{d}/rec.hea", "{d}", "rec"),
        ("{d}/rec", "{d}", "rec"),
        ("{d}/x.y.z", "{d}", "x.y"),
        ("{d}/+dir/rec", "{d}/+dir", "rec"),
    ],
)
def test_record_path_rule(tmp_path, path, basedir, record):
    directory = os.path.dirname(path.format(d=tmp_path))
    copy_record("100_3chan", directory, record)
    before = os.getcwd()
    r = _sigtrove.Record(path.format(d=tmp_path))
    assert os.getcwd() == before
    assert r.record == record
    assert r.basedir == basedir.format(d=tmp_path)
    assert repr(r) == "sigtrove.Record(%s)" % path.format(d=tmp_path)
    assert r.nsig == 3


def test_bare_name_never_changes_directory(tmp_path, monkeypatch):
    copy_record("100_3chan", str(tmp_path), "rec")
    monkeypatch.chdir(tmp_path)
    calls = []
    monkeypatch.setattr(_sigtrove, "chdir", lambda d: calls.append(d))
    r = _sigtrove.Record("rec")
    assert r.basedir == "" and r.record == "rec" and calls == []


def test_path_like_and_refused_arguments(tmp_path):
    copy_record("100_3chan", str(tmp_path), "rec")
    assert _sigtrove.Record(tmp_path / "rec").record == "rec"
    with pytest.raises(TypeError):
        _sigtrove.Record(b"rec")
    with pytest.raises(TypeError):
        _sigtrove.Record(1)
    with pytest.raises(TypeError):
        _sigtrove.Record()
    with pytest.raises(ValueError, match="embedded null"):
        _sigtrove.Record("re\0c")


@pytest.mark.parametrize(
    "path, error, message",
    [
        ("{d}/+rec", ValueError, "Record name can not start with '+'"),
        ("{d}/missing", _sigtrove.InitError, "init: can't open header for record missing\n"),
        ("{d}/nodir/rec", FileNotFoundError, None),
        ("{d}/nodata", _sigtrove.InitError, "isigopen: none of the signals for record nodata is readable\n"),
    ],
)
def test_failures_restore_the_working_directory(tmp_path, path, error, message):
    (tmp_path / "nodata.hea").write_text("nodata 1 100 10\nnodata.dat 16 200 12 0 0 0 0 x\n")
    before = os.getcwd()
    with pytest.raises(error) as info:
        _sigtrove.Record(path.format(d=tmp_path))
    assert os.getcwd() == before
    if message is not None:
        assert info.value.args == (message,)


def test_plus_refused_before_anything_is_called(tmp_path, monkeypatch):
    calls = []
    monkeypatch.setattr(_sigtrove, "chdir", lambda d: calls.append(d))
    with pytest.raises(ValueError):
        _sigtrove.Record(str(tmp_path / "+100"))
    assert calls == []


def record_with_annotations(directory, name="rec"):
    """A record `name` in `directory` with an atr annotation file beside it."""
    copy_record("100_3chan", str(directory), name)
    shutil.copy(RECORDS / "100.atr", os.path.join(str(directory), name + ".atr"))
    return os.path.join(str(directory), name)


OPENING_TYPES = [_sigtrove.Record, _sigtrove.Annotation]


class ShownOtherwise(str):
    def __str__(self):
        return "not the path"


@pytest.mark.parametrize("kind", OPENING_TYPES, ids=lambda t: t.__name__)
@pytest.mark.parametrize("directory", ["plain", os.fsdecode(b"undecodable-\xff")])
@pytest.mark.parametrize("wrap", [str, ShownOtherwise, pathlib.Path], ids=["str", "str subclass", "PathLike"])
def test_the_path_is_kept_as_the_plain_text_given(tmp_path, kind, directory, wrap):
    path = record_with_annotations(tmp_path / directory)
    opened = kind(wrap(path))
    assert repr(opened).startswith("sigtrove.%s(%s" % (kind.__name__, path))
    assert (opened.record, opened.basedir) == ("rec", str(tmp_path / directory))


@pytest.mark.parametrize("kind", OPENING_TYPES, ids=lambda t: t.__name__)
@pytest.mark.parametrize("name", ["rec", "+rec"])
def test_order_of_the_host_path_calls(tmp_path, monkeypatch, kind, name):
    path = record_with_annotations(tmp_path)
    seen = []
    for function in ("dirname", "getcwdu", "basename", "splitext", "chdir"):

        def recorder(*args, _function=function, _real=getattr(_sigtrove, function)):
            seen.append(_function)
            return _real(*args)

        monkeypatch.setattr(_sigtrove, function, recorder)
    try:
        opened = kind(os.path.join(os.path.dirname(path), name))
    except ValueError as error:
        assert name.startswith("+") and error.args == ("Record name can not start with '+'",)
    else:
        assert opened.record == name
    # The files are found from the directory part: the working directory is never changed.
    assert seen == ["dirname", "getcwdu", "basename", "splitext"]


@pytest.mark.parametrize("kind", OPENING_TYPES, ids=lambda t: t.__name__)
def test_an_unreadable_working_directory_wins_over_a_refused_name(tmp_path, monkeypatch, kind):
    def getcwdu():
        raise FileNotFoundError("working directory gone")

    monkeypatch.setattr(_sigtrove, "getcwdu", getcwdu)
    with pytest.raises(FileNotFoundError):
        kind(str(tmp_path / "+rec"))


class SubRecord(_sigtrove.Record):
    pass


@pytest.mark.parametrize("kind", [_sigtrove.Record, SubRecord], ids=["Record", "subclass"])
def test_a_half_built_record_reached_during_construction_is_safe(tmp_path, monkeypatch, kind):
    path = record_with_annotations(tmp_path)
    outcomes, busy = [], []
    real_splitext = _sigtrove.splitext

    def splitext(name):
        if busy:
            return real_splitext(name)
        busy.append(True)
        try:
            # Python code run by the path rule can find the object before it is complete.
            for obj in gc.get_objects():
                if type(obj) is kind and obj.signal_names is None:
                    for use in (
                        lambda: obj.read("ECG"),
                        lambda: obj.read(0, 0, 2),
                        lambda: obj.signal_info(0),
                        lambda: str(obj),
                    ):
                        try:
                            outcomes.append(type(use()).__name__)
                        except ValueError:
                            outcomes.append("ValueError")
        finally:
            busy.pop()
        return real_splitext(name)

    monkeypatch.setattr(_sigtrove, "splitext", splitext)
    record = kind(path)
    assert outcomes and set(outcomes) <= {"ValueError", "list", "dict", "str"}
    assert record.nsig == 3 and len(record.read(0)) == 999
    assert record.signal_names == tuple(library_text(s["desc"]) for s in expected("100_3chan")["signals"])


def test_current_record_follows_opens_close_and_destruction(tmp_path):
    copy_record("100_3chan", str(tmp_path), "a")
    copy_record("311derive", str(tmp_path), "b")
    a = _sigtrove.Record(str(tmp_path / "a"))
    b = _sigtrove.Record(str(tmp_path / "b"))
    assert is_current(b) and not is_current(a)
    assert a.read(0, 0, 3, False) == [995 - 1024, 995 - 1024, 995 - 1024]
    assert is_current(a)
    a.close()
    assert not is_current(a)
    a.close()
    b.close()  # not current: changes nothing
    assert a.record == "a" and a.nsig == 3
    assert len(a.read(0)) == 999
    assert is_current(a)
    del a
    gc.collect()
    assert len(b.read(0)) == 1026 and is_current(b)


def test_a_failed_open_leaves_no_record_current(tmp_path):
    copy_record("100_3chan", str(tmp_path), "a")
    a = _sigtrove.Record(str(tmp_path / "a"))
    with pytest.raises(_sigtrove.InitError):
        _sigtrove.Record(str(tmp_path / "missing"))
    # the failed header read closed a's signals: a must reopen, not read nothing
    assert not is_current(a)
    assert len(a.read(1)) == 999


def test_a_record_opened_by_a_relative_path_reads_on_from_another_working_directory(tmp_path, monkeypatch):
    copy_record("100_3chan", str(tmp_path / "data"), "a")
    copy_record("311derive", str(tmp_path / "data"), "b")
    monkeypatch.chdir(tmp_path)
    a = _sigtrove.Record("data/a")
    wanted = a.read(0)
    a.close()
    _sigtrove.Record("data/b")  # a's next read opens its signals again
    monkeypatch.chdir(tmp_path / "data")
    assert a.read(0) == wanted
    assert (a.record, a.basedir) == ("a", "data")
    assert os.getcwd() == str(tmp_path / "data")


def test_attributes_are_read_only(tmp_path):
    copy_record("100_3chan", str(tmp_path), "a")
    a = _sigtrove.Record(str(tmp_path / "a"))
    for attribute in ("record", "basedir", "nsig", "frequency", "signal_names", "name"):
        with pytest.raises(AttributeError):
            setattr(a, attribute, None)
    with pytest.raises(TypeError):
        a.close(1)


def test_subclass_and_docstrings(tmp_path):
    copy_record("100_3chan", str(tmp_path), "a")

    class Mine(_sigtrove.Record):
        pass

    m = Mine(str(tmp_path / "a"))
    assert isinstance(m, _sigtrove.Record) and m.nsig == 3
    assert _sigtrove.Record.close.__doc__ == "\n        Close record files.\n        "
    assert _sigtrove.Record.__doc__.startswith("Access MIT-BIH database records.\n\n    Record(string record)")
    assert [n for n in ("read", "annotation", "signal_info", "close") if n in vars(_sigtrove.Record)] == [
        "read",
        "annotation",
        "signal_info",
        "close",
    ]


@pytest.mark.parametrize("relative", [False, True], ids=["absolute path", "relative path"])
def test_a_record_found_through_a_relative_database_path_component(tmp_path, monkeypatch, relative):
    # WFDB's "sub" counts from the record's directory, as changing into it made it count before.
    copy_record("100_3chan", str(tmp_path / "data" / "sub"), "rec")
    shutil.copy(RECORDS / "100.atr", tmp_path / "data" / "sub" / "rec.atr")
    (tmp_path / "elsewhere").mkdir()
    monkeypatch.setenv("WFDB", ". sub")
    monkeypatch.chdir(tmp_path)
    path = "data/rec" if relative else str(tmp_path / "data" / "rec")
    record, annotation = _sigtrove.Record(path), _sigtrove.Annotation(path)
    wanted = _sigtrove.Record(str(tmp_path / "data" / "sub" / "rec"))
    monkeypatch.chdir(tmp_path / "elsewhere")
    assert record.read(2) == wanted.read(2) and record.signal_info(0) == wanted.signal_info(0)
    assert len(annotation.read(0, 1000)) == 5
    assert os.environ["WFDB"] == ". sub"  # nothing written into the environment


@pytest.mark.parametrize(
    "make, error",
    [(lambda p: None, FileNotFoundError), (lambda p: p.write_text(""), NotADirectoryError)],
    ids=["missing", "a file"],
)
def test_a_directory_part_that_is_no_directory_fails_as_changing_into_it_did(tmp_path, make, error):
    make(tmp_path / "data")
    with pytest.raises(error) as info:
        _sigtrove.Record(str(tmp_path / "data" / "rec"))
    with pytest.raises(error) as changing:
        os.chdir(str(tmp_path / "data"))
    assert (info.value.errno, info.value.strerror, info.value.filename) == (
        changing.value.errno,
        changing.value.strerror,
        str(tmp_path / "data"),
    )


LEAVES_THE_ENVIRONMENT = r"""
import ctypes, json, sys, _sigtrove
getenv = ctypes.CDLL(None).getenv
getenv.restype = ctypes.c_char_p
names = [b"WFDB", b"WFDBCAL", b"WFDBANNSORT", b"WFDBGVMODE"]
def values():  # the process's own environment, which os.environ does not follow
    return [getenv(n) and getenv(n).decode() for n in names]

before = values()
record = _sigtrove.Record(sys.argv[1])
record.read(0, 0, 10), record.signal_info(0), str(record), record.frames(0, 10)
annotation = record.annotation()
annotation.read(0, 1000), annotation.arrays(0, 1000)
print(json.dumps({"before": before, "after": values()}))
"""


def test_opening_and_reading_leave_the_environment_as_it_was():
    # Before: the first open wrote WFDB, WFDBCAL, WFDBANNSORT and WFDBGVMODE into the environment.
    from test_annotation_entry import run_fresh

    out = run_fresh(LEAVES_THE_ENVIRONMENT, str(RECORDS / "100"))
    assert out["after"] == out["before"]


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        (("a", "b"), {}, "Record() takes at most 1 argument (2 given)"),
        ((), {}, "Record() missing required argument 'record' (pos 1)"),
        (("a",), {"bogus": 1}, "Record() takes at most 1 argument (2 given)"),
        ((), {"record": "a", "bogus": 1}, "Record() takes at most 1 keyword argument (2 given)"),
        ((), {"signals_required": False}, "Record() missing required argument 'record' (pos 1)"),
    ],
)
def test_the_constructor_refuses_arguments_with_the_parsers_texts(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        _sigtrove.Record(*args, **kwargs)
    assert info.value.args == (message,)


@pytest.mark.parametrize("name", HEADER_ONLY_RECORDS)
def test_a_record_opened_without_requiring_signals_reads_its_header(name):
    record = _sigtrove.Record(str(RECORDS / name), signals_required=False)
    assert record.nsig > 0 and len(record.signals) == record.nsig
    with pytest.raises(_sigtrove.InitError) as info:
        record.frames()
    assert info.value.args == ("isigopen: none of the signals for record %s is readable\n" % name,)
