"""The xarray backend: dataset model from keys, coordinates and attributes,
lazy and single decoding, dask chunks, pickling, several files, filters,
refusals, engine keywords, inputs other than paths, and real files."""
import io
import pickle
import warnings

import numpy as np
import pytest

xr = pytest.importorskip("xarray")

import conftest  # noqa: E402
import gribbuild as g  # noqa: E402
import gribsets as gs  # noqa: E402
from conftest import write  # noqa: E402
import vorlak  # noqa: E402
from vorlak.dataset import fields  # noqa: E402
from vorlak.dataset.source import FileChanged, LocalFile  # noqa: E402
from vorlak.xarray_backend import DatasetBuildError, VorlakBackendEntrypoint  # noqa: E402

ENGINE = VorlakBackendEntrypoint
try:
    import dask  # noqa: F401
except ImportError:
    dask = None
needs_dask = pytest.mark.skipif(dask is None, reason="dask is not installed")
HOUR = np.timedelta64(1, "h")


def open_ds(path, **kw):
    return xr.open_dataset(path, engine=ENGINE, **kw)


@pytest.fixture
def mixed(tmp_path):
    return write(tmp_path / "mixed.grib2", *gs.mixed_messages())


@pytest.fixture
def decodes(monkeypatch):
    """(index in message, dtype) of every field decoded, in order."""
    seen = []
    decode = fields.decode

    def counting(data, index, dtype):
        seen.append((data[:4], index, np.dtype(dtype).name))
        return decode(data, index, dtype)

    monkeypatch.setattr(fields, "decode", counting)
    return seen


def field_values(path, **keys):
    """Values of the one field of ``path`` whose keys have these values."""
    with vorlak.open(path) as grib:
        found = grib.select(**keys)
        assert len(found) == 1, keys
        return found[0].values


def one_value(da):
    return np.asarray(da.values).ravel()[0]


# ------------------------------------------------------------ the model


def test_dimensions_and_coordinates(mixed):
    ds = open_ds(mixed)
    assert list(ds.data_vars) == ["t", "u10", "t2m", "v10"]
    assert ds.t.dims == ("step", "isobaricInhPa", "latitude", "longitude")
    assert ds.t.shape == (2, 3, gs.NJ, gs.NI)
    np.testing.assert_array_equal(ds.isobaricInhPa, [500.0, 850.0, 1000.0])
    np.testing.assert_array_equal(ds.step, np.array([0, 6]) * HOUR)
    np.testing.assert_array_equal(ds.latitude, [60, 50, 40, 30, 20])
    np.testing.assert_array_equal(ds.longitude, np.arange(0, 40, 5))
    np.testing.assert_array_equal(ds.valid_time, ds.time.values + ds.step.values)
    assert ds.step.attrs["standard_name"] == "forecast_period"
    assert ds.isobaricInhPa.attrs["units"] == "hPa" and ds.latitude.attrs["units"] == "degrees_north"
    # One reference time for all: a scalar coordinate.
    assert ds.time.dims == () and ds.time.values == np.datetime64("2024-05-01T00:00", "ns")
    # Single values that differ between variables stay length-1 dimensions
    # of their own variables, so that no variable shows another's level.
    assert ds.u10.dims == ("step", "heightAboveGround", "latitude", "longitude")
    assert ds.t2m.dims == ("step_1", "heightAboveGround_1", "latitude", "longitude")
    assert ds.u10.heightAboveGround.values.tolist() == [10.0]
    assert ds.t2m.heightAboveGround_1.values.tolist() == [2.0] and "heightAboveGround" not in ds.t2m.coords
    # The Lambert grid: y and x with 2-D latitude and longitude.
    assert ds.v10.dims == ("step_1", "heightAboveGround", "y", "x") and ds.v10.shape == (1, 1, 4, 6)
    assert ds.v10.latitude_1.dims == ("y", "x") and ds.v10.latitude_1.values[0, 0] == pytest.approx(20.0)


def test_shared_single_values_are_scalar_coordinates(tmp_path):
    msgs = [gs.message(gs.field(280), level_type=103, level=2),
            gs.message(gs.field(270), category=0, number=6, level_type=103, level=2)]
    ds = open_ds(write(tmp_path / "2m.grib2", *msgs))
    assert list(ds.data_vars) == ["t2m", "d2m"]
    assert ds.t2m.dims == ds.d2m.dims == ("latitude", "longitude")
    assert ds.heightAboveGround.dims == () and ds.heightAboveGround.values == 2.0
    assert ds.step.values == np.timedelta64(0, "ns") and ds.valid_time.values == ds.time.values
    assert "number" not in ds.coords  # no ensemble here


@pytest.mark.parametrize("var, attr, expected", [
    ("t", "GRIB_paramId", 130), ("t", "GRIB_shortName", "t"), ("t", "GRIB_typeOfLevel", "isobaricInhPa"),
    ("t", "GRIB_gridType", "regular_ll"), ("t", "GRIB_centre", 98), ("t", "GRIB_stepUnits", 1),
    ("t", "units", "K"), ("t", "standard_name", "air_temperature"), ("t", "GRIB_name", "Temperature"),
    ("u10", "GRIB_shortName", "10u"), ("u10", "standard_name", "eastward_wind"),
    ("t2m", "GRIB_paramId", 167), ("t2m", "GRIB_typeOfLevel", "heightAboveGround"),
    ("v10", "GRIB_gridType", "lambert"), ("v10", "GRIB_centre", 7),
])
def test_variable_attributes(mixed, var, attr, expected):
    assert open_ds(mixed)[var].attrs[attr] == expected


def test_selection_values_equal_the_field_values(mixed):
    ds = open_ds(mixed, dtype="float64")
    for level in gs.LEVELS:
        for step in gs.STEPS:
            got = ds.t.sel(isobaricInhPa=level, step=step * HOUR).values
            np.testing.assert_array_equal(got, field_values(mixed, shortName="t", level=level, endStep=step))
    u = ds.u10.isel(step=1, heightAboveGround=0).values
    assert u.dtype == np.float64 and np.isnan(u).sum() == 6
    np.testing.assert_array_equal(u, field_values(mixed, shortName="10u", endStep=6))
    np.testing.assert_array_equal(ds.v10.values[0, 0], field_values(mixed, shortName="10v"))


@pytest.mark.parametrize("messages, option, dtype", [
    ([gs.message(gs.field(280))], None, np.float32),                       # 16 bits
    ([gs.message(gs.field(280))], "float64", np.float64),
    ([g.grib2_message([g.section1(), gs.latlon_grid(), *g.field_ieee(gs.field(1), precision=1)])],
     None, np.float32),
    ([g.grib2_message([g.section1(), gs.latlon_grid(), *g.field_ieee(gs.field(1), precision=2)])],
     None, np.float64),                                                   # IEEE 64-bit
    ([g.grib2_message([g.section1(), gs.latlon_grid(), *g.field_simple(gs.field(1), bits=30)])],
     None, np.float64),                                                   # more than 24 bits
    ([g.grib2_message([g.section1(), gs.latlon_grid(), *g.field_ieee(gs.field(1), precision=2)])],
     np.float32, np.float32),
])
def test_dtype_follows_the_packing(tmp_path, messages, option, dtype):
    ds = open_ds(write(tmp_path / "d.grib2", *messages), dtype=option)
    (name,) = ds.data_vars
    assert ds[name].dtype == dtype and ds[name].values.dtype == dtype
    with vorlak.open(str(tmp_path / "d.grib2")) as grib:
        np.testing.assert_allclose(ds[name].values, grib[0].values, rtol=1e-6)


def test_dtype_option_is_checked(mixed):
    with pytest.raises(ValueError, match="float32 or float64"):
        open_ds(mixed, dtype="int16")


@pytest.mark.parametrize("index", [
    dict(step=1, isobaricInhPa=[2, 0], latitude=slice(1, 4), longitude=[7, 0, 3]),
    dict(isobaricInhPa=slice(None, None, -1), longitude=5),
    dict(step=[1, 1], latitude=-1),
])
def test_outer_indexing_matches_numpy(mixed, index):
    ds = open_ds(mixed)
    full = ds.t.values
    np.testing.assert_array_equal(ds.t.isel(**index).values, ds.t.copy(data=full).isel(**index).values)


def test_vectorised_indexing(mixed):
    ds = open_ds(mixed)
    pts = dict(latitude=xr.DataArray([0, 4, 2], dims="p"), longitude=xr.DataArray([1, 1, 6], dims="p"))
    got = ds.t.isel(step=0, **pts).values
    expected = ds.t.values[0][:, [0, 4, 2], [1, 1, 6]]
    np.testing.assert_array_equal(got, expected)


@pytest.mark.parametrize("scan", [0x00, 0x10, 0x20, 0x30, 0x40, 0x80])
def test_stored_point_order_is_laid_out_on_rows_and_columns(tmp_path, scan):
    """Value 100 * row + column wherever the scanning mode stores it, rows
    and columns in the order the grid scans, as its coordinates say."""
    ni, nj = gs.NI, gs.NJ
    lines, length = (ni, nj) if scan & 0x20 else (nj, ni)
    stored = []
    for line in range(lines):
        positions = range(length)[::-1] if scan & 0x10 and line % 2 else range(length)
        for p in positions:
            row, col = (p, line) if scan & 0x20 else (line, p)
            stored.append(100.0 * row + col)
    la1, la2 = (20, 60) if scan & 0x40 else (60, 20)
    lo1, lo2 = (35, 0) if scan & 0x80 else (0, 35)
    grid = g.section3_latlon(ni=ni, nj=nj, la1=la1, lo1=lo1, la2=la2, lo2=lo2, di=5, dj=10, scan=scan)
    ds = open_ds(write(tmp_path / "order.grib2", gs.message(stored, grid=grid)))
    expected = 100.0 * np.arange(nj)[:, None] + np.arange(ni)[None, :]
    np.testing.assert_allclose(ds.t.values, expected, atol=0.01)
    assert ds.latitude.values[0] == la1 and ds.longitude.values[0] == lo1


# ---------------------------------------------------------------- laziness


def test_open_decodes_nothing_and_reads_decode_only_touched_fields(mixed, decodes):
    ds = open_ds(mixed)
    assert decodes == []
    ds.t.isel(step=1, isobaricInhPa=2).values
    assert len(decodes) == 1
    # Parts of a field: decoded once, then kept.
    ds.t.isel(step=1, isobaricInhPa=2, latitude=0).values
    ds.t.isel(step=1, isobaricInhPa=2, longitude=slice(2, 5)).mean().values
    assert len(decodes) == 2
    ds.t.values  # the kept one is not decoded again
    assert len(decodes) == 7
    ds.v10[0, 0, 1:3, 2].values
    assert len(decodes) == 8 and {d[2] for d in decodes} == {"float32"}


def test_a_whole_field_is_handed_over_writable(mixed):
    ds = open_ds(mixed)
    one = ds.t.isel(step=0, isobaricInhPa=0).values
    one += 1  # the caller's array
    np.testing.assert_array_equal(ds.t.isel(step=0, isobaricInhPa=0).values + 1, one)


@needs_dask
def test_chunks_are_one_per_field_and_decode_in_threads(mixed, decodes):
    ds = open_ds(mixed, chunks={})
    assert ds.t.chunks == ((1, 1), (1, 1, 1), (gs.NJ,), (gs.NI,))
    assert ds.v10.chunks == ((1,), (1,), (4,), (6,))
    assert decodes == []
    total = ds.t.sum().compute(scheduler="threads", num_workers=2)
    assert float(total) == pytest.approx(float(np.nansum(open_ds(mixed).t.values)), rel=1e-6)


def test_a_read_asks_for_its_message_bytes_only(mixed, monkeypatch):
    ds = open_ds(mixed)
    asked = []
    read = LocalFile.read
    monkeypatch.setattr(LocalFile, "read", lambda self, o, n: asked.append((o, n)) or read(self, o, n))
    ds.t.isel(step=0, isobaricInhPa=0).values
    with vorlak.open(mixed) as grib:
        f = grib.select(shortName="t", level=500, endStep=0)[0]
        assert asked == [(f.message_offset, f.message_length)]


def test_arrays_pickle_small_and_read_alike_in_a_fresh_process_state(mixed):
    ds = open_ds(mixed)
    blob = pickle.dumps(ds.t)
    assert len(blob) < 20_000
    np.testing.assert_array_equal(pickle.loads(blob).values, ds.t.values)
    # As in another process: no store shared with the open dataset.
    fields.FieldStore._shared.clear()
    np.testing.assert_array_equal(pickle.loads(blob).isel(step=0).values, ds.t.isel(step=0).values)


def test_a_changed_file_is_not_read_as_the_old_one(tmp_path):
    path = write(tmp_path / "f.grib2", *gs.mixed_messages())
    blob = pickle.dumps(open_ds(path).t)
    fields.FieldStore._shared.clear()
    write(path, *gs.mixed_messages()[::-1])
    with pytest.raises(FileChanged, match="has changed since it was opened"):
        pickle.loads(blob).values


def test_unreadable_files_are_refused_with_their_name(tmp_path):
    junk = write(tmp_path / "junk.grib2", b"not a GRIB file" * 20)
    with pytest.raises(vorlak.CodesInternalError, match=f"{junk}: no GRIB messages found"):
        open_ds(junk)
    with pytest.raises(FileNotFoundError):
        open_ds(str(tmp_path / "absent.grib2"))


# ------------------------------------------------- damaged and undecodable


def test_an_undecodable_field_is_left_out_with_a_warning(tmp_path):
    # A data representation no decoder reads (5.1, matrix values).
    s1 = g.section1(centre=98, year=2024, month=5, day=1)
    odd = g.grib2_message([s1, gs.latlon_grid(), g.section4(0, 0, 100, 70000), g.section5(1, gs.NI * gs.NJ),
                           g.section6(), g.section7(b"\0" * 8)])
    path = write(tmp_path / "bad.grib2", gs.message(gs.field(280), level=500), odd)
    with pytest.warns(RuntimeWarning, match=r"field 2 is left out: data representation template 5.1"):
        ds = open_ds(path)
    assert ds.isobaricInhPa.values == 500.0 and np.isfinite(ds.t.values).all()
    with pytest.raises(ValueError, match="field 2 is left out"):
        open_ds(path, errors="raise")
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        open_ds(path, errors="ignore")


@pytest.mark.parametrize("cut, levels", [(10, [500, 700]), (200, [500, 700]), (1, [500, 700, 850])])
def test_a_truncated_file_opens_with_its_complete_fields(tmp_path, cut, levels):
    msgs = [gs.message(gs.field(280 + k), level=lev) for k, lev in enumerate((500, 700, 850))]
    data = b"".join(msgs)
    path = write(tmp_path / "cut.grib2", data[:-cut])
    with pytest.warns(RuntimeWarning, match="is truncated"):
        ds = open_ds(path)
    np.testing.assert_array_equal(ds.isobaricInhPa, levels)  # the end marker alone cut: all complete
    assert np.isfinite(ds.t.values).all()


def test_a_field_cut_inside_a_message_of_several_is_left_out(tmp_path):
    s1 = g.section1(centre=98, year=2024, month=5, day=1)
    parts = [s1, gs.latlon_grid()]
    for level in (500, 700, 850):
        s4, s5, s6, s7 = g.field_simple(gs.field(level / 10), bits=16, D=2, level=level * 100)
        parts += [s4, s5, s6, s7]
    whole = g.grib2_message(parts)
    path = write(tmp_path / "cut.grib2", whole[:-30])
    with pytest.warns(RuntimeWarning, match="is truncated"):
        ds = open_ds(path)
    np.testing.assert_array_equal(ds.isobaricInhPa, [500.0, 700.0])
    np.testing.assert_allclose(ds.t.sel(isobaricInhPa=700).values.ravel(), gs.field(70), atol=0.01)


# ------------------------------------------------- hypercubes and conflicts


def test_sparse_cube_cells_are_nan(tmp_path):
    msgs = [gs.message(gs.field(1), level=500, step=0), gs.message(gs.field(2), level=850, step=6)]
    ds = open_ds(write(tmp_path / "sparse.grib2", *msgs))
    assert ds.t.shape == (2, 2, gs.NJ, gs.NI)
    assert np.isnan(ds.t.sel(step=0 * HOUR, isobaricInhPa=850)).all()
    assert np.isfinite(ds.t.sel(step=6 * HOUR, isobaricInhPa=850)).all()


def test_two_grids_give_two_variables(tmp_path):
    msgs = [gs.message(gs.field(1), level=500), gs.message(gs.field(2), level=850),
            gs.message(gs.field(3), level=500, grid=gs.latlon_grid(la1=-10, lo1=100)),
            gs.message(gs.field(4), category=2, number=2, level=500, grid=gs.latlon_grid(la1=60, lo1=100))]
    ds = open_ds(write(tmp_path / "grids.grib2", *msgs))
    assert ds.t.dims == ("isobaricInhPa", "latitude", "longitude")
    assert ds.t_1.dims == ("isobaricInhPa", "latitude_1", "longitude_1")
    np.testing.assert_array_equal(ds.latitude_1, [-10, -20, -30, -40, -50])
    np.testing.assert_array_equal(ds.longitude_1, np.arange(100, 140, 5))
    np.testing.assert_allclose(ds.t_1.sel(isobaricInhPa=500).values.ravel(), gs.field(3), atol=1e-3)
    assert np.isnan(ds.t_1.sel(isobaricInhPa=850).values).all()
    # An axis shared by two grids is one dimension.
    assert ds.u.dims == ("isobaricInhPa", "latitude", "longitude_1")


def test_the_same_grid_written_with_other_flags_is_one_grid(tmp_path):
    # Vector components relative to the grid (flag 0x08) on one field.
    plain = gs.lambert_grid()
    flagged = bytearray(plain)
    flagged[46] |= 0x08
    msgs = [gs.message(gs.field(1, 6, 4), level_type=103, level=2, grid=plain),
            gs.message(gs.field(2, 6, 4), category=2, number=2, level_type=103, level=2, grid=bytes(flagged))]
    ds = open_ds(write(tmp_path / "flags.grib2", *msgs))
    assert ds.t2m.dims == ds.u.dims == ("y", "x")
    assert (ds.t2m - ds.u).shape == (4, 6)


def test_variables_with_some_of_the_levels_share_one_level_dimension(tmp_path):
    msgs = [gs.message(gs.field(1), level=lev) for lev in (500, 850)]
    msgs += [gs.message(gs.field(2), category=2, number=2, level=lev) for lev in (300, 500)]
    msgs += [gs.message(gs.field(3), category=3, number=5, level=925)]
    ds = open_ds(write(tmp_path / "levels.grib2", *msgs))
    assert ds.t.dims[0] == ds.u.dims[0] == ds.gh.dims[0] == "isobaricInhPa"
    np.testing.assert_array_equal(ds.isobaricInhPa, [300, 500, 850, 925])
    at500 = ds.sel(isobaricInhPa=500)
    assert np.isfinite(at500.t).all() and np.isfinite(at500.u).all() and np.isnan(at500.gh).all()
    assert np.isnan(ds.t.sel(isobaricInhPa=300)).all()


@pytest.mark.parametrize("second, pattern", [
    (dict(process=81), r"fields 1 and 2 are both at time 2024-05-01T00:00, step 0 h, isobaricInhPa 500 "
                       r"and differ in generatingProcessIdentifier \(96 / 81\).*"
                       r"filter_by_keys=\{'generatingProcessIdentifier': 96\}"),
    (dict(), "no key tells them apart: the file may hold the same field twice"),
])
def test_duplicate_fields_are_refused_with_the_clashing_keys(tmp_path, second, pattern):
    msgs = [gs.message(gs.field(1), level=500), gs.message(gs.field(2), level=500, **second)]
    with pytest.raises(DatasetBuildError, match=pattern):
        open_ds(write(tmp_path / "dup.grib2", *msgs))


# ---------------------------------------------------------------- products


def ensemble(member, value, step=6, members=3):
    return gs.product(gs.field(value), 1, {"typeOfEnsembleForecast": 3, "perturbationNumber": member,
                                           "numberOfForecastsInEnsemble": members, "forecastTime": step})


def test_ensemble_members_are_a_dimension(tmp_path):
    msgs = [ensemble(k, k, step) for step in (6, 12) for k in (2, 0, 1)]
    ds = open_ds(write(tmp_path / "ens.grib2", *msgs))
    (name,) = ds.data_vars
    assert ds[name].dims == ("number", "step", "latitude", "longitude")
    np.testing.assert_array_equal(ds.number, [0, 1, 2])
    assert ds.number.attrs["standard_name"] == "realization"
    np.testing.assert_allclose(ds[name].sel(number=2, step=12 * HOUR).values.ravel(), gs.field(2), atol=0.01)
    assert ds[name].attrs["GRIB_numberOfForecastsInEnsemble"] == 3
    # One member: a scalar coordinate.
    one = open_ds(write(tmp_path / "one.grib2", ensemble(4, 1)))
    assert one.number.dims == () and one.number.values == 4


def statistic(kind, value=1.0, start=6, length=6, category=1, number=8):
    return gs.product(gs.field(value), 8, {
        "forecastTime": start, "typeOfStatisticalProcessing": kind, "indicatorOfUnitForTimeRange": 1,
        "lengthOfTimeRange": length}, category=category, number=number)


def test_statistics_end_where_their_interval_ends_and_step_types_are_variables(tmp_path):
    # AQM's daily maximum: forecast time -7 h, 23 hours, ending 04:00 the
    # next day; 6-hour accumulations and averages of one parameter.
    daily_max = gs.product(gs.field(60), 8, {
        "forecastTime": -7, "typeOfStatisticalProcessing": 2, "indicatorOfUnitForTimeRange": 1,
        "lengthOfTimeRange": 23, "yearOfEndOfOverallTimeInterval": 2024, "monthOfEndOfOverallTimeInterval": 5,
        "dayOfEndOfOverallTimeInterval": 17, "hourOfEndOfOverallTimeInterval": 4}, category=14, number=193)
    msgs = [daily_max] + [statistic(kind, start=s) for kind in (1, 0) for s in (0, 6)]
    ds = open_ds(write(tmp_path / "stats.grib2", *msgs))
    by_type = {ds[n].attrs["GRIB_stepType"]: ds[n] for n in ds.data_vars}
    assert sorted(by_type) == ["accum", "avg", "max"]
    accum, avg = by_type["accum"], by_type["avg"]
    assert (accum.name, avg.name) == ("tp_accum", "tp_avg")
    assert accum.dims == avg.dims and accum.dims[0].startswith("step")
    np.testing.assert_array_equal(accum[accum.dims[0]], np.array([6, 12]) * HOUR)
    daily = by_type["max"]
    assert one_value(daily[[c for c in daily.coords if c.startswith("step")][0]]) == 16 * HOUR
    assert one_value(daily[[c for c in daily.coords if c.startswith("valid")][0]]) == np.datetime64("2024-05-17T04")


def probability(value, ptype, lower=None, upper=None, category=0, number=0):
    keys = {"probabilityType": ptype, "forecastTime": 6}
    if lower is not None:
        keys.update(scaleFactorOfLowerLimit=0, scaledValueOfLowerLimit=lower)
    else:
        keys.update(scaleFactorOfLowerLimit=g.MISSING, scaledValueOfLowerLimit=g.MISSING)
    if upper is not None:
        keys.update(scaleFactorOfUpperLimit=0, scaledValueOfUpperLimit=upper)
    else:
        keys.update(scaleFactorOfUpperLimit=g.MISSING, scaledValueOfUpperLimit=g.MISSING)
    return gs.product(gs.field(value), 5, keys, category=category, number=number)


def test_probability_thresholds_are_a_dimension_with_their_limits(tmp_path):
    msgs = [probability(t, 3, lower=t) for t in (20, 10, 30)]       # above 10, 20, 30
    msgs += [probability(5, 4, upper=273)]                          # below 273: another variable
    ds = open_ds(write(tmp_path / "prob.grib2", *msgs))
    (above, below) = ds.data_vars.values()
    assert above.dims == ("threshold", "latitude", "longitude")
    np.testing.assert_array_equal(above.threshold, [10, 20, 30])
    np.testing.assert_array_equal(above.lowerLimit, [10, 20, 30])
    assert "upperLimit" not in above.coords
    np.testing.assert_allclose(above.sel(threshold=20).values.ravel(), gs.field(20), atol=0.01)
    assert above.attrs["GRIB_probabilityType"] == 3 and below.attrs["GRIB_probabilityType"] == 4
    assert below.dims[0].startswith("threshold") and below[below.dims[0]].values.tolist() == [273.0]
    assert above.name.endswith("_above") and below.name.endswith("_below")


def test_percentiles_are_a_dimension(tmp_path):
    msgs = [gs.product(gs.field(p), 6, {"percentileValue": p, "forecastTime": 6}) for p in (90, 10, 50)]
    ds = open_ds(write(tmp_path / "pct.grib2", *msgs))
    (var,) = ds.data_vars.values()
    assert var.dims == ("percentile", "latitude", "longitude")
    np.testing.assert_array_equal(ds.percentile, [10, 50, 90])
    np.testing.assert_allclose(var.sel(percentile=90).values.ravel(), gs.field(90), atol=0.01)


def soil(top_cm, bottom_cm, value=1.0, category=0, number=0):
    return gs.product(gs.field(value), 0, {
        "typeOfFirstFixedSurface": 106, "scaleFactorOfFirstFixedSurface": 2, "scaledValueOfFirstFixedSurface": top_cm,
        "typeOfSecondFixedSurface": 106, "scaleFactorOfSecondFixedSurface": 2,
        "scaledValueOfSecondFixedSurface": bottom_cm}, category=category, number=number)


def test_layers_have_their_top_and_bottom_as_coordinates(tmp_path):
    msgs = [soil(t, b, value=t) for t, b in ((10, 40), (0, 10), (40, 100))]
    ds = open_ds(write(tmp_path / "soil.grib2", *msgs))
    (var,) = ds.data_vars.values()
    assert var.dims == ("depthBelowLandLayer", "latitude", "longitude")
    np.testing.assert_allclose(var.depthBelowLandLayer, [0, 0.1, 0.4])
    np.testing.assert_allclose(var.topLevel, [0, 0.1, 0.4])
    np.testing.assert_allclose(var.bottomLevel, [0.1, 0.4, 1.0])
    assert var.bottomLevel.dims == ("depthBelowLandLayer",)


def test_layers_sharing_their_top_are_variables_of_their_own(tmp_path):
    ds = open_ds(write(tmp_path / "soil.grib2", soil(0, 10), soil(0, 200)))
    assert sorted(float(one_value(ds[n][[c for c in ds[n].coords if c.startswith("bottomLevel")][0]]))
                  for n in ds.data_vars) == [0.1, 2.0]
    assert {ds[n].attrs["GRIB_typeOfLevel"] for n in ds.data_vars} == {"depthBelowLandLayer"}


# -------------------------------------------------------------- time_dims


@pytest.fixture
def runs(tmp_path):
    """Two runs 6 hours apart, steps 0, 6 and 12: valid times overlap."""
    msgs = [gs.message(gs.field(hour + step), hour=hour, step=step) for hour in (0, 6) for step in (0, 6, 12)]
    return write(tmp_path / "runs.grib2", *msgs)


def test_time_dims_default_is_time_and_step(runs):
    ds = open_ds(runs)
    assert ds.t.dims == ("time", "step", "latitude", "longitude")
    assert ds.valid_time.dims == ("time", "step")


def test_time_dims_time_and_valid_time(runs):
    ds = open_ds(runs, time_dims=("time", "valid_time"))
    assert ds.t.dims == ("time", "valid_time", "latitude", "longitude")
    assert ds.valid_time.size == 4 and ds.step.dims == ("time", "valid_time")
    cell = ds.t.sel(time="2024-05-01T06", valid_time="2024-05-01T12")
    np.testing.assert_allclose(cell.values.ravel(), gs.field(12), atol=0.01)
    assert cell.step.values == 6 * HOUR
    assert np.isnan(ds.t.sel(time="2024-05-01T06", valid_time="2024-05-01T00")).all()


def test_time_dims_valid_time_alone(tmp_path):
    msgs = [gs.message(gs.field(step), hour=0, step=step) for step in (0, 6, 12)]
    ds = open_ds(write(tmp_path / "one_run.grib2", *msgs), time_dims=("valid_time",))
    assert ds.t.dims == ("valid_time", "latitude", "longitude")
    np.testing.assert_array_equal(ds.step, np.array([0, 6, 12]) * HOUR)
    assert ds.step.dims == ds.time.dims == ("valid_time",)
    assert (ds.time == np.datetime64("2024-05-01T00", "ns")).all()


def test_time_dims_that_cannot_hold_the_fields_are_refused(runs):
    with pytest.raises(DatasetBuildError, match="add 'time' to time_dims"):
        open_ds(runs, time_dims=("valid_time",))
    with pytest.raises(ValueError, match="time_dims must name"):
        open_ds(runs, time_dims=("time", "verifying_time"))


# ---------------------------------------------------------------- filters


@pytest.mark.parametrize("filters, variables, levels", [
    ({"typeOfLevel": "isobaricInhPa"}, ["t"], 3),
    ({"shortName": "t", "level": [500, 1000]}, ["t"], 2),
    ({"level": 10}, ["u10", "v10"], None),
    ({"gridType": "lambert"}, ["v10"], None),
])
def test_filter_by_keys(mixed, filters, variables, levels):
    ds = open_ds(mixed, filter_by_keys=filters)
    assert list(ds.data_vars) == variables
    if levels:
        assert ds.isobaricInhPa.size == levels


@pytest.mark.parametrize("filters, pattern", [
    ({"typeoflevel": "isobaricInhPa"}, r"no field has the key 'typeoflevel'; did you mean 'typeOfLevel'"),
    ({"shortName": "nope"}, r"no field has shortName='nope'; values seen: t, 10u, 2t, 10v"),
    ({"shortName": "nope", "level": 10}, r"no field has shortName='nope'; values seen: t, 10u, 2t, 10v$"),
])
def test_filters_that_select_nothing_say_why(mixed, filters, pattern):
    with pytest.warns(RuntimeWarning, match=pattern) as caught:
        ds = open_ds(mixed, filter_by_keys=filters)
    assert list(ds.data_vars) == []
    assert not any("no field has the key 'level'" in str(w.message) for w in caught)


def test_drop_variables_keeps_the_others(mixed):
    ds = open_ds(mixed, drop_variables=["t", "v10"])
    assert list(ds.data_vars) == ["u10", "t2m"]
    assert "isobaricInhPa" not in ds.coords and "y" not in ds.dims
    assert list(open_ds(mixed, drop_variables="t2m").data_vars) == ["t", "u10", "v10"]


# --------------------------------------------------------- engine keywords


@pytest.mark.parametrize("kw", [
    dict(mask_and_scale=False), dict(decode_coords="all"), dict(concat_characters=False),
    dict(backend_kwargs={"indexpath": ""}), dict(backend_kwargs={"indexpath": "/nowhere/{path}.idx"}),
    dict(backend_kwargs={"lock": False, "cache_geo_coords": True}), dict(decode_cf=True),
])
def test_standard_and_borrowed_arguments_are_accepted(mixed, kw):
    assert list(open_ds(mixed, **kw).data_vars) == ["t", "u10", "t2m", "v10"]


def test_time_decoding_arguments(mixed):
    raw = open_ds(mixed, decode_times=False)
    assert raw.time.values == np.datetime64("2024-05-01", "s").astype(np.int64)
    assert raw.time.attrs["units"].startswith("seconds since 1970-01-01")
    assert raw.step.values.tolist() == [0, 6 * 3600] and raw.step.attrs["units"] == "seconds"
    deltas = open_ds(mixed, decode_timedelta=False)
    assert deltas.time.dtype.kind == "M" and deltas.step.dtype.kind in "iuf"
    cftime = pytest.importorskip("cftime")
    ds = open_ds(mixed, use_cftime=True)
    assert isinstance(ds.time.values.item(), cftime.datetime)
    assert open_ds(mixed, decode_cf=False).time.dtype.kind in "iuf"


def test_read_keys_become_attributes(mixed):
    ds = open_ds(mixed, backend_kwargs={"read_keys": ["discipline", "bitsPerValue", "absentKey"]})
    assert ds.t.attrs["GRIB_discipline"] == 0 and ds.t.attrs["GRIB_bitsPerValue"] == 16
    assert "GRIB_absentKey" not in ds.t.attrs


@pytest.mark.parametrize("kw, pattern", [
    (dict(backend_kwargs={"errors": "sometimes"}), "errors must be one of"),
    (dict(backend_kwargs={"encode_cf": ("parameter",)}), "encode_cf"),
    (dict(backend_kwargs={"no_such_option": 1}), "does not know 'no_such_option'"),
])
def test_unknown_options_get_a_clear_error(mixed, kw, pattern):
    with pytest.raises(ValueError, match=pattern):
        open_ds(mixed, **kw)


@pytest.mark.parametrize("name, expected", [
    ("a.grib", True), ("a.GRIB2", True), ("dir/a.grb", True), ("a.grb2", True), ("a.grib1", True),
    ("a.grb1", True), ("a.nc", False), ("grib", False), ("a.grib2.idx", False),
])
def test_guess_can_open_by_name(name, expected):
    assert VorlakBackendEntrypoint().guess_can_open(name) is expected


def test_guess_can_open_by_content(tmp_path, mixed):
    data = open(mixed, "rb").read()
    nameless = write(tmp_path / "download", data)
    other = write(tmp_path / "other", b"CDF\x01" + data)
    guess = VorlakBackendEntrypoint().guess_can_open
    assert guess(nameless) and not guess(other) and not guess(str(tmp_path / "absent"))
    assert guess(data) and guess(io.BytesIO(data)) and not guess(io.BytesIO(b"CDF"))


def test_engine_name_comes_from_the_declared_entry_point(tmp_path, mixed, monkeypatch):
    import tomllib
    with open(f"{conftest.ROOT}/pyproject.toml", "rb") as f:
        target = tomllib.load(f)["project"]["entry-points"]["xarray.backends"]["vorlak"]
    info = tmp_path / "site" / "vorlak_entry-0.dist-info"
    info.mkdir(parents=True)
    (info / "METADATA").write_text("Metadata-Version: 2.1\nName: vorlak-entry\nVersion: 0\n")
    (info / "entry_points.txt").write_text(f"[xarray.backends]\nvorlak = {target}\n")
    monkeypatch.syspath_prepend(str(tmp_path / "site"))
    xr.backends.plugins.list_engines.cache_clear()
    try:
        assert list(xr.open_dataset(mixed, engine="vorlak").data_vars) == ["t", "u10", "t2m", "v10"]
    finally:
        xr.backends.plugins.list_engines.cache_clear()


# ------------------------------------------------- bytes, file objects, fsspec


def test_bytes_and_file_objects_open_alike(mixed):
    data = open(mixed, "rb").read()
    expected = open_ds(mixed).t.values
    for obj in (data, io.BytesIO(data), open(mixed, "rb")):
        ds = open_ds(obj)
        np.testing.assert_array_equal(ds.t.values, expected)
        np.testing.assert_array_equal(pickle.loads(pickle.dumps(ds.t)).values, expected)


@pytest.fixture
def memory_fs(mixed):
    fsspec = pytest.importorskip("fsspec")
    fs = fsspec.filesystem("memory")
    fs.pipe("/bucket/mixed.grib2", open(mixed, "rb").read())
    yield fs
    fs.rm("/bucket", recursive=True)


def test_fsspec_urls_and_files_read_the_byte_ranges_they_need(mixed, memory_fs, monkeypatch):
    asked = []
    cat_file = type(memory_fs).cat_file

    def counting(self, path, start=None, end=None, **kw):
        asked.append((start, end))
        return cat_file(self, path, start=start, end=end, **kw)

    monkeypatch.setattr(type(memory_fs), "cat_file", counting)
    expected = open_ds(mixed).t.isel(step=1).values
    for obj in ("memory://bucket/mixed.grib2", memory_fs.open("/bucket/mixed.grib2", "rb")):
        asked.clear()
        ds = open_ds(obj)
        assert asked == [(None, None)]  # the scan reads it whole, once
        np.testing.assert_array_equal(ds.t.isel(step=1).values, expected)
        assert len(asked) == 4 and all(end - start < 300 for start, end in asked[1:])
        # Pickled (as for dask workers), still by ranges, once the file is
        # found unchanged.
        np.testing.assert_array_equal(pickle.loads(pickle.dumps(ds.t)).isel(step=1).values, expected)
    assert guess_url("memory://bucket/mixed.grib2")


def guess_url(url):
    return VorlakBackendEntrypoint().guess_can_open(url)


def test_storage_options_go_to_the_file_system(mixed, tmp_path):
    fsspec = pytest.importorskip("fsspec")
    url = "simplecache::file://" + mixed
    ds = open_ds(url, storage_options={"simplecache": {"cache_storage": str(tmp_path / "cache")}})
    np.testing.assert_array_equal(ds.t.values, open_ds(mixed).t.values)
    assert fsspec


# ------------------------------------------------------------ several files


@pytest.fixture
def day_files(tmp_path):
    paths = []
    for day in (1, 2, 3):
        msgs = [gs.message(gs.field(day * 10 + lev / 100), level=lev, day=day) for lev in (500, 850)]
        paths.append(write(tmp_path / f"day{day}.grib2", *msgs))
    return paths


@needs_dask
def test_several_files_combine_along_time(day_files):
    ds = xr.open_mfdataset(day_files, engine=ENGINE, combine="nested", concat_dim="time", parallel=True)
    assert ds.t.dims == ("time", "isobaricInhPa", "latitude", "longitude")
    assert ds.t.chunks[:2] == ((1, 1, 1), (1, 1))
    got = ds.t.sel(time="2024-05-02", isobaricInhPa=850).values
    np.testing.assert_array_equal(got, field_values(day_files[1], level=850).astype(np.float32))


@needs_dask
@pytest.mark.distributed
def test_open_mfdataset_on_a_local_cluster_of_processes(day_files):
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster):
        ds = xr.open_mfdataset(day_files, engine=ENGINE, combine="nested", concat_dim="time", parallel=True)
        total = float(ds.t.astype("float64").sum().compute())
    expected = 0.0
    for p in day_files:
        with vorlak.open(p) as grib:
            expected += sum(float(np.nansum(f.data(np.float32).astype(np.float64))) for f in grib)
    assert total == pytest.approx(expected)


# ----------------------------------------------------------------- real files

# File, variables, dimensions of the first, coordinates beyond time, step,
# valid_time, latitude and longitude.
REAL_FILES = [
    ("20260219T00Z_MSC_HRDPS_CAPE_Sfc_RLatLon0.0225_PT000H.grib2", ["cape"], ("y", "x"), {"surface"}),
    ("CMC_glb_TMP_ISBL_1_latlon.24x.24_2021051800_P000.grib2", ["t"], ("latitude", "longitude"),
     {"isobaricInhPa"}),
    ("MRMS_MergedRhoHV_19.00_20260219-042039.grib2", ["MergedRhoHV"], ("latitude", "longitude"),
     {"heightAboveSea"}),
    ("aqm.t12z.ave_1hr_o3-AK-polar-stereographic.grib2", ["ozcon"], ("y", "x"), {"sigma"}),
    ("aqm.t12z.ave_1hr_o3-HI-mercator.grib2", ["ozcon"], ("y", "x"), {"sigma"}),
    ("ecmwf-ifs-oper-surface.grib2", ["p19192", "prate", "sden", "p1254", "p6192"], ("latitude", "longitude"),
     {"surface"}),
    ("ecmwf_20250912120000-0h-oper-fc.msg90.grib2", ["tprate"], ("latitude", "longitude"), {"surface"}),
    ("ecmwf_soil_8vars_tiny.grib1", ["stl1", "swvl1", "swvl2", "stl2", "swvl3", "swvl4", "stl4", "stl3"],
     ("depthBelowLandLayer", "latitude", "longitude"),
     {"depthBelowLandLayer", "topLevel", "bottomLevel", "depthBelowLandLayer_3", "bottomLevel_3"}),
    ("gdas.t00z.sfluxgrbf000.msg1.grib2", ["gh"], ("latitude", "longitude"), {"hybrid"}),
    ("gdas.t12z.pgrb2.0p25.f000.msg13.grib2", ["vrate"], ("latitude", "longitude"), {"planetaryBoundaryLayer"}),
    ("gfs.t12z.pgrb2.0p25.f023-PV-TMP-missing.grib2", ["t"], ("latitude", "longitude"), {"potentialVorticity"}),
    ("hrrr.t06z.wrfsfcf01-UGRD.grib2", ["u10"], ("y", "x"), {"heightAboveGround"}),
    ("icon_global_icosahedral_single-level_2021112018_000_TOT_PREC.grib2", ["tprate"], ("values",), {"surface"}),
    ("jma_kousa_dust_multifield.grib2", ["p13192", "p13193"], ("step", "latitude", "longitude"), {"surface"}),
    ("jma_meps_pall_fh00-15_first20fields.grib2", ["u", "v", "t", "r", "gh"],
     ("isobaricInhPa", "latitude", "longitude"), {"isobaricInhPa", "number"}),
    ("jma_tornado_nowcast_runlength.grib2", ["p193000"], ("step", "latitude", "longitude"), {"surface"}),
    ("meteofrance.arome-TCDC.grib2", ["tcc"], ("latitude", "longitude"), {"surface"}),
    ("multi_1.at_10m.t12z.f147.grib2", ["ws", "wdir", "u", "v", "swh", "perpw", "dirpw", "mwd", "swell", "wvper",
                                        "swper", "mwp", "swdir"], ("latitude", "longitude"),
     {"surface", "orderedSequenceOfData"}),
    ("ncep_plottrak.grib1", ["u"], ("latitude", "longitude"), {"isobaricInhPa"}),
    ("ndfd_critfireo.grib2", ["p192192"], ("step", "y", "x"), {"surface", "threshold", "upperLimit"}),
    ("s2s-pdt12-pdt107-anomaly.grib2", ["t2m_max_derived", "t2m_avg_derived", "t2m_max_pdt107", "t"],
     ("latitude", "longitude"), {"heightAboveGround", "isobaricInhPa"}),
    ("s2s-pdt9-pdt10-pdt12.grib2", ["t2m_min_derived", "t2m_max_derived", "t2m_min_pct", "t2m_min_prob_abovenormal",
                                    "t2m_avg_prob_abovenormal", "t2m_min_prob_quantile"], ("latitude", "longitude"),
     {"heightAboveGround", "percentile", "threshold", "lowerLimit", "upperLimit", "threshold_1"}),
]


@pytest.mark.parametrize("name, variables, dims, coords", REAL_FILES, ids=[r[0][:30] for r in REAL_FILES])
def test_real_files_open_with_every_field_placed(name, variables, dims, coords):
    from vorlak.dataset.opening import open_model
    from vorlak.dataset.source import open_source
    path = conftest.testdata(name)
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # nothing left out, nothing truncated
        ds = open_ds(path)
        model = open_model([open_source(path)])
    assert list(ds.data_vars) == variables
    assert ds[variables[0]].dims == dims
    assert coords | {"time", "step", "valid_time"} <= set(ds.coords)
    if dims != ("values",):  # every grid but the unstructured one is located
        assert {"latitude", "longitude"} <= set(ds.coords)
    with vorlak.open(path) as grib:
        assert sum(int((v.table >= 0).sum()) for v in model.variables) == len(grib)
        first = grib[0]
        var = ds[variables[0]]
        assert var.attrs["GRIB_shortName"] == first["shortName"] and var.attrs["GRIB_paramId"] == first["paramId"]
    for v in ds.data_vars.values():
        assert v.attrs.get("GRIB_typeOfLevel") and v.dtype == np.float32


# ------------------------------------------------------------ projected grids

needs_grid_api = pytest.mark.skipif(not hasattr(vorlak.fields.Field, "projparams"),
                                    reason="the field API gives no projections yet")


def crs_of(ds, var):
    """The CRS as rioxarray finds it: the variable's grid_mapping names a
    coordinate whose crs_wkt (or spatial_ref) holds it."""
    pyproj = pytest.importorskip("pyproj")
    mapping = ds[ds[var].attrs["grid_mapping"]]
    assert mapping.dims == () and mapping.name in ds[var].coords
    return pyproj.CRS.from_wkt(mapping.attrs["crs_wkt"]), mapping.attrs


def check_points_against_proj(ds, var, tolerance=1e-6):
    """latitude/longitude on (y, x) are where PROJ puts x and y."""
    pyproj = pytest.importorskip("pyproj")
    crs, _ = crs_of(ds, var)
    xx, yy = np.meshgrid(ds.x.values, ds.y.values)
    lon, lat = pyproj.Transformer.from_crs(crs, crs.geodetic_crs, always_xy=True).transform(xx, yy)
    np.testing.assert_allclose(ds.latitude.values, lat, atol=tolerance)
    np.testing.assert_allclose(((ds.longitude.values - lon + 180) % 360) - 180, 0, atol=tolerance)


@needs_grid_api
@pytest.mark.parametrize("grid, mapping", [
    (gs.lambert_grid(), "lambert_conformal_conic"),
    (g.section3_polar(6, 4), "polar_stereographic"),
    (g.section3_mercator(6, 4), "mercator"),
])
def test_projected_grids_have_x_y_and_a_grid_mapping(tmp_path, grid, mapping):
    pyproj = pytest.importorskip("pyproj")
    ds = open_ds(write(tmp_path / "p.grib2", gs.message(gs.field(1, 6, 4), level_type=103, level=2, grid=grid)))
    assert ds.t2m.dims == ("y", "x") and ds.latitude.dims == ("y", "x")
    assert ds.x.attrs["standard_name"] == "projection_x_coordinate" and ds.x.attrs["units"] == "m"
    crs, attrs = crs_of(ds, "t2m")
    assert attrs["grid_mapping_name"] == mapping and attrs["spatial_ref"] == attrs["crs_wkt"]
    assert pyproj.CRS.from_cf(attrs) == crs or pyproj.CRS.from_cf(attrs).equals(crs, ignore_axis_order=True)
    check_points_against_proj(ds, "t2m")


@needs_grid_api
def test_regular_grids_name_their_earth(mixed):
    ds = open_ds(mixed)
    crs, attrs = crs_of(ds, "t")
    assert attrs["grid_mapping_name"] == "latitude_longitude" and crs.is_geographic


@needs_grid_api
@pytest.mark.parametrize("name, mapping", [
    ("hrrr.t06z.wrfsfcf01-UGRD.grib2", "lambert_conformal_conic"),
    ("ndfd_critfireo.grib2", "lambert_conformal_conic"),
    ("aqm.t12z.ave_1hr_o3-AK-polar-stereographic.grib2", "polar_stereographic"),
    ("aqm.t12z.ave_1hr_o3-HI-mercator.grib2", "mercator"),
])
def test_real_projected_grids_against_proj(name, mapping):
    ds = open_ds(conftest.testdata(name))
    (var,) = ds.data_vars
    crs, attrs = crs_of(ds, var)
    assert attrs["grid_mapping_name"] == mapping and crs.is_projected
    check_points_against_proj(ds, var)


@needs_grid_api
def test_selecting_by_latitude_and_longitude_on_a_lambert_grid():
    pyproj = pytest.importorskip("pyproj")
    ds = open_ds(conftest.testdata("hrrr.t06z.wrfsfcf01-UGRD.grib2"))
    crs, _ = crs_of(ds, "u10")
    x, y = pyproj.Transformer.from_crs("EPSG:4326", crs, always_xy=True).transform(-100.0, 40.0)
    point = ds.u10.sel(x=x, y=y, method="nearest")
    assert float(point.latitude) == pytest.approx(40.0, abs=0.03)
    assert float(point.longitude) == pytest.approx(-100.0, abs=0.03)
    # The same point through the 2-D coordinates.
    distance = (ds.latitude - 40.0) ** 2 + ((ds.longitude + 100.0) * np.cos(np.radians(40.0))) ** 2
    iy, ix = np.unravel_index(int(distance.argmin()), distance.shape)
    assert (float(ds.y[iy]), float(ds.x[ix])) == (float(point.y), float(point.x))


@needs_grid_api
def test_a_rotated_grid_has_its_rotated_pole():
    ds = open_ds(conftest.testdata("20260219T00Z_MSC_HRDPS_CAPE_Sfc_RLatLon0.0225_PT000H.grib2"))
    crs, attrs = crs_of(ds, "cape")
    assert attrs["grid_mapping_name"] == "rotated_latitude_longitude"
    assert ds.cape.dims == ("y", "x") and ds.latitude.dims == ("y", "x")
    # x and y: longitude and latitude in the rotated frame, as the grid states them.
    assert ds.x.attrs["standard_name"] == "grid_longitude" and ds.y.attrs["units"] == "degrees"
    np.testing.assert_allclose([ds.x[0], ds.y[0]], [345.17878 - 360, -12.302501], atol=1e-6)
    np.testing.assert_allclose(np.diff(ds.x), 0.0225, atol=1e-6)
    lat, lon = float(ds.latitude[0, 0]), float(ds.longitude[0, 0])
    with vorlak.open(conftest.testdata("20260219T00Z_MSC_HRDPS_CAPE_Sfc_RLatLon0.0225_PT000H.grib2")) as grib:
        assert (lat, lon) == (float(grib[0].latitudes[0, 0]), float(grib[0].longitudes[0, 0]))


def test_reduced_gaussian_points_lie_on_a_values_dimension(tmp_path):
    pl = [8, 12, 12, 8]
    grid = g.gds_latlon(0, len(pl), 60, 0, -60, 330, 0, 0, gaussian_n=2, pl=pl)
    pds = g.pds(parameter=167, level_type=1, level=0, year=2024, month=5, day=1, centre=98, D=1)
    values = [280.0 + k for k in range(sum(pl))]
    msg = g.grib1_message(pds, grid, None, g.bds_simple(values, bits=16, D=1))
    ds = open_ds(write(tmp_path / "reduced.grib1", msg))
    (var,) = ds.data_vars.values()
    assert var.dims == ("values",) and var.shape == (sum(pl),)
    np.testing.assert_allclose(var.values, values, atol=0.05)
    with vorlak.open(str(tmp_path / "reduced.grib1")) as grib:
        lats = grib[0].latitudes
    if lats is not None:  # where the field API locates reduced grids
        assert ds.latitude.dims == ("values",)
        np.testing.assert_array_equal(ds.latitude, lats)


def test_fields_without_a_level_value_share_one_level():
    from vorlak.dataset import cube
    from vorlak.dataset.scan import FieldInfo
    t0 = np.datetime64("2024-05-01T00", "ns")
    fields = [FieldInfo(0, k, str(k + 1), 0, 0, 0, 0, (130, "unknown", 0, ()), t0, np.timedelta64(k, "h"),
                        float("nan")) for k in range(3)]
    (c,) = cube.group(fields, ("time", "step"), explain=None)
    assert c.table.shape == (1, 3, 1) and (c.table >= 0).all()
