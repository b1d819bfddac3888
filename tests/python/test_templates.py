"""The template description generated from the WMO tables: it is current,
and tools/gribbuild.py lays templates out as the tables say."""
import os
import subprocess
import sys

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
