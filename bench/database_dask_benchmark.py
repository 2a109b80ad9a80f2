"""A whole database with sigtrove.dask on a two-worker cluster, against the same work in one process.

The database is made here, in a temporary folder: COPIES copies of MIT-BIH record 100 (header,
signal file and reference annotations, each copy its own files), listed in a RECORDS file. Two
database-wide computations, each timed as a user runs it (building the Dask collections included):

- annotations: every record's reference annotations as a table, and of each record its normal
  beats (their count, first and last time); in one process, a loop of Annotation(...).arrays()
  into pandas tables, pooled, then grouped by record; on the cluster, sigtrove.dask.annotations()
  with the summary computed partition by partition (a partition is a record);
- per-record means: the mean of each signal of each record; in one process, a loop of
  Record(...).frames().mean(axis=0); on the cluster, sigtrove.dask.frames() in Dask's chunks.

The cluster is dask.distributed's LocalCluster: two worker processes of one thread each, on
127.0.0.1. The contenders take turns in every round and the best time of each is kept. These
machines have two cores, and the two workers can only be faster than one process when nothing else
runs: the load average is printed with the figures, and so is what the cluster makes of work that
has nothing of sigtrove in it (40 tasks of numpy arithmetic as long as a record's mean, against the
same loop in one process): the best any database-wide computation can do at that moment.

Then the peak memory (RSS) of each worker, measured in the worker (Linux's VmHWM, started afresh
before the work): fresh workers import what the work needs, then compute the per-record means of
the whole database in chunks of CHUNK_FRAMES frames (and of four times that). A worker's peak grows
by a few chunks, not by the database.

    .venv/bin/python bench/database_dask_benchmark.py [--copies N] [--repeat N]
"""

import argparse
import logging
import os
import pathlib
import tempfile

import dask
import numpy as np
import pandas as pd
from _timing import best_of_interleaved
from distributed import Client, LocalCluster

import sigtrove
import sigtrove.dask

RECORDS = pathlib.Path(__file__).resolve().parent.parent / "tests" / "fixtures" / "records"
CHUNK_FRAMES = 65536  # 1 MiB of two float64 signals; record 100 is 650000 frames (10.4 MB)


def make_database(folder, copies):
    header = (RECORDS / "100.hea").read_text()
    data = (RECORDS / "100.dat").read_bytes()
    annotations = (RECORDS / "100.atr").read_bytes()
    names = ["c%03d" % i for i in range(copies)]
    for name in names:
        (folder / (name + ".hea")).write_text(header.replace("100", name))
        (folder / (name + ".dat")).write_bytes(data)
        (folder / (name + ".atr")).write_bytes(annotations)
    (folder / "RECORDS").write_text("".join(name + "\n" for name in names))
    (folder / "ANNOTATORS").write_text("atr\treference beat, rhythm, and signal quality annotations\n")
    return sigtrove.Database(folder)


def beat_summary(table):
    """Normal beats per record, the first and the last (the mean RR interval is (last - first) / (count - 1))."""
    normal = table[table.symbol == "N"]
    return normal.groupby("record").time.agg(["count", "min", "max"])


def annotations_in_one_process(database):
    tables = [
        pd.DataFrame({"record": name, **sigtrove.Annotation(database.path(name), "atr").arrays()})
        for name in database.names
    ]
    return beat_summary(pd.concat(tables, ignore_index=True))


def annotations_on_cluster(database, client):
    table = sigtrove.dask.annotations(database, "atr")
    return client.compute(table.map_partitions(beat_summary), sync=True)


def means_in_one_process(database):
    return {name: sigtrove.Record(database.path(name)).frames().mean(axis=0) for name in database.names}


def means_on_cluster(database, client, chunk_frames="auto"):
    arrays = sigtrove.dask.frames(database, chunk_frames=chunk_frames)
    return client.compute({name: array.mean(axis=0) for name, array in arrays.items()}, sync=True)


class SynchronousScheduler:
    """Computes Dask collections as a client does, but in this process, one task after another."""

    def compute(self, collection, sync=True):
        return dask.compute(collection, scheduler="sync")[0]


def report(title, one, sync, two):
    print(
        "%-38s one process: a loop %7.1f ms, Dask %7.1f ms; 2 workers %7.1f ms: %.2fx the loop, %.2fx Dask "
        "in one process (wanted <= 0.65x)" % (title, one * 1e3, sync * 1e3, two * 1e3, two / one, two / sync)
    )


def arithmetic(_):
    """Work the size of a per-record mean, without sigtrove: what the machine allows."""
    return np.ones((650000, 2)).mean(axis=0)


def reset_peak_rss():
    """Starts this process's peak resident memory (VmHWM) afresh at what it holds now, and says that.
    Linux does so for a 5 written to /proc/self/clear_refs. Run in a worker."""
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
    return memory_status("VmRSS")


def memory_status(field):
    """A field of /proc/self/status (VmRSS, VmHWM), in bytes."""
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise LookupError(field)


def two_workers():
    return LocalCluster(
        n_workers=2,
        processes=True,
        threads_per_worker=1,
        host="127.0.0.1",
        dashboard_address="127.0.0.1:0",
        silence_logs=logging.ERROR,
    )


def warm_up(database, client):
    """Each worker imports what the work needs and reads a few frames: what it holds before the work."""
    first = database.path(database.names[0])
    client.run(lambda: sigtrove.Record(first).frames(0, 10).mean(axis=0))


def same_summary(ours, theirs):
    return ours.sort_index().astype("int64").equals(theirs.sort_index().astype("int64"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--copies", type=int, default=40)
    parser.add_argument("--repeat", type=int, default=5)
    options = parser.parse_args()

    with tempfile.TemporaryDirectory() as folder:
        database = make_database(pathlib.Path(folder), options.copies)
        print(
            "database: %d copies of record 100 (%.0f MB of signal files; %.0f MB as float64 arrays)"
            % (
                len(database),
                len(database) * (RECORDS / "100.dat").stat().st_size / 1e6,
                len(database) * 650000 * 2 * 8 / 1e6,
            )
        )
        with two_workers() as cluster, Client(cluster) as client:
            # Same answers, and every worker warmed up, before anything is timed.
            assert same_summary(annotations_on_cluster(database, client), annotations_in_one_process(database))
            ours, theirs = means_on_cluster(database, client), means_in_one_process(database)
            assert all(np.allclose(ours[name], theirs[name]) for name in database.names)

            one, sync, two = best_of_interleaved(
                options.repeat,
                [
                    lambda: annotations_in_one_process(database),
                    lambda: annotations_on_cluster(database, SynchronousScheduler()),
                    lambda: annotations_on_cluster(database, client),
                ],
            )
            report("annotations, pooled and summarised", one, sync, two)
            one, sync, two = best_of_interleaved(
                options.repeat,
                [
                    lambda: means_in_one_process(database),
                    lambda: means_on_cluster(database, SynchronousScheduler()),
                    lambda: means_on_cluster(database, client),
                ],
            )
            report("per-record means of frames()", one, sync, two)
            one, sync, two = best_of_interleaved(
                options.repeat,
                [
                    lambda: means_in_one_process(database),
                    lambda: means_on_cluster(database, SynchronousScheduler(), CHUNK_FRAMES),
                    lambda: means_on_cluster(database, client, CHUNK_FRAMES),
                ],
            )
            report("  the same in chunks of %d frames" % CHUNK_FRAMES, one, sync, two)
            one, two = best_of_interleaved(
                options.repeat,
                [
                    lambda: [arithmetic(i) for i in range(len(database))],
                    lambda: client.gather(client.map(arithmetic, range(len(database)), pure=False)),
                ],
            )
            print(
                "%-38s one process: a loop %7.1f ms;                2 workers %7.1f ms: %.2fx the loop"
                % ("numpy arithmetic alone, as many tasks", one * 1e3, two * 1e3, two / one)
            )
            print("load average over the last minute: %.1f (2 cores)" % os.getloadavg()[0])

        # Worker memory: fresh workers, warmed up, then the whole database chunk by chunk.
        for chunk_frames in (CHUNK_FRAMES, 4 * CHUNK_FRAMES):
            with two_workers() as cluster, Client(cluster) as client:
                warm_up(database, client)
                before = client.run(reset_peak_rss)
                means_on_cluster(database, client, chunk_frames)
                after = client.run(memory_status, "VmHWM")
            chunk = chunk_frames * 2 * 8
            for worker in sorted(before):
                print(
                    "worker RSS, chunks of %6d frames (%4.1f MB): %6.1f MB before, peak %6.1f MB during: "
                    "+%5.1f MB (%.1f chunks)"
                    % (
                        chunk_frames,
                        chunk / 1e6,
                        before[worker] / 1e6,
                        after[worker] / 1e6,
                        (after[worker] - before[worker]) / 1e6,
                        (after[worker] - before[worker]) / chunk,
                    )
                )


if __name__ == "__main__":
    main()
