"""AnnotationEntry: construction, the 8-bit fields, the code views, text forms and get_struct."""

import ctypes
import enum
import gc
import json
import os
import subprocess
import sys
import traceback
import weakref

import capsule as capi
import pytest
from conftest import EXPECTED

import _sigtrove
from _sigtrove import AnnotationEntry

with open(EXPECTED / "library.json", encoding="utf-8") as _f:
    LIBRARY = json.load(_f)
# The engine's code tables before any annotation file defines codes of its own.
INITIAL_CODES = {c["code"]: c for c in LIBRARY["codes_before_annopen"]}
ACMAX = LIBRARY["constants"]["ACMAX"]


def run_fresh(code, *args):
    """Runs `code` in a new interpreter (fresh engine state) and returns the JSON it prints."""
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(os.path.abspath(p) for p in sys.path if p))
    result = subprocess.run([sys.executable, "-c", code, *args], capture_output=True, text=True, env=env, timeout=300)
    assert result.returncode == 0, result.stderr
    return json.loads(result.stdout)


def traceback_names(excinfo):
    return [frame.name for frame in traceback.extract_tb(excinfo.value.__traceback__)]


def description_of(code):
    """The description the entry gives: the table's text, "" where the table has none."""
    return INITIAL_CODES[code]["anndesc"] or ""


def fields(entry):
    return (entry.time, entry.type, entry.subtype, entry.channel, entry.annotator, entry.aux)


# ---- construction

CONSTRUCTION = [
    ((100, 1), {}, (100, 1, 0, 0, 0, None)),
    ((0, 49), {}, (0, 49, 0, 0, 0, None)),
    ((0, 65537), {}, (0, 1, 0, 0, 0, None)),  # the parser keeps the low 16 bits
    ((-7, 5, 200, -1, 127), {}, (-7, 5, -56, -1, 127, None)),
    ((0, 1, 255, 256, -129), {}, (0, 1, -1, 0, 127, None)),
    ((0, 1), {"aux": ""}, (0, 1, 0, 0, 0, "")),
    ((), {"time": 5, "type": 2, "subtype": 1, "channel": 2, "annotator": 3, "aux": "a b"}, (5, 2, 1, 2, 3, "a b")),
    ((2**63 - 1, 1), {}, (2**63 - 1, 1, 0, 0, 0, None)),
    ((0, 1, 0, 0, 0, "\u00e9\u20ac"), {}, (0, 1, 0, 0, 0, "\u00e9\u20ac")),
]


@pytest.mark.parametrize("args, kwargs, expected", CONSTRUCTION)
def test_construction(args, kwargs, expected):
    entry = AnnotationEntry(*args, **kwargs)
    assert fields(entry) == expected
    assert all(type(v) is int for v in fields(entry)[:5])


REFUSED_ARGUMENTS = [
    ((0, 0), {}, ValueError, "annotation type value out of range"),
    ((0, 50), {}, ValueError, "annotation type value out of range"),
    ((0, -1), {}, ValueError, "annotation type value out of range"),  # -1 becomes 65535
    ((0, 65536), {}, ValueError, "annotation type value out of range"),
    ((0,), {}, TypeError, None),
    ((0, 1, 0, 0, 0, "x", 1), {}, TypeError, None),
    ((0, 1), {"aux": None}, TypeError, None),
    ((0, 1), {"aux": b"x"}, TypeError, None),
    ((0, 1), {"aux": "a\0b"}, ValueError, "embedded null character"),
    ((0, 1), {"kind": 1}, TypeError, None),
    ((0, 1, 32768), {}, OverflowError, None),
    ((0, 1, 0, -32769), {}, OverflowError, None),
    ((0, 1, 0, 0, 40000), {}, OverflowError, None),
    ((2**63, 1), {}, OverflowError, None),
    ((1.5, 1), {}, TypeError, None),
    ((0, 1.0), {}, TypeError, None),
    ((0, "N"), {}, TypeError, None),
]


@pytest.mark.parametrize("args, kwargs, error, message", REFUSED_ARGUMENTS)
def test_refused_arguments(args, kwargs, error, message):
    with pytest.raises(error) as excinfo:
        AnnotationEntry(*args, **kwargs)
    if message is not None:
        assert str(excinfo.value) == message


def test_a_refused_type_names_the_constructor_and_the_setter():
    with pytest.raises(ValueError) as excinfo:
        AnnotationEntry(0, 0)
    names = traceback_names(excinfo)
    assert "_sigtrove.AnnotationEntry.__new__" in names
    assert "_sigtrove.AnnotationEntry.type.__set__" in names


def test_a_parser_error_adds_no_traceback_entry():
    with pytest.raises(TypeError) as excinfo:
        AnnotationEntry(0)
    assert not [n for n in traceback_names(excinfo) if n.startswith("_sigtrove")]


def test_the_constructor_assigns_the_type_through_the_attribute():
    class Recorder(AnnotationEntry):
        received = []

        @property
        def type(self):
            return 99

        @type.setter
        def type(self, value):
            Recorder.received.append(value)

    entry = Recorder(3, 65536 + 7)
    assert Recorder.received == [7]
    assert entry.type == 99
    Recorder(0, 0)  # the subclass's setter has no range test
    assert Recorder.received == [7, 0]


# ---- codes and their views, against the engine's initial tables


@pytest.mark.parametrize("code", range(1, ACMAX + 1))
def test_code_views_match_the_library_tables(code):
    entry = AnnotationEntry(0, code)
    assert entry.type == code
    assert entry.typestr == INITIAL_CODES[code]["annstr"]
    assert entry.description == description_of(code)
    assert entry.isqrs is bool(LIBRARY["isqrs_table"][code])


@pytest.mark.parametrize("code", range(1, ACMAX + 1))
def test_typestr_assignment_finds_every_mnemonic(code):
    entry = AnnotationEntry(0, 1)
    entry.typestr = INITIAL_CODES[code]["annstr"]
    assert entry.type == INITIAL_CODES[code]["strann_of_annstr"]


def test_code_zero_through_an_unknown_mnemonic():
    entry = AnnotationEntry(0, 5)
    entry.typestr = "no such mnemonic"
    assert entry.type == 0
    assert entry.typestr == INITIAL_CODES[0]["annstr"] == " "
    assert entry.description == ""
    assert entry.isqrs is False


@pytest.mark.parametrize("case", LIBRARY["strann_misc"], ids=lambda c: repr(c["text"]))
def test_typestr_assignment_of_other_texts(case):
    entry = AnnotationEntry(0, 1)
    entry.typestr = case["text"]
    assert entry.type == case["strann"]


# ---- assignment

TYPE_ASSIGNMENTS = [
    (28, 28, None),
    (49, 49, None),
    (True, 1, None),
    (enum.IntEnum("Code", "X")(1), 1, None),
    (0, 5, ValueError),
    (50, 5, ValueError),
    (-1, 5, ValueError),
    (256 + 1, 5, ValueError),
    (2**100, 5, ValueError),
    (1.0, 5, TypeError),
    ("1", 5, TypeError),
    (None, 5, TypeError),
]


@pytest.mark.parametrize("value, stored, error", TYPE_ASSIGNMENTS)
def test_type_assignment(value, stored, error):
    entry = AnnotationEntry(0, 5)
    if error is None:
        entry.type = value
    else:
        with pytest.raises(error) as excinfo:
            entry.type = value
        assert "_sigtrove.AnnotationEntry.type.__set__" in traceback_names(excinfo)
        if error is ValueError:
            assert str(excinfo.value) == "annotation type value out of range"
    assert entry.type == stored


def test_assigning_a_type_changes_its_views():
    entry = AnnotationEntry(0, 1)
    entry.type = 28
    assert (entry.isqrs, entry.typestr, entry.description) == (False, "+", "Rhythm change")


TYPESTR_ASSIGNMENTS = [
    ("V", 5, None),
    (" ", 0, None),
    ("", 0, None),
    ("[49]", 49, None),
    ("\u00e9", 0, None),
    (5, 1, TypeError),
    (None, 1, TypeError),
    (b"V", 1, TypeError),
    ("V\0", 1, ValueError),
]


@pytest.mark.parametrize("value, stored, error", TYPESTR_ASSIGNMENTS)
def test_typestr_assignment(value, stored, error):
    entry = AnnotationEntry(0, 1)
    if error is None:
        entry.typestr = value
    else:
        with pytest.raises(error) as excinfo:
            entry.typestr = value
        assert "_sigtrove.AnnotationEntry.typestr.__set__" in traceback_names(excinfo)
    assert entry.type == stored


@pytest.mark.parametrize("name", ["type", "typestr"])
def test_deleting_a_settable_property_is_refused(name):
    entry = AnnotationEntry(0, 1)
    with pytest.raises(NotImplementedError, match="^__del__$"):
        delattr(entry, name)
    assert entry.type == 1


EIGHT_BIT_VALUES = [
    (0, 0),
    (127, 127),
    (128, -128),
    (200, -56),
    (255, -1),
    (256, 0),
    (-1, -1),
    (-128, -128),
    (-129, 127),
    (2**70 + 5, 5),
    (-(2**70) - 1, -1),
    (True, 1),
]


@pytest.mark.parametrize("name", ["subtype", "channel", "annotator"])
@pytest.mark.parametrize("value, stored", EIGHT_BIT_VALUES)
def test_eight_bit_fields_keep_the_low_bits(name, value, stored):
    entry = AnnotationEntry(0, 1)
    setattr(entry, name, value)
    assert getattr(entry, name) == stored
    assert type(getattr(entry, name)) is int


@pytest.mark.parametrize("name", ["subtype", "channel", "annotator"])
@pytest.mark.parametrize("value", [1.5, "1", None])
def test_eight_bit_fields_take_integers_only(name, value):
    entry = AnnotationEntry(0, 1, 3, 3, 3)
    with pytest.raises(TypeError):
        setattr(entry, name, value)
    assert getattr(entry, name) == 3


@pytest.mark.parametrize("name", ["subtype", "channel", "annotator", "time"])
def test_numeric_fields_can_not_be_deleted(name):
    entry = AnnotationEntry(0, 1)
    with pytest.raises(TypeError):
        delattr(entry, name)


@pytest.mark.parametrize("value, error", [(2**63, OverflowError), (1.5, TypeError), ("1", TypeError)])
def test_time_assignment_refusals(value, error):
    entry = AnnotationEntry(9, 1)
    with pytest.raises(error):
        entry.time = value
    assert entry.time == 9


def test_time_assignment():
    entry = AnnotationEntry(9, 1)
    entry.time = -(2**63)
    assert entry.time == -(2**63)


@pytest.mark.parametrize("name, value", [("aux", "x"), ("isqrs", True), ("description", "d"), ("other", 1)])
def test_read_only_and_unknown_attributes(name, value):
    entry = AnnotationEntry(0, 1)
    with pytest.raises(AttributeError):
        setattr(entry, name, value)


def test_entries_compare_and_hash_by_identity():
    a, b = AnnotationEntry(5, 1), AnnotationEntry(5, 1)
    assert a != b and a == a
    assert len({a, b}) == 2


# ---- text forms (in a fresh process: no header read, so time texts count seconds at 1 Hz)

TEXT_FORMS = r"""
import json
from _sigtrove import AnnotationEntry as E

class Named(E):
    typestr = "MINE"
    description = "mine"

class Loud(E):
    def __str__(self):
        return "loud"

def unknown(time):
    e = E(time, 1)
    e.typestr = "??"
    return e

cases = [E(0, 1), E(100, 5, aux="x"), E(100, 5, aux=""), E(15000, 28, 0, 0, 0, "(AFIB"),
         E(-5, 15), unknown(7), Named(3, 2), Loud(0, 1)]
codes = [str(E(0, c)) for c in range(1, 50)]
print(json.dumps({"str": [str(e) for e in cases], "repr": [repr(e) for e in cases], "codes": codes}))
"""


def test_text_forms():
    out = run_fresh(TEXT_FORMS)
    assert out["str"] == [
        "[N (1) 0] - Normal beat at 0:00.",
        "[V (5) 100] - Premature ventricular contraction at 1:40, x.",
        "[V (5) 100] - Premature ventricular contraction at 1:40.",
        "[+ (28) 15000] - Rhythm change at 4:10:00, (AFIB.",
        "[[15] (15) -5] -  at 0:05.",
        "[  (0) 7] -  at 0:07.",
        "[MINE (2) 3] - mine at 0:03.",
        "loud",
    ]
    assert out["repr"] == out["str"]
    assert out["codes"] == [
        "[%s (%d) 0] - %s at 0:00." % (INITIAL_CODES[c]["annstr"], c, description_of(c)) for c in range(1, ACMAX + 1)
    ]


def test_a_recursive_str_override_gives_recursion_error():
    class Loop(AnnotationEntry):
        def __str__(self):
            return repr(self)

    with pytest.raises(RecursionError):
        repr(Loop(0, 1))


# ---- documentation

ENTRY_DOC_LINES = [
    "",
    "    Represents annotation event",
    "",
    '    AnnotationEntry(int time, int type, int subtype=0, int channel=0, int annotator=0, string aux="")',
    "        ",
    "        time      - annotation time, in sample intervals from the beginning of the record ",
    "        type      - annotation type (see EcgCodes)",
    "        subtype   - annotation subtype",
    "        channel   - channel number",
    "        annotator - annotator number",
    "        aux       - auxiliary information ",
    "",
    "    fields:",
    "",
    "        time      - annotation time, in sample intervals from the beginning of the record ",
    "        type      - annotation type",
    "        subtype   - annotation subtype",
    "        channel   - channel number",
    "        annotator - annotator number",
    "        aux       - auxiliary information ",
    "        isqrs     - if annotation is of qrs type",
    "        typestr   - string representation of annotation type",
    "        description - description of annotation type",
    "",
    "    ",
]


def test_type_docstring_line_by_line():
    assert AnnotationEntry.__doc__.split("\n") == ENTRY_DOC_LINES


@pytest.mark.parametrize(
    "name, doc",
    [
        ("type", "Annotation type"),
        ("isqrs", "Check if type is QRS"),
        ("typestr", "Return string representing type"),
        ("description", "Return description for type"),
        ("time", None),
        ("subtype", None),
        ("channel", None),
        ("annotator", None),
        ("aux", None),
    ],
)
def test_attribute_docstrings(name, doc):
    assert AnnotationEntry.__dict__[name].__doc__ == doc


def test_type_object():
    assert AnnotationEntry.__name__ == "AnnotationEntry"
    assert AnnotationEntry.__module__ == "_sigtrove"
    assert not hasattr(AnnotationEntry(0, 1), "__dict__")


# ---- lifetime


def test_subclass_instances_in_a_cycle_are_collected():
    class Node(AnnotationEntry):
        pass

    node = Node(0, 1, aux="kept")
    node.self = node
    alive = weakref.ref(node)
    del node
    gc.collect()
    assert alive() is None


# ---- get_struct, the internal operation other extension modules use


class WFDBAnnotation(ctypes.Structure):
    _fields_ = [
        ("time", ctypes.c_long),
        ("anntyp", ctypes.c_ubyte),
        ("subtyp", ctypes.c_byte),
        ("chan", ctypes.c_ubyte),
        ("num", ctypes.c_byte),
        ("aux", ctypes.c_void_p),
    ]


def get_struct(entry):
    # PYFUNCTYPE keeps the interpreter lock held and raises a Python error the call sets.
    operation = ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.py_object, ctypes.POINTER(WFDBAnnotation))(
        capi.c_api().annotation_entry_ops.contents.get_struct
    )
    out = WFDBAnnotation()
    assert operation(entry, ctypes.byref(out)) == 0
    return out


def test_get_struct_copies_the_fields():
    entry = AnnotationEntry(123456789012, 12, 200, -3, 5, aux="\x03abc")
    out = get_struct(entry)
    assert (out.time, out.anntyp, out.subtyp, out.chan, out.num) == (123456789012, 12, -56, 253, 5)
    assert ctypes.string_at(out.aux) == b"\x03abc"


def test_get_struct_without_aux_gives_a_null_aux():
    assert get_struct(AnnotationEntry(1, 1)).aux is None


def test_get_struct_refuses_other_objects():
    with pytest.raises(TypeError):
        get_struct(object())


def test_module_namespace_holds_the_type():
    assert _sigtrove.AnnotationEntry is AnnotationEntry
