"""Attributes that hand out an object the record or entry keeps must give a new
reference each time: a missing increment frees the kept object after a few reads.
Each check runs in a fresh process, so such a fault shows as a failure, not a crash
of the suite."""

import pytest

CHECKS = {
    "Record.name": """
record = sigtrove.Record(%r)
kept = record.record
before = sys.getrefcount(kept)
for _ in range(5000):
    record.name
report(before=before, after=sys.getrefcount(kept), same=record.name is kept)
""",
    "AnnotationEntry.aux": """
kept = "".join(["(A", "FIB"])
entry = sigtrove.AnnotationEntry(0, 1, aux=kept)
before = sys.getrefcount(kept)
for _ in range(5000):
    entry.aux
report(before=before, after=sys.getrefcount(kept), same=entry.aux is kept)
""",
}


@pytest.mark.parametrize("attribute", CHECKS, ids=list(CHECKS))
def test_reading_an_attribute_many_times_keeps_its_reference_count(child, records, attribute):
    out = child(CHECKS[attribute] % str(records / "100") if "%r" in CHECKS[attribute] else CHECKS[attribute])
    assert out["same"], "the attribute hands out the object it keeps"
    assert out["after"] == out["before"]
