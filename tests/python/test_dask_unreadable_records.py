"""Records that can not be read in a database-wide computation: an error naming the record
(errors="raise", the default), or the record left out with a warning (errors="skip"), the other
records computed as ever; on the cluster as in one process."""

import os
import shutil

import numpy as np
import pytest
from conftest import RECORDS
from test_record import copy_record

import sigtrove
import sigtrove.dask
from sigtrove.dask import RecordError, RecordSkipped

GOOD = ["first", "last"]


def database_with_a_broken_record(folder, break_it):
    """Copies of 100 (with their reference annotations) named first, broken and last, listed in
    that order; `break_it(folder)` then damages "broken"."""
    for name in ["first", "broken", "last"]:
        copy_record("100", str(folder), name)
        shutil.copy(RECORDS / "100.atr", folder / (name + ".atr"))
    (folder / "RECORDS").write_text("first\nbroken\nlast\n")
    break_it(folder)
    return sigtrove.Database(folder)


def signal_file_and_annotations_gone(folder):
    (folder / "broken.hea").write_text((folder / "broken.hea").read_text().replace("100.dat", "gone.dat"))
    os.remove(folder / "broken.atr")


def header_gone(folder):
    os.remove(folder / "broken.hea")
    os.remove(folder / "broken.atr")


def header_damaged(folder):
    (folder / "broken.hea").write_text("broken 2 360 650000\n100.dat 212 200\n")  # one signal line of two
    (folder / "broken.atr").write_bytes(b"\xff")


def signal_file_short(folder):
    # The header claims 650000 frames; the signal file holds 1000: a whole read fails at its end.
    (folder / "broken.dat").write_bytes((RECORDS / "100.dat").read_bytes()[:3000])
    (folder / "broken.hea").write_text((folder / "broken.hea").read_text().replace("100.dat", "broken.dat"))
    (folder / "broken.atr").write_bytes((RECORDS / "100.atr").read_bytes()[:1001])


BREAKS = [signal_file_and_annotations_gone, header_gone, header_damaged, signal_file_short]


def compute_on_cluster(client, database, errors):
    """The three database-wide computations of the database, each computed on the cluster."""
    arrays = sigtrove.dask.frames(database, chunk_frames=200_000, errors=errors)
    means = {name: array.mean(axis=0) for name, array in arrays.items()}
    table = sigtrove.dask.annotations(database, "atr", errors=errors)
    lengths = sigtrove.dask.map_records(lambda record: (record.record, len(record.frames())), database, errors=errors)
    return [client.compute(collection, sync=True) for collection in (means, table, lengths)]


@pytest.mark.parametrize("break_it", BREAKS)
def test_skipped_records_are_left_out_and_the_others_computed(tmp_path, dask_client, break_it):
    database = database_with_a_broken_record(tmp_path, break_it)
    # The records frames() can not open are left out where its arrays are made, with a warning;
    # the others' warnings go to the log of the worker that skipped the record.
    with pytest.warns(RecordSkipped, match="record broken .* left out: "):
        means, table, lengths = compute_on_cluster(dask_client, database, "skip")
    wanted = sigtrove.Record(str(RECORDS / "100")).frames().mean(axis=0)
    assert list(means) == GOOD and all(np.allclose(means[name], wanted) for name in GOOD)
    assert table.record.unique().tolist() == GOOD and len(table) == 2 * 2274
    assert lengths == [("first", 650000), ("last", 650000)]


@pytest.mark.parametrize("break_it", BREAKS)
def test_the_error_of_a_broken_record_names_it(tmp_path, break_it):
    database = database_with_a_broken_record(tmp_path, break_it)
    # frames() learns each record's length when the arrays are made: there it fails.
    with pytest.raises(RecordError, match="record broken .* can not be read: ") as info:
        sigtrove.dask.frames(database)
    assert info.value.record == "broken" and info.value.path == str(tmp_path / "broken")
    # The others fail when computed.
    for collection in [
        sigtrove.dask.annotations(database, "atr"),
        sigtrove.dask.map_records(lambda record: record.frames()[-1], database),
    ]:
        with pytest.raises(RecordError, match="record broken ") as info:
            collection.compute(scheduler="sync")
        assert isinstance(info.value, sigtrove.Error) and info.value.record == "broken"


def test_a_worker_reports_a_record_it_can_not_read_by_name(tmp_path, dask_client):
    database = database_with_a_broken_record(tmp_path, lambda folder: None)
    arrays = sigtrove.dask.frames(database, chunk_frames=200_000)
    table = sigtrove.dask.annotations(database, "atr")
    lengths = sigtrove.dask.map_records(lambda record: len(record.frames()), database)
    # The record breaks after the graphs are built: the workers find out.
    signal_file_and_annotations_gone(tmp_path)
    for collection in [arrays["broken"].sum(), table, lengths]:
        with pytest.raises(RecordError, match="record broken .*can not be read: InitError: ") as info:
            dask_client.compute(collection, sync=True)
        assert (info.value.record, info.value.path) == ("broken", str(tmp_path / "broken"))
    assert np.isfinite(dask_client.compute(arrays["last"].sum(), sync=True))
