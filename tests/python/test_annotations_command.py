"""sigtrove annotations RECORD [ANNOTATOR]: what rdann prints."""

import csv
import io

import pytest
from command import sigtrove as command
from conftest import RECORDS, expected
from test_annotation import aux_text
from test_annotation_entry import INITIAL_CODES

import _sigtrove


def sigtrove(*args):
    return command("annotations", *args)


def columns(line):
    """(sample, mnemonic, subtype, channel, number, aux) of an output line, after its time text;
    the aux text follows a tab, when there is one."""
    line, _, aux = line.partition("\t")
    fields = line.split()
    return int(fields[-5]), fields[-4], int(fields[-3]), int(fields[-2]), int(fields[-1]), aux or None


@pytest.mark.parametrize(
    "record, annotator, index",
    [("100", "atr", 0), ("100", "qrs", 1), ("xform", "wabp", 1), ("xform", "all", 0), ("12726", "wqrs", 2)],
)
def test_lists_every_annotation(record, annotator, index):
    result = sigtrove(str(RECORDS / record), annotator)
    assert result.returncode == 0, result.stderr
    reference = expected(record)["annotators"][index]
    assert reference["name"] == annotator
    lines = result.stdout.splitlines()
    assert len(lines) == reference["count"]
    for line, (time, code, subtype, channel, number, aux) in zip(lines, reference["annotations"]):
        assert columns(line) == (
            time,
            INITIAL_CODES[code]["annstr"],
            *((v & 0xFF) - 256 if v & 0x80 else v for v in (subtype, channel, number)),
            aux_text(aux),
        )


def test_the_rhythm_label_follows_its_annotation():
    lines = sigtrove(str(RECORDS / "100")).stdout.splitlines()
    assert lines[0].endswith("      18      +    0    0    0\t(N")


def test_time_texts_follow_the_record():
    # 100 is sampled at 360 Hz: sample 18 is 50 ms into the record, sample 649991 30:05.531.
    result = sigtrove(str(RECORDS / "100"))
    assert result.returncode == 0, result.stderr
    first, last = result.stdout.splitlines()[0], result.stdout.splitlines()[-1]
    assert first.split()[:2] == ["0:00.050", "18"]
    assert last.split()[:2] == ["30:05.531", "649991"]


def test_default_annotator_is_atr():
    assert sigtrove(str(RECORDS / "100")).stdout == sigtrove(str(RECORDS / "100"), "atr").stdout


def test_missing_annotator_fails_with_the_engine_text():
    result = sigtrove(str(RECORDS / "100"), "nosuchann")
    assert result.returncode == 1
    assert result.stderr.endswith("annopen: can't read annotator nosuchann for record 100\n")


@pytest.mark.parametrize("args", [(), ("a", "b", "c")])
def test_usage(args):
    result = sigtrove(*args)
    assert result.returncode == 2
    assert result.stderr.startswith("usage: python -m sigtrove annotations")


def test_time_texts_of_a_record_without_header_count_at_250_hz():
    # huge has no header: its one annotation, at sample 10^10, is 40,000,000 s in at 250 Hz.
    result = sigtrove(str(RECORDS / "huge"), "qrs")
    assert result.returncode == 0, result.stderr
    assert result.stdout.split()[:2] == ["11111:06:40.000", "10000000000"]


# record, annotator, -f, -t, -a
WINDOWS = [
    ("100", "atr", "5:00", "5:10", None),
    ("100", "atr", "s1000", "e", ["V", "A"]),
    ("100", "atr", None, "29:00", ["+"]),
    ("100", "qrs", "29:55", None, None),
    ("xform", "all", "0:46", None, ['"', "N"]),
    ("12726", "wqrs", "10", "20.5", None),
]


@pytest.mark.parametrize("record, annotator, start, stop, types", WINDOWS)
def test_a_window_and_types_list_what_the_arrays_hold(record, annotator, start, stop, types):
    args = [RECORDS / record, annotator, "--csv"]
    args += ["-f", start] if start else []
    args += ["-t", stop] if stop else []
    args += ["-a", *types] if types else []
    result = sigtrove(*args)
    assert result.returncode == 0, result.stderr
    annotation = _sigtrove.Annotation(str(RECORDS / record), annotator)
    columns = annotation.arrays(start, stop)
    wanted = [
        [annotation.time_text(t, milliseconds=True), str(t), symbol, str(sub), str(chan), str(num), aux or ""]
        for t, symbol, sub, chan, num, aux in zip(
            *(columns[k].tolist() for k in ("time", "symbol", "subtype", "chan", "num", "aux"))
        )
        if types is None or symbol in types
    ]
    assert wanted, "the case lists something"
    assert list(csv.reader(io.StringIO(result.stdout))) == wanted


def test_the_header_names_the_columns():
    lines = sigtrove(str(RECORDS / "100"), "-t", "0.1", "--header").stdout.splitlines()
    assert lines[0].split() == ["time", "sample", "type", "sub", "chan", "num", "aux"]
    assert lines[1].split("\t") == [lines[1].split("\t")[0], "(N"]
    csv_lines = sigtrove(str(RECORDS / "100"), "-t", "0.1", "--header", "--csv").stdout.splitlines()
    assert csv_lines == ["time,sample,type,subtype,chan,num,aux", "0:00.050,18,+,0,0,0,(N"]


@pytest.mark.parametrize(
    "args, message",
    [
        (["-a", "QQ"], "unknown annotation type 'QQ'"),
        (["-f", "ten"], "-f ten: not a time"),
        (["-t", "1:2:3:4"], "-t 1:2:3:4: not a time"),
        (["-f", "10", "-t", "5"], "-t 5 is before -f 10"),
    ],
)
def test_usage_errors_name_what_is_wrong(args, message):
    result = sigtrove(str(RECORDS / "100"), *args)
    assert result.returncode == 2
    assert result.stderr.startswith("usage: ")
    assert result.stderr.endswith("annotations: error: %s\n" % message) or message in result.stderr
    assert result.stdout == ""
