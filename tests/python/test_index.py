"""The message index: building from files, distinct values, the selection
conversions and type hints, and walking the matching messages."""
import gc
import math
import pathlib

import numpy as np
import pytest

import gribbuild as g
from conftest import testdata as data_file
from conftest import write
from vorlak import _vorlak as v


def field(category=0, number=0, level_hpa=850, values=None):
    """A 4 x 3 GRIB2 field on an isobaric level (stored in Pa)."""
    values = [280.0 + i for i in range(12)] if values is None else values
    grid = g.section3_latlon(ni=4, nj=3, la1=60, lo1=0, la2=58, lo2=3, di=1, dj=1)
    fields = g.field_simple(values, bits=16, D=1, category=category, number=number, level_type=100,
                            level=level_hpa * 100)
    return g.grib2_message([g.section1(), grid, *fields])


T, U = (0, 0), (2, 2)  # temperature, u wind
# (parameter, level in hPa) of the messages of `mixed`, in file order.
MIXED = [(T, 850), (U, 850), (T, 500), (U, 500), (T, 1000), (T, 925)]


@pytest.fixture
def mixed(tmp_path):
    return write(tmp_path / "mixed.grib2", *(field(*p, level_hpa=lev) for p, lev in MIXED))


@pytest.fixture
def tut(tmp_path):
    return write(tmp_path / "tut.grib2", field(*T), field(*U), field(*T, level_hpa=500))


def walk(index):
    """(shortName, level) of every handle the walk yields."""
    out = []
    while (h := v.codes_new_from_index(index)) is not None:
        out.append((v.codes_get(h, "shortName"), v.codes_get_long(h, "level")))
    return out


def expected(short_name=None, level=None):
    names = {T: "t", U: "u"}
    return [(names[p], lev) for p, lev in MIXED
            if (short_name is None or names[p] == short_name) and (level is None or lev == level)]


# ---------------------------------------------------------------- distinct values


def test_distinct_values_of_t_u_t(tut):
    index = v.codes_index_new_from_file(tut, ["shortName"])
    assert v.codes_index_get_string(index, "shortName") == ("t", "u")
    assert v.codes_index_get(index, "shortName") == ("t", "u")
    assert v.codes_index_get_size(index, "shortName") == 2
    assert v.codes_index_get_long(index, "shortName") == ()
    assert v.codes_index_get_double(index, "shortName") == ()
    assert v.codes_index_get_string(index, "noSuchKey") == ()
    assert v.codes_index_get_size(index, "noSuchKey") == 0


@pytest.mark.parametrize("ktype, result", [
    (None, ("1000", "500", "850", "925")),
    (str, ("1000", "500", "850", "925")),
    (bytes, ("1000", "500", "850", "925")),
    ("unknown", ("1000", "500", "850", "925")),
    (int, (500, 850, 925, 1000)),
    ("INT64", (500, 850, 925, 1000)),
    (float, (500.0, 850.0, 925.0, 1000.0)),
    ("float32", (500.0, 850.0, 925.0, 1000.0)),
    (np.float64, (500.0, 850.0, 925.0, 1000.0)),
])
def test_get_with_type_selector(mixed, ktype, result):
    index = v.codes_index_new_from_file(mixed, ["level"])
    got = v.codes_index_get(index, "level", ktype)
    assert got == result and [type(x) for x in got] == [type(x) for x in result]
    assert v.codes_index_get(index, "level", ktype=ktype) == result


def test_typed_gets_sort_their_own_way(mixed):
    index = v.codes_index_new_from_file(mixed, [])
    assert v.codes_index_get_long(index, "level") == (500, 850, 925, 1000)
    assert v.codes_index_get_double(index, "level") == (500.0, 850.0, 925.0, 1000.0)
    assert v.codes_index_get_string(index, "level") == ("1000", "500", "850", "925")  # byte-wise
    assert v.codes_index_get_size(index, "level") == 4
    # The key need not be an index key, and selections do not narrow the gets.
    v.codes_index_select_string(index, "shortName", "u")
    assert v.codes_index_get_string(index, "shortName") == ("t", "u")


def test_distinct_values_of_a_computed_key(tmp_path):
    values = [math.nan, 1.0] + [2.0] * 10
    path = write(tmp_path / "missing.grib2", field(*T), field(*T, level_hpa=500, values=values))
    index = v.codes_index_new_from_file(path, ["numberOfMissing"])
    assert v.codes_index_get_long(index, "numberOfMissing") == (0, 1)
    v.codes_index_select(index, "numberOfMissing", 1)
    assert walk(index) == [("t", 500)]


# ---------------------------------------------------------------- selecting and walking


@pytest.mark.parametrize("keys", [["shortName", "level"], ["level", "shortName"], ["shortName", "level:l"],
                                  ["shortName:s", "level:d"], ["shortName", "level", "level"]])
def test_walk_after_selecting_every_key(mixed, keys):
    index = v.codes_index_new_from_file(mixed, keys)
    v.codes_index_select(index, "shortName", "t")
    assert v.codes_new_from_index(index) is None  # level not selected yet
    v.codes_index_select(index, "level", 850)
    assert walk(index) == expected("t", 850)
    assert v.codes_new_from_index(index) is None
    assert v.codes_new_from_index(index) is None
    v.codes_index_select(index, "level", 500)  # replaces, restarts
    assert walk(index) == expected("t", 500)
    v.codes_index_select_string(index, "shortName", "u")
    assert walk(index) == expected("u", 500)


def test_empty_keys_walk_every_message_in_file_order(mixed):
    index = v.codes_index_new_from_file(mixed, [])
    assert walk(index) == expected()
    assert v.codes_new_from_index(index) is None
    # A selection on any key name filters further.
    v.codes_index_select_long(index, "level", 850)
    assert walk(index) == expected(level=850)


def test_selection_on_a_non_index_key_filters(mixed):
    index = v.codes_index_new_from_file(mixed, ("shortName",))
    v.codes_index_select(index, "shortName", "t")
    assert walk(index) == expected("t")
    v.codes_index_select_double(index, "level", 925)
    assert walk(index) == expected("t", 925)


def test_gets_do_not_move_the_cursor(mixed):
    index = v.codes_index_new_from_file(mixed, [])
    first = v.codes_new_from_index(index)
    assert v.codes_get_long(first, "level") == 850
    v.codes_index_get_string(index, "level")
    v.codes_index_get_size(index, "shortName")
    assert v.codes_index_release(index) is None  # validation only
    assert walk(index) == expected()[1:]


# How each key text converts the value given to codes_index_select, and
# whether the stored value then matches the messages at 850 hPa.
HINTS = [
    ("level", 850, True),
    ("level", np.int64(850), True),
    ("level", 850.0, True),
    ("level", "850", True),       # text "850", exactly as the level reads
    ("level", "850.0", False),    # text, which no level reads as
    ("level", True, False),       # the integer 1
    ("level:s", "850", True),
    ("level:str", "850", True),
    ("level:", "850", True),
    ("level:l", 850, True),
    ("level:L", np.int32(850), True),
    ("level:i", True, False),
    ("level:d", 850, True),
    ("level:F", "850", TypeError),
    ("level:l", "850", TypeError),
    ("level:I", 850.0, TypeError),
    ("level:l", 2**63, OverflowError),
]


@pytest.mark.parametrize("key_text, value, outcome", HINTS)
def test_select_conversion_by_type_hint(mixed, key_text, value, outcome):
    index = v.codes_index_new_from_file(mixed, [key_text])
    if isinstance(outcome, type):
        with pytest.raises(outcome) as raised:
            v.codes_index_select(index, "level", value)
        assert not str(raised.value).startswith("argument")
        assert v.codes_new_from_index(index) is None  # nothing was selected
        return
    assert v.codes_index_select(index, "level", value) is None
    assert walk(index) == (expected(level=850) if outcome else [])


class AsFloat:
    def __float__(self):
        return 850.0


def test_untyped_select_order(mixed):
    index = v.codes_index_new_from_file(mixed, ["level"])
    v.codes_index_select(index, "level", AsFloat())
    assert walk(index) == expected(level=850)
    with pytest.raises(TypeError, match=r"^'list' object cannot be converted to 'PyString'$"):
        v.codes_index_select(index, "level", [850])
    # A failed select changes nothing: not the selection, not the cursor.
    assert v.codes_new_from_index(index) is None
    v.codes_index_select_string(index, "shortName", "u")
    assert walk(index) == expected("u", 850)


@pytest.mark.parametrize("select, value, matches", [
    (v.codes_index_select_double, 850.0000000005, True),
    (v.codes_index_select_double, 849.9999999995, True),
    (v.codes_index_select_double, 850.00001, False),
    (v.codes_index_select_double, math.nan, False),
    (v.codes_index_select, 850.0000000005, True),
    (v.codes_index_select, 850.00001, False),
])
def test_float_selection_tolerance(mixed, select, value, matches):
    index = v.codes_index_new_from_file(mixed, ["level"])
    select(index, "level", value)
    assert walk(index) == (expected(level=850) if matches else [])


TYPED_ERRORS = [
    (v.codes_index_select_long, 850.0, TypeError, "argument 'value': "),
    (v.codes_index_select_long, "850", TypeError, "argument 'value': "),
    (v.codes_index_select_long, 2**63, OverflowError,
     "argument 'value': out of range integral type conversion attempted"),
    (v.codes_index_select_double, "850", TypeError, "argument 'value': "),
    (v.codes_index_select_string, 850, TypeError,
     "argument 'value': 'int' object cannot be converted to 'PyString'"),
    (v.codes_index_select, None, TypeError, "'NoneType' object cannot be converted to 'PyString'"),
]


@pytest.mark.parametrize("select, value, error, prefix", TYPED_ERRORS)
def test_select_errors(mixed, select, value, error, prefix):
    index = v.codes_index_new_from_file(mixed, [])
    with pytest.raises(error) as raised:
        select(index, "level", value)
    assert str(raised.value).startswith(prefix)
    assert len(walk(index)) == len(MIXED)


@pytest.mark.parametrize("select, value, level", [
    (v.codes_index_select_long, np.int64(925), 925),
    (v.codes_index_select_long, True, 1),
    (v.codes_index_select_double, 925, 925),
    (v.codes_index_select_double, AsFloat(), 850),
    (v.codes_index_select_string, "925", 925),
])
def test_typed_select_accepts(mixed, select, value, level):
    index = v.codes_index_new_from_file(mixed, [])
    select(index, "level", value)
    assert walk(index) == expected(level=level)


# ---------------------------------------------------------------- files


def test_add_file_twice_lists_messages_twice(mixed):
    index = v.codes_index_new_from_file(mixed, ["shortName"])
    v.codes_index_select(index, "shortName", "u")
    v.codes_new_from_index(index)
    assert v.codes_index_add_file(index, mixed) is None  # restarts the walk
    assert walk(index) == expected("u") * 2
    assert v.codes_index_get_string(index, "shortName") == ("t", "u")
    assert v.codes_index_get_long(index, "level") == (500, 850, 925, 1000)


def test_add_file_extends_across_files(mixed, tut):
    index = v.codes_index_new_from_file(tut, [])
    v.codes_index_add_file(index, mixed)
    got = walk(index)
    assert got[:3] == [("t", 850), ("u", 850), ("t", 500)] and got[3:] == expected()


@pytest.mark.parametrize("content", [None, b"", b"no messages in here"])
def test_bad_files_leave_the_index_unchanged(tmp_path, mixed, content):
    bad = str(tmp_path / "bad.grib2")
    if content is not None:
        write(bad, content)
    with pytest.raises(v.CodesInternalError):
        v.codes_index_new_from_file(bad, [])
    index = v.codes_index_new_from_file(mixed, [])
    v.codes_new_from_index(index)
    with pytest.raises(v.CodesInternalError) as raised:
        v.codes_index_add_file(index, bad)
    assert type(raised.value) is v.CodesInternalError
    assert walk(index) == expected()[1:]


@pytest.mark.parametrize("call, error, prefix", [
    (lambda p: v.codes_index_new_from_file(pathlib.Path(p), []), TypeError,
     "argument 'filename': 'PosixPath' object cannot be converted to 'PyString'"),
    (lambda p: v.codes_index_new_from_file(p.encode(), []), TypeError, "argument 'filename': "),
    (lambda p: v.codes_index_new_from_file(p, "shortName"), TypeError,
     "argument 'keys': Can't extract `str` to `Vec`"),
    (lambda p: v.codes_index_new_from_file(p, ["shortName", 3]), TypeError, "argument 'keys': "),
    (lambda p: v.codes_index_new_from_file(p, None), TypeError, "argument 'keys': "),
    (lambda p: v.codes_index_add_file(v.codes_index_new_from_file(p, []), pathlib.Path(p)), TypeError,
     "argument 'filename': "),
    (lambda p: v.codes_index_get(v.codes_index_new_from_file(p, []), 3), TypeError, "argument 'key': "),
    (lambda p: v.codes_index_get_size(v.codes_grib_new_from_file(p), "level"), TypeError,
     "argument 'indexid': 'CodesHandle' object cannot be converted to 'CodesIndex'"),
    (lambda p: v.codes_new_from_index(None), TypeError, "argument 'indexid': "),
    (lambda p: v.codes_index_select(v.codes_index_new_from_file(p, []), "level"), TypeError, ""),
])
def test_argument_errors(mixed, call, error, prefix):
    with pytest.raises(error) as raised:
        call(mixed)
    assert str(raised.value).startswith(prefix)


def test_handles_from_the_index_stand_alone(mixed):
    index = v.codes_index_new_from_file(mixed, [])
    first = v.codes_new_from_index(index)
    second = v.codes_new_from_index(index)
    del index
    gc.collect()
    direct = v.codes_grib_new_from_file(mixed)
    assert v.codes_get_message(first) == v.codes_get_message(direct)
    np.testing.assert_array_equal(v.codes_get_values(first), v.codes_get_values(direct))
    assert v.codes_get_long(second, "level") == 850 and v.codes_get(second, "shortName") == "u"


class Reentrant:
    """An integer whose conversion calls back into the module."""

    def __init__(self, call):
        self.call = call

    def __index__(self):
        self.call()
        return 850


@pytest.mark.parametrize("select, key_text", [(v.codes_index_select, "level:l"),
                                              (v.codes_index_select_long, "level")])
@pytest.mark.parametrize("inner, message", [
    (lambda i: v.codes_index_get_size(i, "level"), "Already mutably borrowed"),
    (lambda i: v.codes_index_select_long(i, "level", 1), "Already borrowed"),
])
def test_reentry_during_select_is_refused(mixed, select, key_text, inner, message):
    index = v.codes_index_new_from_file(mixed, [key_text])
    with pytest.raises(RuntimeError, match=message):
        select(index, "level", Reentrant(lambda: inner(index)))
    v.codes_index_select(index, "level", 850)  # access was given back
    assert walk(index) == expected(level=850)


def test_real_file_walk_covers_every_message():
    path = data_file("multi_1.at_10m.t12z.f147.grib2")
    index = v.codes_index_new_from_file(path, ["shortName"])
    names = v.codes_index_get_string(index, "shortName")
    assert v.codes_index_get_size(index, "shortName") == len(names) > 0
    total = 0
    for name in names:
        v.codes_index_select(index, "shortName", name)
        handles = []
        while (h := v.codes_new_from_index(index)) is not None:
            assert v.codes_get(h, "shortName") == name
            handles.append(h)
        total += len(handles)
    assert total == v.codes_count_in_file(path)
