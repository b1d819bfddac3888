"""The corpus runner's work bound (tools/run_corpus.py): which messages may
decode to their whole grid whatever their size, and the verdict on a
case's points and memory against the bytes of its message."""
import pytest

import gribbuild as g
import run_corpus as rc
from conftest import grib1_message, latlon_message


def grib1_with_bitmap():
    grid = g.gds_latlon(ni=4, nj=3, la1=60, lo1=0, la2=58, lo2=3, di=1, dj=1)
    present = [k % 3 != 0 for k in range(12)]
    values = [float(k) for k in range(12) if present[k]]
    return g.grib1_message(g.pds(has_bms=True), grid, g.bms(present), g.bds_simple(values, bits=8))


def grib1_constant():
    grid = g.gds_latlon(ni=4, nj=3, la1=60, lo1=0, la2=58, lo2=3, di=1, dj=1)
    return g.grib1_message(g.pds(), grid, None, g.bds_raw(5.0, 0, 0, b"", count=12))


def grib2_constant():
    grid = g.section3_latlon(ni=4, nj=3, la1=60, lo1=0, la2=58, lo2=3, di=1, dj=1)
    return g.grib2_message([g.section1(), grid, g.section4(), g.section5(0, 12, 1.0), g.section6(),
                            g.section7(b"")])


def grib2_packed_as(template):
    grid = g.section3_latlon(ni=4, nj=3, la1=60, lo1=0, la2=58, lo2=3, di=1, dj=1)
    return g.grib2_message([g.section1(), grid, g.section4(), g.section5(template, 12, 1.0, bits=8), g.section6(),
                            g.section7(b"\1" * 12)])


@pytest.mark.parametrize("make, expected", [
    (latlon_message, False),
    (grib1_message, False),
    (grib2_constant, True),
    (grib1_constant, True),
    (grib1_with_bitmap, True),
    (lambda: b"GRIB\0\0\0" + b"\0" * 9 + grib2_constant(), True),  # behind a false start
    (lambda: latlon_message() + grib2_constant(), True),            # any message of the buffer
    (lambda: grib2_constant()[:30], False),                          # cut before section 5
    (lambda: grib2_packed_as(41), True),   # PNG and run-length packing compress without a bound
    (lambda: grib2_packed_as(200), True),
    (lambda: grib2_packed_as(40), False),
    (lambda: b"", False),
    (lambda: b"GRIB\xff\xff\xff\x02" + b"\xff" * 40, False),
])
def test_grid_sized_exceptions(make, expected):
    assert rc.grid_sized(make()) is expected


def test_work_verdict():
    data = latlon_message()
    bound = rc.points_bound(data)
    assert bound == rc.VALUES_PER_OCTET * len(data)
    assert rc.points_bound(b"GRIB") == rc.MIN_POINTS  # a tiny message may still describe a small grid
    work = rc.Work()
    assert work.note(list(range(bound))) is not None and work.largest == bound
    assert rc.work_verdict(data, work, growth=0) is None
    work.note(range(bound + 1))
    assert rc.work_verdict(data, work, growth=0).startswith(f"handed out an array of {bound + 1} points")
    within = rc.Work()
    assert rc.work_verdict(data, within, growth=rc.memory_bound(bound)) is None
    assert "peak resident memory grew" in rc.work_verdict(data, within, growth=rc.memory_bound(bound) + 1)
    assert rc.work_verdict(data, within, growth=None) is None  # where the peak cannot be measured
    # A constant field may reach the grid limit, with memory to match.
    assert rc.points_bound(grib2_constant()) == rc.GRID_LIMIT
    big = rc.Work()
    big.note(range(1 << 20))
    assert rc.work_verdict(grib2_constant(), big, growth=8 << 20) is None
    assert rc.work_verdict(data, big, growth=8 << 20) is not None
