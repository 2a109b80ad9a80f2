"""sigtrove.dask.map_records: a function of each record, computed on the workers, as a Dask bag."""

import os

import numpy as np
import pytest
from conftest import RECORDS
from test_record import OPENING_RECORDS
from test_record_frames import MULTI_SEGMENT

import sigtrove
import sigtrove.dask

SHARED = OPENING_RECORDS + MULTI_SEGMENT


def features(record):
    """Per-record features as a study computes them: length, and each signal's mean and spread."""
    signals = record.frames()
    return (
        record.record,
        record.readable_frames,
        np.nanmean(signals, axis=0).round(9).tolist(),
        np.nanstd(signals, axis=0).round(9).tolist(),
    )


def test_a_function_of_every_shared_record_computed_on_the_cluster_equals_it_computed_here(dask_client):
    paths = [str(RECORDS / name) for name in SHARED]
    bag = sigtrove.dask.map_records(features, paths)
    assert bag.npartitions == len(paths)  # a task per record
    wanted = [features(sigtrove.Record(path)) for path in paths]
    assert dask_client.compute(bag, sync=True) == wanted


def test_the_function_runs_on_the_workers_and_may_be_a_closure(dask_client):
    workers = set(dask_client.run(os.getpid).values())
    offset = 1000
    bag = sigtrove.dask.map_records(
        lambda record: (os.getpid(), record.nsig + offset), sigtrove.Database(RECORDS / "s25047")
    )
    results = dask_client.compute(bag, sync=True)
    assert [nsig for _, nsig in results] == [1003, 1007]
    assert {pid for pid, _ in results} <= workers and os.getpid() not in workers


@pytest.mark.parametrize("errors", ["raise", "skip"])
def test_faults_of_the_function_itself_are_raised_unchanged(errors):
    def faulty(record):
        return record.nsig / 0

    bag = sigtrove.dask.map_records(faulty, [str(RECORDS / "100")], errors=errors)
    with pytest.raises(ZeroDivisionError):
        bag.compute(scheduler="sync")


def test_no_records_make_an_empty_bag():
    assert sigtrove.dask.map_records(features, []).compute(scheduler="sync") == []


@pytest.mark.parametrize(
    "function, errors, error, text",
    [
        ("features", "raise", TypeError, "applies a function to each record, not str"),
        (features, "all", ValueError, "errors must be 'raise' or 'skip', not 'all'"),
    ],
)
def test_refused_arguments(function, errors, error, text):
    with pytest.raises(error, match=text):
        sigtrove.dask.map_records(function, [str(RECORDS / "100")], errors=errors)
