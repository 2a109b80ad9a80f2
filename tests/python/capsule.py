"""Read-only view of the C interface that ``_sigtrove`` publishes in its capsule, for the tests
that check it."""

import ctypes

import _sigtrove

CAPSULE_NAME = b"_sigtrove._C_API"


class RecordOps(ctypes.Structure):
    _fields_ = [("reopen", ctypes.c_void_p), ("is_current", ctypes.c_void_p), ("signal_number", ctypes.c_void_p)]


class AnnotationEntryOps(ctypes.Structure):
    _fields_ = [("get_struct", ctypes.c_void_p)]


class CAPI(ctypes.Structure):
    _fields_ = [
        ("version", ctypes.c_int),
        ("RecordType", ctypes.c_void_p),
        ("AnnotationType", ctypes.c_void_p),
        ("record_ops", ctypes.POINTER(RecordOps)),
        ("annotation_entry_ops", ctypes.POINTER(AnnotationEntryOps)),
        ("engine_version_line", ctypes.c_char_p),
    ]


def c_api():
    """The capsule's struct, as a ctypes structure."""
    get_pointer = ctypes.pythonapi.PyCapsule_GetPointer
    get_pointer.restype = ctypes.c_void_p
    get_pointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
    address = get_pointer(_sigtrove._C_API, CAPSULE_NAME)
    return CAPI.from_address(address)


def engine_version_line():
    """The engine's version line, e.g. 'sigtrove engine version 0.1.0 (Dec 10 2026).\\n'."""
    return c_api().engine_version_line.decode("utf-8", "replace")
