"""The generated parameter, level and centre tables: they are what
tools/gen_tables.py makes from ../shared/tables, the level names follow the
naming rule, and real messages from the producers get their names."""
import os
import sys

import pytest

from vorlak import _vorlak as v

from conftest import ROOT
from conftest import testdata as data_file

sys.path.insert(0, os.path.join(ROOT, "tools"))
import gen_tables  # noqa: E402

TABLES = os.path.join(os.path.dirname(ROOT), "shared", "tables")
GENERATED = os.path.join(ROOT, "src", "compat", "generated")


@pytest.mark.skipif(not os.path.isdir(TABLES), reason="../shared/tables not present")
def test_generated_tables_are_current():
    files, _counts = gen_tables.generate(TABLES)
    assert sorted(files) == sorted(f for f in os.listdir(GENERATED) if f.endswith(".hpp"))
    for name, text in files.items():
        with open(os.path.join(GENERATED, name), encoding="utf-8") as f:
            assert f.read() == text, f"{name} is stale: run `make tables`"


@pytest.mark.parametrize("meaning, name", [
    ("Planetary Boundary Layer", "planetaryBoundaryLayer"),
    ("Cumulonimbus (CB) base", "cumulonimbusBase"),
    ("Level of 0 °C isotherm", "levelOf0CIsotherm"),
    ("Sea-ice level", "seaIceLevel"),
    ("Top of snow over sea ice on sea, lake or river", "topOfSnowOverSeaIceOnSeaLakeOrRiver"),
    ("Lowest level where air concentration exceeds the specified value (base for a given",
     "lowestLevelWhereAirConcentrationExceedsTheSpecifiedValue"),  # unclosed in NCEP's table
    ("Layer Ocean Surface and 26C Ocean Isothermal Level", "layerOceanSurfaceAnd26COceanIsothermalLevel"),
    ("(only brackets)", ""),
])
def test_level_name_rule(meaning, name):
    assert gen_tables.level_name(meaning) == name


def _keys(path, index, names=("shortName", "name", "units", "typeOfLevel", "centreDescription")):
    with open(path, "rb") as f:
        for _ in range(index):
            v.codes_release(v.codes_grib_new_from_file(f))
        h = v.codes_grib_new_from_file(f)
    try:
        return {k: v.codes_get(h, k) for k in names}
    finally:
        v.codes_release(h)


@pytest.mark.parametrize("name, index, expected", [
    ("multi_1.at_10m.t12z.f147.grib2", 11, {"shortName": "wvper", "units": "s", "typeOfLevel": "surface"}),
    ("multi_1.at_10m.t12z.f147.grib2", 8, {"shortName": "swell", "units": "m",
                                            "typeOfLevel": "orderedSequenceOfData"}),
    ("icon_global_icosahedral_single-level_2021112018_000_TOT_PREC.grib2", 0,
     {"shortName": "tprate", "name": "Total precipitation rate", "units": "kg m-2 s-1"}),
    ("aqm.t12z.ave_1hr_o3-HI-mercator.grib2", 0,
     {"shortName": "ozcon", "name": "Ozone Concentration", "units": "ppb"}),
    ("gdas.t12z.pgrb2.0p25.f000.msg13.grib2", 0,
     {"shortName": "vrate", "units": "m2 s-1", "typeOfLevel": "planetaryBoundaryLayer"}),
    ("MRMS_MergedRhoHV_19.00_20260219-042039.grib2", 0,
     {"shortName": "MergedRhoHV", "units": "non-dim",
      "centreDescription": "US NOAA Office of Oceanic and Atmospheric Research"}),
    ("ndfd_critfireo.grib2", 0,
     {"centreDescription": "US National Weather Service Telecommunications Gateway (NWSTG)"}),
    # ECMWF's local numbers are not NCEP's to name.
    ("ecmwf-ifs-oper-surface.grib2", 3, {"shortName": "unknown", "name": "Unknown", "units": "?"}),
])
def test_real_messages_are_named(name, index, expected):
    got = _keys(data_file(name), index)
    assert {k: got[k] for k in expected} == expected


def test_wave_variables_get_names_and_units():
    xr = pytest.importorskip("xarray")
    from vorlak.xarray_backend import VorlakBackendEntrypoint
    ds = xr.open_dataset(data_file("multi_1.at_10m.t12z.f147.grib2"), engine=VorlakBackendEntrypoint)
    try:
        assert not [n for n in ds.data_vars if n.startswith("p") and n[1:].isdigit() or n == "unknown"]
        assert ds["wvper"].attrs["units"] == "s"
        assert ds["wvper"].attrs["long_name"] == "Mean period of wind waves"
        assert ds["swdir"].attrs["units"] == "degree true"
        assert "orderedSequenceOfData" in ds["swdir"].dims
    finally:
        ds.close()
