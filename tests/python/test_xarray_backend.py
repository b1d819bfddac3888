"""The xarray backend: dataset model from keys, coordinates and attributes,
lazy and single decoding, dask chunks, pickling, several files, filters,
refusals, and real files."""
import pickle

import numpy as np
import pytest

xr = pytest.importorskip("xarray")

import conftest  # noqa: E402
import gribbuild as g  # noqa: E402
import gribsets as gs  # noqa: E402
from conftest import write  # noqa: E402
from vorlak import _vorlak as v  # noqa: E402
from vorlak.dataset import fields, grid  # noqa: E402
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
    """Counts of field decodes and of axis reads, by message offset."""
    seen = {"fields": [], "axes": 0}
    decode, read_axes = fields.decode, grid.read_axes

    def counting_decode(handle):
        seen["fields"].append(v.codes_get_long(handle, "offset"))
        return decode(handle)

    def counting_axes(handle):
        seen["axes"] += 1
        return read_axes(handle)

    monkeypatch.setattr(fields, "decode", counting_decode)
    monkeypatch.setattr(grid, "read_axes", counting_axes)
    return seen


def handles_of(path):
    out = []
    with open(path, "rb") as f:
        while (h := v.codes_grib_new_from_file(f)) is not None:
            out.append(h)
    return out


def message_values(path, **keys):
    """Values of the one message of ``path`` whose keys have these texts."""
    found = [h for h in handles_of(path)
             if all(v.codes_get_string(h, k) == str(x) for k, x in keys.items())]
    assert len(found) == 1, keys
    return np.asarray(v.codes_get_values(found[0]))


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
    assert ds.v10.dims == ("step_1", "heightAboveGround", "y", "x") and ds.v10.shape == (1, 1, 4, 6)
    assert ds.u10.heightAboveGround.values.tolist() == [10.0]
    assert ds.t2m.heightAboveGround_1.values.tolist() == [2.0] and "heightAboveGround" not in ds.t2m.coords
    assert "step" not in ds.t2m.coords and ds.t2m.step_1.values.tolist() == [0]


def test_shared_single_values_are_scalar_coordinates(tmp_path):
    msgs = [gs.message(gs.field(280), level_type=103, level=2),
            gs.message(gs.field(270), category=0, number=6, level_type=103, level=2)]
    ds = open_ds(write(tmp_path / "2m.grib2", *msgs))
    assert list(ds.data_vars) == ["t2m", "d2m"]
    assert ds.t2m.dims == ds.d2m.dims == ("latitude", "longitude")
    assert ds.heightAboveGround.dims == () and ds.heightAboveGround.values == 2.0
    assert ds.step.values == np.timedelta64(0, "ns") and ds.valid_time.values == ds.time.values


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


def test_selection_values_equal_the_message_values(mixed):
    ds = open_ds(mixed)
    for level in gs.LEVELS:
        for step in gs.STEPS:
            got = ds.t.sel(isobaricInhPa=level, step=step * HOUR).values
            expected = message_values(mixed, shortName="t", level=level, stepRange=step)
            np.testing.assert_array_equal(got, expected.reshape(gs.NJ, gs.NI))
    u = ds.u10.isel(step=1, heightAboveGround=0).values
    assert u.dtype == np.float64 and np.isnan(u).sum() == 6
    np.testing.assert_array_equal(u.ravel(), message_values(mixed, shortName="10u", stepRange=6))
    np.testing.assert_array_equal(ds.v10.values.ravel(), message_values(mixed, shortName="10v"))


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


@pytest.mark.parametrize("scan", [0x00, 0x10, 0x20, 0x30])
def test_stored_point_order_is_laid_out_on_rows_and_columns(tmp_path, scan):
    """Value 100 * row + column wherever the scanning mode stores it."""
    ni, nj = gs.NI, gs.NJ
    lines, length = (ni, nj) if scan & 0x20 else (nj, ni)
    stored = []
    for line in range(lines):
        positions = range(length)[::-1] if scan & 0x10 and line % 2 else range(length)
        for p in positions:
            row, col = (p, line) if scan & 0x20 else (line, p)
            stored.append(100.0 * row + col)
    grid = g.section3_latlon(ni=ni, nj=nj, la1=60, lo1=0, la2=20, lo2=35, di=5, dj=10, scan=scan)
    ds = open_ds(write(tmp_path / "order.grib2", gs.message(stored, grid=grid)))
    expected = 100.0 * np.arange(nj)[:, None] + np.arange(ni)[None, :]
    np.testing.assert_allclose(ds.t.values, expected, atol=0.01)


# ---------------------------------------------------------------- laziness


def test_open_decodes_only_the_axes_and_each_field_once(mixed, decodes):
    ds = open_ds(mixed)
    assert decodes == {"fields": [], "axes": 1}  # one latitude/longitude grid, no Lambert axes
    offsets = [off for off, _ in v.codes_extract_offsets_sizes(mixed, 1)]
    ds.t.isel(step=1, isobaricInhPa=2).values
    assert decodes["fields"] == [offsets[5]]
    ds.t.isel(step=1, isobaricInhPa=2, latitude=0).values
    ds.t.sel(step=6 * HOUR).isel(isobaricInhPa=2).mean().values
    assert decodes["fields"] == [offsets[5]]
    ds.t.values
    ds.t.values
    assert sorted(decodes["fields"]) == offsets[:6]
    ds.v10[0, 0, 1:3, 2].values
    assert len(decodes["fields"]) == 7


@needs_dask
def test_chunks_are_one_per_field(mixed, decodes):
    ds = open_ds(mixed, chunks={})
    assert ds.t.chunks == ((1, 1), (1, 1, 1), (gs.NJ,), (gs.NI,))
    assert ds.v10.chunks == ((1,), (1,), (4,), (6,))
    assert decodes["fields"] == []
    total = ds.t.sum().compute(scheduler="threads")
    assert float(total) == pytest.approx(float(np.nansum(open_ds(mixed).t.values)))
    assert len(decodes["fields"]) == 6


def test_arrays_pickle_by_path_and_offsets(mixed, tmp_path):
    ds = open_ds(mixed)
    blob = pickle.dumps(ds.t)
    assert len(blob) < 20_000
    restored = pickle.loads(blob)
    np.testing.assert_array_equal(restored.values, ds.t.values)
    # In a fresh source (as in another process) messages are opened by offset.
    fields.FieldSource._shared.clear()
    np.testing.assert_array_equal(pickle.loads(blob).isel(step=0).values, ds.t.isel(step=0).values)


def test_a_changed_file_is_not_read_as_the_old_one(tmp_path):
    path = write(tmp_path / "f.grib2", *gs.mixed_messages())
    blob = pickle.dumps(open_ds(path).t)
    fields.FieldSource._shared.clear()
    write(path, *gs.mixed_messages()[::-1])
    with pytest.raises(fields.FileChanged, match="has changed since it was opened"):
        pickle.loads(blob).values


def test_unreadable_files_are_refused_with_their_name(tmp_path):
    junk = write(tmp_path / "junk.grib2", b"not a GRIB file" * 20)
    with pytest.raises(v.CodesInternalError, match=f"{junk}: no GRIB messages found"):
        open_ds(junk)
    with pytest.raises(FileNotFoundError):
        open_ds(str(tmp_path / "absent.grib2"))


def test_undecodable_messages_fail_when_read_not_when_opened(tmp_path):
    path = write(tmp_path / "bad.grib2", gs.message(gs.field(280), level=500), gs.undecodable(level=700))
    ds = open_ds(path)
    np.testing.assert_array_equal(ds.isobaricInhPa, [500.0, 700.0])
    assert np.isfinite(ds.t.sel(isobaricInhPa=500).values).all()
    with pytest.raises(v.CodesInternalError, match="message at offset"):
        ds.t.sel(isobaricInhPa=700).values


# ------------------------------------------------- hypercubes and conflicts


def test_sparse_cube_cells_are_nan(tmp_path):
    msgs = [gs.message(gs.field(1), level=500, step=0), gs.message(gs.field(2), level=850, step=6)]
    ds = open_ds(write(tmp_path / "sparse.grib2", *msgs))
    assert ds.t.shape == (2, 2, gs.NJ, gs.NI)
    assert np.isnan(ds.t.sel(step=0 * HOUR, isobaricInhPa=850)).all()
    assert np.isfinite(ds.t.sel(step=6 * HOUR, isobaricInhPa=850)).all()


def test_two_grids_give_two_variables(tmp_path, decodes):
    msgs = [gs.message(gs.field(1), level=500), gs.message(gs.field(2), level=850),
            gs.message(gs.field(3), level=500, grid=gs.latlon_grid(la1=-10, lo1=100)),
            gs.message(gs.field(4), category=2, number=2, level=500, grid=gs.latlon_grid(la1=60, lo1=100))]
    ds = open_ds(write(tmp_path / "grids.grib2", *msgs))
    assert decodes["axes"] == 3
    assert ds.t.dims == ("isobaricInhPa", "latitude", "longitude")
    assert ds.t_isobaricInhPa.dims == ("isobaricInhPa_1", "latitude_1", "longitude_1")
    np.testing.assert_array_equal(ds.latitude_1, [-10, -20, -30, -40, -50])
    np.testing.assert_array_equal(ds.longitude_1, np.arange(100, 140, 5))
    np.testing.assert_array_equal(ds.t_isobaricInhPa.isobaricInhPa_1, [500.0])
    np.testing.assert_allclose(ds.t_isobaricInhPa.values.ravel(), gs.field(3), atol=1e-3)
    # An axis shared by two grids is one dimension.
    assert ds.u.dims == ("isobaricInhPa_1", "latitude", "longitude_1")


def test_different_level_sets_get_their_own_dimension(tmp_path):
    msgs = [gs.message(gs.field(1), level=lev) for lev in (500, 850)]
    msgs += [gs.message(gs.field(2), category=2, number=2, level=lev) for lev in (300, 500, 850)]
    ds = open_ds(write(tmp_path / "levels.grib2", *msgs))
    assert ds.t.dims[0] == "isobaricInhPa" and ds.u.dims[0] == "isobaricInhPa_1"
    assert ds.isobaricInhPa.size == 2 and ds.isobaricInhPa_1.size == 3


@pytest.mark.parametrize("second, pattern", [
    (dict(process=81), r"messages 1 and 2 are both at time 2024-05-01T00:00, step 0 h, isobaricInhPa 500 "
                       r"and differ in generatingProcessIdentifier \(96 / 81\).*"
                       r"filter_by_keys=\{'generatingProcessIdentifier': 96\}"),
    (dict(), "no key tells them apart: the file may hold the same field twice"),
])
def test_duplicate_fields_are_refused_with_the_clashing_keys(tmp_path, second, pattern):
    msgs = [gs.message(gs.field(1), level=500), gs.message(gs.field(2), level=500, **second)]
    with pytest.raises(DatasetBuildError, match=pattern):
        open_ds(write(tmp_path / "dup.grib2", *msgs))


def test_products_of_one_parameter_are_variables_of_their_own():
    # Daily maxima and means, and their anomalies (templates 4.12, 4.107).
    path = conftest.testdata("s2s-pdt12-pdt107-anomaly.grib2")
    ds = open_ds(path)
    products = sorted((ds[n].attrs["GRIB_productDefinitionTemplateNumber"], ds[n].attrs["GRIB_stepType"])
                      for n in ds.data_vars)
    assert products == [(12, "avg"), (12, "max"), (107, "avg"), (107, "max")]
    # Valid at the end of the day they cover.
    assert all(ds[n].step.values == 24 * HOUR for n in ds.data_vars)
    ds = open_ds(path, filter_by_keys={"productDefinitionTemplateNumber": 107})
    assert all(ds[n].attrs["GRIB_centre"] == 7 for n in ds.data_vars) and len(ds.data_vars) == 2


def test_ensemble_members_are_a_dimension(tmp_path):
    members = [gs.product(gs.field(k), 1, {"typeOfEnsembleForecast": 3, "perturbationNumber": k,
                                           "numberOfForecastsInEnsemble": 3, "forecastTime": 6})
               for k in (2, 0, 1)]
    ds = open_ds(write(tmp_path / "ens.grib2", *members))
    (name,) = ds.data_vars
    assert ds[name].dims[0] == "number"
    np.testing.assert_array_equal(ds.number, [0, 1, 2])
    np.testing.assert_allclose(ds[name].sel(number=2).values.ravel(), gs.field(2), atol=0.01)
    assert ds[name].attrs["GRIB_numberOfForecastsInEnsemble"] == 3


def test_statistics_end_where_their_interval_ends(tmp_path):
    # AQM's daily maximum: forecast time -7 h, 23 hours, ending 04:00 the
    # next day; and a 6-hour accumulation from step 6.
    daily_max = gs.product(gs.field(60), 8, {
        "forecastTime": -7, "typeOfStatisticalProcessing": 2, "indicatorOfUnitForTimeRange": 1,
        "lengthOfTimeRange": 23, "yearOfEndOfOverallTimeInterval": 2024, "monthOfEndOfOverallTimeInterval": 5,
        "dayOfEndOfOverallTimeInterval": 17, "hourOfEndOfOverallTimeInterval": 4}, category=14, number=193)
    accumulation = gs.product(gs.field(1), 8, {
        "forecastTime": 6, "typeOfStatisticalProcessing": 1, "indicatorOfUnitForTimeRange": 1,
        "lengthOfTimeRange": 6}, category=1, number=8)
    ds = open_ds(write(tmp_path / "stats.grib2", daily_max, accumulation))
    by_type = {ds[n].attrs["GRIB_stepType"]: ds[n] for n in ds.data_vars}

    def coord(var, base):
        (name,) = [c for c in var.coords if c.split("_")[0] == base]
        return var[name].values.ravel()

    assert coord(by_type["max"], "step") == 16 * HOUR
    assert coord(by_type["max"], "valid") == np.datetime64("2024-05-17T04:00")
    assert coord(by_type["accum"], "step") == 12 * HOUR


def test_layers_sharing_their_top_are_variables_of_their_own(tmp_path):
    def soil(bottom_cm):
        return gs.product(gs.field(bottom_cm), 0, {
            "typeOfFirstFixedSurface": 106, "typeOfSecondFixedSurface": 106,
            "scaleFactorOfSecondFixedSurface": 2, "scaledValueOfSecondFixedSurface": bottom_cm})
    ds = open_ds(write(tmp_path / "soil.grib2", soil(10), soil(200)))
    assert sorted(ds[n].attrs["GRIB_bottomLevel"] for n in ds.data_vars) == [0.1, 2.0]
    assert {ds[n].attrs["GRIB_typeOfLevel"] for n in ds.data_vars} == {"depthBelowLandLayer"}


def test_probability_thresholds_are_variables_of_their_own(tmp_path):
    def above(threshold):
        return gs.product(gs.field(threshold), 5, {"probabilityType": 1, "scaleFactorOfLowerLimit": 0,
                                                    "scaledValueOfLowerLimit": threshold})
    ds = open_ds(write(tmp_path / "prob.grib2", above(10), above(20)))
    assert sorted(ds[n].attrs["GRIB_lowerLimit"] for n in ds.data_vars) == [10.0, 20.0]


@pytest.mark.parametrize("filters, variables, levels", [
    ({"typeOfLevel": "isobaricInhPa"}, ["t"], 3),
    ({"shortName": "t", "level": [500, 1000]}, ["t"], 2),
    ({"level": 10}, ["u10", "v10"], None),
    ({"gridType": "lambert"}, ["v10"], None),
    ({"shortName": "nope"}, [], None),
])
def test_filter_by_keys(mixed, filters, variables, levels):
    ds = open_ds(mixed, filter_by_keys=filters)
    assert list(ds.data_vars) == variables
    if levels:
        assert ds.isobaricInhPa.size == levels


def test_drop_variables_keeps_the_others(mixed):
    ds = open_ds(mixed, drop_variables=["t", "v10"])
    assert list(ds.data_vars) == ["u10", "t2m"]
    assert "isobaricInhPa" not in ds.coords and "y" not in ds.dims
    assert list(open_ds(mixed, drop_variables="t2m").data_vars) == ["t", "u10", "v10"]


@pytest.mark.parametrize("name, expected", [
    ("a.grib", True), ("a.GRIB2", True), ("dir/a.grb", True), ("a.grb2", True),
    ("a.nc", False), ("grib", False), ("a.grib2.idx", False),
])
def test_guess_can_open(name, expected):
    assert VorlakBackendEntrypoint().guess_can_open(name) is expected


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
    expected = message_values(day_files[1], level=850).reshape(gs.NJ, gs.NI)
    np.testing.assert_array_equal(got, expected)


@needs_dask
def test_levels_from_several_files_combine(tmp_path):
    paths = [write(tmp_path / f"l{lev}.grib2", gs.message(gs.field(lev / 10), level=lev)) for lev in (850, 500)]
    ds = xr.open_mfdataset(paths, engine=ENGINE, combine="nested", concat_dim="isobaricInhPa")
    ds = ds.sortby("isobaricInhPa")
    np.testing.assert_array_equal(ds.isobaricInhPa, [500.0, 850.0])
    np.testing.assert_array_equal(ds.t.sel(isobaricInhPa=500).values.ravel(), message_values(paths[1]))


@needs_dask
@pytest.mark.distributed
def test_open_mfdataset_on_a_local_cluster_of_processes(day_files):
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster):
        ds = xr.open_mfdataset(day_files, engine=ENGINE, combine="nested", concat_dim="time", parallel=True)
        total = float(ds.t.sum().compute())
    expected = sum(float(np.nansum(np.asarray(v.codes_get_values(h)))) for p in day_files for h in handles_of(p))
    assert total == pytest.approx(expected)


# ----------------------------------------------------------------- real files


def test_global_gfs_grid_has_latitude_and_longitude():
    path = conftest.testdata("gfs.t12z.pgrb2.0p25.f023-PV-TMP-missing.grib2")
    ds = open_ds(path)
    assert ds.latitude.size == 721 and ds.longitude.size == 1440
    assert ds.latitude[0] == 90.0 and ds.latitude[-1] == -90.0 and ds.longitude[1] == 0.25
    vals = ds.t.values
    np.testing.assert_array_equal(vals.ravel(), np.asarray(v.codes_get_values(handles_of(path)[0])))
    assert np.isnan(vals).any() and ds.t.attrs["GRIB_typeOfLevel"] == "potentialVorticity"


def test_lambert_hrrr_grid_has_y_and_x(decodes):
    path = conftest.testdata("hrrr.t06z.wrfsfcf01-UGRD.grib2")
    ds = open_ds(path)
    assert ds.u10.dims == ("y", "x") and ds.u10.shape == (1059, 1799)
    assert decodes == {"fields": [], "axes": 0}
    assert ds.u10.attrs["GRIB_gridType"] == "lambert" and ds.u10.attrs["units"] == "m s**-1"
    np.testing.assert_array_equal(ds.u10[500].values, np.asarray(v.codes_get_values(handles_of(path)[0]))
                                  .reshape(1059, 1799)[500])


def test_wave_file_variables_and_attributes(decodes):
    path = conftest.testdata("multi_1.at_10m.t12z.f147.grib2")
    ds = open_ds(path)
    hs = handles_of(path)
    assert len(hs) == 19 and decodes["axes"] == 1
    assert sum(int(np.prod(ds[n].shape[:-2])) for n in ds.data_vars) == 19
    for name in ds.data_vars:
        a = ds[name].attrs
        assert a["GRIB_centre"] == 7 and a["GRIB_gridType"] == "regular_ll"
        assert ds[name].dims[-2:] == ("latitude", "longitude")
    first = hs[0]
    ws = ds[v.codes_get_string(first, "shortName")]
    assert ws.attrs["GRIB_paramId"] == v.codes_get_long(first, "paramId")
    assert ws.attrs["GRIB_units"] == v.codes_get_string(first, "units")
    assert ds.step.values == v.codes_get_long(first, "forecastTime") * HOUR
    np.testing.assert_array_equal(ws.values.ravel(), np.asarray(v.codes_get_values(first)))
    assert decodes["fields"] == [0]
