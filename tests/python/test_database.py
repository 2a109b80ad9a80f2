"""sigtrove.Database: a database folder's records, by its RECORDS file or by the headers in it, and
its annotators."""

import os
import pickle
import re

import numpy as np
import pytest
from conftest import RECORDS

import sigtrove


def write_record(folder, name, frames=4):
    """A tiny record `name` (it may hold a subfolder: "sub/r") of one format-16 signal whose
    samples count up from the record's first letter's code."""
    path = folder / name
    path.parent.mkdir(parents=True, exist_ok=True)
    base = path.name
    path.with_name(base + ".hea").write_text("%s 1 360 %d\n%s.dat 16 200 16 0 0 0 0 x\n" % (base, frames, base))
    first = ord(base[0])
    path.with_name(base + ".dat").write_bytes(np.arange(first, first + frames, dtype="<i2").tobytes())


def database(folder, records_text=None, annotators_text=None, records=()):
    for name in records:
        write_record(folder, name)
    if records_text is not None:
        (folder / "RECORDS").write_text(records_text)
    if annotators_text is not None:
        (folder / "ANNOTATORS").write_text(annotators_text)
    return sigtrove.Database(folder)


def test_records_are_named_by_the_records_file_in_its_order(tmp_path):
    db = database(tmp_path, "zeta\nalpha\n30/3000003\n\n", records=["zeta", "alpha", "30/3000003"])
    assert db.names == ("zeta", "alpha", "30/3000003")
    assert len(db) == 3
    assert [r.record for r in db] == ["zeta", "alpha", "3000003"]
    assert db["30/3000003"].frames(physical=False)[:, 0].tolist() == [51, 52, 53, 54]
    assert "alpha" in db and "beta" not in db and 3 not in db
    assert db.path("30/3000003") == str(tmp_path / "30" / "3000003")


def test_a_folder_listed_with_a_slash_has_its_own_records_file(tmp_path):
    # As the largest PhysioNet databases list theirs: "30/" stands for the records 30/RECORDS lists.
    (tmp_path / "30" / "3000003").mkdir(parents=True)
    (tmp_path / "30" / "RECORDS").write_text("3000003/\n3000005\n")
    (tmp_path / "30" / "3000003" / "RECORDS").write_text("3000003\n3000003n\n")
    db = database(tmp_path, "a\n30/\nb\na\n", records=["a", "b", "30/3000005"])
    assert db.names == ("a", "30/3000003/3000003", "30/3000003/3000003n", "30/3000005", "b")


@pytest.mark.parametrize(
    "records_text, complaint",
    [
        ("a\n../elsewhere\n", "'../elsewhere', which is not a record name of the database"),
        ("/etc/passwd\n", "'/etc/passwd', which is not a record name"),
        ("a//b\n", "'a//b', which is not a record name"),
        ("sub/./a\n", "'sub/./a'"),
        ("missing/\n", "the folder 'missing/', which has no RECORDS file"),
    ],
)
def test_a_records_file_naming_what_is_not_a_record_of_the_database_is_refused(tmp_path, records_text, complaint):
    with pytest.raises(ValueError, match=re.escape("RECORDS lists " + complaint)):
        database(tmp_path, records_text)


def test_a_records_file_nesting_a_folder_into_itself_is_refused(tmp_path):
    (tmp_path / "RECORDS").write_text("loop/\n")
    os.symlink(".", tmp_path / "loop")
    with pytest.raises(ValueError, match="nests folders more than 16 deep"):
        sigtrove.Database(tmp_path)


@pytest.mark.parametrize(
    "layout, where",
    [
        ({"RECORDS": "r\n" * 300000}, "RECORDS"),  # 600 KB, and 300000 names that Python would keep
        ({"RECORDS": "x" * (2 << 20)}, "RECORDS"),  # a single line longer than the ceiling
        ({"RECORDS": "a/\nb/\n", "a/RECORDS": "r\n" * 1500, "b/RECORDS": "r\n" * 3000}, "b/RECORDS"),
        ({"RECORDS": "r\r" * 300000}, "RECORDS"),  # lines as str.splitlines splits them
    ],
    ids=["many-names", "one-long-line", "nested-lists-together", "carriage-returns"],
)
def test_list_files_are_held_to_the_memory_ceiling(tmp_path, monkeypatch, layout, where):
    monkeypatch.setenv("SIGTROVE_MAX_RECORD_MEMORY", "1M")
    for name, text in layout.items():
        (tmp_path / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / name).write_text(text, newline="")
    message = "database %s: %s: more than 1 MB of names: past the record memory ceiling" % (tmp_path, where)
    with pytest.raises(ValueError, match=re.escape(message)):
        sigtrove.Database(tmp_path)


def test_without_a_records_file_the_headers_found_are_the_records_sorted(tmp_path):
    for name in ["b", "a", "sub/c", ".hidden/d"]:
        write_record(tmp_path, name)
    # A multi-segment record: its segments and its layout header are not records of the database.
    for name in ["m_layout", "m_1", "m_2"]:
        write_record(tmp_path, name)
    (tmp_path / "m.hea").write_text("# a master header\nm/4 1 360 8\nm_layout 0\nm_1 4\n~ 100\n\nm_2 4\n")
    os.symlink(str(tmp_path), tmp_path / "sub" / "link")  # not followed
    assert sigtrove.Database(tmp_path).names == ("a", "b", "m", "sub/c")


def test_the_segments_of_the_shared_multi_segment_records_are_not_listed():
    names = sigtrove.Database(RECORDS).names
    assert names == tuple(sorted(names))
    assert {"100", "237s/237s", "s25047/s25047-2704-05-04-10-44", "s25047/s25047-2704-05-04-10-44n"} <= set(names)
    assert not {n for n in names if n.startswith(("237s/237s1", "237s/237s2", "s25047/3234460"))}


@pytest.mark.parametrize(
    "text, annotators",
    [
        (
            "atr\treference beat, rhythm, and signal quality annotations\nqrs\tunaudited beat annotations\n",
            {"atr": "reference beat, rhythm, and signal quality annotations", "qrs": "unaudited beat annotations"},
        ),
        ("ecg  beats by a detector\n\nabp\n", {"ecg": "beats by a detector", "abp": ""}),
        (None, {}),
    ],
)
def test_annotators_are_what_the_annotators_file_says(tmp_path, text, annotators):
    db = database(tmp_path, "a\n", text, records=["a"])
    assert db.annotators == annotators
    assert list(db.annotators) == list(annotators)


def test_a_listed_record_is_opened_only_when_asked_for(tmp_path):
    db = database(tmp_path, "a\ngone\n", records=["a"])
    assert len(db) == 2
    with pytest.raises(sigtrove.InitError, match="gone"):
        db["gone"]
    records = iter(db)
    assert next(records).record == "a"
    with pytest.raises(sigtrove.InitError, match="gone"):
        next(records)


@pytest.mark.parametrize(
    "key, error, text",
    [
        ("b", KeyError, "has no record 'b'"),
        ("a.hea", KeyError, "has no record 'a.hea'"),
        (0, TypeError, "by name"),
    ],
)
def test_lookup_of_what_is_not_a_record_name(tmp_path, key, error, text):
    db = database(tmp_path, "a\n", records=["a"])
    with pytest.raises(error, match=text):
        db[key]


@pytest.mark.parametrize(
    "location, error, text",
    [
        ("nowhere", FileNotFoundError, "no database at .*nowhere: there is no such folder"),
        ("a.hea", NotADirectoryError, "it is not a folder"),
        (b"bytes", TypeError, "str or a path"),
        ("a\0b", ValueError, "null character"),
    ],
)
def test_what_is_not_a_database_folder_is_refused(tmp_path, monkeypatch, location, error, text):
    database(tmp_path, records=["a"])
    monkeypatch.chdir(tmp_path)
    with pytest.raises(error, match=text):
        sigtrove.Database(location)


def test_a_database_means_the_same_in_any_working_directory(tmp_path, monkeypatch):
    database(tmp_path / "db", "a\n", records=["a"])
    monkeypatch.chdir(tmp_path)
    db = sigtrove.Database("db")
    assert db.location == str(tmp_path / "db")
    monkeypatch.chdir("/")
    copy = pickle.loads(pickle.dumps(db))
    assert copy.names == db.names and copy.location == db.location
    assert copy["a"].frames(physical=False).shape == (4, 1)
    assert repr(db) == "sigtrove.Database(%r)" % str(tmp_path / "db")


def test_a_record_without_signal_files_is_given_like_any_other(tmp_path):
    db = database(tmp_path, "a\nlone\nb\n", records=["a", "b"])
    (tmp_path / "lone.hea").write_text("lone 1 360 4\nlone.dat 16 200 16 0 0 0 0 x\n# only the header\n")
    # Before: iterating raised at "lone" ("none of the signals ... is readable").
    records = list(db)
    assert [r.record for r in records] == ["a", "lone", "b"]
    lone = records[1]
    assert (lone.nsig, lone.frame_count, lone.signals[0].file, lone.comments) == (
        1,
        4,
        "lone.dat",
        ("only the header",),
    )
    for needs_signals in (lambda r: r.frames(), lambda r: r.read(0), lambda r: r.readable_frames):
        with pytest.raises(sigtrove.InitError, match="none of the signals for record lone is readable"):
            needs_signals(lone)
    assert db["lone"].signal_names == ("x",)
    assert pickle.loads(pickle.dumps(lone)).signals == lone.signals
    assert records[2].frames(physical=False)[:, 0].tolist() == [98, 99, 100, 101]


def test_every_record_of_the_shared_records_is_given():
    # 1003 and the other header-only records among them included.
    db = sigtrove.Database(RECORDS)
    assert [r.record for r in db] == [name.rsplit("/", 1)[-1] for name in db.names]
