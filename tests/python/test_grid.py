"""Grid points as Python objects: codes_grib_get_data, the grid-point
iterator and the nearest-point searches, checked against an independent
NumPy haversine on synthetic and real fields."""
import gc
import math

import numpy as np
import pytest

import gribbuild as g
from conftest import testdata as data_file
from conftest import write
from vorlak import _vorlak as v

NEAREST_KEYS = ["lat", "lon", "value", "distance", "index"]
EARTH_RADIUS_KM = 6371.0088


def haversine_km(qlat, qlon, lats, lons):
    """Great-circle distance on the sphere, written out independently."""
    k = np.pi / 180.0
    lats = np.asarray(lats, dtype=np.float64)
    lons = np.asarray(lons, dtype=np.float64)
    a = np.sin((lons - qlon) * k * 0.5) ** 2 * (np.cos(lats * k) * np.cos(qlat * k)) + \
        np.sin((lats - qlat) * k * 0.5) ** 2
    return 2.0 * np.arctan2(np.sqrt(a), np.sqrt(1.0 - a)) * EARTH_RADIUS_KM


def grid_handle(tmp_path, ni, nj, la1, lo1, la2, lo2, di, dj, values=None, name="grid.grib2"):
    values = [float(i) for i in range(ni * nj)] if values is None else values
    grid = g.section3_latlon(ni=ni, nj=nj, la1=la1, lo1=lo1, la2=la2, lo2=lo2, di=di, dj=dj)
    data = g.grib2_message([g.section1(), grid, *g.field_simple(values, bits=16, D=1)])
    return v.codes_grib_new_from_file(write(tmp_path / name, data))


def lambert_handle(tmp_path):
    grid = g.section3_lambert(nx=3, ny=2, la1=20, lo1=250, dx_m=3000, dy_m=3000)
    data = g.grib2_message([g.section1(), grid, *g.field_simple([1.0, 2, 3, 4, 5, 6])])
    return v.codes_grib_new_from_file(write(tmp_path / "lambert.grib2", data))


def same_float(a, b):
    return (math.isnan(a) and math.isnan(b)) or a == b


def canon(dicts):
    """Result dicts as comparable tuples, NaN equal to NaN."""
    return [tuple((k, "NaN" if isinstance(x, float) and math.isnan(x) else x) for k, x in d.items())
            for d in dicts]


# The 4 x 3 handle of conftest: rows 60, 59, 58 N, columns 0..3 E.
EXPECTED_LATS = [60.0] * 4 + [59.0] * 4 + [58.0] * 4
EXPECTED_LONS = [0.0, 1.0, 2.0, 3.0] * 3


# ---------------------------------------------------------------- get_data and the iterator


def test_get_data_pairs_coordinates_with_values(handle):
    data = v.codes_grib_get_data(handle)
    assert type(data) is tuple and len(data) == 12
    values = v.codes_get_values(handle)
    assert [list(d) for d in data] == [["lat", "lon", "value"]] * 12
    assert [d["lat"] for d in data] == EXPECTED_LATS
    assert [d["lon"] for d in data] == EXPECTED_LONS
    assert [d["value"] for d in data] == list(values)
    assert list(v.codes_get_double_array(handle, "latitudes")) == EXPECTED_LATS
    assert all(type(x) is float for d in data for x in d.values())


def test_iterator_walks_the_points_then_empty_list_forever(handle):
    expected = [(d["lat"], d["lon"], d["value"]) for d in v.codes_grib_get_data(handle)]
    iterator = v.codes_grib_iterator_new(handle, 0)
    got = [v.codes_grib_iterator_next(iterator) for _ in range(12)]
    assert got == expected and all(type(p) is tuple for p in got)
    ends = [v.codes_grib_iterator_next(iterator) for _ in range(3)]
    assert ends == [[], [], []] and all(type(e) is list for e in ends)
    ends[0].append(1)  # each end marker is a new list
    assert v.codes_grib_iterator_next(iterator) == []


def test_iterator_outlives_its_handle(one_file):
    h = v.codes_grib_new_from_file(one_file)
    expected = [(d["lat"], d["lon"], d["value"]) for d in v.codes_grib_get_data(h)]
    iterator = v.codes_grib_iterator_new(h, 7)
    v.codes_release(h)
    del h
    gc.collect()
    assert v.codes_grib_iterator_delete(iterator) is None  # validation only
    got = []
    while point := v.codes_grib_iterator_next(iterator):
        got.append(point)
    assert got == expected


def test_missing_points_are_nan_everywhere(tmp_path):
    values = [1.0, math.nan, 3.0, 4.0, math.nan, 6.0]
    h = grid_handle(tmp_path, 3, 2, 10, 0, 9, 2, 1, 1, values=values)
    data = v.codes_grib_get_data(h)
    assert [math.isnan(d["value"]) for d in data] == [math.isnan(x) for x in values]
    iterator = v.codes_grib_iterator_new(h, 0)
    assert math.isnan(v.codes_grib_iterator_next(iterator)[2]) is False
    assert math.isnan(v.codes_grib_iterator_next(iterator)[2])
    hit = v.codes_grib_find_nearest(h, 10, 1)[0]
    assert hit["index"] == 1 and math.isnan(hit["value"]) and hit["distance"] == 0.0


def test_grid_without_coordinates_fails_without_partial_results(tmp_path):
    h = lambert_handle(tmp_path)
    for call in (lambda: v.codes_grib_get_data(h), lambda: v.codes_grib_iterator_new(h, 0),
                 lambda: v.codes_grib_find_nearest(h, 20, 250),
                 lambda: v.codes_grib_find_nearest_multiple(h, False, [20.0], [250.0])):
        with pytest.raises(v.KeyValueNotFoundError, match=r"^key 'latitudes' is not defined$"):
            call()
    # No query pairs: nothing to look up, so no error.
    assert v.codes_grib_find_nearest_multiple(h, False, [], []) == ()


# ---------------------------------------------------------------- nearest searches


def test_find_nearest_counts(handle):
    one = v.codes_grib_find_nearest(handle, 59.2, 1.1)
    assert len(one) == 1 and one[0]["index"] == 5
    assert v.codes_grib_find_nearest(handle, 59.2, 1.1, npoints=0) == one
    assert v.codes_grib_find_nearest(handle, 59.2, 1.1, False, 1) == one
    for count in (12, 13, 1000, 2**64 - 1):
        everything = v.codes_grib_find_nearest(handle, 59.2, 1.1, npoints=count)
        assert sorted(d["index"] for d in everything) == list(range(12))
        distances = [d["distance"] for d in everything]
        assert distances == sorted(distances)
    finder = v.codes_grib_nearest_new(handle)
    assert len(v.codes_grib_nearest_find(finder, handle, 59.2, 1.1, 0)) == 4
    assert v.codes_grib_nearest_find(finder, handle, 59.2, 1.1, 0, npoints=1) == one


def test_result_dict_layout(handle):
    (hit,) = v.codes_grib_find_nearest(handle, 58.6, 2.7)
    assert list(hit) == NEAREST_KEYS
    assert [type(hit[k]) for k in NEAREST_KEYS] == [float, float, float, float, int]
    assert (hit["lat"], hit["lon"], hit["index"]) == (59.0, 3.0, 7)
    assert hit["value"] == v.codes_get_values(handle)[7]
    assert hit["distance"] == pytest.approx(float(haversine_km(58.6, 2.7, 59.0, 3.0)), rel=1e-12)


def test_exact_position_comes_first_with_zero_distance(handle):
    for index in range(12):
        (hit,) = v.codes_grib_find_nearest(handle, EXPECTED_LATS[index], EXPECTED_LONS[index])
        assert hit["index"] == index and hit["distance"] == 0.0


def test_equal_distances_in_ascending_index_order(handle):
    # (59, 1.5) lies exactly between columns 1 and 2 of row 59 (indices 5, 6),
    # and likewise between 1 and 2 on rows 60 and 58.
    found = v.codes_grib_find_nearest(handle, 59.0, 1.5, npoints=12)
    assert [d["index"] for d in found[:2]] == [5, 6]
    assert found[0]["distance"] == found[1]["distance"]
    pairs = {}
    for position, d in enumerate(found):
        pairs.setdefault(d["distance"], []).append((position, d["index"]))
    for group in pairs.values():
        assert [i for _, i in group] == sorted(i for _, i in group)


@pytest.mark.parametrize("query", [(math.nan, 1.0), (59.0, math.nan), (math.nan, math.nan)])
def test_nan_query_gives_nan_distances_in_index_order(handle, query):
    found = v.codes_grib_find_nearest(handle, *query, npoints=20)
    assert [d["index"] for d in found] == list(range(12))
    assert all(math.isnan(d["distance"]) for d in found)
    (first,) = v.codes_grib_find_nearest_multiple(handle, False, [query[0]], [query[1]])
    assert first["index"] == 0


def test_longitude_370_finds_what_10_finds(tmp_path):
    h = grid_handle(tmp_path, 10, 3, 60, 5, 58, 14, 1, 1)
    # Off-centre queries: no two points tie, so rounding cannot swap them.
    for lat in (59.3, 58.2, 61.0):
        plain = v.codes_grib_find_nearest(h, lat, 10.3, npoints=6)
        wrapped = v.codes_grib_find_nearest(h, lat, 370.3, npoints=6)
        assert [d["index"] for d in wrapped] == [d["index"] for d in plain]
        for a, b in zip(plain, wrapped):
            assert b["distance"] == pytest.approx(a["distance"], rel=1e-9, abs=1e-9)
        assert v.codes_grib_find_nearest(h, lat, -349.7)[0]["index"] == plain[0]["index"]


@pytest.mark.parametrize("grid, query, expected", [
    ((2, 1, 0, 0, 0, 1, 1, 1), (0.0, 0.0), [0.0, 111.1950802335329]),
    ((1, 2, 90, 0, -90, 0, 1, 180), (90.0, 0.0), [0.0, 20015.114442035923]),
])
def test_reference_distances(tmp_path, grid, query, expected):
    h = grid_handle(tmp_path, *grid)
    found = v.codes_grib_find_nearest(h, *query, npoints=2)
    assert [d["distance"] for d in found] == pytest.approx(expected, rel=1e-12, abs=0)
    assert found[0]["distance"] == 0.0


def test_flags_mode_and_is_lsm_change_nothing(handle):
    base = v.codes_grib_find_nearest(handle, 59.4, 2.2, npoints=3)
    assert v.codes_grib_find_nearest(handle, 59.4, 2.2, True, 3) == base
    finder = v.codes_grib_nearest_new(handle)
    for flags in (0, -1, 2**31 - 1, -(2**31)):
        assert v.codes_grib_nearest_find(finder, handle, 59.4, 2.2, flags, True, 3) == base
    first = [v.codes_grib_iterator_next(v.codes_grib_iterator_new(handle, m)) for m in (0, 5, -(2**31))]
    assert first[0] == first[1] == first[2]
    assert v.codes_grib_nearest_delete(finder) is None
    assert v.codes_grib_nearest_find(finder, handle, 59.4, 2.2, 0, npoints=3) == base


class AsFloat:
    def __init__(self, x):
        self.x = x

    def __float__(self):
        return self.x


@pytest.mark.parametrize("lat, lon", [(59, 2), (AsFloat(59.0), AsFloat(2.0)), (np.float64(59), np.int64(2)),
                                      (True, 2.0)])
def test_query_coordinates_convert_as_floats(handle, lat, lon):
    expected = v.codes_grib_find_nearest(handle, float(lat), float(lon), npoints=2)
    assert v.codes_grib_find_nearest(handle, lat, lon, npoints=2) == expected
    assert v.codes_grib_find_nearest_multiple(handle, False, (lat,), [lon]) == expected[:1]


def test_multiple_is_one_search_per_pair(handle):
    lats = [60.0, 58.6, 59.2, math.nan, 0.0]
    lons = [0.0, 2.7, 361.1, 1.0, 180.0]
    got = v.codes_grib_find_nearest_multiple(handle, False, lats, lons)
    assert type(got) is tuple
    assert canon(got) == canon(v.codes_grib_find_nearest(handle, a, b)[0] for a, b in zip(lats, lons))
    assert canon(v.codes_grib_find_nearest_multiple(handle, False, np.array(lats), np.array(lons))) == canon(got)
    assert v.codes_grib_find_nearest_multiple(handle, True, [], []) == ()


@pytest.mark.parametrize("lats, lons", [([1.0], []), ([], [1.0]), ([1.0, 2.0], [1.0])])
def test_multiple_needs_equal_lengths(handle, lats, lons):
    with pytest.raises(v.InvalidNearestError, match=r"^inlats and inlons must have the same length$"):
        v.codes_grib_find_nearest_multiple(handle, False, lats, lons)


CALL_ERRORS = [
    (lambda h: v.codes_grib_find_nearest(h, "x", 0), TypeError, "argument 'inlat': "),
    (lambda h: v.codes_grib_find_nearest(h, 0, None), TypeError, "argument 'inlon': "),
    (lambda h: v.codes_grib_find_nearest(h, 0, 0, npoints=-1), OverflowError, "argument 'npoints': "),
    (lambda h: v.codes_grib_find_nearest(h, 0, 0, npoints=2**64), OverflowError, "argument 'npoints': "),
    (lambda h: v.codes_grib_find_nearest(h, 0, 0, npoints=1.0), TypeError, "argument 'npoints': "),
    (lambda h: v.codes_grib_find_nearest(h, 0, 0, is_lsm="yes"), TypeError, "argument 'is_lsm': "),
    (lambda h: v.codes_grib_find_nearest(h, 0), TypeError, ""),
    (lambda h: v.codes_grib_find_nearest(h, 0, 0, radius=3), TypeError, ""),
    (lambda h: v.codes_grib_nearest_find(h, h, 0, 0, 0), TypeError,
     "argument 'nid': 'CodesHandle' object cannot be converted to 'CodesNearest'"),
    (lambda h: v.codes_grib_nearest_find(v.codes_grib_nearest_new(h), h, 0, 0, 2**31), OverflowError,
     "argument 'flags': out of range integral type conversion attempted"),
    (lambda h: v.codes_grib_nearest_new(3), TypeError,
     "argument '_msgid': 'int' object cannot be converted to 'CodesHandle'"),
    (lambda h: v.codes_grib_iterator_new(h, 2**31), OverflowError, "argument 'mode': "),
    (lambda h: v.codes_grib_iterator_new(h, "0"), TypeError, "argument 'mode': "),
    (lambda h: v.codes_grib_iterator_next(h), TypeError,
     "argument 'iterid': 'CodesHandle' object cannot be converted to 'CodesGribIterator'"),
    (lambda h: v.codes_grib_iterator_delete(h), TypeError, "argument '_iterid': "),
    (lambda h: v.codes_grib_get_data(None), TypeError,
     "argument 'gribid': 'NoneType' object cannot be converted to 'CodesHandle'"),
    (lambda h: v.codes_grib_find_nearest_multiple(h, False, "ab", [1.0, 2.0]), TypeError,
     "argument 'inlats': Can't extract `str` to `Vec`"),
    (lambda h: v.codes_grib_find_nearest_multiple(h, False, [1.0], [object()]), TypeError,
     "argument 'inlons': "),
    (lambda h: v.codes_grib_find_nearest_multiple(h, None, [1.0], [1.0]), TypeError, "argument 'is_lsm': "),
]


@pytest.mark.parametrize("call, error, prefix", CALL_ERRORS)
def test_argument_errors(handle, call, error, prefix):
    with pytest.raises(error) as raised:
        call(handle)
    assert str(raised.value).startswith(prefix)


# ---------------------------------------------------------------- real fields against NumPy

REAL_FILES = [
    "ecmwf_soil_8vars_tiny.grib1",
    "gdas.t12z.pgrb2.0p25.f000.msg13.grib2",
    "multi_1.at_10m.t12z.f147.grib2",
    "ecmwf_20250912120000-0h-oper-fc.msg90.grib2",
]
QUERIES = [(0.0, 0.0), (51.5, -0.12), (-33.9, 151.2), (89.99, 10.0), (-90.0, 0.0), (40.0, 359.9),
           (12.3456, 200.5), (-60.0, -170.0)]


@pytest.mark.parametrize("name", REAL_FILES)
def test_nearest_agrees_with_numpy_haversine(name):
    with open(data_file(name), "rb") as f:
        h = v.codes_grib_new_from_file(f)
    lats = np.asarray(v.codes_get_double_array(h, "latitudes"))
    lons = np.asarray(v.codes_get_double_array(h, "longitudes"))
    values = np.asarray(v.codes_get_values(h))
    k = 4
    firsts = []
    for qlat, qlon in QUERIES:
        found = v.codes_grib_find_nearest(h, qlat, qlon, npoints=k)
        assert len(found) == min(k, lats.size)
        reference = haversine_km(qlat, qlon, lats, lons)
        smallest = np.partition(reference, k - 1)[:k]
        smallest.sort()
        got = np.array([d["distance"] for d in found])
        assert np.all(np.diff(got) >= 0)
        # Each returned point is what it claims to be ...
        for d in found:
            i = d["index"]
            assert d["lat"] == lats[i] and d["lon"] == lons[i] and same_float(d["value"], values[i])
            assert d["distance"] == pytest.approx(reference[i], rel=1e-12, abs=1e-9)
        # ... and no point is nearer than the ones returned.
        np.testing.assert_allclose(got, smallest, rtol=1e-12, atol=1e-9)
        firsts.append(found[0])
    qlats, qlons = zip(*QUERIES)
    assert canon(v.codes_grib_find_nearest_multiple(h, False, list(qlats), list(qlons))) == canon(firsts)


def test_get_data_of_a_real_field_matches_its_arrays():
    with open(data_file("ecmwf_soil_8vars_tiny.grib1"), "rb") as f:
        h = v.codes_grib_new_from_file(f)
    data = v.codes_grib_get_data(h)
    np.testing.assert_array_equal([d["lat"] for d in data], v.codes_get_double_array(h, "latitudes"))
    np.testing.assert_array_equal([d["lon"] for d in data], v.codes_get_double_array(h, "longitudes"))
    np.testing.assert_array_equal([d["value"] for d in data], v.codes_get_values(h))


def test_field_without_values():
    """A grid of 0 x 0 points: its coordinate arrays either are empty too
    (then the searches find nothing) or disagree with the values (then every
    function reports the inconsistency). Nothing partial either way."""
    grid = g.section3_latlon(ni=0, nj=0, la1=60, lo1=0, la2=58, lo2=3, di=1, dj=1)
    h = v.codes_new_from_message(g.grib2_message([g.section1(), grid, g.section4(),
                                                  g.section5(0, 0, 0.0, 0, 0, 16), g.section6(),
                                                  g.section7(b"")]))
    assert v.codes_get_size(h, "values") == 0
    calls = [lambda: v.codes_grib_get_data(h), lambda: v.codes_grib_iterator_new(h, 0),
             lambda: v.codes_grib_find_nearest(h, 0, 0), lambda: v.codes_grib_nearest_find(
                 v.codes_grib_nearest_new(h), h, 0, 0, 0)]
    if v.codes_get_size(h, "latitudes") == 0:
        assert [call() for call in calls[::2]] == [(), ()]
        assert v.codes_grib_iterator_next(calls[1]()) == []
        with pytest.raises(v.InvalidNearestError, match=r"^no grid points are available$"):
            v.codes_grib_find_nearest_multiple(h, False, [1.0], [2.0])
    else:
        calls.append(lambda: v.codes_grib_find_nearest_multiple(h, False, [1.0], [2.0]))
        for call in calls:
            with pytest.raises(v.CodesInternalError,
                               match=r"^latitudes, longitudes, and values arrays are inconsistent$"):
                call()
    assert v.codes_grib_find_nearest_multiple(h, False, [], []) == ()


def test_undecodable_field_reports_like_the_key_reads():
    # The coordinate keys of a field whose data cannot be decoded fall back
    # to the derived keys, which hold none: the searches fail as reading
    # "latitudes" does, before any value is needed.
    grid = g.section3_latlon(ni=4, nj=3, la1=60, lo1=0, la2=58, lo2=3, di=1, dj=1)
    h = v.codes_new_from_message(g.grib2_message([g.section1(), grid, g.section4(),
                                                  g.section5(41, 12, 0.0, 0, 0, 8), g.section6(),
                                                  g.section7(b"\x89PNG")]))
    with pytest.raises(v.CodesInternalError):
        v.codes_get_values(h)
    for call in (lambda: v.codes_grib_get_data(h), lambda: v.codes_grib_iterator_new(h, 0),
                 lambda: v.codes_grib_find_nearest(h, 60, 0, npoints=3)):
        with pytest.raises(v.KeyValueNotFoundError, match=r"^key 'latitudes' is not defined$"):
            call()
