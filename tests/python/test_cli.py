"""The vorlak command line: listing, statistics, key dumps, nearest points,
key filters, JSON output and exit statuses."""
import json
import os
import subprocess
import sys

import numpy as np
import pytest

import gribbuild as g
import gribsets as gs
from conftest import HANG_GUARD_SECONDS, ROOT, write
from conftest import testdata as real_file
from vorlak import _vorlak as v
from vorlak.cli.app import main


@pytest.fixture
def mixed(tmp_path):
    return write(tmp_path / "mixed.grib2", *gs.mixed_messages())


def run(capsys, *argv):
    """(exit status, stdout, stderr) of one in-process run."""
    try:
        status = main(list(argv))
    except SystemExit as e:  # argparse usage errors
        status = e.code
    out = capsys.readouterr()
    return status, out.out, out.err


def run_json(capsys, *argv):
    status, out, err = run(capsys, *argv, "--json")
    return status, json.loads(out), err


def values_of(path, number):
    with open(path, "rb") as f:
        for _ in range(number):
            h = v.codes_grib_new_from_file(f)
    return np.asarray(v.codes_get_values(h))


# ------------------------------------------------------------------ ls


def test_ls_lists_every_message_in_aligned_columns(capsys, mixed):
    status, out, err = run(capsys, "ls", mixed)
    lines = out.splitlines()
    assert status == 0 and err == ""
    header, rows, summary = lines[0], lines[1:-1], lines[-1]
    assert header.split() == ["#", "offset", "length", "ed", "shortName", "typeOfLevel", "level",
                              "dataDate", "dataTime", "stepRange", "gridType", "NixNj", "packingType"]
    assert len(rows) == 10 and summary == "10 messages"
    # Text columns start where their title starts; number columns end where it ends.
    start = header.index("shortName")
    assert {r[start:].split()[0] for r in rows} == {"t", "10u", "2t", "10v"}
    end = header.index("level") + len("level")
    assert all(r[end - 1] != " " and r[end] == " " for r in rows)
    assert rows[-1].split()[-3:] == ["lambert", "6x4", "grid_simple"]


def test_ls_json_fields_match_the_keys(capsys, mixed):
    status, recs, _ = run_json(capsys, "ls", mixed)
    sizes = v.codes_extract_offsets_sizes(mixed, 1)
    assert status == 0 and len(recs) == 10
    assert [(r["offset"], r["length"]) for r in recs] == [tuple(s) for s in sizes]
    first = recs[0]
    assert first == {"file": mixed, "number": 1, "offset": 0, "length": sizes[0][1], "edition": 2,
                     "shortName": "t", "typeOfLevel": "isobaricInhPa", "level": 500.0,
                     "dataDate": 20240501, "dataTime": 0, "stepRange": "0", "gridType": "regular_ll",
                     "grid": "8x5", "packingType": "grid_simple"}


def test_ls_reports_bad_files_and_lists_the_others(capsys, tmp_path, mixed):
    missing = str(tmp_path / "absent.grib2")
    junk = write(tmp_path / "junk.grib2", b"no messages in here" * 10)
    empty = write(tmp_path / "empty.grib2")
    status, out, err = run(capsys, "ls", missing, mixed, junk, empty, str(tmp_path))
    assert status == 1
    assert f"{mixed}:" in out and "10 messages" in out
    lines = err.splitlines()
    assert len(lines) == 4
    assert lines[0] == f"vorlak: {missing}: No such file or directory"
    assert lines[1] == f"vorlak: {junk}: no GRIB messages found"
    assert lines[2] == f"vorlak: {empty}: no GRIB messages found"
    assert lines[3].startswith(f"vorlak: {tmp_path}: ")


@pytest.mark.parametrize("where, numbers", [
    (["shortName=t"], [1, 2, 3, 4, 5, 6]),
    (["shortName=t,level=850"], [3, 4]),
    (["shortName=t", "level=850", "stepRange=6"], [4]),     # repeated -w: all must hold
    (["typeOfLevel=heightAboveGround,level=10"], [7, 8, 10]),
    (["level=850.0"], []),                                  # the text of level 850 is 850
    (["noSuchKey=1"], []),
    (["values=1"], []),                                     # arrays have no text form
])
def test_where_filters_by_the_text_of_keys(capsys, mixed, where, numbers):
    argv = ["ls", mixed]
    for w in where:
        argv += ["-w", w]
    status, recs, _ = run_json(capsys, *argv)
    assert status == 0 and [r["number"] for r in recs] == numbers


@pytest.mark.parametrize("argv", [
    ["ls", "-w", "shortName"],
    ["ls", "-w", "=t"],
    ["stats", "-m", "0"],
    ["stats", "-m", "3.0"],
    ["stats", "-m", "3."],
    ["stats", "-m", ".1"],
    ["stats", "-m", "x.1"],
    ["nearest", "LAT", "95", "0"],
    ["nearest", "F", "10", "east"],
    ["nearest", "F", "10", "0", "-n", "0"],
    [],
])
def test_usage_errors_exit_with_2(capsys, argv):
    status, _, err = run(capsys, *argv)
    assert status == 2 and "usage: vorlak" in err


# --------------------------------------------------------------- stats


def test_stats_summarises_values_nan_aware(capsys, mixed):
    status, recs, _ = run_json(capsys, "stats", mixed)
    assert status == 0 and len(recs) == 10
    for r in recs:
        vals = values_of(mixed, r["number"])
        present = vals[~np.isnan(vals)]
        assert r["points"] == vals.size and r["missing"] == vals.size - present.size
        assert r["min"] == pytest.approx(present.min()) and r["max"] == pytest.approx(present.max())
        assert r["mean"] == pytest.approx(present.mean())
    assert [r["missing"] for r in recs if r["shortName"] == "10u"] == [6, 6]


def test_stats_shows_decode_errors_in_line(capsys, tmp_path):
    path = write(tmp_path / "bad.grib2", gs.message(gs.field(280)), gs.undecodable())
    status, out, err = run(capsys, "stats", path)
    rows = out.splitlines()[1:]
    assert status == 1 and len(rows) == 2
    assert rows[0].split()[4] == "40" and "cannot decode:" not in rows[0]
    assert "cannot decode:" in rows[1] and "template" in rows[1]
    assert err.startswith(f"vorlak: {path}: message 2: ")
    status, recs, _ = run_json(capsys, "stats", path, "-m", "2")
    assert status == 1 and len(recs) == 1 and "template" in recs[0]["error"]


def test_stats_of_a_field_without_any_value_shows_dashes(capsys, tmp_path):
    path = write(tmp_path / "void.grib2", gs.message([gs.NAN] * 39 + [1.0]))
    status, recs, _ = run_json(capsys, "stats", path)
    assert status == 0 and recs[0]["missing"] == 39 and recs[0]["min"] == 1.0
    path = write(tmp_path / "void2.grib2", gs.message([gs.NAN] * 40))
    status, out, _ = run(capsys, "stats", path)
    assert status == 0 and out.splitlines()[1].split()[-3:] == ["-", "-", "-"]


# ---------------------------------------------------------------- dump


def test_dump_lists_every_key_with_its_value(capsys, mixed):
    status, out, _ = run(capsys, "dump", mixed, "-m", "3")
    assert status == 0
    lines = out.splitlines()
    assert lines[0] == "message 3"
    pairs = {name.strip(): value for name, value in (line.split(" = ", 1) for line in lines[1:])}
    it = v.codes_keys_iterator_new(v.codes_grib_new_from_file(mixed))
    names = []
    while v.codes_keys_iterator_next(it):
        names.append(v.codes_keys_iterator_get_name(it))
    assert sorted(pairs) == sorted(names)
    assert pairs["shortName"] == "t" and pairs["level"] == "850"
    assert pairs["values"].startswith("[") and "(40 values" in pairs["values"]


def test_dump_json_and_full_arrays(capsys, mixed):
    status, recs, _ = run_json(capsys, "dump", mixed, "-w", "shortName=10u,stepRange=6")
    assert status == 0 and [r["number"] for r in recs] == [8]
    keys = recs[0]["keys"]
    assert keys["typeOfLevel"] == "heightAboveGround" and keys["level"] == 10.0
    assert keys["values"]["size"] == 40 and keys["values"]["missing"] == 6
    status, recs, _ = run_json(capsys, "dump", mixed, "-m", "8", "--full")
    full = recs[0]["keys"]["values"]
    expected = values_of(mixed, 8)
    assert len(full) == 40 and [x is None for x in full] == list(np.isnan(expected))


def test_dump_of_a_missing_message_fails(capsys, mixed):
    status, out, err = run(capsys, "dump", mixed, "-m", "11")
    assert status == 1 and out == ""
    assert err == f"vorlak: {mixed}: there is no message 11 (the file holds 10)\n"
    status, out, err = run(capsys, "dump", mixed, "-m", "3.2")
    assert status == 1 and out == ""
    assert err == f"vorlak: {mixed}: there is no field 3.2 (message 3 holds 1)\n"


@pytest.mark.parametrize("command", ["ls", "stats", "dump", "nearest"])
def test_a_message_and_its_only_field_are_the_same_selection(capsys, mixed, command):
    extra = ["50", "10"] if command == "nearest" else []
    whole = run(capsys, command, mixed, *extra, "-m", "3")
    field = run(capsys, command, mixed, *extra, "-m", "3.1")
    assert whole == field and whole[0] == 0 and whole[1]


# ------------------------------------------------------------- nearest


def test_nearest_finds_the_grid_point_itself(capsys, mixed):
    # 50N 10E is a grid point: row 1, column 2 of the 8 x 5 grid.
    status, recs, _ = run_json(capsys, "nearest", mixed, "50", "10", "-n", "3", "-w", "shortName=t")
    assert status == 0 and len(recs) == 6
    for r in recs:
        first = r["points"][0]
        assert len(r["points"]) == 3
        assert first["index"] == 1 * gs.NI + 2 and first["distance_km"] == 0.0
        assert first["value"] == pytest.approx(values_of(mixed, r["number"])[first["index"]])
        assert [p["distance_km"] for p in r["points"]] == sorted(p["distance_km"] for p in r["points"])


def test_nearest_accepts_western_longitudes_and_searches_projected_grids(capsys, mixed):
    status, out, err = run(capsys, "nearest", mixed, "40", "-1.5", "-w", "level=10")
    rows = out.splitlines()[1:]
    assert status == 0 and len(rows) == 3 and err == ""
    assert rows[0].split()[:2] == ["7", "10u"] and rows[0].split()[5:7] == ["40", "0"]
    # The Lambert grid's first point is the message's own corner, 20N 250E.
    status, out, err = run(capsys, "nearest", mixed, "20", "-110", "-m", "10")
    assert status == 0 and out.splitlines()[1].split()[:5] == ["10", "10v", "10", "1", "0"]
    assert out.splitlines()[1].split()[7] == "0.000"


def test_nearest_reports_grids_without_positions(capsys, tmp_path):
    grid = g.template_section(3, 101, {"numberOfDataPoints": 4, "numberOfGridUsed": 26})
    path = write(tmp_path / "loose.grib2", g.grib2_message([g.section1(), grid, *g.field_simple([1.0, 2, 3, 4])]))
    status, out, err = run(capsys, "nearest", path, "40", "10")
    assert status == 1 and "unstructured grid 26" in out
    assert err.startswith(f"vorlak: {path}: message 1: no grid point positions")


# ------------------------------------------------- multi-field messages


def test_fields_of_a_message_are_numbered_message_dot_field(capsys, tmp_path):
    two = g.grib2_message([g.section1(year=2024, month=5, day=1), gs.latlon_grid(),
                           *g.field_simple(gs.field(280), bits=16, D=2, level_type=100, level=85000),
                           *g.field_simple(gs.field(290), bits=16, D=2, level_type=100, level=50000)])
    path = write(tmp_path / "multi.grib2", gs.message(gs.field(270)), two)
    status, out, _ = run(capsys, "ls", path)
    lines = out.splitlines()
    assert status == 0 and [line.split()[0] for line in lines[1:-1]] == ["1", "2.1", "2.2"]
    assert lines[-1] == "2 messages, 3 fields"
    status, recs, _ = run_json(capsys, "ls", path)
    assert [(r["number"], r.get("field")) for r in recs] == [(1, None), (2, 1), (2, 2)]
    status, recs, _ = run_json(capsys, "stats", path, "-m", "2")
    assert [(r["number"], r["field"], r["level"]) for r in recs] == [(2, 1, 850), (2, 2, 500)]
    status, out, _ = run(capsys, "stats", path, "-m", "2.2")
    assert status == 0 and [line.split()[:4] for line in out.splitlines()[1:]] == [["2.2", "t", "isobaricInhPa", "500"]]
    status, out, _ = run(capsys, "dump", path, "-m", "2.1")
    assert status == 0 and out.splitlines()[0] == "message 2.1" and "  level " in out
    status, out, _ = run(capsys, "nearest", path, "50", "10", "-m", "2.2")
    assert status == 0 and out.splitlines()[1].split()[:3] == ["2.2", "t", "500"]
    status, _, err = run(capsys, "stats", path, "-m", "2.3")
    assert status == 1 and err == f"vorlak: {path}: there is no field 2.3 (message 2 holds 2)\n"


# -------------------------------------------------------- real files


def test_ls_and_stats_of_the_wave_file(capsys):
    path = real_file("multi_1.at_10m.t12z.f147.grib2")
    status, recs, _ = run_json(capsys, "ls", path)
    assert status == 0 and len(recs) == 19
    assert {r["packingType"] for r in recs} == {"grid_jpeg"} and recs[0]["grid"] == "301x331"
    status, recs, _ = run_json(capsys, "stats", path, "-m", "5")
    vals = values_of(path, 5)
    assert status == 0 and recs[0]["missing"] == int(np.isnan(vals).sum()) > 0
    assert recs[0]["mean"] == pytest.approx(float(np.nanmean(vals)))


def test_module_entry_point_runs(mixed):
    env = dict(os.environ, PYTHONPATH=ROOT)
    done = subprocess.run([sys.executable, "-m", "vorlak", "ls", mixed], capture_output=True, text=True,
                          env=env, cwd=ROOT, timeout=HANG_GUARD_SECONDS)
    assert done.returncode == 0 and done.stdout.splitlines()[-1] == "10 messages"
    done = subprocess.run([sys.executable, "-m", "vorlak", "stats", "--help"], capture_output=True, text=True,
                          env=env, cwd=ROOT, timeout=HANG_GUARD_SECONDS)
    assert done.returncode == 0 and "missing" in done.stdout


# ------------------------------------------------------- convert and plot


@pytest.mark.parametrize("suffix", [".nc", ".zarr"])
def test_convert_writes_the_engines_dataset(capsys, tmp_path, mixed, suffix):
    xr = pytest.importorskip("xarray")
    pytest.importorskip("netCDF4" if suffix == ".nc" else "zarr")
    from vorlak.xarray_backend import VorlakBackendEntrypoint
    out = str(tmp_path / f"out{suffix}")
    status, text, err = run(capsys, "convert", mixed, out, "-w", "typeOfLevel=isobaricInhPa")
    assert status == 0 and err == "" and text.strip() == f"{out}: 1 variables from 6 fields"
    written = xr.open_zarr(out) if suffix == ".zarr" else xr.open_dataset(out)
    direct = xr.open_dataset(mixed, engine=VorlakBackendEntrypoint, filter_by_keys={"typeOfLevel": "isobaricInhPa"})
    assert list(written.data_vars) == ["t"] and written.t.dims == direct.t.dims
    np.testing.assert_array_equal(written.t.values, direct.t.values)
    np.testing.assert_array_equal(written.valid_time.values, direct.valid_time.values)
    assert written.t.attrs["GRIB_shortName"] == "t"
    status, _, err = run(capsys, "convert", mixed, out)
    assert status == 1 and "exists; give --overwrite" in err


def test_convert_joins_files_and_reports_problems(capsys, tmp_path):
    xr = pytest.importorskip("xarray")
    pytest.importorskip("netCDF4")
    paths = [write(tmp_path / f"d{day}.grib2", gs.message(gs.field(day), level=500, day=day)) for day in (1, 2)]
    out = str(tmp_path / "days.nc")
    assert run(capsys, "convert", *paths, out, "--time-dims", "valid_time")[0] == 0
    assert xr.open_dataset(out).t.dims == ("valid_time", "latitude", "longitude")
    status, _, err = run(capsys, "convert", paths[0], str(tmp_path / "x.txt"))
    assert status == 2 and "must end in .nc or .zarr" in err
    status, _, err = run(capsys, "convert", paths[0], str(tmp_path / "none.nc"), "-w", "shortName=nope")
    assert status == 1 and "selects nothing" in err and "no field to write" in err


@pytest.fixture
def sample(tmp_path):
    """The sample `make run` writes: both editions, two grids, a bitmap."""
    import make_sample
    return write(tmp_path / "sample.grib", *make_sample.grib2_messages(), *make_sample.grib1_messages())


def test_convert_and_plot_the_sample(capsys, tmp_path, sample):
    xr = pytest.importorskip("xarray")
    pytest.importorskip("netCDF4")
    pytest.importorskip("matplotlib")
    out = str(tmp_path / "sample.nc")
    status, text, err = run(capsys, "convert", sample, out)
    assert status == 0 and err == "" and text.strip() == f"{out}: 6 variables from 6 fields"
    written = xr.open_dataset(out)
    assert sum(int(np.isfinite(written[n]).any(axis=(-2, -1)).sum()) for n in written.data_vars) == 6
    for number in range(1, 7):
        status, text, err = run(capsys, "plot", sample, "-m", str(number), "-o", str(tmp_path / f"{number}.png"))
        assert status == 0 and err == "" and "on latitude and longitude" in text


@pytest.mark.parametrize("name, number, drawn", [
    (None, "1", "on latitude and longitude"),
    ("hrrr.t06z.wrfsfcf01-UGRD.grib2", "1", "in its projection"),
    ("icon_global_icosahedral_single-level_2021112018_000_TOT_PREC.grib2", "1", "as rows and columns"),
    ("jma_meps_pall_fh00-15_first20fields.grib2", "1.20", "on latitude and longitude"),
])
def test_plot_draws_a_png(capsys, tmp_path, mixed, name, number, drawn):
    pytest.importorskip("matplotlib")
    path = mixed if name is None else real_file(name)
    out = str(tmp_path / "map.png")
    status, text, err = run(capsys, "plot", path, "-m", number, "-o", out)
    if drawn == "in its projection" and "in its projection" not in text:
        pytest.skip("no projection for this grid in this installation (pyproj, cartopy)")
    assert status == 0 and err == "" and drawn in text
    with open(out, "rb") as f:
        assert f.read(8) == b"\x89PNG\r\n\x1a\n"


def test_plot_of_a_missing_field_fails(capsys, tmp_path, mixed):
    status, _, err = run(capsys, "plot", mixed, "-m", "99", "-o", str(tmp_path / "x.png"))
    assert status == 1 and "there is no message 99" in err
