"""Virtual datasets: vorlak.references and the numcodecs codec "vorlak",
read back through fsspec's reference file system and zarr and compared
with opening the files directly."""
import json
import os

import numpy as np
import pytest

xr = pytest.importorskip("xarray")
pytest.importorskip("zarr")
numcodecs = pytest.importorskip("numcodecs")
pytest.importorskip("fsspec")

import conftest  # noqa: E402
import gribbuild as g  # noqa: E402
import gribsets as gs  # noqa: E402
from conftest import write  # noqa: E402
import vorlak  # noqa: E402
from vorlak.codec import VorlakCodec  # noqa: E402
from vorlak.xarray_backend import VorlakBackendEntrypoint  # noqa: E402


def through_references(refs, **kw):
    return xr.open_dataset("reference://", engine="zarr", backend_kwargs={
        "storage_options": {"fo": refs}, "consolidated": False}, **kw)


def assert_same(direct, virtual):
    assert set(direct.data_vars) == set(virtual.data_vars)
    assert set(direct.coords) == set(virtual.coords)
    for name in direct.variables:
        a, b = direct[name], virtual[name]
        assert a.dims == b.dims, name
        assert a.dtype == b.dtype, name
        np.testing.assert_array_equal(a.values, b.values, err_msg=name)
    for name in direct.data_vars:
        assert direct[name].attrs == virtual[name].attrs, name


def multi_field_message(levels=(500, 700, 850), bitmap_reuse=False):
    """One message holding a field per level on one grid; with
    ``bitmap_reuse`` the later fields reuse the first field's bitmap."""
    s1 = g.section1(centre=98, year=2024, month=5, day=1)
    parts = [s1, gs.latlon_grid()]
    present = [k % 5 != 2 for k in range(gs.NI * gs.NJ)]
    for k, level in enumerate(levels):
        values = [v if p else float("nan") for v, p in zip(gs.field(level / 10), present)]
        s4, s5, s6, s7 = g.field_simple(values, bits=16, D=2, level=level * 100)
        if bitmap_reuse and k:
            s6 = g.section6(indicator=254)
        parts += [s4, s5, s6, s7]
    return g.grib2_message(parts)


@pytest.fixture
def mixed(tmp_path):
    return write(tmp_path / "mixed.grib2", *gs.mixed_messages())


def test_references_read_back_as_the_direct_open(mixed):
    refs = vorlak.references(mixed)
    assert refs["version"] == 1
    refs = json.loads(json.dumps(refs))  # plain JSON
    assert_same(xr.open_dataset(mixed, engine=VorlakBackendEntrypoint), through_references(refs))


def test_each_chunk_names_the_bytes_of_one_field(tmp_path):
    path = write(tmp_path / "multi.grib2", multi_field_message(bitmap_reuse=True))
    refs = vorlak.references(path)["refs"]
    chunks = sorted(v for k, v in refs.items() if k.startswith("t/") and not k.startswith("t/."))
    size = os.path.getsize(path)
    assert [c[0] for c in chunks] == [path] * 3 and all(c[1] == 0 for c in chunks)
    # Each range ends where its field's data end: the last field's at the
    # end marker.
    assert chunks[0][2] < chunks[1][2] < chunks[2][2] == size - 4
    direct = xr.open_dataset(path, engine=VorlakBackendEntrypoint)
    assert_same(direct, through_references(refs and {"version": 1, "refs": refs}))
    assert np.isnan(direct.t.sel(isobaricInhPa=850).values).sum() == 8


def test_several_files_become_one_dataset_with_empty_cells(tmp_path):
    paths = []
    for day in (1, 2, 3):
        levels = (500, 850) if day != 2 else (500,)
        msgs = [gs.message(gs.field(day * 10 + lev / 100), level=lev, day=day) for lev in levels]
        paths.append(write(tmp_path / f"day{day}.grib2", *msgs))
    virtual = through_references(vorlak.references(paths))
    assert virtual.t.dims == ("time", "isobaricInhPa", "latitude", "longitude")
    assert virtual.time.size == 3
    assert np.isnan(virtual.t.sel(time="2024-05-02", isobaricInhPa=850).values).all()
    for day, path in zip((1, 3), (paths[0], paths[2])):
        direct = xr.open_dataset(path, engine=VorlakBackendEntrypoint)
        np.testing.assert_array_equal(virtual.t.sel(time=f"2024-05-0{day}").values, direct.t.values)


def test_references_work_with_dask_chunks(mixed):
    pytest.importorskip("dask")
    virtual = through_references(vorlak.references(mixed), chunks={})
    direct = xr.open_dataset(mixed, engine=VorlakBackendEntrypoint)
    assert float(virtual.t.sum().compute(scheduler="threads")) == pytest.approx(float(direct.t.sum()))


def test_references_to_an_fsspec_url(mixed):
    fsspec = pytest.importorskip("fsspec")
    fs = fsspec.filesystem("memory")
    fs.pipe("/refs/mixed.grib2", open(mixed, "rb").read())
    try:
        refs = vorlak.references("memory://refs/mixed.grib2")
        url = refs["refs"]["t/0.0.0.0"][0]
        assert url.startswith("memory://") and url.endswith("/refs/mixed.grib2")
        virtual = xr.open_dataset("reference://", engine="zarr", backend_kwargs={
            "storage_options": {"fo": refs, "remote_protocol": "memory"}, "consolidated": False})
        np.testing.assert_array_equal(virtual.t.values, xr.open_dataset(mixed, engine=VorlakBackendEntrypoint).t)
    finally:
        fs.rm("/refs", recursive=True)


def test_references_need_files(mixed):
    with pytest.raises(TypeError, match="references name files"):
        vorlak.references([open(mixed, "rb").read()])


# ------------------------------------------------------------------- codec


def test_the_codec_decodes_fields_coordinates_and_empty_cells(tmp_path):
    data = multi_field_message()
    with vorlak.open(data) as grib:
        expected = [f.data(np.float64) for f in grib]
        lats = grib[0].latitudes
    codec = numcodecs.get_codec({"id": "vorlak", "dtype": "float64"})
    assert isinstance(codec, VorlakCodec)
    np.testing.assert_array_equal(codec.decode(data), expected[2].ravel())
    out = np.empty(gs.NI * gs.NJ, dtype=np.float64)
    codec.decode(data, out=out)
    np.testing.assert_array_equal(out, expected[2].ravel())
    refs = vorlak.references(write(tmp_path / "m.grib2", data))["refs"]
    first = refs["t/0.0.0"]
    np.testing.assert_array_equal(codec.decode(data[:first[2]]), expected[0].ravel())
    np.testing.assert_array_equal(VorlakCodec(coordinate="latitude", dtype="float64").decode(data), lats.ravel())
    assert np.isnan(VorlakCodec(points=6).decode(b"")).all()
    assert numcodecs.get_codec(codec.get_config()).get_config() == codec.get_config()
    with pytest.raises(NotImplementedError):
        codec.encode(np.zeros(3))
    with pytest.raises(vorlak.CodesInternalError):
        codec.decode(b"not GRIB at all")


def test_the_codec_is_found_through_its_entry_point(tmp_path, monkeypatch):
    import tomllib
    from numcodecs import registry
    with open(f"{conftest.ROOT}/pyproject.toml", "rb") as f:
        target = tomllib.load(f)["project"]["entry-points"]["numcodecs.codecs"]["vorlak"]
    info = tmp_path / "site" / "vorlak_codec-0.dist-info"
    info.mkdir(parents=True)
    (info / "METADATA").write_text("Metadata-Version: 2.1\nName: vorlak-codec\nVersion: 0\n")
    (info / "entry_points.txt").write_text(f"[numcodecs.codecs]\nvorlak = {target}\n")
    monkeypatch.syspath_prepend(str(tmp_path / "site"))
    monkeypatch.delitem(registry.codec_registry, "vorlak")
    try:
        registry.run_entrypoints()
        assert registry.get_codec({"id": "vorlak"}).codec_id == "vorlak"
    finally:
        registry.register_codec(VorlakCodec)


# -------------------------------------------------------------- real files


REAL = sorted(f for f in os.listdir(conftest.TESTDATA) if ".grib" in f) if os.path.isdir(conftest.TESTDATA) else []


@pytest.mark.parametrize("name", REAL)
def test_real_files_read_back_alike(name):
    path = conftest.testdata(name)
    assert_same(xr.open_dataset(path, engine=VorlakBackendEntrypoint), through_references(vorlak.references(path)))
