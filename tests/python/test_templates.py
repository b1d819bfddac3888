"""The template description generated from the WMO tables: it is current,
and tools/gribbuild.py lays templates out as the tables say."""
import os
import subprocess
import sys

import numpy as np
import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TABLES = os.path.join(ROOT, "..", "shared", "tables", "wmo-grib2")
sys.path.insert(0, os.path.join(ROOT, "tools"))

import gribbuild as g  # noqa: E402


@pytest.mark.skipif(not os.path.isdir(TABLES), reason="../shared/tables is absent")
def test_committed_description_is_current():
    run = subprocess.run([sys.executable, os.path.join(ROOT, "tools", "gen_templates.py"), "--check"],
                         capture_output=True, text=True)
    assert run.returncode == 0, run.stderr


@pytest.mark.parametrize("section, template, values, octets", [
    # 4.8: forecast time in two's complement, the outermost time range at
    # octet 47 and the next 12 octets on.
    (4, 8, {"forecastTime": -7, "typeOfStatisticalProcessing": [2, 1], "lengthOfTimeRange": [23, 1]},
     {(1, 4): 70, (42, 1): 2, (19, 4): 0xFFFFFFF9, (47, 1): 2, (50, 4): 23, (59, 1): 1, (62, 4): 1}),
    # 4.30: NB bands of 10 octets from octet 15.
    (4, 30, {"satelliteSeries": [333, 334], "scaledValueOfCentralWaveNumber": [-5, 7]},
     {(1, 4): 34, (14, 1): 2, (15, 2): 333, (25, 2): 334, (21, 4): 0x80000005, (31, 4): 7}),
    # 4.44: aerosol template, forecast time in two octets at 32-33.
    (4, 44, {"aerosolType": 62001, "forecastTime": 6, "typeOfFirstFixedSurface": 103},
     {(12, 2): 62001, (32, 2): 6, (34, 1): 103, (8, 2): 44}),
    # 3.0 with a list of points per row, 2 octets each (octet 11).
    (3, 0, {"pl": [20, 24, 20], "scanningMode": 0x40}, {(1, 4): 78, (11, 1): 2, (72, 1): 0x40, (75, 2): 24}),
    # Scale factors: negative in sign-magnitude; missing all ones.
    (4, 5, {"scaleFactorOfLowerLimit": -2, "scaledValueOfUpperLimit": g.MISSING},
     {(38, 1): 0x82, (44, 4): 0xFFFFFFFF}),
])
def test_builder_follows_the_layout(section, template, values, octets):
    s = g.template_section(section, template, values)
    assert s[4] == section
    for (octet, width), expected in octets.items():
        assert int.from_bytes(s[octet - 1:octet - 1 + width], "big") == expected, (octet, width)


def test_undescribed_template_is_refused():
    with pytest.raises(ValueError, match="4.40033 is not described"):
        g.template_section(4, 40033)
    with pytest.raises(ValueError, match="no key"):
        g.template_section(4, 0, {"perturbationNumber": 1})


# ------------------------------------------------------------ keys of products

import gribsets as gs  # noqa: E402
from vorlak import _vorlak as v  # noqa: E402


def _keys(msg):
    h = v.codes_new_from_message(msg)
    it = v.codes_keys_iterator_new(h)
    names = []
    while v.codes_keys_iterator_next(it):
        names.append(v.codes_keys_iterator_get_name(it))
    return h, names


@pytest.mark.parametrize("template, keys, expected", [
    (1, {"typeOfEnsembleForecast": 3, "perturbationNumber": 4, "numberOfForecastsInEnsemble": 31},
     {"number": 4, "perturbationNumber": 4, "numberOfForecastsInEnsemble": 31, "stepType": "instant"}),
    (8, {"forecastTime": -7, "typeOfStatisticalProcessing": 2, "indicatorOfUnitForTimeRange": 1,
         "lengthOfTimeRange": 23, "yearOfEndOfOverallTimeInterval": 2024, "monthOfEndOfOverallTimeInterval": 5,
         "dayOfEndOfOverallTimeInterval": 17, "hourOfEndOfOverallTimeInterval": 4},
     {"stepRange": "-7-16", "startStep": -7, "endStep": 16, "stepType": "max", "forecastTime": -7,
      "validityDate": 20240517, "validityTime": 400}),
    (5, {"probabilityType": 0, "scaleFactorOfLowerLimit": 2, "scaledValueOfLowerLimit": 1,
         "scaleFactorOfUpperLimit": g.MISSING, "scaledValueOfUpperLimit": g.MISSING},
     {"lowerLimit": 0.01, "probabilityType": 0}),
    (6, {"percentileValue": 75}, {"percentileValue": 75}),
    (46, {"aerosolType": 62001, "typeOfSizeInterval": 0, "typeOfFirstFixedSurface": 105,
          "scaledValueOfFirstFixedSurface": 3},
     {"aerosolType": 62001, "typeOfLevel": "hybrid", "level": 3.0}),
])
def test_product_template_keys(template, keys, expected):
    h, names = _keys(gs.product(gs.field(1), template, keys))
    for key, value in expected.items():
        want = pytest.approx(value) if isinstance(value, float) else value
        assert v.codes_get(h, key) == want, key
        assert key in names and v.codes_is_defined(h, key)
    assert np.isfinite(v.codes_get_values(h)).all()


def test_template_0_key_set_is_unchanged_by_templates():
    plain, names = _keys(gs.message(gs.field(1)))
    for key in ("startStep", "number", "typeOfFirstFixedSurface", "topLevel", "perturbationNumber"):
        assert key not in names and not v.codes_is_defined(plain, key)


def test_layer_keys_only_with_a_second_surface():
    h, names = _keys(gs.product(gs.field(1), 0, {"typeOfFirstFixedSurface": 106, "typeOfSecondFixedSurface": 106,
                                                 "scaleFactorOfSecondFixedSurface": 1,
                                                 "scaledValueOfSecondFixedSurface": 1}))
    assert (v.codes_get(h, "typeOfLevel"), v.codes_get(h, "topLevel"), v.codes_get(h, "bottomLevel")) == \
        ("depthBelowLandLayer", 0.0, 0.1)
    assert "topLevel" in names


def test_real_probabilities_and_percentiles():
    import conftest
    path = conftest.testdata("s2s-pdt9-pdt10-pdt12.grib2")
    with open(path, "rb") as f:
        hs = []
        while (h := v.codes_grib_new_from_file(f)) is not None:
            hs.append(h)

    def keys(h, *names):
        return tuple(v.codes_get(h, n) if v.codes_is_defined(h, n) else None for n in names)

    assert [keys(h, "productDefinitionTemplateNumber", "percentileValue") for h in hs[2:5]] == \
        [(10, 1), (10, 50), (10, 99)]
    assert [keys(h, "lowerLimit", "upperLimit") for h in hs[7:]] == [(1.0, 10.0), (3.0, 3.0), (10.0, 10.0)]
    # Daily statistics: valid at the end of the day they cover.
    assert {keys(h, "stepRange", "validityDate", "validityTime") for h in hs} == {("0-24", 20260319, 0)}


@pytest.mark.parametrize("rep_type, grid_type", [(1, "mercator"), (5, "polar_stereographic"), (10, "rotated_ll")])
def test_grib1_projected_and_rotated_grids_open_and_decode(rep_type, grid_type):
    # Ni 4, Nj 3 in octets 7-10; scanning mode in octet 28.
    body = g.u16(4) + g.u16(3) + bytes(17) + g.u8(0x40) + bytes(14)
    msg = g.grib1_message(g.pds(p1=0, p2=6, time_range=4), g.gds(rep_type, body), None,
                          g.bds_simple([float(k) for k in range(12)], bits=8))
    h = v.codes_new_from_message(msg)
    assert (v.codes_get(h, "gridType"), v.codes_get(h, "Nx"), v.codes_get(h, "Ny")) == (grid_type, 4, 3)
    assert (v.codes_get(h, "stepType"), v.codes_get(h, "stepRange")) == ("accum", "0-6")
    np.testing.assert_array_equal(v.codes_get_values(h), np.arange(12.0))
    assert not v.codes_is_defined(h, "latitudes")
