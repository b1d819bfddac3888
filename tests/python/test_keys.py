"""Key reads: typed readers, codes_get with a requested kind, arrays and who
owns them, elements, sizes, the two predicates and the exact error texts."""
import gc
import json
import os
import subprocess
import sys

import numpy as np
import pytest

import gribbuild as g
from conftest import HANG_GUARD_SECONDS, ROOT, grid_values, latlon_message, write
from conftest import testdata as data_file
from vorlak import _vorlak as v

NO_COERCION = "string and bytes array coercions are not implemented"


@pytest.fixture
def msg():
    """4 x 3 grid on 60N..58N, 0E..3E, from bytes."""
    return v.codes_new_from_message(latlon_message())


@pytest.fixture
def broken(tmp_path):
    """A 3 x 4 grid whose data section is too short to decode."""
    fields = g.field_simple([1.0] * 12, bits=16)
    fields[-1] = g.section7(b"\x01")
    grid = g.section3_latlon(ni=3, nj=4, la1=60, lo1=0, la2=57, lo2=2, di=1, dj=1)
    return v.codes_new_from_message(g.grib2_message([g.section1(), grid, *fields]))


# ---------------------------------------------------------------- typed readers

@pytest.mark.parametrize("function, key, expected", [
    (v.codes_get_long, "edition", 2),
    (v.codes_get_long, "level", 850),              # a double, truncated
    (v.codes_get_long, "stepRange", 0),            # a string holding digits
    (v.codes_get_double, "edition", 2.0),
    (v.codes_get_double, "level", 850.0),
    (v.codes_get_string, "edition", "2"),
    (v.codes_get_string, "level", "850"),
    (v.codes_get_string, "missingValue", "9999"),
    (v.codes_get_string, "shortName", "t"),
])
def test_typed_readers(msg, function, key, expected):
    got = function(msg, key)
    assert type(got) is type(expected) and got == expected


@pytest.mark.parametrize("function, key, text", [
    (v.codes_get_long, "shortName", "key 'shortName' cannot be read as long; actual type is string"),
    (v.codes_get_double, "shortName", "key 'shortName' cannot be read as double; actual type is string"),
    (v.codes_get_long, "values", "key 'values' cannot be read as long; actual type is double_array"),
    (v.codes_get_double, "values", "key 'values' cannot be read as double; actual type is double_array"),
    (v.codes_get_string, "values", "key 'values' cannot be read as string; actual type is double_array"),
    (v.codes_get_long_array, "edition", "key 'edition' cannot be read as double_array; actual type is long"),
    (v.codes_get_float_array, "level", "key 'level' cannot be read as double_array; actual type is double"),
    (v.codes_get_double_array, "shortName",
     "key 'shortName' cannot be read as double_array; actual type is string"),
])
def test_type_mismatch_texts(msg, function, key, text):
    with pytest.raises(v.InvalidTypeError) as info:
        function(msg, key)
    assert str(info.value) == text and info.value.args == (text,)


@pytest.mark.parametrize("function", [
    v.codes_get_long, v.codes_get_double, v.codes_get_string, v.codes_get, v.codes_get_array,
    v.codes_get_size, v.codes_get_string_array, v.codes_get_native_type, v.codes_get_string_length,
    v.codes_get_double_array,
])
def test_unknown_keys(msg, function):
    for key in ("noSuchKey", "Edition", "EDITION", ""):
        with pytest.raises(v.KeyValueNotFoundError) as info:
            function(msg, key)
        assert str(info.value) == f"key '{key}' is not defined"


@pytest.mark.parametrize("function", [v.codes_get_long, v.codes_get, v.codes_is_defined, v.codes_is_missing])
def test_key_must_be_str(msg, function):
    with pytest.raises(TypeError, match="^argument 'key': 'bytes' object cannot be converted to 'PyString'$"):
        function(msg, b"edition")
    with pytest.raises(TypeError, match="^argument 'msgid': 'str' object cannot be converted to 'CodesHandle'$"):
        function("edition", "edition")
    with pytest.raises(UnicodeEncodeError):  # a lone surrogate has no UTF-8 form
        function(msg, "\ud800")


def test_keyword_arguments(msg):
    assert v.codes_get_long(msgid=msg, key="edition") == 2
    assert v.codes_get(msg, key="edition", ktype=str) == "2"
    assert v.codes_get_values(gribid=msg, ktype=None).size == 12
    with pytest.raises(TypeError):
        v.codes_get_long(msg, name="edition")
    with pytest.raises(TypeError):
        v.codes_get_long(msg)


# ---------------------------------------------------------------- codes_get and ktype

class Named:
    def __init__(self, text):
        self.text = text

    def __str__(self):
        return self.text


@pytest.mark.parametrize("ktype, expected", [
    (None, 2),
    (int, 2),
    (float, 2.0),
    (str, "2"),
    (bytes, b"2"),
    (np.float32, 2.0),
    (np.int64, 2),
    ("double", 2),         # no rule: native
    ("long", 2),
    ("string", "2"),
    ("pointer", 2),        # contains "int"
    ("UNICODE", "2"),
    ("Float64", 2.0),
    ("BYTES", b"2"),
    (Named("my int"), 2),
    (3, 2),
])
def test_ktype_rules_on_a_long(msg, ktype, expected):
    got = v.codes_get(msg, "edition", ktype)
    assert type(got) is type(expected) and got == expected


@pytest.mark.parametrize("key, ktype, expected", [
    ("level", None, 850.0),
    ("level", int, 850),
    ("level", str, "850"),
    ("level", bytes, b"850"),
    ("level", np.float32, 850.0),
    ("shortName", None, "t"),
    ("shortName", bytes, b"t"),
    ("stepRange", int, 0),
    ("stepRange", float, 0.0),
    ("missingValue", str, "9999"),
])
def test_ktype_rules_on_doubles_and_strings(msg, key, ktype, expected):
    got = v.codes_get(msg, key, ktype)
    assert type(got) is type(expected) and got == expected


def test_string_coercion_errors(msg):
    with pytest.raises(v.InvalidTypeError, match="^cannot coerce string to int$"):
        v.codes_get(msg, "shortName", int)
    with pytest.raises(v.InvalidTypeError, match="^cannot coerce string to float$"):
        v.codes_get(msg, "shortName", float)
    with pytest.raises(v.InvalidTypeError, match="^cannot coerce string to float$"):
        v.codes_get(msg, "shortName", "float32")


def test_ktype_str_failure_is_raised(msg):
    class Unprintable:
        def __str__(self):
            raise ZeroDivisionError("no text")
    with pytest.raises(ZeroDivisionError):
        v.codes_get(msg, "edition", Unprintable())


def test_values_ktype_rules(msg):
    expected = np.array(grid_values(4, 3))
    for ktype in (None, float, "float64", np.float64):
        view = v.codes_get(msg, "values", ktype)
        assert view.dtype == np.float64 and not view.flags.writeable and view.base is msg
        np.testing.assert_allclose(view, expected, atol=0.05)
    ints = v.codes_get(msg, "values", int)
    assert ints.dtype == np.int64 and ints.flags.writeable and ints.flags.owndata
    assert ints.tolist() == [int(x) for x in v.codes_get(msg, "values")]
    f32 = v.codes_get(msg, "values", "Float32")
    assert f32.dtype == np.float32 and f32.flags.owndata
    for ktype in (str, bytes, "str"):
        with pytest.raises(v.InvalidTypeError, match=f"^{NO_COERCION}$"):
            v.codes_get(msg, "values", ktype)
        with pytest.raises(v.InvalidTypeError, match=f"^{NO_COERCION}$"):
            v.codes_get_array(msg, "values", ktype)


def test_array_keys_by_kind(msg):
    lats = v.codes_get(msg, "latitudes")
    assert lats.dtype == np.float64 and lats.flags.writeable and lats.flags.owndata
    assert lats.tolist() == [60.0] * 4 + [59.0] * 4 + [58.0] * 4
    assert v.codes_get(msg, "longitudes").tolist() == [0.0, 1.0, 2.0, 3.0] * 3
    assert v.codes_get(msg, "distinctLatitudes", int).dtype == np.int64
    assert v.codes_get_array(msg, "distinctLongitudes", "float32").dtype == np.float32
    with pytest.raises(v.InvalidTypeError, match=f"^{NO_COERCION}$"):
        v.codes_get(msg, "latitudes", str)


# ---------------------------------------------------------------- arrays and ownership

def test_values_view_is_shared_read_only_and_keeps_the_handle(msg):
    a = v.codes_get(msg, "values")
    b = v.codes_get_values(msg)
    c = v.codes_get_double_array(msg, "values")
    d = v.codes_get_array(msg, "values")
    for arr in (b, c, d):
        assert np.shares_memory(a, arr) and arr.base is msg
    with pytest.raises(ValueError, match="read-only"):
        a[0] = 1.0
    with pytest.raises(ValueError):
        b.setflags(write=True)
    before = a.copy()
    del msg, b, c, d
    gc.collect()
    assert a.tolist() == before.tolist()
    assert a.base is not None and type(a.base).__name__ == "CodesHandle"


def test_values_view_survives_the_last_reference(one_file):
    arr = v.codes_get_values(v.codes_grib_new_from_file(one_file))
    v.codes_grib_cache_clear()
    gc.collect()
    assert arr.size == 12 and np.isfinite(arr).all()


@pytest.mark.parametrize("function, dtype", [
    (v.codes_get_float_array, np.float32),
    (v.codes_get_long_array, np.int64),
])
def test_other_arrays_own_their_data(msg, function, dtype):
    arr = function(msg, "values")
    assert arr.dtype == dtype and arr.flags.owndata and arr.flags.writeable and arr.base is None
    arr[0] = 0
    assert v.codes_get_values(msg)[0] != 0
    lats = function(msg, "latitudes")
    assert lats.dtype == dtype and lats.flags.owndata


def test_double_array_of_other_keys_is_an_owned_copy(msg):
    lats = v.codes_get_double_array(msg, "latitudes")
    assert lats.flags.owndata and lats.flags.writeable
    lats[:] = 0
    assert v.codes_get_double_array(msg, "latitudes")[0] == 60.0


@pytest.mark.parametrize("values, expected", [
    ([2.7, -2.7, float("nan"), 0.5, -0.5, 123.4], [2, -2, 0, 0, 0, 123]),
    ([1e30] * 6, [2**63 - 1] * 6),
    ([-1e30] * 6, [-2**63] * 6),
])
def test_int64_conversion_truncates_and_saturates(values, expected):
    h = v.codes_new_from_message(latlon_message(ni=3, nj=2, values=values, bits=16 if len(set(values)) > 1 else 0))
    assert v.codes_get_long_array(h, "values").tolist() == expected
    assert v.codes_get_array(h, "values", int).tolist() == expected
    np.testing.assert_array_equal(v.codes_get_float_array(h, "values"), v.codes_get_values(h).astype(np.float32))


def test_array_of_a_scalar_key(msg):
    with pytest.raises(v.InvalidTypeError) as info:
        v.codes_get_array(msg, "edition")
    assert str(info.value) == "key 'edition' is not an array; got long"
    with pytest.raises(v.InvalidTypeError, match="^key 'shortName' is not an array; got string$"):
        v.codes_get_array(msg, "shortName", int)


def test_string_array(msg):
    assert v.codes_get_string_array(msg, "edition") == ("2",)
    assert v.codes_get_string_array(msg, "shortName") == ("t",)
    assert v.codes_get_string_array(msg, "level") == ("850",)
    assert v.codes_get_string_array(msg, "distinctLongitudes") == ("0", "1", "2", "3")
    assert type(v.codes_get_string_array(msg, "values")) is tuple


# ---------------------------------------------------------------- elements

def test_elements(msg):
    values = v.codes_get_values(msg).tolist()
    assert v.codes_get_double_element(msg, "values", 5) == values[5]
    assert v.codes_get_double_elements(msg, "values", [11, 0, 5, 0]) == [values[11], values[0], values[5],
                                                                          values[0]]
    assert v.codes_get_elements(msg, "values", (1,)) == [values[1]]
    assert v.codes_get_elements(msg, "latitudes", np.array([0, 4, 8])) == [60.0, 59.0, 58.0]
    assert v.codes_get_double_elements(msg, "values", []) == []


@pytest.mark.parametrize("call, error, text", [
    (lambda h: v.codes_get_double_elements(h, "values", [0, 10**9]), v.CodesInternalError,
     "index 1000000000 is out of bounds for key 'values'"),
    (lambda h: v.codes_get_elements(h, "values", [12]), v.CodesInternalError,
     "index 12 is out of bounds for key 'values'"),
    (lambda h: v.codes_get_double_element(h, "distinctLatitudes", 3), v.CodesInternalError,
     "index 3 is out of bounds for key 'distinctLatitudes'"),
    (lambda h: v.codes_get_double_element(h, "values", -1), OverflowError, "argument 'index': "),
    (lambda h: v.codes_get_double_element(h, "values", 2**64), OverflowError, "argument 'index': "),
    (lambda h: v.codes_get_double_element(h, "values", 1.0), TypeError, "argument 'index': "),
    (lambda h: v.codes_get_double_elements(h, "values", "01"), TypeError,
     "argument 'indexes': Can't extract `str` to `Vec`"),
    (lambda h: v.codes_get_double_elements(h, "values", [0, -1]), OverflowError, "argument 'indexes': "),
    (lambda h: v.codes_get_double_elements(h, "values", [0.5]), TypeError, "argument 'indexes': "),
    (lambda h: v.codes_get_double_elements(h, "values", 3), TypeError,
     "argument 'indexes': 'int' object cannot be converted to 'Sequence'"),
    (lambda h: v.codes_get_double_element(h, "edition", 0), v.InvalidTypeError,
     "key 'edition' cannot be read as double_array; actual type is long"),
])
def test_element_errors(msg, call, error, text):
    with pytest.raises(error) as info:
        call(msg)
    assert str(info.value).startswith(text) and type(info.value) is error


# ---------------------------------------------------------------- sizes and predicates

@pytest.mark.parametrize("key, expected", [
    ("values", 12),
    ("latitudes", 12),
    ("longitudes", 12),
    ("distinctLatitudes", 3),
    ("distinctLongitudes", 4),
    ("edition", 1),
    ("level", 1),
    ("shortName", 1),
    ("name", len("Temperature")),
])
def test_sizes(msg, key, expected):
    assert v.codes_get_size(msg, key) == expected


def test_size_of_values_never_decodes(broken):
    assert v.codes_get_size(broken, "values") == 12
    with pytest.raises(v.CodesInternalError):
        v.codes_get_values(broken)
    assert v.codes_get_size(broken, "values") == 12
    with pytest.raises(v.CodesInternalError):
        v.codes_get_size(broken, "latitudes")
    with pytest.raises(v.CodesInternalError):
        v.codes_get_size(broken, "distinctLongitudes")


def test_reduced_gaussian_grib1_size_is_the_sum_of_its_rows():
    # Ni is 0xFFFF on such grids: Ni x Nj would claim 65535 points a row.
    rows = [4, 8, 8, 4]
    lats = g.gaussian_latitudes(2)
    grid = g.gds_latlon(ni=0, nj=4, la1=lats[0], lo1=0, la2=lats[-1], lo2=315, di=0, dj=0, gaussian_n=2, pl=rows)
    values = [float(i) for i in range(sum(rows))]
    h = v.codes_new_from_message(g.grib1_message(g.pds(), grid, None, g.bds_simple(values, bits=16)))
    assert v.codes_get(h, "gridType") == "reduced_gg"
    assert v.codes_get_size(h, "values") == v.codes_get(h, "numberOfValues") == v.codes_get(h, "numberOfPoints") == 24
    assert v.codes_get_values(h).size == 24


def test_thinned_lat_lon_grib1_size_is_the_sum_of_its_rows():
    # GDS type 0 with Ni 0xFFFF and a points-per-row list: no axes, values in one row.
    rows = [10, 7, 2]
    grid = g.gds_latlon(ni=0, nj=3, la1=0, lo1=0, la2=90, lo2=90, di=0, dj=45, pl=rows)
    values = [float(i) for i in range(sum(rows))]
    h = v.codes_new_from_message(g.grib1_message(g.pds(), grid, None, g.bds_simple(values, bits=16)))
    assert v.codes_get_size(h, "values") == v.codes_get(h, "numberOfValues") == v.codes_get(h, "numberOfPoints") == 19
    assert list(v.codes_get_values(h)) == values
    with pytest.raises(v.KeyValueNotFoundError):
        v.codes_get_array(h, "latitudes")


@pytest.mark.parametrize("template, extra", [(40, {"N": 2}), (0, {"jDirectionIncrement": 60000000})])
def test_quasi_regular_grib2_size_is_the_sum_of_its_rows(template, extra):
    # Ni is all ones on such grids: Ni x Nj would claim 2^32 - 1 points a row.
    rows = [6, 12, 4]
    section3 = g.template_section(3, template, {
        "numberOfDataPoints": 22, "shapeOfTheEarth": 6, "Ni": g.MISSING, "Nj": 3,
        "latitudeOfFirstGridPoint": 60000000, "latitudeOfLastGridPoint": -60000000,
        "longitudeOfLastGridPoint": 330000000, "iDirectionIncrement": g.MISSING, "pl": rows, **extra})
    values = [float(i) for i in range(sum(rows))]
    h = v.codes_new_from_message(g.grib2_message([g.section1(), section3, *g.field_simple(values, bits=8)]))
    assert v.codes_get(h, "gridType") == ("reduced_gg" if template == 40 else "reduced_ll")
    assert v.codes_get_size(h, "values") == v.codes_get(h, "numberOfValues") == v.codes_get(h, "numberOfPoints") == 22
    assert list(v.codes_get_values(h)) == values
    with pytest.raises(v.KeyValueNotFoundError):
        v.codes_get_array(h, "latitudes")


@pytest.mark.parametrize("template, octet", [(1, 72), (31, 65), (90, 64), (41, 72)])
def test_every_grid_template_reads_its_scanning_mode_at_its_own_octet(template, octet):
    section3 = bytearray(g.template_section(3, template, {"Ni": 4, "Nj": 3} if template in (1, 41) else
                                            {"Nx": 4, "Ny": 3}))
    section3[octet - 1] = 0x40
    h = v.codes_new_from_message(g.grib2_message([g.section1(), bytes(section3),
                                                  *g.field_simple([float(i) for i in range(12)], bits=8)]))
    assert v.codes_get(h, "jScansPositively") == 1
    assert v.codes_get(h, "iScansNegatively") == 0
    # Points of rotated and projected grids are not plain latitudes and longitudes.
    with pytest.raises(v.KeyValueNotFoundError):
        v.codes_get_array(h, "latitudes")


def test_rotated_hrdps_scans_northwards():
    with open(data_file("20260219T00Z_MSC_HRDPS_CAPE_Sfc_RLatLon0.0225_PT000H.grib2"), "rb") as f:
        h = v.codes_grib_new_from_file(f)
    assert v.codes_get(h, "gridType") == "rotated_ll"
    assert v.codes_get(h, "jScansPositively") == 1
    with pytest.raises(v.KeyValueNotFoundError):
        v.codes_get_array(h, "longitudes")


def test_decode_failure_is_kept(broken):
    errors = []
    for call in (v.codes_get_values, lambda h: v.codes_get(h, "values"), v._benchmark_force_decode_values,
                 lambda h: v.codes_get_double_element(h, "values", 0),
                 lambda h: v.codes_get_long(h, "numberOfMissing")):
        with pytest.raises(v.CodesInternalError) as info:
            call(broken)
        assert type(info.value) is v.CodesInternalError
        errors.append(str(info.value))
    assert len(set(errors)) == 1 and errors[0]
    assert v.codes_get_long(broken, "edition") == 2
    assert v.codes_is_missing(broken, "values") is False


def test_is_defined(msg, broken):
    for key in ("edition", "shortName", "values", "numberOfMissing", "latitudes", "distinctLongitudes",
                "iDirectionIncrementInDegrees", "longitudeOfLastGridPointInDegrees"):
        assert v.codes_is_defined(msg, key) is True, key
        assert v.codes_is_defined(broken, key) is True, key
    for key in ("noSuchKey", "Values", "", "latitude"):
        assert v.codes_is_defined(msg, key) is False, key


def test_is_defined_on_a_grid_without_coordinates():
    h = v.codes_new_from_message(g.grib2_message([
        g.section1(), g.section3_polar(nx=3, ny=2), *g.field_simple([1.0] * 6, bits=8)]))
    assert v.codes_is_defined(h, "values") is True
    assert v.codes_is_defined(h, "latitudes") is False
    assert v.codes_is_defined(h, "distinctLatitudes") is False
    with pytest.raises(v.KeyValueNotFoundError, match="^key 'distinctLatitudes' is not defined$"):
        v.codes_get_size(h, "distinctLatitudes")


def test_is_missing_is_always_false(msg, broken):
    for key in ("edition", "values", "noSuchKey"):
        assert v.codes_is_missing(msg, key) is False
    assert v.codes_is_missing(broken, "values") is False


def test_string_length(msg):
    assert v.codes_get_string_length(msg, "edition") == 256
    assert v.codes_get_string_length(msg, "name") == 256
    long_text = v.codes_get_string(msg, "centreDescription")
    assert len(long_text.encode()) >= 33
    assert v.codes_get_string_length(msg, "centreDescription") == 1025


@pytest.mark.parametrize("centre, key, text, expected", [
    (7, "name", "Time-maximum 10 metre wind speed", 256),  # 32 bytes
    (74, "centreDescription", "UK Meteorological Office - Exeter", 1025),  # 33 bytes
])
def test_string_length_boundary(centre, key, text, expected):
    grid = g.section3_latlon(ni=4, nj=3, la1=60, lo1=0, la2=58, lo2=3, di=1, dj=1)
    fields = g.field_simple(grid_values(4, 3), category=2, number=1, level_type=103, level=10)
    h = v.codes_new_from_message(g.grib2_message([g.section1(centre=centre), grid, *fields]))
    assert v.codes_get_string(h, key) == text
    assert v.codes_get_string_length(h, key) == expected


def test_native_types(msg):
    assert v.codes_get_native_type(msg, "edition") is int
    assert v.codes_get_native_type(msg, "level") is float
    assert v.codes_get_native_type(msg, "shortName") is str
    assert v.codes_get_native_type(msg, "values") is float


def test_benchmark_functions(msg, broken):
    assert v._benchmark_force_decode_values(msg) == 12
    assert v._benchmark_force_decode_values(msg) == 12
    assert v._benchmark_decode_values_uncached(msg) == 12
    assert v._benchmark_decode_values_uncached(msgid=msg) == 12
    with pytest.raises(v.CodesInternalError):
        v._benchmark_decode_values_uncached(broken)
    with pytest.raises(TypeError, match="^argument 'msgid': "):
        v._benchmark_force_decode_values(None)


def test_missing_points_are_nan(tmp_path):
    values = grid_values(4, 3)
    values[2] = float("nan")
    values[7] = float("nan")
    h = v.codes_new_from_message(latlon_message(values=values))
    got = v.codes_get_values(h)
    assert np.isnan(got[[2, 7]]).all() and np.isfinite(np.delete(got, [2, 7])).all()
    assert v.codes_get_long(h, "numberOfMissing") == 2
    assert v.codes_get_long_array(h, "values")[2] == 0  # NaN converts to 0


def test_real_file_values():
    from conftest import testdata
    path = testdata("CMC_glb_TMP_ISBL_1_latlon.24x.24_2021051800_P000.grib2")
    h = v.codes_grib_new_from_file(path)
    size = v.codes_get_size(h, "values")
    try:
        values = v.codes_get_values(h)
    except v.CodesInternalError as e:
        pytest.skip(f"decoder not available here: {e}")
    assert values.size == size and not values.flags.writeable


def test_decoding_starts_no_threads():
    """The codes API decodes every template, large fields included, on the
    calling thread: a fresh interpreter has as many threads after decoding
    every real file as before."""
    from conftest import ROOT, TESTDATA
    if not os.path.isdir(TESTDATA):
        pytest.skip(f"no {TESTDATA}")
    script = """
import os, sys
from vorlak import _vorlak as v
def threads():
    return len(os.listdir('/proc/self/task'))
before = threads()
decoded = 0
for name in sorted(os.listdir(sys.argv[1])):
    if not name.endswith(('.grib1', '.grib2')):
        continue
    with open(os.path.join(sys.argv[1], name), 'rb') as f:
        while (h := v.codes_grib_new_from_file(f)) is not None:
            try:
                v.codes_get_values(h)
                decoded += 1
            except v.CodesInternalError:
                pass
            v.codes_release(h)
print(before, threads(), decoded)
"""
    env = dict(os.environ, PYTHONPATH=ROOT, OPJ_NUM_THREADS="4")
    out = subprocess.run([sys.executable, "-c", script, TESTDATA], env=env, capture_output=True, text=True, check=True)
    before, after, decoded = map(int, out.stdout.split())
    assert decoded > 0
    assert after == before


def test_numpy_that_cannot_load_gives_a_clear_error(tmp_path):
    import os
    import subprocess
    import sys
    from conftest import ROOT
    path = write(tmp_path / "a.grib2", latlon_message())
    code = f"""
import sys
sys.modules["numpy.core.multiarray"] = None
sys.modules["numpy.core._multiarray_umath"] = None
from vorlak import _vorlak as v
h = v.codes_grib_new_from_file({path!r})
print(v.codes_get_long(h, "edition"))
try:
    v.codes_get_values(h)
except Exception as e:
    print(type(e).__name__, e)
"""
    result = subprocess.run([sys.executable, "-c", code], env=dict(os.environ, PYTHONPATH=ROOT),
                            capture_output=True, text=True, timeout=HANG_GUARD_SECONDS)
    assert result.stdout.splitlines() == ["2", "ImportError Failed to access NumPy array API capsule"], \
        result.stderr


# ---------------------------------------------------------------- real files, read octet by octet
# The keys a reader looks at first, checked against what the octets of each
# message say, read here without the module. Names follow the parameter
# rules for the combinations these files hold: (centre, discipline,
# category, number, level type) for edition 2, (table version, parameter)
# for edition 1.
REAL_FILES = ["20260219T00Z_MSC_HRDPS_CAPE_Sfc_RLatLon0.0225_PT000H.grib2",
              "CMC_glb_TMP_ISBL_1_latlon.24x.24_2021051800_P000.grib2",
              "MRMS_MergedRhoHV_19.00_20260219-042039.grib2",
              "aqm.t12z.ave_1hr_o3-AK-polar-stereographic.grib2", "aqm.t12z.ave_1hr_o3-HI-mercator.grib2",
              "ecmwf-ifs-oper-surface.grib2", "ecmwf_20250912120000-0h-oper-fc.msg90.grib2",
              "ecmwf_soil_8vars_tiny.grib1", "gdas.t00z.sfluxgrbf000.msg1.grib2",
              "gdas.t12z.pgrb2.0p25.f000.msg13.grib2", "gfs.t12z.pgrb2.0p25.f023-PV-TMP-missing.grib2",
              "hrrr.t06z.wrfsfcf01-UGRD.grib2",
              "icon_global_icosahedral_single-level_2021112018_000_TOT_PREC.grib2",
              "jma_kousa_dust_multifield.grib2", "jma_meps_pall_fh00-15_first20fields.grib2",
              "jma_tornado_nowcast_runlength.grib2", "meteofrance.arome-TCDC.grib2",
              "multi_1.at_10m.t12z.f147.grib2", "ncep_plottrak.grib1", "ndfd_critfireo.grib2",
              "s2s-pdt12-pdt107-anomaly.grib2", "s2s-pdt9-pdt10-pdt12.grib2"]

SHORT_NAMES = {
    (54, 0, 7, 6, 1): "cape", (54, 0, 0, 0, 100): "t", (161, 209, 9, 3, 102): "MergedRhoHV",
    (7, 0, 14, 193, 104): "ozcon", (98, 0, 19, 192, 1): "unknown", (98, 0, 1, 19, 1): "prate",
    (98, 0, 1, 61, 1): "sden", (98, 0, 1, 254, 1): "unknown", (98, 0, 6, 192, 1): "unknown",
    (98, 0, 1, 52, 1): "tprate", (7, 0, 3, 5, 105): "gh", (7, 0, 2, 224, 220): "vrate",
    (7, 0, 0, 0, 109): "t", (7, 0, 2, 2, 103): "10u", (78, 0, 1, 52, 1): "tprate",
    (34, 0, 13, 193, 1): "unknown", (34, 0, 2, 3, 100): "v", (34, 0, 193, 0, 1): "unknown",
    (85, 0, 6, 1, 1): "tcc", (7, 0, 2, 1, 1): "ws", (7, 0, 2, 0, 1): "wdir", (7, 0, 2, 2, 1): "u",
    (7, 0, 2, 3, 1): "v", (7, 10, 0, 3, 1): "swh", (7, 10, 0, 4, 1): "mwp", (7, 10, 0, 5, 1): "mwd",
    (7, 10, 0, 6, 1): "wvper", (7, 10, 0, 7, 241): "swdir", (7, 10, 0, 8, 241): "swell",
    (7, 10, 0, 9, 241): "swper", (7, 10, 0, 10, 1): "dirpw", (7, 10, 0, 11, 1): "perpw",
    (8, 0, 192, 192, 1): "unknown", (7, 0, 0, 0, 103): "2t", (7, 0, 0, 0, 100): "t",
    (128, 39): "swvl1", (128, 40): "swvl2", (128, 41): "swvl3", (128, 42): "swvl4", (128, 139): "stl1",
    (128, 170): "stl2", (128, 183): "stl3", (128, 236): "stl4", (2, 33): "u",
}
LEVEL_NAMES_2 = {1: "surface", 100: "isobaricInhPa", 102: "heightAboveSea", 103: "heightAboveGround",
                 104: "sigma", 105: "hybrid", 109: "potentialVorticity", 220: "planetaryBoundaryLayer",
                 241: "orderedSequenceOfData"}
LEVEL_NAMES_1 = {100: "isobaricInhPa", 112: "depthBelowLandLayer"}
GRID_TYPES = {0: "regular_ll", 1: "rotated_ll", 10: "mercator", 20: "polar_stereographic", 30: "lambert",
              40: "regular_gg"}
PACKING = {0: "grid_simple", 2: "grid_complex", 3: "grid_complex_spatial_differencing", 40: "grid_jpeg",
           42: "grid_ccsds"}
SECONDS_PER_UNIT = {0: 60, 1: 3600}
# Statistically processed templates: the octet of the year of the end of
# the overall time interval; the outermost time range follows 12 octets on
# (process, increment type, unit, 4-octet length in two's complement).
END_OF_INTERVAL = {8: 35, 9: 48, 10: 36, 11: 38, 12: 37, 107: 35}
STEP_TYPES = {0: "avg", 1: "accum", 2: "max", 3: "min"}


def _octets(b, n, count):  # octets n .. n+count-1 (1-based) as one big-endian number
    return int.from_bytes(b[n - 1:n - 1 + count], "big")


def _framed_messages(data):
    at = data.find(b"GRIB")
    while at >= 0:
        length = _octets(data, at + 9, 8) if data[at + 7] == 2 else _octets(data, at + 5, 3)
        yield data[at:at + length]
        at = data.find(b"GRIB", at + length)


def _grib2_expected(msg):
    """The last occurrence of each section describes the message."""
    facts = {"centre": None, "discipline": msg[6]}
    pos = 16
    while msg[pos:pos + 4] != b"7777":
        s = msg[pos:pos + _octets(msg, pos + 1, 4)]
        if s[4] == 1:
            facts["centre"] = _octets(s, 6, 2)
            facts["date"] = (_octets(s, 13, 2), s[14], s[15], s[16], s[17])
        elif s[4] == 3:
            facts["template"] = _octets(s, 13, 2)
            # A grid without rows and columns (3.101): one row of all its points.
            facts["ni_nj"] = (_octets(s, 31, 4), _octets(s, 35, 4)) if len(s) > 37 else (_octets(s, 7, 4), 1)
        elif s[4] == 4:
            facts["parameter"] = (s[9], s[10])
            end = END_OF_INTERVAL.get(_octets(s, 8, 2))
            facts["statistical"] = None
            if end:
                outermost = end + 12
                length = _octets(s, outermost + 3, 4)
                facts["statistical"] = {
                    "end": (_octets(s, end, 2),) + tuple(s[end + 1:end + 6]),
                    "process": s[outermost - 1], "unit": s[outermost + 1],
                    "length": length - (1 << 32) if length >> 31 else length,
                }
            facts["unit"], facts["step"], facts["level_type"] = s[17], _octets(s, 19, 4), s[22]
            factor, scaled = s[23], _octets(s, 25, 4)
            if scaled == 0xFFFFFFFF:
                level = 0.0
            else:
                # Both signed fields are WMO sign-magnitude; factors 0xC0 and up are
                # two's complement as some writers use.
                factor = factor if factor < 0x80 else -(factor & 0x7F) if factor < 0xC0 else factor - 256
                magnitude = scaled & 0x7FFFFFFF
                level = (-magnitude if scaled >> 31 else magnitude) / 10.0 ** factor
            if facts["level_type"] == 100 and level >= 100:
                level /= 100
            facts["level"] = level
        elif s[4] == 5:
            facts["packing"] = _octets(s, 10, 2)
        pos += len(s)
    category, number = facts["parameter"]
    grid = facts["template"]
    return facts, {
        "shortName": SHORT_NAMES[(facts["centre"], facts["discipline"], category, number, facts["level_type"])],
        "typeOfLevel": LEVEL_NAMES_2.get(facts["level_type"], "unknown"),
        "level": facts["level"],
        "gridType": GRID_TYPES.get(grid, f"unknown_{grid}"),
        "packingType": PACKING.get(facts["packing"], "unknown"),
        "Nx": facts["ni_nj"][0], "Ny": facts["ni_nj"][1],
        "centre": facts["centre"], "discipline": facts["discipline"],
        "parameterCategory": category, "parameterNumber": number,
    }


def _grib1_expected(msg):
    pds = msg[8:8 + _octets(msg, 9, 3)]
    gds = msg[8 + len(pds):]
    century, year = pds[24], pds[12]
    level_type = pds[9]
    facts = {"date": (century * 100 + year - 100, pds[13], pds[14], pds[15], pds[16]),
             "unit": pds[17], "step": pds[18]}
    return facts, {
        "shortName": SHORT_NAMES[(pds[3], pds[8])],
        "typeOfLevel": LEVEL_NAMES_1[level_type],
        "level": float(pds[10] if level_type == 112 else _octets(pds, 11, 2)),
        "gridType": {0: "regular_ll"}[gds[5]],  # GDS type 0: template 0
        "packingType": "grid_simple",
        "Nx": _octets(gds, 7, 2), "Ny": _octets(gds, 9, 2),
        "centre": pds[4], "table2Version": pds[3], "indicatorOfParameter": pds[8],
    }


@pytest.mark.parametrize("name", REAL_FILES)
def test_real_file_keys_match_their_octets(name):
    import datetime
    from conftest import testdata
    path = testdata(name)
    with open(path, "rb") as f:
        messages = list(_framed_messages(f.read()))
    assert v.codes_count_in_file(path) == len(messages)
    with open(path, "rb") as f:
        for number, msg in enumerate(messages, start=1):
            h = v.codes_grib_new_from_file(f)
            facts, expected = (_grib2_expected if msg[7] == 2 else _grib1_expected)(msg)
            year, month, day, hour, minute = facts["date"]
            reference = datetime.datetime(year, month, day, hour, minute)
            unit = SECONDS_PER_UNIT[facts["unit"]]
            valid = reference + datetime.timedelta(seconds=facts["step"] * unit)
            step_range = str(facts["step"])
            stat = facts.get("statistical")
            if stat:
                # Valid at the stated end of the interval, which began the
                # outermost range's length before it.
                valid = datetime.datetime(*stat["end"])
                end_step = int((valid - reference).total_seconds()) // unit
                start_step = end_step - abs(stat["length"]) * SECONDS_PER_UNIT[stat["unit"]] // unit
                step_range = str(end_step) if start_step == end_step else f"{start_step}-{end_step}"
                expected.update(startStep=start_step, endStep=end_step, stepType=STEP_TYPES[stat["process"]])
            expected.update(dataDate=int(reference.strftime("%Y%m%d")), dataTime=hour * 100 + minute,
                            validityDate=int(valid.strftime("%Y%m%d")), validityTime=valid.hour * 100 + valid.minute,
                            stepRange=step_range, stepUnits=facts["unit"], edition=msg[7],
                            totalLength=len(msg), messageNumber=number)
            got = {key: v.codes_get(h, key) for key in expected}
            assert got == pytest.approx(expected), f"message {number}"
            assert v.codes_get_message(h) == msg
        assert v.codes_grib_new_from_file(f) is None


# ------------------------------------- work of array keys, rewritten Gaussian rows

def gaussian_message(ni, n, nj=None, bits=12):
    """A global Gaussian grid of `ni` x 2n points; `nj` rewrites the row
    count the grid states (the values still fill 2n rows). bits=0 makes a
    constant field of no payload."""
    lats = g.gaussian_latitudes(n)
    grid = bytearray(g.section3_gaussian(ni=ni, nj=2 * n, n=n, la1=lats[0], lo1=0, la2=lats[-1],
                                         lo2=360 - 360 / ni, di=360 / ni))
    if nj is not None:
        grid[34:38] = nj.to_bytes(4, "big")  # octets 35-38
    count = ni * 2 * n
    if bits:
        fields = g.field_simple([float(k % 97) for k in range(count)], bits=bits)
    else:
        fields = [g.section4(), g.section5(0, count, 1.0), g.section6(), g.section7(b"")]
    return g.grib2_message([g.section1(), bytes(grid), *fields])


@pytest.mark.parametrize("nj", [2 ** 24, 2 ** 32 - 1, 1, 0])
def test_gaussian_rows_rewritten_decode_the_rows_the_values_fill(nj):
    # The values fill 2N rows whatever Nj says: the field, its axes and its
    # coordinate arrays are those of the honest grid; the header keys keep
    # what the header says.
    honest = v.codes_new_from_message(gaussian_message(16, 4))
    h = v.codes_new_from_message(gaussian_message(16, 4, nj=nj))
    assert v.codes_get(h, "Ny") == nj
    assert v.codes_get(h, "numberOfPoints") == v.codes_get_size(h, "values") == 16 * nj
    for key in ("values", "latitudes", "longitudes", "distinctLatitudes", "distinctLongitudes"):
        np.testing.assert_array_equal(v.codes_get_array(h, key), v.codes_get_array(honest, key))
    assert v.codes_get_size(h, "latitudes") == 16 * 8


# Run in a fresh interpreter whose allocator maps every large block afresh
# (a fixed mmap threshold), so that the peak resident set shows the large
# arrays a call builds. Prints, per step, the bytes the peak grew by.
WORK_PROBE = """
import json, sys
sys.path.insert(0, "tools")
sys.path.insert(0, "tests/python")
from test_keys import gaussian_message
from vorlak import _vorlak as v


def peak_growth(action):
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")  # resets the peak resident set to the current one

    def status(field):
        with open("/proc/self/status") as f:
            return next(int(line.split()[1]) * 1024 for line in f if line.startswith(field))

    before = status("VmRSS:")
    kept = action()
    grown = status("VmHWM:") - before
    del kept
    return grown


h = v.codes_new_from_message(gaussian_message(2048, 512, bits=0))
v.codes_get_values(h)  # decoded once, before measuring


def describe():
    for key in ("values", "latitudes", "longitudes"):
        v.codes_get_native_type(h, key)
        v.codes_is_missing(h, key)
        v.codes_get_size(h, key)
        for read in (v.codes_get_string, v.codes_get_long, v.codes_get_double):
            try:
                read(h, key)
            except v.InvalidTypeError:
                pass


grown = {"describe": peak_growth(describe)}
for read in (v.codes_get, v.codes_get_array, v.codes_get_double_array):
    for key in ("latitudes", "longitudes"):
        grown[read.__name__ + " " + key] = peak_growth(lambda: read(h, key))
print(json.dumps(grown))
"""


def test_array_keys_are_built_once_and_only_when_asked_for():
    # A work bound, not a time bound: on a 2^21-point field (16 MiB an
    # array) the reads that only describe a key build no array, and each
    # array read builds its array once, in the array handed out.
    if not os.access("/proc/self/clear_refs", os.W_OK):
        pytest.skip("the peak resident set cannot be reset here")
    env = dict(os.environ, PYTHONPATH=ROOT, MALLOC_MMAP_THRESHOLD_=str(1 << 20))
    done = subprocess.run([sys.executable, "-c", WORK_PROBE], capture_output=True, text=True, env=env, cwd=ROOT,
                          timeout=HANG_GUARD_SECONDS)
    assert done.returncode == 0, done.stderr[-800:]
    grown = json.loads(done.stdout)
    array_bytes = 16 << 20
    assert grown.pop("describe") < array_bytes // 4
    for step, size in grown.items():
        assert array_bytes * 0.9 < size < array_bytes * 1.4, (step, size)
