#!/usr/bin/env python3
"""Writes a small GRIB file with messages of both editions: temperature and
wind on latitude/longitude and Gaussian grids, with and without bitmaps.

Usage: make_sample.py OUT
"""
import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gribbuild as g  # noqa: E402

NAN = float("nan")


def latlon_values(ni, nj, base, amplitude):
    return [base + amplitude * math.sin(i * 0.7) * math.cos(j * 0.5) for j in range(nj) for i in range(ni)]


def with_gaps(values, every):
    return [NAN if k % every == 3 else v for k, v in enumerate(values)]


def grib2_messages():
    s1 = g.section1(centre=98, year=2024, month=5, day=1, hour=12)
    # 8 x 5 points, 60N..20N, 0E..35E.
    latlon = g.section3_latlon(ni=8, nj=5, la1=60, lo1=0, la2=20, lo2=35, di=5, dj=10)
    n = 2
    lats = g.gaussian_latitudes(n)
    gauss = g.section3_gaussian(ni=8, nj=2 * n, n=n, la1=lats[0], lo1=0, la2=lats[-1], lo2=315, di=45)

    t850 = g.field_simple(latlon_values(8, 5, 270.0, 15.0), bits=16, D=1, category=0, number=0,
                          level_type=100, level=85000, forecast_time=6)
    t2m = g.field_simple(latlon_values(8, 5, 285.0, 8.0), bits=12, category=0, number=0,
                         level_type=103, level=2)
    u10 = g.field_simple(with_gaps(latlon_values(8, 5, 0.0, 12.0), 7), bits=12, D=1, category=2, number=2,
                         level_type=103, level=10)
    v10 = g.field_simple(latlon_values(8, 2 * n, -2.0, 9.0), bits=12, D=1, category=2, number=3,
                         level_type=103, level=10)
    return [
        g.grib2_message([s1, latlon, *t850]),
        g.grib2_message([s1, latlon, *t2m]),
        g.grib2_message([s1, latlon, *u10]),
        g.grib2_message([s1, gauss, *v10]),
    ]


def grib1_messages():
    # 8 x 5 points, 60N..20N, 0E..35E.
    latlon = g.gds_latlon(ni=8, nj=5, la1=60, lo1=0, la2=20, lo2=35, di=5, dj=10)
    t = latlon_values(8, 5, 265.0, 12.0)
    t_msg = g.grib1_message(g.pds(parameter=130, level_type=100, level=500, year=2024, month=5, day=1,
                                  hour=12, D=1),
                            latlon, None, g.bds_simple(t, bits=16, D=1))

    n = 2
    lats = g.gaussian_latitudes(n)
    gauss = g.gds_latlon(ni=8, nj=2 * n, la1=lats[0], lo1=0, la2=lats[-1], lo2=315, di=45, dj=0, gaussian_n=n)
    u = with_gaps(latlon_values(8, 2 * n, 1.0, 10.0), 5)
    present = [not math.isnan(v) for v in u]
    u_msg = g.grib1_message(g.pds(parameter=131, level_type=105, level=10, year=2024, month=5, day=1, hour=12,
                                  p1=3, has_bms=True, D=1),
                            gauss, g.bms(present), g.bds_simple([v for v in u if not math.isnan(v)], bits=12, D=1))
    return [t_msg, u_msg]


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with open(argv[1], "wb") as out:
        for message in grib2_messages() + grib1_messages():
            out.write(message)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
