"""The keys iterator: the names it lists, advancing, reading, rewinding,
codes_skip_computed and the five skips that change nothing."""
import gc

import pytest

import gribbuild as g
from conftest import grib1_message, latlon_message, write
from conftest import testdata as data_file
from vorlak import _vorlak as v

COMPUTED = {
    "values", "latitudes", "longitudes", "distinctLatitudes", "distinctLongitudes", "cfName", "cfVarName",
    "paramId", "gridDefinitionDescription", "centreDescription", "validityDate", "validityTime",
}
COORDINATE_NAMES = [
    "distinctLatitudes", "latitudes", "distinctLongitudes", "longitudes", "latitudeOfFirstGridPointInDegrees",
    "latitudeOfLastGridPointInDegrees", "longitudeOfFirstGridPointInDegrees",
    "longitudeOfLastGridPointInDegrees", "iDirectionIncrementInDegrees", "jDirectionIncrementInDegrees",
]
NOT_POSITIONED = "iterator is not currently positioned on a key"
NO_EFFECT_SKIPS = [v.codes_skip_coded, v.codes_skip_duplicates, v.codes_skip_edition_specific,
                   v.codes_skip_function, v.codes_skip_read_only]


def lambert_message():
    grid = g.section3_lambert(nx=3, ny=2, la1=20, lo1=250, dx_m=3000, dy_m=3000)
    return g.grib2_message([g.section1(), grid, *g.field_simple([1.0, 2, 3, 4, 5, 6])])


def names_of(iterator):
    out = []
    while v.codes_keys_iterator_next(iterator):
        out.append(v.codes_keys_iterator_get_name(iterator))
    return out


@pytest.fixture(params=["grib2_latlon", "grib2_gaussian", "grib1_latlon", "grib2_lambert"])
def any_handle(request, tmp_path):
    if request.param == "grib2_latlon":
        data = latlon_message()
    elif request.param == "grib2_gaussian":
        grid = g.section3_gaussian(ni=4, nj=2, n=1, la1=35.26, lo1=0, la2=-35.26, lo2=270, di=90)
        data = g.grib2_message([g.section1(), grid, *g.field_simple([float(i) for i in range(8)])])
    elif request.param == "grib1_latlon":
        data = grib1_message()
    else:
        data = lambert_message()
    return v.codes_grib_new_from_file(write(tmp_path / "m.grib", data))


def test_names_sorted_unique_with_the_always_listed(any_handle):
    names = names_of(v.codes_keys_iterator_new(any_handle))
    # str order of these ASCII names is the byte order of their UTF-8.
    assert names == sorted(set(names))
    assert [n.encode() for n in names] == sorted(n.encode() for n in names)
    assert {"values", "numberOfMissing", "edition", "shortName"} <= set(names)
    upper = [i for i, n in enumerate(names) if n[0].isupper()]
    lower = [i for i, n in enumerate(names) if n[0].islower()]
    if upper:
        assert max(upper) < min(lower)


def test_coordinate_names_on_latlon_and_gaussian_only(tmp_path, handle):
    names = names_of(v.codes_keys_iterator_new(handle))
    for name in COORDINATE_NAMES:
        assert names.count(name) == 1
    lambert = v.codes_grib_new_from_file(write(tmp_path / "l.grib2", lambert_message()))
    lambert_names = names_of(v.codes_keys_iterator_new(lambert))
    assert "latitudes" not in lambert_names and "distinctLongitudes" not in lambert_names


@pytest.mark.parametrize("namespace", ["", "ls", "mars", "geography", "anything at all"])
def test_every_namespace_lists_the_same(handle, namespace):
    expected = names_of(v.codes_keys_iterator_new(handle))
    assert names_of(v.codes_keys_iterator_new(handle, namespace)) == expected
    assert names_of(v.codes_keys_iterator_new(handle, namespace=namespace)) == expected
    assert names_of(v.codes_keys_iterator_new(handle, None)) == expected


@pytest.mark.parametrize("namespace", [5, b"ls", ["ls"]])
def test_namespace_must_be_str_or_none(handle, namespace):
    with pytest.raises(TypeError, match=r"^argument 'namespace': "):
        v.codes_keys_iterator_new(handle, namespace)


def test_next_counts_then_false_forever(handle):
    iterator = v.codes_keys_iterator_new(handle)
    count = len(names_of(v.codes_keys_iterator_new(handle)))
    results = [v.codes_keys_iterator_next(iterator) for _ in range(count + 3)]
    assert results == [True] * count + [False] * 3
    assert all(type(r) is bool for r in results)


def test_get_name_only_while_positioned(handle):
    iterator = v.codes_keys_iterator_new(handle)
    with pytest.raises(v.InvalidKeysIteratorError, match=f"^{NOT_POSITIONED}$"):
        v.codes_keys_iterator_get_name(iterator)
    assert v.codes_keys_iterator_next(iterator)
    first = v.codes_keys_iterator_get_name(iterator)
    assert v.codes_keys_iterator_get_name(iterator) == first  # reading does not advance
    while v.codes_keys_iterator_next(iterator):
        pass
    with pytest.raises(v.InvalidKeysIteratorError, match=f"^{NOT_POSITIONED}$"):
        v.codes_keys_iterator_get_name(iterator)
    assert v.codes_keys_iterator_rewind(iterator) is None
    with pytest.raises(v.InvalidKeysIteratorError):
        v.codes_keys_iterator_get_name(iterator)
    assert v.codes_keys_iterator_next(iterator)
    assert v.codes_keys_iterator_get_name(iterator) == first


def test_skip_computed_drops_the_twelve_and_rewinds(handle):
    full = names_of(v.codes_keys_iterator_new(handle))
    iterator = v.codes_keys_iterator_new(handle)
    v.codes_keys_iterator_next(iterator)
    v.codes_keys_iterator_next(iterator)
    assert v.codes_skip_computed(iterator) is None
    with pytest.raises(v.InvalidKeysIteratorError, match=f"^{NOT_POSITIONED}$"):
        v.codes_keys_iterator_get_name(iterator)
    trimmed = names_of(iterator)
    assert trimmed == [n for n in full if n not in COMPUTED]
    assert "numberOfMissing" in trimmed and "latitudeOfFirstGridPointInDegrees" in trimmed
    v.codes_skip_computed(iterator)
    assert names_of(iterator) == trimmed


@pytest.mark.parametrize("skip", NO_EFFECT_SKIPS, ids=lambda f: f.__name__)
def test_other_skips_change_nothing(handle, skip):
    full = names_of(v.codes_keys_iterator_new(handle))
    iterator = v.codes_keys_iterator_new(handle)
    v.codes_keys_iterator_next(iterator)
    v.codes_keys_iterator_next(iterator)
    assert skip(iterator) is None
    assert v.codes_keys_iterator_get_name(iterator) == full[1]
    assert names_of(iterator) == full[2:]
    with pytest.raises(TypeError, match=r"^argument '_iterid': 'CodesHandle' object cannot be converted to "
                                        r"'CodesKeysIterator'$"):
        skip(handle)


def test_iterator_outlives_its_handle(one_file):
    h = v.codes_grib_new_from_file(one_file)
    expected = names_of(v.codes_keys_iterator_new(h))
    iterator = v.codes_keys_iterator_new(h)
    v.codes_release(h)
    del h
    gc.collect()
    assert names_of(iterator) == expected
    assert v.codes_keys_iterator_delete(iterator) is None
    v.codes_keys_iterator_rewind(iterator)  # still usable after delete
    assert names_of(iterator) == expected


@pytest.mark.parametrize("function", [v.codes_keys_iterator_next, v.codes_keys_iterator_get_name,
                                      v.codes_keys_iterator_rewind, v.codes_skip_computed],
                         ids=lambda f: f.__name__)
def test_iterator_argument_checked(handle, function):
    with pytest.raises(TypeError, match=r"^argument 'iterid': 'CodesHandle' object cannot be converted to "
                                        r"'CodesKeysIterator'$"):
        function(handle)
    with pytest.raises(TypeError, match=r"^argument 'msgid': 'int' object cannot be converted to "
                                        r"'CodesHandle'$"):
        v.codes_keys_iterator_new(3)


def test_real_file_lists_its_keys():
    path = data_file("ecmwf_soil_8vars_tiny.grib1")
    with open(path, "rb") as f:
        h = v.codes_grib_new_from_file(f)
    names = names_of(v.codes_keys_iterator_new(h))
    assert names == sorted(set(names))
    assert [n for n in names if not v.codes_is_defined(h, n)] == []
