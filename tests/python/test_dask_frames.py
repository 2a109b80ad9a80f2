"""sigtrove.dask.frames: records as lazy Dask arrays, chunked along time, read on the workers."""

import math
import pickle

import dask
import numpy as np
import pytest
from conftest import RECORDS
from test_record import OPENING_RECORDS
from test_record_frames import MULTI_SEGMENT, same

import sigtrove
import sigtrove.dask

SHARED = OPENING_RECORDS + MULTI_SEGMENT


def paths(names):
    return [str(RECORDS / name) for name in names]


def flac_record_of_unknown_length(folder):
    """A copy of flacformats' 16-bit signal whose FLAC stream does not state its length (its
    STREAMINFO total is 0), under a header that gives none either."""
    data = bytearray((RECORDS / "flacformats.d1").read_bytes())
    assert data[:4] == b"fLaC"
    fields = int.from_bytes(data[18:26], "big")  # rate, channels, bits, then a 36-bit sample total
    data[18:26] = (fields & ~((1 << 36) - 1)).to_bytes(8, "big")
    (folder / "nolen.d1").write_bytes(bytes(data))
    (folder / "nolen.hea").write_text("nolen 1 200\nnolen.d1 516 200/mV 16 0 -32766 0 0 sig\n")
    return str(folder / "nolen")


def test_every_shared_record_computed_on_the_cluster_equals_its_serial_read(dask_client):
    arrays = sigtrove.dask.frames(paths(SHARED), physical=False, chunk_frames=100_000)
    assert list(arrays) == paths(SHARED)
    computed = dask_client.compute(list(arrays.values()), sync=True)
    for path, array, got in zip(arrays, arrays.values(), computed):
        wanted = sigtrove.Record(path).frames(physical=False)
        assert array.shape == wanted.shape and array.dtype == wanted.dtype, path
        assert np.array_equal(got, wanted), path


@pytest.mark.parametrize(
    "name, signals, dtype",
    [
        ("100", ["V5", "MLII"], None),
        ("100skew", [1], np.float32),  # a skew cuts the last frames off
        ("s25047/s25047-2704-05-04-10-44", None, None),  # missing signals are NaN
        ("xform", [3, 0, 3], None),
    ],
)
def test_physical_values_of_chosen_signals_equal_the_serial_read(dask_client, name, signals, dtype):
    path = str(RECORDS / name)
    array = sigtrove.dask.frames([path], signals=signals, dtype=dtype, chunk_frames=60_000)[path]
    wanted = sigtrove.Record(path).frames(signals=signals, dtype=dtype)
    assert array.dtype == wanted.dtype
    assert same(dask_client.compute(array, sync=True), wanted)
    # Reductions run chunk by chunk on the workers.
    means = dask_client.compute(array.mean(axis=0), sync=True)
    assert np.allclose(means, wanted.mean(axis=0, dtype=np.float64), equal_nan=True)


@pytest.mark.parametrize(
    "chunk_frames, chunks",
    [
        (100_000, (100_000,) * 6 + (50_000,)),
        (np.int32(650_000), (650_000,)),
        (1_000_000, (650_000,)),
    ],
)
def test_arrays_are_chunked_along_time_only(chunk_frames, chunks):
    array = sigtrove.dask.frames([str(RECORDS / "100")], chunk_frames=chunk_frames)[str(RECORDS / "100")]
    assert array.chunks == (chunks, (2,))


def test_auto_chunks_follow_dasks_chunk_size():
    path = str(RECORDS / "100")
    with dask.config.set({"array.chunk-size": "1MiB"}):
        array = sigtrove.dask.frames([path])[path]
    assert len(array.chunks[0]) > 1 and array.chunks[1] == (2,)
    assert max(array.chunks[0]) * 2 * 8 <= 2**20


def test_the_graph_carries_paths_not_samples():
    path = str(RECORDS / "100")
    array = sigtrove.dask.frames([path], chunk_frames=1000)[path]
    graph = pickle.dumps(dict(array.__dask_graph__()))
    # 650 chunks of 1000 frames: a task is its record's path and its chunk number, whatever the chunks.
    assert len(array.chunks[0]) == 650 and len(graph) < 650 * 500
    assert np.array_equal(
        array[325_000:325_010].compute(scheduler="sync"), sigtrove.Record(path).frames(325_000, 325_010)
    )


def test_a_record_whose_data_do_not_tell_their_length_is_one_chunk_of_unknown_size(tmp_path, dask_client):
    path = flac_record_of_unknown_length(tmp_path)
    record = sigtrove.Record(path)
    if record.readable_frames is not None:
        pytest.skip("this build reads no FLAC")
    array = sigtrove.dask.frames([path], physical=False)[path]
    assert len(array.chunks[0]) == 1 and math.isnan(array.chunks[0][0])
    assert np.array_equal(dask_client.compute(array, sync=True), record.frames(physical=False))


def test_records_given_as_records_paths_or_a_database(tmp_path, monkeypatch):
    monkeypatch.chdir(RECORDS)
    by_database = sigtrove.dask.frames(sigtrove.Database(RECORDS / "237s"), chunk_frames=10**6)
    by_record = sigtrove.dask.frames([sigtrove.Record("237s/237s")], chunk_frames=10**6)
    by_path = sigtrove.dask.frames(["237s/237s"], chunk_frames=10**6)
    assert list(by_database) == ["237s"] and list(by_record) == list(by_path) == ["237s/237s"]
    # Each computes in another working directory: a record travels by its absolute path.
    monkeypatch.chdir(tmp_path)
    window = slice(2490, 2510)
    for arrays in (by_database, by_record, by_path):
        got = next(iter(arrays.values()))[window].compute(scheduler="sync")
        assert same(got, sigtrove.Record(str(RECORDS / "237s/237s")).frames(2490, 2510))


@pytest.mark.parametrize(
    "arguments, error, text",
    [
        ({"database_or_records": str(RECORDS)}, TypeError, r"not one str \(a database folder is sigtrove.Database"),
        ({"database_or_records": sigtrove.Record(str(RECORDS / "100"))}, TypeError, "not one Record"),
        ({"database_or_records": [3]}, TypeError, "records are given as sigtrove.Record objects or record paths"),
        ({"database_or_records": 3}, TypeError, "not int"),
        ({"chunk_frames": 0}, ValueError, "chunk_frames must be a positive number of frames or 'auto'"),
        ({"chunk_frames": True}, ValueError, "chunk_frames"),
        ({"chunk_frames": 1.5}, ValueError, "chunk_frames"),
        ({"chunk_frames": "10"}, ValueError, "chunk_frames"),
        ({"errors": "ignore"}, ValueError, "errors must be 'raise' or 'skip'"),
        ({"signals": ["II"]}, ValueError, "record 100 has no signal named 'II'"),
        ({"physical": True, "dtype": np.int16}, ValueError, "physical values need a float dtype"),
        ({"database_or_records": [str(RECORDS / "100")] * 2}, ValueError, "two records are named .*100: give each"),
    ],
)
def test_what_can_not_be_read_as_asked_is_refused_when_the_arrays_are_made(arguments, error, text):
    arguments.setdefault("database_or_records", [str(RECORDS / "100")])
    with pytest.raises(error, match=text):
        sigtrove.dask.frames(**arguments)
