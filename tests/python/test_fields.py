"""vorlak.open: sources, the file as a sequence of fields, selection, keys
(the same as the codes API's on single-field messages), decoded values and
coordinates, closed files, bad input, and decoding without the interpreter
lock."""
import io
import os
import pathlib
import subprocess
import sys
import textwrap
import threading
import time

import numpy as np
import pytest

import gribbuild as g
import gribsets as gs
from conftest import ROOT, grib1_message, write
from conftest import testdata as real_file
from vorlak import _vorlak as v
import vorlak


@pytest.fixture
def mixed_bytes():
    return b"".join(gs.mixed_messages())


@pytest.fixture
def mixed(tmp_path, mixed_bytes):
    return write(tmp_path / "mixed.grib2", mixed_bytes)


def codes_handles(path):
    with open(path, "rb") as f:
        while (h := v.codes_grib_new_from_file(f)) is not None:
            yield h


def reduced_gaussian_grib1():
    lats = g.gaussian_latitudes(2)
    rows = [4, 8, 8, 4]
    grid = g.gds_latlon(ni=0, nj=4, la1=lats[0], lo1=0, la2=lats[-1], lo2=315, di=0, dj=0, gaussian_n=2, pl=rows)
    return g.grib1_message(g.pds(parameter=130, level_type=100, level=500, D=1), grid, None,
                           g.bds_simple([float(k) for k in range(24)], bits=8, D=1))


# --------------------------------------------------------------- sources


def _path(p, _data):
    return p


def _pathlike(p, _data):
    return pathlib.Path(p)


def _bytes(_p, data):
    return data


def _bytearray(_p, data):
    return bytearray(data)


def _memoryview(_p, data):
    return memoryview(data)


def _bytesio(_p, data):
    return io.BytesIO(data)


@pytest.mark.parametrize("make", [_path, _pathlike, _bytes, _bytearray, _memoryview, _bytesio],
                         ids=lambda f: f.__name__.strip("_"))
def test_every_kind_of_source_gives_the_same_fields(mixed, mixed_bytes, make):
    with vorlak.open(make(mixed, mixed_bytes)) as grib:
        assert len(grib) == 10
        assert [f["shortName"] for f in grib] == ["t"] * 6 + ["10u", "10u", "2t", "10v"]
        assert [f.message_offset for f in grib] == v.codes_extract_offsets(mixed, 1)
        np.testing.assert_array_equal(grib[6].values.ravel(), v.codes_get_values(list(codes_handles(mixed))[6]))


def test_a_file_object_is_read_from_its_position(mixed, mixed_bytes):
    first = len(gs.mixed_messages()[0])
    with open(mixed, "rb") as f:
        f.seek(first)
        with vorlak.open(f) as grib:
            assert len(grib) == 9 and grib.name == mixed
            assert grib[0].message_offset == 0 and grib[0]["level"] == 500


@pytest.mark.parametrize("source, error", [
    (12, TypeError),
    (None, TypeError),
    (io.StringIO("GRIB"), TypeError),
    (b"no messages in here" * 10, v.CodesInternalError),
    (b"", v.CodesInternalError),
])
def test_sources_that_cannot_be_read(source, error):
    with pytest.raises(error):
        vorlak.open(source)


def test_files_that_cannot_be_read_raise_os_errors(tmp_path):
    with pytest.raises(FileNotFoundError) as e:
        vorlak.open(tmp_path / "absent.grib2")
    assert e.value.filename == str(tmp_path / "absent.grib2")
    with pytest.raises(IsADirectoryError):
        vorlak.open(tmp_path)
    with pytest.raises(v.CodesInternalError, match="no GRIB messages found"):
        vorlak.open(write(tmp_path / "junk.grib2", b"\0" * 1000))


# ----------------------------------------------------- the file as a sequence


def test_indexing_slicing_and_positions(mixed):
    sizes = v.codes_extract_offsets_sizes(mixed, 1)
    with vorlak.open(mixed) as grib:
        assert [(f.message_offset, f.message_length) for f in grib] == [tuple(s) for s in sizes]
        assert [f.message_number for f in grib] == list(range(1, 11))
        assert {f.index_in_message for f in grib} == {0}
        assert grib[-1].message_number == 10 and grib[-10].message_number == 1
        assert [f.message_number for f in grib[2:5]] == [3, 4, 5]
        assert [f.message_number for f in grib[::-4]] == [10, 6, 2]
        assert grib[20:] == []
        for bad in (10, -11):
            with pytest.raises(IndexError):
                grib[bad]
        with pytest.raises(TypeError):
            grib["shortName"]
        assert repr(grib) == f"<GribFile {mixed!r} 10 fields>"
        assert repr(grib[0]).startswith("<Field 1 shortName=t typeOfLevel=isobaricInhPa level=500 ")


@pytest.mark.parametrize("criteria, numbers", [
    ({}, list(range(1, 11))),
    ({"shortName": "t"}, [1, 2, 3, 4, 5, 6]),
    ({"shortName": "t", "typeOfLevel": "isobaricInhPa", "level": [500, 850]}, [1, 2, 3, 4]),
    ({"level": 850.0, "stepRange": "6"}, [4]),
    ({"level": "10"}, [7, 8, 10]),                      # text against a number: the key's text
    ({"shortName": ("10u", "10v"), "stepRange": {"0", "6"}}, [7, 8, 10]),
    ({"level": range(0, 3)}, [9]),
    ({"noSuchKey": 1}, []),
    ({"values": 1}, []),                                # decoded arrays are not keys
])
def test_select_by_keys(mixed, criteria, numbers):
    with vorlak.open(mixed) as grib:
        assert [f.message_number for f in grib.select(**criteria)] == numbers


# ------------------------------------------------------------------- keys


COMPUTED = {"values", "numberOfMissing", "latitudes", "longitudes", "distinctLatitudes", "distinctLongitudes",
            "latitudeOfFirstGridPointInDegrees", "latitudeOfLastGridPointInDegrees",
            "longitudeOfFirstGridPointInDegrees", "longitudeOfLastGridPointInDegrees",
            "iDirectionIncrementInDegrees", "jDirectionIncrementInDegrees"}


def codes_keys(h):
    """The keys the codes API lists for a handle, without those computed
    from the decoded field."""
    it = v.codes_keys_iterator_new(h)
    names = []
    while v.codes_keys_iterator_next(it):
        names.append(v.codes_keys_iterator_get_name(it))
    return [n for n in names if n not in COMPUTED]


def test_keys_are_the_codes_api_keys_and_the_template_keys(tmp_path, mixed_bytes):
    path = write(tmp_path / "all.grib", mixed_bytes, grib1_message(), reduced_gaussian_grib1())
    with vorlak.open(path) as grib:
        handles = list(codes_handles(path))
        assert len(grib) == len(handles) == 12
        for field, h in zip(grib, handles):
            as_dict = dict(field)
            assert list(as_dict) == field.keys() == sorted(field) and len(field) == len(as_dict)
            assert [name for name, _ in field.items()] == list(as_dict)
            assert all(np.array_equal(value, as_dict[name]) for name, value in field.items())
            for name in codes_keys(h):
                expected = v.codes_get(h, name)
                assert type(as_dict[name]) is type(expected) and as_dict[name] == expected, name
                assert field._text(name) == v.codes_get_string(h, name), name
        # Template keys the codes API does not list: the grid's corners as
        # stated, the scaled first surface.
        assert grib[0]["latitudeOfFirstGridPoint"] == 60000000 and grib[0]["scaledValueOfFirstFixedSurface"] == 50000
        assert "latitudeOfFirstGridPoint" not in codes_keys(handles[0])


def test_missing_keys(mixed):
    with vorlak.open(mixed) as grib:
        field = grib[0]
        with pytest.raises(KeyError) as e:
            field["noSuchKey"]
        assert e.value.args == ("noSuchKey",)
        with pytest.raises(KeyError):
            field[3]
        assert field.get("noSuchKey") is None and field.get("noSuchKey", 7) == 7
        assert field.get("shortName", 7) == "t"
        assert "shortName" in field and "noSuchKey" not in field and 3 not in field
        assert "values" not in field and field._text("noSuchKey") is None


# ---------------------------------------------------------- decoded values


def test_values_are_read_only_shaped_and_nan_where_missing(mixed):
    handles = list(codes_handles(mixed))
    with vorlak.open(mixed) as grib:
        for field, h in zip(grib, handles):
            values = field.values
            expected = v.codes_get_values(h)
            rows, columns = field.shape
            assert values.shape == (rows, columns) == (field["Ny"], field["Nx"])
            np.testing.assert_array_equal(values.ravel(), expected)
            assert not values.flags.writeable and values is field.values
            with pytest.raises(ValueError):
                values[0, 0] = 1.0
        assert int(np.isnan(grib[6].values).sum()) == 6


def test_data_gives_new_writable_arrays_of_a_float_dtype(mixed):
    with vorlak.open(mixed) as grib:
        kept = grib[7]
        kept.values  # data() then starts from the kept values
        for field in (grib[6], kept):
            expected = grib[field._index].values
            for dtype in (np.float64, np.float32, "float16"):
                data = field.data(dtype)
                assert data.dtype == np.dtype(dtype) and data.flags.writeable and data.shape == (5, 8)
                np.testing.assert_allclose(data, expected, rtol=1e-3)
                data[:] = 0  # changes nothing else
            np.testing.assert_array_equal(field.data(), expected)
            assert np.isnan(field.data(np.float32)).sum() == 6
        with pytest.raises(TypeError):
            grib[0].data(np.int32)


def test_coordinates_follow_the_values(mixed):
    handles = list(codes_handles(mixed))
    with vorlak.open(mixed) as grib:
        field = grib[0]
        lats, lons = field.latitudes, field.longitudes
        assert lats.shape == lons.shape == field.values.shape and not lats.flags.writeable
        np.testing.assert_array_equal(lats.ravel(), v.codes_get_array(handles[0], "latitudes"))
        np.testing.assert_array_equal(lons.ravel(), v.codes_get_array(handles[0], "longitudes"))
        assert lats[0, 0] == 60 and lats[-1, 0] == 20 and lons[0, -1] == 35
        lambert = grib[9]
        assert lambert.values.shape == lambert.shape == lambert.latitudes.shape == lambert.longitudes.shape == (4, 6)
        assert lambert.latitudes[0, 0] == pytest.approx(20) and lambert.longitudes[0, 0] == pytest.approx(-110)


def test_grids_without_rows_give_one_dimension(tmp_path):
    with vorlak.open(reduced_gaussian_grib1()) as grib:
        field = grib[0]
        assert field.shape is None
        assert field.values.shape == field.latitudes.shape == field.longitudes.shape == (24,)
        assert field.values[-1] == pytest.approx(23.0)
        # Rows of 4, 8, 8 and 4 points on the Gaussian latitudes of N = 2.
        assert len(set(field.latitudes.tolist())) == 4 and field.longitudes[4:12].tolist() == list(range(0, 360, 45))


# -------------------------------------------------------------- closed files


def test_closing_lets_go_of_the_file_and_its_fields(mixed):
    with vorlak.open(mixed) as grib:
        field = grib[1]
        kept = field.values
    assert grib.closed and repr(grib).endswith("(closed)>")
    assert kept[0, 0] == kept[0, 0]  # arrays handed out stay valid
    reads = [lambda: len(grib), lambda: grib[0], lambda: list(grib), lambda: grib.select(shortName="t"),
             lambda: field["shortName"], lambda: field.keys(), lambda: dict(field), lambda: field.values,
             lambda: field.data(), lambda: field.latitudes, lambda: field.shape, lambda: field.message_offset,
             lambda: "shortName" in field]
    for read in reads:
        with pytest.raises(ValueError, match="closed GRIB file"):
            read()
    assert repr(field) == "<Field 1 of a closed GRIB file>"
    grib.close()  # closing twice is fine


# ----------------------------------------------------------------- bad input


def test_truncated_file_keeps_its_complete_fields(tmp_path, mixed_bytes):
    path = write(tmp_path / "cut.grib2", mixed_bytes[:-30])
    with vorlak.open(path) as grib:
        assert len(grib) == 9
        assert all(f.values.size == 40 for f in grib)


def test_a_field_that_cannot_be_decoded_fails_alone(tmp_path):
    path = write(tmp_path / "bad.grib2", gs.message(gs.field(280)), gs.undecodable(), gs.message(gs.field(290)))
    with vorlak.open(path) as grib:
        bad = grib[1]
        assert bad["packingType"] and bad["level"] == 700
        for read in (lambda: bad.values, lambda: bad.data(np.float32)):
            with pytest.raises(v.CodesInternalError, match="template 1 "):
                read()
        assert grib[0].values.size == grib[2].values.size == 40


def test_running_out_of_memory_raises_memory_error_and_the_interpreter_goes_on():
    # A constant field of 2^27 points is legal: its gigabyte of values does
    # not fit under the limit, in either path of the decode.
    code = """
        import resource, sys
        sys.path.insert(0, "tools")
        import gribbuild as g
        import numpy, vorlak
        resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
        grid = g.section3_latlon(ni=1 << 14, nj=1 << 13, la1=60, lo1=0, la2=-60, lo2=359, di=0.02, dj=0.01)
        m = g.grib2_message([g.section1(), grid, g.section4(), g.section5(0, 0, 1.0), g.section6(), g.section7(b"")])
        with vorlak.open(m) as grib:
            for read in (lambda f: f.values, lambda f: f.data(numpy.float32), lambda f: f.latitudes):
                try:
                    read(grib[0])
                    print("read")
                except MemoryError:
                    print("MemoryError")
            print(grib[0]["numberOfPoints"])
        """
    done = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                          env=dict(os.environ, PYTHONPATH=ROOT), cwd=ROOT, timeout=120)
    assert done.returncode == 0, done.stderr[-800:]
    assert done.stdout.split() == ["MemoryError"] * 3 + [str(1 << 27)]


# ------------------------------------------------------------------ threads


def big_field_bytes(ni=1024, nj=512):
    rng = np.random.default_rng(7)
    packed = rng.integers(0, 1 << 16, ni * nj, dtype=np.uint16).astype(">u2").tobytes()
    grid = g.section3_latlon(ni=ni, nj=nj, la1=89.5, lo1=0, la2=-89.5, lo2=360 - 360 / ni, di=360 / ni,
                             dj=179 / (nj - 1))
    return g.grib2_message([g.section1(), grid, g.section4(), g.section5(0, ni * nj, reference=1.0, E=-8, bits=16),
                            g.section6(), g.section7(packed)])


@pytest.mark.parametrize("work", ["data", "latitudes"])
def test_decoding_lets_other_python_threads_run(work):
    """With a switch interval far longer than the test, the interpreter lock
    changes hands only when its holder lets go of it: the counting thread
    (which lets go at every step) can count while the main thread is inside
    one call only if that call runs without the lock."""
    grib = vorlak.open(big_field_bytes())
    counter = [0]
    stop = threading.Event()

    def count():
        while not stop.is_set():
            counter[0] += 1
            time.sleep(0)

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1000.0)
    thread = threading.Thread(target=count)
    try:
        thread.start()
        advanced = False
        for _ in range(200):
            field = grib[0]
            before = counter[0]
            getattr(field, work)() if work == "data" else getattr(field, work)
            if counter[0] != before:
                advanced = True
                break
    finally:
        stop.set()
        sys.setswitchinterval(interval)
        thread.join()
        grib.close()
    assert advanced


def test_threads_decoding_fields_of_one_file_agree_with_one_thread(mixed):
    with vorlak.open(mixed) as grib:
        expected = [f.data() for f in grib]
        results = {}

        def decode(k):
            results[k] = [grib[i].data() for i in range(len(grib))]

        threads = [threading.Thread(target=decode, args=(k,)) for k in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    for got in results.values():
        for a, b in zip(got, expected):
            np.testing.assert_array_equal(a, b)


# ------------------------------------------------------- multi-field messages


def two_grid_message():
    """Two fields in one message: t at 850 hPa on 4 x 3 points, then 2 m
    temperature on its own 5 x 2 grid."""
    first = g.field_simple(gs.field(280, 4, 3), bits=16, D=2, level_type=100, level=85000)
    second = g.field_simple(gs.field(290, 5, 2), bits=16, D=2, level_type=103, level=2)
    return g.grib2_message([g.section1(year=2024, month=5, day=1), g.section3_latlon(4, 3, 60, 0, 58, 3, 1, 1),
                            *first, g.section3_latlon(5, 2, 50, 10, 49, 14, 1, 1), *second])


def test_every_field_of_a_multi_field_message(tmp_path):
    single = gs.message(gs.field(270))
    multi = two_grid_message()
    path = write(tmp_path / "multi.grib2", single, multi)
    handles = list(codes_handles(path))
    with vorlak.open(path) as grib:
        assert len(grib) == 3 and len(handles) == 2
        assert [(f.message_number, f.index_in_message) for f in grib] == [(1, 0), (2, 0), (2, 1)]
        assert {(f.message_offset, f.message_length) for f in grib[1:]} == {(len(single), len(multi))}
        first, second = grib[1], grib[2]
        assert (first["shortName"], first["level"], first.shape) == ("t", 850, (3, 4))
        assert (second["shortName"], second["level"], second.shape) == ("2t", 2, (2, 5))
        np.testing.assert_allclose(first.values.ravel(), gs.field(280, 4, 3), atol=0.01)
        np.testing.assert_allclose(second.values.ravel(), gs.field(290, 5, 2), atol=0.01)
        assert second.latitudes[:, 0].tolist() == [50, 49] and second.longitudes[0].tolist() == [10, 11, 12, 13, 14]
        assert [repr(f).split()[1] for f in grib] == ["1", "2.1", "2.2"]
        # The codes API describes the message by its last field.
        assert {k: second[k] for k in codes_keys(handles[1])} == {k: v.codes_get(handles[1], k) for k in codes_keys(handles[1])}
        np.testing.assert_array_equal(second.values.ravel(), v.codes_get_values(handles[1]))
        assert [f.message_number for f in grib.select(typeOfLevel="heightAboveGround")] == [2]


def test_bitmap_reuse_and_a_missing_earlier_bitmap():
    grid = g.section3_latlon(4, 3, 60, 0, 58, 3, 1, 1)
    gappy = [float("nan") if k in (2, 7) else 200.0 + k for k in range(12)]
    later = [float("nan") if k in (2, 7) else 300.0 + k for k in range(12)]
    reuse = g.field_simple(later, bits=16, level=50000)
    reuse[2] = g.section6(indicator=254)
    no_earlier = g.field_simple(gappy, bits=16, level=92500)
    no_earlier[2] = g.section6(indicator=254)
    message = g.grib2_message([g.section1(), grid, *no_earlier, *g.field_simple(gappy, bits=16, level=85000),
                               *g.field_simple([1.0] * 12, bits=16, level=70000), *reuse])
    with vorlak.open(message) as grib:
        assert [f["level"] for f in grib] == [925, 850, 700, 500]
        with pytest.raises(v.CodesInternalError, match="bitmap indicator 254"):
            grib[0].values
        assert grib[0].shape == (3, 4)
        np.testing.assert_allclose(grib[3].values.ravel(), later, atol=0.01)
        assert np.isnan(grib[3].values).sum() == 2 and grib[2].values.tolist() == [[1.0] * 4] * 3


def test_a_truncated_multi_field_message_keeps_its_complete_fields(tmp_path):
    path = write(tmp_path / "cut.grib2", gs.message(gs.field(270)), two_grid_message()[:-20])
    with vorlak.open(path) as grib:
        assert [(f.message_number, f.index_in_message) for f in grib] == [(1, 0), (2, 0), (2, 1)]
        assert grib[1].values.shape == (3, 4) and grib[2]["level"] == 2
        with pytest.raises(v.CodesInternalError, match="cut short"):
            grib[2].values
    # The codes API skips the whole message.
    assert v.codes_count_in_file(path) == 1


# ----------------------------------------------------------------- real files


def test_real_files_read_as_the_codes_api_reads_them():
    path = real_file("multi_1.at_10m.t12z.f147.grib2")
    handles = list(codes_handles(path))
    with vorlak.open(path) as grib:
        assert len(grib) == len(handles) == 19
        for field, h in zip(grib[:3], handles):
            np.testing.assert_array_equal(field.values.ravel(), v.codes_get_values(h))
            assert field.values.shape == (331, 301)


@pytest.mark.parametrize("name, count", [("jma_kousa_dust_multifield.grib2", 16),
                                         ("jma_meps_pall_fh00-15_first20fields.grib2", 20)])
def test_real_multi_field_messages(name, count):
    path = real_file(name)
    (handle,) = codes_handles(path)
    with vorlak.open(path) as grib:
        assert len(grib) == count and {f.message_number for f in grib} == {1}
        assert [f.index_in_message for f in grib] == list(range(count))
        last = grib[-1]
        assert {k: last[k] for k in codes_keys(handle)} == {k: v.codes_get(handle, k) for k in codes_keys(handle)}
        np.testing.assert_array_equal(last.values.ravel(), v.codes_get_values(handle))
        assert all(np.isfinite(f.values).any() for f in grib)


def test_real_run_length_and_png_files():
    with vorlak.open(real_file("jma_tornado_nowcast_runlength.grib2")) as grib:
        assert len(grib) == 7 and {f.message_number for f in grib} == {1}
        first = grib[0].values
        assert first.shape == (336, 256) and int(np.isnan(first).sum()) == 71493
        assert np.nanmin(first) == 1 and np.nanmax(first) == 3
    with vorlak.open(real_file("MRMS_MergedRhoHV_19.00_20260219-042039.grib2")) as grib:
        (field,) = grib
        assert field.shape == (3500, 7000) and field.data(np.float32).shape == (3500, 7000)
