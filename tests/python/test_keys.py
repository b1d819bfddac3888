"""Key reads: typed readers, codes_get with a requested kind, arrays and who
owns them, elements, sizes, the two predicates and the exact error texts."""
import gc

import numpy as np
import pytest

import gribbuild as g
from conftest import grid_values, latlon_message, write
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
                            capture_output=True, text=True, timeout=120)
    assert result.stdout.splitlines() == ["2", "ImportError Failed to access NumPy array API capsule"], \
        result.stderr
