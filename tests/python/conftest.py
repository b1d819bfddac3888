"""Shared fixtures: small GRIB files made with tools/gribbuild.py, the real
files of ../shared/testdata when present, and a file cache reset around
the tests that look at it."""
import math
import os
import sys

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools"))

import gribbuild as g  # noqa: E402

from vorlak import _vorlak as v  # noqa: E402

TESTDATA = os.path.join(os.path.dirname(ROOT), "shared", "testdata")
# Hang guard for the tests that run a fresh interpreter: far above any honest
# run on a loaded machine, it only stops a hung child. No test limits speed.
HANG_GUARD_SECONDS = 300
DEFAULT_MAX_ENTRIES = 32
DEFAULT_MAX_BYTES = 512 * 1024 * 1024


def grid_values(ni, nj, base=280.0):
    return [base + 0.5 * i - 0.25 * j for j in range(nj) for i in range(ni)]


def latlon_message(ni=4, nj=3, values=None, level=85000, bits=16, D=1, number=0):
    """A GRIB2 message on a regular grid 60N/0E, one degree apart, simply packed."""
    values = grid_values(ni, nj) if values is None else values
    grid = g.section3_latlon(ni=ni, nj=nj, la1=60, lo1=0, la2=60 - (nj - 1), lo2=ni - 1, di=1, dj=1)
    fields = g.field_simple(values, bits=bits, D=D, category=0, number=number, level_type=100, level=level)
    return g.grib2_message([g.section1(year=2024, month=5, day=1, hour=12), grid, *fields])


def grib1_message(ni=4, nj=3, level=500):
    grid = g.gds_latlon(ni=ni, nj=nj, la1=60, lo1=0, la2=60 - (nj - 1), lo2=ni - 1, di=1, dj=1)
    return g.grib1_message(g.pds(parameter=130, level_type=100, level=level, year=2024, month=5, day=1, hour=12,
                                 D=1), grid, None, g.bds_simple(grid_values(ni, nj), bits=16, D=1))


def write(path, *chunks):
    with open(path, "wb") as f:
        for chunk in chunks:
            f.write(chunk)
    return str(path)


@pytest.fixture
def messages():
    """Three GRIB2 messages told apart by their level (850, 700, 500 hPa)."""
    return [latlon_message(level=85000), latlon_message(level=70000), latlon_message(level=50000, ni=5, nj=2)]


@pytest.fixture
def one_file(tmp_path, messages):
    return write(tmp_path / "one.grib2", messages[0])


@pytest.fixture
def two_file(tmp_path, messages):
    return write(tmp_path / "two.grib2", messages[0], messages[1])


@pytest.fixture
def three_file(tmp_path, messages):
    return write(tmp_path / "three.grib2", *messages)


@pytest.fixture
def handle(one_file):
    """A handle on a 4 x 3 latitude/longitude GRIB2 field."""
    return v.codes_grib_new_from_file(one_file)


@pytest.fixture
def fresh_cache():
    """An empty, enabled cache with the default limits, restored afterwards."""
    def reset():
        v.codes_grib_cache_set_enabled(True)
        v.codes_grib_cache_set_limits(DEFAULT_MAX_ENTRIES, DEFAULT_MAX_BYTES)
        v.codes_grib_cache_clear()
    reset()
    yield
    reset()


def testdata(name):
    path = os.path.join(TESTDATA, name)
    if not os.path.exists(path):
        pytest.skip(f"{name} not present")
    return path


def is_nan(x):
    return isinstance(x, float) and math.isnan(x)


def pytest_configure(config):
    config.addinivalue_line("markers", "distributed: starts a dask LocalCluster of worker processes "
                                       "(deselect with -m 'not distributed')")
