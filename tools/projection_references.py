#!/usr/bin/env python3
"""Print the PROJ reference points of tests/cpp/projections_test.cpp.

Each case is a projection in PROJ's terms and the same projection in the
terms of src/grib/geometry/projection.hpp; the script prints one C++ table
row per point with PROJ's forward result. Needs pyproj (Debian's
python3-pyproj). Run it again and paste its output when a case is added."""
import pyproj

WGS84 = (6378137.0, 6356752.314245179)
GRS80 = (6378137.0, 6356752.314140356)
SPHERE = (6371229.0, 6371229.0)
METEOSAT = (6378169.0, 6356583.8)

# (name, PROJ string without the figure, C++ parameters, figure, points as (lat, lon))
CASES = [
    ("lambert sphere south", "+proj=lcc +lat_1=-30 +lat_2=-30 +lat_0=-30 +lon_0=140",
     "LambertConformalParams{-30, -30, -30, 140}", SPHERE, [(-25, 150), (-45, 120), (-5, 175)]),
    ("lambert WGS84 secant", "+proj=lcc +lat_1=33 +lat_2=45 +lat_0=40 +lon_0=-97",
     "LambertConformalParams{33, 45, 40, -97}", WGS84, [(20, -120), (55, -60), (80, -97)]),
    ("lambert GRS80 tangent", "+proj=lcc +lat_1=25 +lat_2=25 +lat_0=25 +lon_0=265",
     "LambertConformalParams{25, 25, 25, 265}", GRS80, [(20.19, 238.449996), (50, 300)]),
    ("lambert WGS84 south secant", "+proj=lcc +lat_1=-60 +lat_2=-20 +lat_0=-40 +lon_0=20",
     "LambertConformalParams{-60, -20, -40, 20}", WGS84, [(-10, 0), (-70, 60)]),
    ("polar north sphere", "+proj=stere +lat_0=90 +lat_ts=60 +lon_0=210",
     "PolarStereographicParams{false, 60, 210}", SPHERE, [(40.53, 181.429), (75, 300), (10, 30)]),
    ("polar north WGS84", "+proj=stere +lat_0=90 +lat_ts=70 +lon_0=-45",
     "PolarStereographicParams{false, 70, -45}", WGS84, [(60, -30), (85, 100), (30, 135)]),
    ("polar south WGS84 at pole", "+proj=stere +lat_0=-90 +lat_ts=-90 +lon_0=0",
     "PolarStereographicParams{true, -90, 0}", WGS84, [(-70, 45), (-20, -170)]),
    ("polar south sphere", "+proj=stere +lat_0=-90 +lat_ts=-60 +lon_0=100",
     "PolarStereographicParams{true, -60, 100}", SPHERE, [(-50, 10), (-85, -120)]),
    ("mercator sphere", "+proj=merc +lat_ts=20 +lon_0=0",
     "MercatorParams{20, 0}", SPHERE, [(18.073, -161.525), (-60, 10), (80, 179)]),
    ("mercator WGS84", "+proj=merc +lat_ts=0 +lon_0=-100",
     "MercatorParams{0, -100}", WGS84, [(45, 30), (-75, -100)]),
    ("albers GRS80", "+proj=aea +lat_1=29.5 +lat_2=45.5 +lat_0=23 +lon_0=-96",
     "AlbersEqualAreaParams{29.5, 45.5, 23, -96}", GRS80, [(60, -150), (25, -80), (89, 0)]),
    ("albers sphere south", "+proj=aea +lat_1=-20 +lat_2=-40 +lat_0=-30 +lon_0=130",
     "AlbersEqualAreaParams{-20, -40, -30, 130}", SPHERE, [(-10, 120), (-60, 170)]),
    ("geostationary ellipsoid", "+proj=geos +h=35785831 +lon_0=0 +sweep=y",
     "GeostationaryParams{0, 42164000}", METEOSAT, [(40, 20), (-60, -50), (0, 0), (70, 5)]),
    ("geostationary sphere", "+proj=geos +h=35792771 +lon_0=-75 +sweep=y",
     "GeostationaryParams{-75, 42164000}", SPHERE, [(30, -90), (-45, -20)]),
]

for name, proj, params, (a, b), points in CASES:
    figure = f"+R={a}" if a == b else f"+a={a} +b={b}"
    p = pyproj.Proj(f"{proj} {figure} +no_defs")
    for lat, lon in points:
        x, y = p(lon, lat)
        print(f'    {{"{name}", {params}, EarthShape{{{a!r}, {b!r}}}, {lat!r}, {lon!r}, {x!r}, {y!r}}},')
