"""Small GRIB files for the command line and xarray tests: several
parameters, levels, steps and grids, made with tools/gribbuild.py."""
import math

import gribbuild as g

NAN = float("nan")
NI, NJ = 8, 5  # the latitude/longitude grid: 60N..20N by 10, 0E..35E by 5


def field(base, ni=NI, nj=NJ, gaps=None):
    """Smooth values; every ``gaps``-th point (from the 4th) missing."""
    vals = [base + 10.0 * math.sin(i * 0.7) * math.cos(j * 0.5) for j in range(nj) for i in range(ni)]
    if gaps:
        vals = [NAN if k % gaps == 3 else x for k, x in enumerate(vals)]
    return vals


def latlon_grid(la1=60.0, lo1=0.0):
    return g.section3_latlon(ni=NI, nj=NJ, la1=la1, lo1=lo1, la2=la1 - 40, lo2=lo1 + 35, di=5, dj=10)


def lambert_grid():
    return g.section3_lambert(nx=6, ny=4, la1=20, lo1=250, dx_m=3000, dy_m=3000)


def message(values, category=0, number=0, level_type=100, level=850, step=0, day=1, hour=0,
            grid=None, centre=98, process=96):
    """One simply packed GRIB2 field; pressure levels in hPa."""
    stored = level * 100 if level_type == 100 else level
    s1 = g.section1(centre=centre, year=2024, month=5, day=day, hour=hour)
    s4, s5, s6, s7 = g.field_simple(values, bits=16, D=2, category=category, number=number,
                                    level_type=level_type, level=stored, forecast_time=step)
    if process != 96:
        s4 = g.section4(category, number, level_type, stored, 0, step, 1, process)
    return g.grib2_message([s1, grid or latlon_grid(), s4, s5, s6, s7])


def product(values, template, keys=None, category=0, number=0, hour=12, day=16):
    """One field of any described product template (tools/template_layouts.py),
    at the surface in hours unless ``keys`` say otherwise."""
    fields = {"parameterCategory": category, "parameterNumber": number, "typeOfFirstFixedSurface": 1,
              "typeOfSecondFixedSurface": 255, "indicatorOfUnitOfTimeRange": 1}
    fields.update(keys or {})
    s1 = g.section1(centre=7, year=2024, month=5, day=day, hour=hour)
    _s4, s5, s6, s7 = g.field_simple(values, bits=16, D=2)
    return g.grib2_message([s1, latlon_grid(), g.template_section(4, template, fields), s5, s6, s7])


def undecodable(level=700):
    """A message whose data representation (template 5.1, matrix values)
    every reader refuses."""
    s1 = g.section1(centre=98, year=2024, month=5, day=1)
    return g.grib2_message([s1, latlon_grid(), g.section4(0, 0, 100, level * 100),
                            g.section5(1, NI * NJ), g.section6(), g.section7(b"\0" * 8)])


LEVELS = (500, 850, 1000)
STEPS = (0, 6)


def mixed_messages():
    """t on three pressure levels and two steps, 10 m u with missing points
    at two steps, 2 m temperature, and 10 m v on a Lambert grid."""
    out = []
    for level in LEVELS:
        for step in STEPS:
            out.append(message(field(200 + level / 10 + step), level=level, step=step))
    for step in STEPS:
        out.append(message(field(step, gaps=7), category=2, number=2, level_type=103, level=10, step=step))
    out.append(message(field(285), level_type=103, level=2))
    out.append(message(field(1, 6, 4), category=2, number=3, level_type=103, level=10, grid=lambert_grid(),
                       centre=7))
    return out
