"""Annotation and Record.annotation: opening annotation files, reading them, and the current record."""

import ctypes
import enum
import fractions
import gc
import json
import os
import pathlib
import shutil
import struct

import capsule as capi
import pytest
from conftest import EXPECTED, RECORDS, expected
from test_annotation_entry import run_fresh, traceback_names

import _sigtrove
from _sigtrove import STAT_READ, STAT_READ_AHA, Annotation, InitError

RECORD_100 = str(RECORDS / "100")


def signed8(value):
    return (value & 0xFF) - 256 if value & 0x80 else value & 0xFF


def as_rows(entries):
    return [(e.time, e.type, e.subtype, e.channel, e.annotator, e.aux) for e in entries]


def aux_text(hex_bytes):
    """The reference's aux bytes (those after the count byte, in hex) as an entry gives them: the
    text up to the first NUL, decoded as every engine text is; None for an annotation without."""
    if hex_bytes is None:
        return None
    text = bytes.fromhex(hex_bytes).split(b"\0", 1)[0]
    try:
        return text.decode("utf-8")
    except UnicodeDecodeError:
        return text.decode("latin-1")


def expected_rows(annotations):
    """The reference's [time, anntyp, subtyp, chan, num, aux] lists as entries read them back."""
    return [(a[0], signed8(a[1]), signed8(a[2]), signed8(a[3]), signed8(a[4]), aux_text(a[5])) for a in annotations]


def annotator_cases(record):
    """(name, stat, reference) for each annotator the reference read for `record`."""
    return [(a["name"], a["stat"], a) for a in expected(record)["annotators"]]


ATR_100 = expected_rows(annotator_cases("100")[0][2]["annotations"])
QRS_100 = expected_rows(annotator_cases("100")[1][2]["annotations"])


def is_current(obj):
    check = ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.py_object)(capi.c_api().record_ops.contents.is_current)
    return bool(check(obj))


def reopen(record):
    operation = ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.py_object)(capi.c_api().record_ops.contents.reopen)
    assert operation(record) == 0


# ---- every shared annotation file, each record in a fresh process as the reference ran it

RECORDS_WITH_ANNOTATIONS = sorted(
    str(p.relative_to(EXPECTED).with_suffix(""))
    for p in EXPECTED.rglob("*.json")
    if json.loads(p.read_text(encoding="utf-8")).get("annotators")
)

READ_EVERY_ANNOTATOR = r"""
import json, sys
import _sigtrove
path, annotators = sys.argv[1], json.loads(sys.argv[2])
out = []
for name, stat in annotators:
    annotation = _sigtrove.Annotation(path, name, stat)
    codes = [(e.typestr, e.description) for e in (_sigtrove.AnnotationEntry(0, c) for c in range(1, 50))]
    rows = [(e.time, e.type, e.subtype, e.channel, e.annotator, e.aux) for e in annotation.read()]
    out.append({"rows": rows, "codes": codes})
print(json.dumps(out))
"""


def test_the_shared_records_with_annotations_are_all_here():
    assert RECORDS_WITH_ANNOTATIONS == ["100", "1003", "12726", "237s/237s", "huge", "xform"]


@pytest.mark.parametrize("record", RECORDS_WITH_ANNOTATIONS)
def test_read_gives_the_reference_annotations(record):
    cases = annotator_cases(record)
    out = run_fresh(READ_EVERY_ANNOTATOR, str(RECORDS / record), json.dumps([(n, s) for n, s, _ in cases]))
    for (name, stat, reference), got in zip(cases, out):
        assert reference["complete"] and reference["count"] == len(reference["annotations"])
        assert [tuple(r) for r in got["rows"]] == expected_rows(reference["annotations"]), (name, stat)
        # Code definitions in a file change the tables for the rest of the process; our
        # descriptions keep no trailing line break and a code without one reads as "".
        tables = [(c["annstr"], (c["anndesc"] or "").rstrip("\n")) for c in reference["codes_after_open"][1:50]]
        assert [tuple(c) for c in got["codes"]] == tables, (name, stat)


# ---- construction


def test_fields_and_repr():
    annotation = Annotation(RECORD_100)
    assert (annotation.record, annotation.basedir, annotation.name) == ("100", str(RECORDS), "atr")
    assert repr(annotation) == "sigtrove.Annotation(%s, name='atr', stat=0)" % RECORD_100
    assert str(annotation) == repr(annotation)
    assert is_current(annotation)


@pytest.mark.parametrize("path", [RECORD_100 + ".hea", RECORD_100 + ".atr", RECORDS / "100.hea"])
def test_path_with_an_extension(path):
    annotation = Annotation(path, "qrs", STAT_READ_AHA)
    assert (annotation.record, annotation.basedir) == ("100", str(RECORDS))
    assert repr(annotation) == "sigtrove.Annotation(%s, name='qrs', stat=2)" % os.fspath(path)
    assert as_rows(annotation.read()) == QRS_100


def test_relative_path_from_another_directory(monkeypatch):
    monkeypatch.chdir(RECORDS.parent)
    annotation = Annotation("records/100")
    assert annotation.basedir == "records"
    assert os.getcwd() == str(RECORDS.parent)
    Annotation("records/100", "qrs")
    assert as_rows(annotation.read()) == ATR_100
    assert os.getcwd() == str(RECORDS.parent)


def test_bare_record_name_in_the_working_directory(monkeypatch):
    monkeypatch.chdir(RECORDS)
    annotation = Annotation("100", "qrs")
    assert annotation.basedir == ""
    assert as_rows(annotation.read()) == QRS_100


@pytest.mark.parametrize("stat", [0, 2, 2.0, STAT_READ, STAT_READ_AHA, fractions.Fraction(4, 2)])
def test_accepted_stat_values(stat):
    annotation = Annotation(RECORD_100, "atr", stat)
    assert repr(annotation).endswith("stat=%d)" % int(stat))


class EqualsZeroWithoutInt:
    __hash__ = None

    def __eq__(self, other):
        return other == 0


REFUSED_CONSTRUCTIONS = [
    ((RECORD_100, "atr", 1), {}, ValueError, "Invalid stat"),
    ((RECORD_100, "atr", 3), {}, ValueError, "Invalid stat"),
    ((RECORD_100, "atr", True), {}, ValueError, "Invalid stat"),
    ((RECORD_100, "atr", "0"), {}, ValueError, "Invalid stat"),
    ((RECORD_100, "atr", None), {}, ValueError, "Invalid stat"),
    ((RECORD_100, "atr", EqualsZeroWithoutInt()), {}, TypeError, None),
    ((RECORD_100, 5), {}, TypeError, None),
    ((RECORD_100, None), {}, TypeError, None),
    ((RECORD_100, b"atr"), {}, TypeError, None),
    ((RECORD_100, "a\0tr"), {}, ValueError, "embedded null character"),
    ((RECORD_100.encode(),), {}, TypeError, None),
    ((RECORD_100 + "\0",), {}, ValueError, "embedded null character"),
    ((5,), {}, TypeError, None),
    ((), {}, TypeError, None),
    ((RECORD_100,), {"nam": "atr"}, TypeError, None),
    ((RECORD_100, "atr", 0, 1), {}, TypeError, None),
    ((str(RECORDS / "+100"),), {}, ValueError, "Record name can not start with '+'"),
    ((str(RECORDS / "+100.hea"),), {}, ValueError, "Record name can not start with '+'"),
]


@pytest.mark.parametrize("args, kwargs, error, message", REFUSED_CONSTRUCTIONS)
def test_refused_constructions(args, kwargs, error, message):
    before = Annotation(RECORD_100, "qrs")
    with pytest.raises(error) as excinfo:
        Annotation(*args, **kwargs)
    if message is not None:
        assert str(excinfo.value) == message
    # Refused before the engine was asked: the earlier file is still open and current.
    assert is_current(before)
    assert as_rows(before.read(-1)) == QRS_100


class EqualsZeroIntRaises:
    __hash__ = None

    def __eq__(self, other):
        return other == 0

    def __int__(self):
        raise ZeroDivisionError("no int")


# The stat is compared first, the name converted next, the stat's value taken
# after that, and the path rule applied last.
ERRORS_THAT_WIN = [
    ((str(RECORDS / "+100"), 5, 1), ValueError, "Invalid stat"),
    ((RECORD_100, 5, EqualsZeroIntRaises()), TypeError, "annotator name must be str, not int"),
    ((RECORD_100, 5, EqualsZeroWithoutInt()), TypeError, "annotator name must be str, not int"),
    ((str(RECORDS / "+100"), "atr", EqualsZeroIntRaises()), ZeroDivisionError, "no int"),
    ((str(RECORDS / "+100"), 5), TypeError, "annotator name must be str, not int"),
]


@pytest.mark.parametrize("args, error, message", ERRORS_THAT_WIN)
def test_which_error_wins(args, error, message):
    with pytest.raises(error) as excinfo:
        Annotation(*args)
    assert str(excinfo.value) == message
    assert "_sigtrove.Annotation.__new__" in traceback_names(excinfo)


@pytest.mark.parametrize(
    "open_default",
    [lambda: Annotation(RECORD_100), lambda: _sigtrove.Record(RECORD_100).annotation()],
    ids=["Annotation", "Record.annotation"],
)
def test_the_stat_default_is_the_object_bound_at_import(monkeypatch, open_default):
    # The default stays the int 0; compared with the rebound constants it is refused.
    monkeypatch.setattr(_sigtrove, "STAT_READ", 2)
    with pytest.raises(ValueError, match="^Invalid stat$"):
        open_default()
    monkeypatch.setattr(_sigtrove, "STAT_READ_AHA", 0)
    assert repr(open_default()).endswith("stat=0)")


def test_stat_is_compared_with_the_module_constants_at_call_time(monkeypatch):
    monkeypatch.setattr(_sigtrove, "STAT_READ_AHA", 7)
    with pytest.raises(ValueError, match="^Invalid stat$"):
        Annotation(RECORD_100, "atr", 2)
    # A value equal to the rebound constant passes on to the engine, which refuses the mode.
    with pytest.raises(InitError) as excinfo:
        Annotation(RECORD_100, "atr", 7)
    assert excinfo.value.args == ("annopen: illegal stat 7 for annotator atr, record 100\n",)


MISSING_STAT_CONSTANT = r"""
import json, sys, _sigtrove
del _sigtrove.STAT_READ
try:
    _sigtrove.Annotation(sys.argv[1])
except ValueError as error:
    print(json.dumps(str(error)))
"""


def test_a_missing_stat_constant_counts_as_not_equal():
    # In a fresh process: deleting and restoring the attribute here would reorder the module's namespace.
    assert run_fresh(MISSING_STAT_CONSTANT, RECORD_100) == "Invalid stat"


def test_missing_annotator_raises_the_engine_text():
    reference = expected("100")["errors"]["annopen_nonexistent"]["wfdberror"]
    with pytest.raises(InitError) as excinfo:
        Annotation(RECORD_100, "nosuchann")
    assert excinfo.value.args == (reference,)
    assert "_sigtrove.Annotation.__new__" in traceback_names(excinfo)


def test_plus_only_in_the_directory_is_accepted(tmp_path):
    directory = tmp_path / "+data"
    directory.mkdir()
    shutil.copy(RECORDS / "100.qrs", directory / "100.qrs")
    assert as_rows(Annotation(str(directory / "100"), "qrs").read()) == QRS_100


@pytest.mark.parametrize("name", ["record", "basedir", "name"])
def test_attributes_are_read_only(name):
    annotation = Annotation(RECORD_100)
    with pytest.raises(AttributeError):
        setattr(annotation, name, "x")


def test_path_like_record_argument():
    assert as_rows(Annotation(pathlib.Path(RECORD_100), "qrs").read()) == QRS_100


def test_subclass_is_an_annotation():
    class Mine(Annotation):
        pass

    mine = Mine(RECORD_100)
    assert as_rows(mine.read(0, 400)) == [r for r in ATR_100 if r[0] < 400]
    assert repr(mine).startswith("sigtrove.Annotation(")


# ---- reading: windows

WINDOWS = [
    (0, 0),
    (0, 100),
    (18, 59),
    (18, 60),
    (77, 1),
    (78, 1000),
    (300000, 400000),
    (649991, 0),
    (649991, 1),
    (0, -5),
    (100, -1),
    (0, 2**63 - 1),
    (10, 2**63 - 1),  # the end lies beyond the time range: it saturates instead of wrapping around
]


@pytest.mark.parametrize("start, length", WINDOWS)
def test_window(start, length):
    rows = as_rows(Annotation(RECORD_100).read(start, length))
    if length > 0:
        assert rows == [r for r in ATR_100 if start <= r[0] < start + length]
    elif length == 0:
        assert rows == [r for r in ATR_100 if r[0] >= start]
    else:
        assert rows == []


def test_window_by_keyword():
    rows = as_rows(Annotation(RECORD_100).read(length=400, start=300))
    assert rows == [r for r in ATR_100 if 300 <= r[0] < 700]


def test_window_end_below_the_time_range_saturates():
    annotation = Annotation(RECORD_100)
    annotation.read(0, 1000)
    # Carried on from the window above: -2 plus the most negative length would
    # wrap around to an end near the top of the range and return everything.
    assert annotation.read(-2, -(2**63)) == []


@pytest.mark.parametrize("start", [649992, 650991, 10**12])
def test_start_after_the_last_annotation(start):
    annotation = Annotation(RECORD_100)
    with pytest.raises(ValueError) as excinfo:
        annotation.read(start)
    assert isinstance(excinfo.value.args[0], str) and len(excinfo.value.args) == 1
    assert "_sigtrove.Annotation.read" in traceback_names(excinfo)


# ---- reading: type filters

TYPE_FILTERS = [
    (1, lambda t: t == 1),
    ("N", lambda t: t == 1),
    (28, lambda t: t == 28),
    ("+", lambda t: t == 28),
    ("V", lambda t: t == 5),
    (5, lambda t: t == 5),
    (99, lambda t: False),
    (2**70, lambda t: False),
    (-(2**70), lambda t: False),
    (-1, lambda t: False),
    (0, lambda t: True),
    (" ", lambda t: True),
    ("[15]", lambda t: t == 15),
]


@pytest.mark.parametrize("anntype, admits", TYPE_FILTERS)
def test_type_filter(anntype, admits):
    rows = as_rows(Annotation(RECORD_100).read(anntype=anntype))
    assert rows == [r for r in ATR_100 if admits(r[1])]


@pytest.mark.parametrize("mnemonic", ["ZZ", "xx", "", "N ", "n\u0301", "\u00e9", "[50]"])
def test_an_unknown_mnemonic_is_refused_before_any_file_access(tmp_path, mnemonic):
    shutil.copy(RECORDS / "100.atr", tmp_path / "100.atr")
    annotation = Annotation(str(tmp_path / "100"))
    other = Annotation(RECORD_100, "qrs")  # a read of `annotation` would open its file again ...
    os.remove(tmp_path / "100.atr")  # ... and fail with InitError, for it is gone
    with pytest.raises(ValueError) as excinfo:
        annotation.read(anntype=mnemonic)
    assert excinfo.value.args == ("unknown annotation type mnemonic %r" % mnemonic,)
    assert "_sigtrove.Annotation.read" in traceback_names(excinfo)
    assert is_current(other)


def test_type_filter_within_a_window():
    rows = as_rows(Annotation(RECORD_100).read(100000, 200000, "A"))
    assert rows == [r for r in ATR_100 if 100000 <= r[0] < 300000 and r[1] == 8]
    assert rows


class Text(str):
    pass


@pytest.mark.parametrize("anntype", [True, None, 1.0, b"N", Text("N"), enum.IntEnum("Code", "N")(1), [1]])
def test_refused_type_filters(anntype):
    with pytest.raises(ValueError, match="^Incorrect annotation type$"):
        Annotation(RECORD_100).read(anntype=anntype)


def test_type_filter_with_a_nul_character():
    with pytest.raises(ValueError, match="embedded null character"):
        Annotation(RECORD_100).read(anntype="N\0")


@pytest.mark.parametrize("annotator", [1, 2, -1])
def test_other_annotator_numbers_read_nothing(annotator):
    assert Annotation(RECORD_100).read(annotator=annotator) == []


@pytest.mark.parametrize(
    "args, kwargs, error",
    [
        ((0, 0, 0, 0, 0), {}, TypeError),
        ((), {"begin": 0}, TypeError),
        ((1.5,), {}, TypeError),
        ((2**63,), {}, OverflowError),
        ((), {"annotator": 2**40}, OverflowError),
    ],
)
def test_refused_read_arguments(args, kwargs, error):
    with pytest.raises(error):
        Annotation(RECORD_100).read(*args, **kwargs)


def test_read_entries_are_plain_entries():
    entries = Annotation(RECORD_100).read(0, 100)
    assert all(type(e) is _sigtrove.AnnotationEntry for e in entries)
    assert [(e.typestr, e.isqrs) for e in entries] == [("+", False), ("N", True)]


# ---- reading: the position carried over between reads

CARRY_OVER = [(0, 100, 0), (0, 18, 0), (0, 19, 0), (100, 1000, 0), (649000, 991, 0), (0, 100, 1000), (300, 400, 2000)]


@pytest.mark.parametrize("start, length, next_length", CARRY_OVER)
def test_read_position_carries_over(start, length, next_length):
    annotation = Annotation(RECORD_100)
    first = as_rows(annotation.read(start, length))
    second = as_rows(annotation.read(-1, next_length))
    assert first == [r for r in ATR_100 if start <= r[0] < start + length]
    # The annotation that ended the first window was taken from the file and is in neither list.
    taken = next((i for i, r in enumerate(ATR_100) if r[0] >= start + length), len(ATR_100))
    rest = ATR_100[taken + 1 :]
    if next_length:
        rest = [r for r in rest if r[0] < -1 + next_length]
    assert second == rest


def test_reading_to_the_end_then_on_gives_nothing():
    annotation = Annotation(RECORD_100)
    assert as_rows(annotation.read()) == ATR_100
    assert annotation.read(-1) == []
    assert as_rows(annotation.read()) == ATR_100


def test_negative_start_on_a_new_object_reads_from_the_beginning():
    assert as_rows(Annotation(RECORD_100).read(-5)) == ATR_100


def test_another_open_in_between_restarts_from_the_beginning():
    annotation = Annotation(RECORD_100)
    annotation.read(0, 100)
    Annotation(RECORD_100, "qrs")
    assert not is_current(annotation)
    assert as_rows(annotation.read(-1)) == ATR_100
    assert is_current(annotation)


# ---- the current record shared by several objects


def test_two_annotations_read_in_turn():
    atr = Annotation(RECORD_100)
    qrs = Annotation(RECORD_100, "qrs")
    for _ in range(2):
        assert as_rows(atr.read()) == ATR_100
        assert is_current(atr) and not is_current(qrs)
        assert as_rows(qrs.read(0, 1000)) == [r for r in QRS_100 if r[0] < 1000]
        assert is_current(qrs) and not is_current(atr)


def test_record_and_annotation_in_turn():
    record = _sigtrove.Record(RECORD_100)
    annotation = record.annotation()
    assert repr(annotation) == "sigtrove.Annotation(%s, name='atr', stat=0)" % RECORD_100
    assert is_current(annotation) and not is_current(record)
    reopen(record)
    assert is_current(record) and not is_current(annotation)
    assert as_rows(annotation.read()) == ATR_100
    assert is_current(annotation) and not is_current(record)


@pytest.mark.parametrize(
    "args, kwargs, expected_repr_tail",
    [
        ((), {}, "name='atr', stat=0)"),
        (("qrs",), {}, "name='qrs', stat=0)"),
        (("aha", STAT_READ_AHA), {}, "name='aha', stat=2)"),
        ((), {"stat": 2.0, "name": "qrs"}, "name='qrs', stat=2)"),
    ],
)
def test_record_annotation_arguments(args, kwargs, expected_repr_tail):
    record = _sigtrove.Record(RECORD_100 + ".hea")
    annotation = record.annotation(*args, **kwargs)
    assert repr(annotation) == "sigtrove.Annotation(%s.hea, %s" % (RECORD_100, expected_repr_tail)
    assert (annotation.record, annotation.basedir) == ("100", str(RECORDS))


@pytest.mark.parametrize("args, error", [(("nosuchann",), InitError), (("atr", 1), ValueError), ((5,), TypeError)])
def test_record_annotation_failures(args, error):
    record = _sigtrove.Record(RECORD_100)
    with pytest.raises(error) as excinfo:
        record.annotation(*args)
    assert "_sigtrove.Record.annotation" in traceback_names(excinfo)


def test_record_annotation_parser_errors():
    record = _sigtrove.Record(RECORD_100)
    with pytest.raises(TypeError):
        record.annotation("atr", 0, 1)
    with pytest.raises(TypeError):
        record.annotation(nam="atr")


def test_a_failed_open_between_two_reads():
    annotation = Annotation(RECORD_100)
    first = as_rows(annotation.read(0, 100))
    with pytest.raises(InitError):
        Annotation(RECORD_100, "nosuchann")
    # The failed open closed the engine's annotation files: the object must not stay current.
    assert not is_current(annotation)
    assert first + as_rows(annotation.read(100)) == ATR_100


def test_a_failed_reopen_inside_read(tmp_path):
    shutil.copy(RECORDS / "100.atr", tmp_path / "100.atr")
    vanishing = Annotation(str(tmp_path / "100"))
    other = Annotation(RECORD_100, "qrs")
    os.remove(tmp_path / "100.atr")
    with pytest.raises(InitError) as excinfo:
        vanishing.read()
    assert "_sigtrove.Annotation.read" in traceback_names(excinfo)
    assert not is_current(vanishing) and not is_current(other)
    assert as_rows(other.read()) == QRS_100


def test_releasing_the_current_annotation_empties_the_slot():
    atr = Annotation(RECORD_100)
    qrs = Annotation(RECORD_100, "qrs")
    del qrs
    gc.collect()
    assert not is_current(atr)
    assert as_rows(atr.read()) == ATR_100


def test_an_annotation_in_a_cycle_is_collected():
    class Node(Annotation):
        pass

    node = Node(RECORD_100)
    node.self = node
    del node
    gc.collect()
    assert as_rows(Annotation(RECORD_100, "qrs").read()) == QRS_100


# ---- files written here: codes outside the caller range, malformed and truncated files


def mit(*words, tail=b""):
    return b"".join(struct.pack("<H", w) for w in words) + tail


def annotation_word(code, interval):
    return code << 10 | interval


END = 0
SKIP = 59 << 10


def aux_word(length):
    return 63 << 10 | length


def aha_record(letter, time, serial, subtype=0, mit_code=0):
    time_bytes = struct.pack("<HH", (time >> 16) & 0xFFFF, time & 0xFFFF)
    return bytes([0, ord(letter)]) + time_bytes + struct.pack("<H", serial) + bytes([subtype, mit_code]) + bytes(6)


def write_annotations(directory, name, content):
    (directory / ("rec." + name)).write_bytes(content)
    return str(directory / "rec")


def test_codes_from_a_file_are_kept_as_they_are(tmp_path):
    path = write_annotations(
        tmp_path,
        "atr",
        mit(annotation_word(1, 5), annotation_word(0, 5), annotation_word(50, 5), annotation_word(58, 1), END),
    )
    entries = Annotation(path).read()
    assert [(e.time, e.type) for e in entries] == [(5, 1), (10, 0), (15, 50), (16, 58)]
    assert [e.typestr for e in entries] == ["N", " ", "[50]", "[58]"]
    assert [e.isqrs for e in entries] == [True, False, False, False]
    assert entries[2].description == "illegal annotation code"
    assert str(entries[2]).startswith("[[50] (50) 15] - illegal annotation code at ")


def with_aux(code, interval, aux):
    """An MIT annotation word followed by its aux record (padded to a whole word)."""
    return mit(annotation_word(code, interval), aux_word(len(aux))) + aux + b"\0" * (len(aux) % 2)


AUX_TEXTS = [
    (b"(AFIB\0", "(AFIB"),
    (b"(N", "(N"),  # the count ends the text when no NUL does
    (b"ab\0cd", "ab"),
    (b"\0ab", ""),
    (b"", ""),
    (b"caf\xc3\xa9", "caf\u00e9"),  # UTF-8
    (b"caf\xe9 120/80", "caf\u00e9 120/80"),  # not UTF-8: Latin-1
    (bytes(range(1, 256)), bytes(range(1, 256)).decode("latin-1")),
]


@pytest.mark.parametrize("aux, text", AUX_TEXTS)
def test_aux_texts_written_here(tmp_path, aux, text):
    path = write_annotations(tmp_path, "atr", with_aux(1, 10, aux) + mit(annotation_word(5, 10), END))
    entries = Annotation(path).read()
    assert [(e.time, e.type, e.aux) for e in entries] == [(10, 1, text), (20, 5, None)]
    # The text form is the one an entry built with that aux has.
    assert str(entries[0]) == str(_sigtrove.AnnotationEntry(10, 1, aux=text))


TEXT_FORMS_WITH_AUX = r"""
import json, sys
from _sigtrove import Annotation, AnnotationEntry
entries = [e for e in Annotation(sys.argv[1], sys.argv[2], int(sys.argv[3])).read() if e.aux][:50]
print(json.dumps([[str(e), e.aux, str(AnnotationEntry(e.time, e.type, e.subtype, e.channel, e.annotator, e.aux))]
                  for e in entries]))
"""


# In a fresh process each: some of these files define codes of their own for the rest of the process.
@pytest.mark.parametrize(
    "record, name, stat",
    [("100", "atr", 0), ("100", "aha", 2), ("12726", "anI", 0), ("12726", "wabp", 0), ("xform", "all", 0)],
)
def test_read_entries_with_aux_text_show_it_in_their_text_form(record, name, stat):
    forms = run_fresh(TEXT_FORMS_WITH_AUX, str(RECORDS / record), name, str(stat))
    assert forms
    for text, aux, built_with_that_aux in forms:
        assert text == built_with_that_aux
        assert text.endswith(", %s." % aux)


def test_sub_channel_and_number_words(tmp_path):
    path = write_annotations(
        tmp_path,
        "atr",
        mit(annotation_word(1, 5), 61 << 10 | 0x3FF, 62 << 10 | 200, 60 << 10 | 130, annotation_word(5, 5), END),
    )
    assert as_rows(Annotation(path).read()) == [(5, 1, -1, -56, -126, None), (10, 5, 0, -56, -126, None)]


def test_aha_file_written_here(tmp_path):
    records = aha_record("N", 70000, 1, 0, 1) + aha_record("V", 70100, 2, 0, 5)
    path = write_annotations(tmp_path, "aha", records + b"\xff" * (1024 - len(records)))
    assert as_rows(Annotation(path, "aha", STAT_READ_AHA).read()) == [
        (70000, 1, 0, 1, 0, None),
        (70100, 5, 0, 5, 0, None),
    ]


# Each file holds two sound annotations (N at 10 and 20) and then the damage.
GOOD_MIT = (annotation_word(1, 10), annotation_word(1, 10))
GOOD_AHA = aha_record("N", 10, 1, 0, 1) + aha_record("N", 20, 2, 0, 1)
DAMAGED_FILES = [
    ("no end word", "atr", mit(*GOOD_MIT, annotation_word(5, 20))),
    ("end inside aux text", "atr", mit(*GOOD_MIT, annotation_word(5, 20), aux_word(10), tail=b"abcd")),
    ("end inside a skip", "atr", mit(*GOOD_MIT, annotation_word(5, 20), SKIP, tail=b"\x00\x01")),
    ("half a word", "atr", mit(*GOOD_MIT, annotation_word(1, 10), tail=b"\x05")),
    ("AHA without end record", "aha", GOOD_AHA + aha_record("V", 30, 3, 0, 5)),
]


@pytest.mark.parametrize("name, extension, content", DAMAGED_FILES, ids=[c[0] for c in DAMAGED_FILES])
def test_reading_into_damage_raises_instead_of_a_partial_list(tmp_path, name, extension, content):
    path = write_annotations(tmp_path, extension, content)
    annotation = Annotation(path, extension)
    for args in [(), (-1,), (0, 100, 5)]:
        with pytest.raises(InitError) as excinfo:
            annotation.read(*args)
        assert excinfo.value.args[0].endswith("\n")
    # A window that ends at a sound annotation before the damage reads normally.
    assert [(e.time, e.type) for e in annotation.read(0, 15)] == [(10, 1)]


# Damage at the very first annotation may already be met by the positioning of
# read(start >= 0), which reports it as a start it cannot reach (ValueError);
# read(-1) does no positioning and meets it while reading.
DAMAGED_AT_THE_START = [
    ("empty file", "atr", b""),
    ("end inside the first aux text", "atr", mit(annotation_word(1, 10), aux_word(10), tail=b"abcd")),
    ("one annotation and no end word", "atr", mit(annotation_word(1, 10))),
    ("one AHA record without end record", "aha", aha_record("N", 10, 1, 0, 1)),
]


@pytest.mark.parametrize("name, extension, content", DAMAGED_AT_THE_START, ids=[c[0] for c in DAMAGED_AT_THE_START])
def test_damage_at_the_first_annotation(tmp_path, name, extension, content):
    path = write_annotations(tmp_path, extension, content)
    with pytest.raises(InitError) as excinfo:
        Annotation(path, extension).read(-1)
    text = excinfo.value.args[0]
    assert text.endswith("\n")
    with pytest.raises((ValueError, InitError)) as excinfo:
        Annotation(path, extension).read()
    assert excinfo.value.args == (text,)


def test_truncated_file_fails_again_on_the_next_read(tmp_path):
    path = write_annotations(tmp_path, "atr", mit(annotation_word(1, 10), annotation_word(5, 20)))
    annotation = Annotation(path)
    for _ in range(2):
        with pytest.raises(InitError):
            annotation.read()


# ---- documentation and type

ANNOTATION_DOC = (
    "\n    Access annotation files.\n\n    Annotation(record, name='atr', stat=STAT_READ)\n\n"
    "        record  - path to record\n        name    - name of annotation file (extension)\n"
    "        stat    - annotation access mode\n"
    "                  STAT_READ - read annotation in MIT-BIH format\n"
    "                  STAT_READ_AHA - read annotation in AHA format\n\n"
    "    fields:\n        record  - record name\n        basedir - directory with record file\n        \n    "
)
READ_DOC = (
    "read(start=0, length=0, anntype=0, annotator=0) -> list [AnnotationEntry]\n"
    "            start   - starting index\n"
    "            length  - samples count, if 0 - read all annotations\n"
    "            anntype - filter annotations by type (see EcgCodes)\n\n"
    "        Returns list of AnnotationEntry objects.\n        "
)


RECORD_ANNOTATION_DOC = (
    "\n        annotation(name='atr', stat=STAT_READ) -> Annotation\n"
    "            name - annotation name (file extension)\n\n"
    "        Returns Annotation object for record.\n        "
)


def test_docstrings():
    assert Annotation.__doc__ == ANNOTATION_DOC
    assert Annotation.read.__doc__ == READ_DOC
    assert _sigtrove.Record.annotation.__doc__ == RECORD_ANNOTATION_DOC
    for name in ("record", "basedir", "name"):
        assert Annotation.__dict__[name].__doc__ is None


def test_type_names():
    assert Annotation.__name__ == "Annotation" and Annotation.__module__ == "_sigtrove"
