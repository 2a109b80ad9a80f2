"""A function of each record, computed on the workers, as a Dask bag."""

from typing import Any, Callable, List, TypeVar, cast

import dask.bag
from dask.bag import Bag

from _sigtrove import Record
from sigtrove.dask._record_errors import UNREADABLE, check_errors_choice, unreadable
from sigtrove.dask._record_sources import DatabaseOrRecords, RecordSource, record_sources

Result = TypeVar("Result")

# Dask's constructor, which carries no type information.
_from_sequence: Callable[..., Any] = dask.bag.from_sequence


def apply_to_records(sources: List[RecordSource], function: Callable[[Record], Any], errors: str) -> List[Any]:
    """One partition: the function of each of its records, opened here by path (an unreadable
    record gives nothing under "skip")."""
    results = []
    for source in sources:
        try:
            with Record(source.path) as record:
                results.append(function(record))
        except UNREADABLE as error:
            unreadable(source.name, source.path, error, errors)
    return results


def map_records(
    function: Callable[[Record], Result], database_or_records: DatabaseOrRecords, errors: str = "raise"
) -> Bag:
    """A lazy Dask bag of ``function(record)`` for each record, in the records' order, each computed
    on a worker (one task per record), which opens the record there by its path.

    A record that can not be read (opening it, or the function reading it, raises one of sigtrove's
    errors or an OSError) raises RecordError naming it (``errors="raise"``), or is left out of the
    bag with a RecordSkipped warning (``errors="skip"``). Any other exception the function raises is
    raised unchanged."""
    check_errors_choice(errors)
    if not callable(function):
        raise TypeError("map_records applies a function to each record, not %s" % type(function).__name__)
    sources = record_sources(database_or_records)
    if not sources:
        return cast(Bag, _from_sequence([], npartitions=1))
    return cast(Bag, _from_sequence(sources, partition_size=1).map_partitions(apply_to_records, function, errors))
