"""A small EDF, EDF+ and BDF+ writer of the tests' own, for what pyEDFlib does not write: discontinuous
(EDF+D) files whose data records sit at onsets of our choosing, and stored values placed exactly.

A file is the 256-byte header, 256 bytes per signal, then the data records: each holds every signal's
samples for one data-record duration, little-endian (2 bytes a sample in EDF, 3 in BDF). In EDF+ the
"EDF Annotations" signal of each data record starts with its time-keeping list ("+onset" twice
terminated), which says when the data record begins; further lists are annotations."""

import dataclasses
from typing import List, Optional, Sequence, Tuple

import numpy as np


@dataclasses.dataclass
class EdfSignal:
    label: str
    samples: np.ndarray  # stored values, a whole number of data records of samples_per_record
    samples_per_record: int
    physical_min: float = -100.0
    physical_max: float = 100.0
    digital_min: int = -32768
    digital_max: int = 32767
    dimension: str = "uV"


# An annotation: onset in seconds (as text, written exactly), duration text or None, and its text.
Annotation = Tuple[str, Optional[str], str]


def _field(text: str, width: int) -> bytes:
    data = text.encode("latin-1")
    assert len(data) <= width, (text, width)
    return data.ljust(width, b" ")


def _number(value: float) -> str:
    text = repr(float(value)) if value != int(value) else str(int(value))
    return text[:8]


def _annotation_list(onset: str, duration: Optional[str], texts: Sequence[str]) -> bytes:
    head = ("+" if not onset.startswith("-") else "") + onset
    if duration is not None:
        head += "\x15" + duration
    return head.encode() + b"\x14" + b"".join(t.encode("utf-8") + b"\x14" for t in texts) + b"\x00"


def edf_bytes(
    signals: List[EdfSignal],
    record_duration: float = 1.0,
    *,
    bdf: bool = False,
    plus: bool = True,
    onsets: Optional[Sequence[str]] = None,
    annotations: Sequence[Annotation] = (),
    annotation_samples: int = 60,
    start_date: str = "11.12.26",
    start_time: str = "04.30.00",
    patient: str = "X M 01-JAN-1970 Test_Patient",
    recording: str = "Startdate 11-DEC-2026 X X sigtrove_test",
    record_count: Optional[int] = None,
) -> bytes:
    """The bytes of an EDF (or with bdf, BDF) file. With plus, an annotation signal gives each data
    record its onset (onsets, as texts, default i * duration: discontinuous when they leave gaps), and
    each annotation goes into the data record holding its onset. record_count overrides the count
    written in the header (-1: unknown)."""
    width = 3 if bdf else 2
    records = len(signals[0].samples) // signals[0].samples_per_record
    if onsets is None:
        onsets = [_number(i * record_duration) for i in range(records)]
    discontinuous = plus and any(abs(float(b) - float(a) - record_duration) > 1e-9 for a, b in zip(onsets, onsets[1:]))
    lists: List[List[bytes]] = [[] for _ in range(records)]
    for onset, duration, text in annotations:
        at = max([i for i, o in enumerate(onsets) if float(o) <= float(onset)] or [0])
        lists[at].append(_annotation_list(onset, duration, [text]))
    columns = list(signals)
    if plus:
        label = "BDF Annotations" if bdf else "EDF Annotations"
        columns.append(
            EdfSignal(
                label,
                np.zeros(0, np.int32),
                annotation_samples,
                -1,
                1,
                -(2 ** (8 * width - 1)),
                2 ** (8 * width - 1) - 1,
                "",
            )
        )
    count = len(columns)
    header = b"".join(
        [
            b"\xffBIOSEMI" if bdf else _field("0", 8),
            _field(patient, 80),
            _field(recording, 80),
            _field(start_date, 8),
            _field(start_time, 8),
            _field(str(256 * (count + 1)), 8),
            _field(
                ("BDF+" if bdf else "EDF+") + ("D" if discontinuous else "C") if plus else ("24BIT" if bdf else ""), 44
            ),
            _field(str(records if record_count is None else record_count), 8),
            _field(_number(record_duration), 8),
            _field(str(count), 4),
        ]
    )
    for name, width_of in (
        ("label", 16),
        ("transducer", 80),
        ("dimension", 8),
        ("physical_min", 8),
        ("physical_max", 8),
        ("digital_min", 8),
        ("digital_max", 8),
        ("prefilter", 80),
        ("samples_per_record", 8),
        ("reserved", 32),
    ):
        for s in columns:
            value = {"transducer": "", "prefilter": "", "reserved": ""}.get(name)
            if value is None:
                attr = getattr(s, name)
                value = attr if isinstance(attr, str) else _number(attr)
            header += _field(value, width_of)
    body = bytearray()
    for r in range(records):
        for s in signals:
            part = np.asarray(s.samples[r * s.samples_per_record : (r + 1) * s.samples_per_record], np.int64)
            body += _stored(part, width)
        if plus:
            text = _annotation_list(onsets[r], None, [""]) + b"".join(lists[r])
            room = annotation_samples * width
            assert len(text) <= room, "annotation lists do not fit their data record"
            body += text.ljust(room, b"\x00")
    return header + bytes(body)


def _stored(values: np.ndarray, width: int) -> bytes:
    unsigned = values.astype(np.int64) & ((1 << (8 * width)) - 1)
    raw = np.stack([(unsigned >> (8 * k)) & 0xFF for k in range(width)], axis=1).astype(np.uint8)
    return raw.tobytes()


def write_edf(path: str, signals: List[EdfSignal], record_duration: float = 1.0, **options: object) -> str:
    with open(path, "wb") as f:
        f.write(edf_bytes(signals, record_duration, **options))  # type: ignore[arg-type]
    return path
