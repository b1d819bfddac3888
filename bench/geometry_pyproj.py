#!/usr/bin/env python3
"""Grid coordinates against PROJ (pyproj): every point of each grid of
build/geometry_bench compared with PROJ's inverse of the same plane
coordinates, and PROJ's time for HRRR's 1.9 million points next to ours.

Run from the project root after `ninja -C build geometry_bench`; needs
Debian's python3-pyproj. Times are CPU times of this process (PROJ) and of
the benchmark (ours), best of three."""
import os
import subprocess
import sys
import tempfile
import time

import numpy as np

try:
    import pyproj
except ImportError:
    sys.exit("geometry_pyproj: pyproj is not installed (apt-get install python3-pyproj)")

BENCH = os.path.join("build", "geometry_bench")

SPHERE = "+R=6371229"
WGS84 = "+a=6378137 +b=6356752.314245179"
GRS80 = "+a=6378137 +b=6356752.314140356"

# name in geometry_bench: (PROJ string, first point (lon, lat), ni, nj, dx, dy, sx, sy)
GRIDS = {
    "hrrr lambert 1799x1059": ("+proj=lcc +lat_1=38.5 +lat_2=38.5 +lat_0=38.5 +lon_0=262.5 " + SPHERE,
                               (237.280472, 21.138123), 1799, 1059, 3000, 3000, 1, 1),
    "hrrr lambert on WGS84": ("+proj=lcc +lat_1=38.5 +lat_2=38.5 +lat_0=38.5 +lon_0=262.5 " + WGS84,
                              (237.280472, 21.138123), 1799, 1059, 3000, 3000, 1, 1),
    "ndfd lambert 2145x1377": ("+proj=lcc +lat_1=25 +lat_2=25 +lat_0=25 +lon_0=265 +R=6371200",
                               (238.449996, 20.19), 2145, 1377, 2539.703, 2539.703, 1, 1),
    "aqm polar stereographic 825x553": ("+proj=stere +lat_0=90 +lat_ts=60 +lon_0=210 " + SPHERE,
                                        (181.429, 40.53), 825, 553, 5953, 5953, 1, 1),
    "aqm mercator 321x225": ("+proj=merc +lat_ts=20 +lon_0=0 " + SPHERE, (198.475, 18.073), 321, 225, 2500, 2500, 1, 1),
    "albers conus on GRS80 1000x700": ("+proj=aea +lat_1=29.5 +lat_2=45.5 +lat_0=23 +lon_0=-96 " + GRS80,
                                       (-125, 22), 1000, 700, 5000, 5000, 1, 1),
    "south polar stereographic on WGS84": ("+proj=stere +lat_0=-90 +lat_ts=-71 +lon_0=0 " + WGS84,
                                           (-135, -55), 700, 700, 10000, 10000, 1, 1),
}


def ours(name, n):
    with tempfile.NamedTemporaryFile(suffix=".bin") as f:
        subprocess.run([BENCH, "--dump", name, f.name], check=True)
        data = np.fromfile(f.name, dtype=np.float64)
    return data[:n], data[n:]


def plane(proj, first, ni, nj, dx, dy, sx, sy):
    p = pyproj.Proj(proj + " +no_defs")
    x0, y0 = p(*first)
    x = x0 + sx * dx * np.arange(ni)
    y = y0 + sy * dy * np.arange(nj)
    return p, np.meshgrid(x, y)


def difference(lat, lon, plat, plon):
    dlat = np.nanmax(np.abs(lat - plat))
    dlon = np.nanmax(np.abs((lon - plon + 180.0) % 360.0 - 180.0))
    return dlat, dlon


def rotated_hrdps():
    """HRDPS: the rotated frame's regular axes through PROJ's ob_tran."""
    ni, nj = 2540, 1290
    lon_r = 345.17878 + (42.306283 + 360 - 345.17878) / (ni - 1) * np.arange(ni)
    lat_r = -12.302501 + (16.700001 + 12.302501) / (nj - 1) * np.arange(nj)
    crs = pyproj.CRS.from_proj4("+proj=ob_tran +o_proj=longlat +o_lat_p=36.08852 +o_lon_p=0 "
                                "+lon_0=245.305142 " + SPHERE + " +no_defs")
    t = pyproj.Transformer.from_crs(crs, pyproj.CRS.from_proj4("+proj=longlat " + SPHERE + " +no_defs"),
                                    always_xy=True)
    LON, LAT = np.meshgrid(lon_r, lat_r)
    plon, plat = t.transform(LON, LAT)
    return plat.ravel(), plon.ravel()


def geostationary():
    ni = nj = 3712
    h = 6610700.0 * 1e-6 * 6378169.0 - 6378169.0
    step = 2 * np.arcsin(1e6 / 6610700.0) / 3622 * h
    x = (np.arange(ni) - 1856) * step
    y = (np.arange(nj) - 1856) * step
    p = pyproj.Proj(f"+proj=geos +h={h!r} +lon_0=0 +sweep=y +a=6378169 +b=6356583.8 +no_defs")
    X, Y = np.meshgrid(x, y)
    plon, plat = p(X, Y, inverse=True, errcheck=False)
    plon = np.where(np.abs(plon) > 1e30, np.nan, plon)
    plat = np.where(np.abs(plat) > 1e30, np.nan, plat)
    return plat.ravel(), plon.ravel()


def main():
    print(f"PROJ {pyproj.proj_version_str}, pyproj {pyproj.__version__}")
    print(f"{'grid':36} {'points':>9} {'max |dlat|':>12} {'max |dlon|':>12}")
    for name, (proj, first, ni, nj, dx, dy, sx, sy) in GRIDS.items():
        lat, lon = ours(name, ni * nj)
        p, (X, Y) = plane(proj, first, ni, nj, dx, dy, sx, sy)
        plon, plat = p(X, Y, inverse=True)
        dlat, dlon = difference(lat, lon, plat.ravel(), plon.ravel())
        print(f"{name:36} {ni * nj:9} {dlat:12.3g} {dlon:12.3g}")
    for name, reference in (("hrdps rotated 2540x1290", rotated_hrdps),
                            ("meteosat full disc 3712x3712", geostationary)):
        plat, plon = reference()
        lat, lon = ours(name, plat.size)
        same_nan = np.array_equal(np.isnan(lat), np.isnan(plat))
        dlat, dlon = difference(lat, lon, plat, plon)
        print(f"{name:36} {plat.size:9} {dlat:12.3g} {dlon:12.3g}" + ("" if same_nan else "  (discs differ)"))

    # Time: PROJ's transform of HRRR's plane coordinates against ours.
    proj, first, ni, nj, dx, dy, sx, sy = GRIDS["hrrr lambert 1799x1059"]
    crs = pyproj.CRS.from_proj4(proj + " +no_defs")
    transformer = pyproj.Transformer.from_crs(crs, crs.geodetic_crs, always_xy=True)
    _, (X, Y) = plane(proj, first, ni, nj, dx, dy, sx, sy)
    best = float("inf")
    for _ in range(3):
        start = time.process_time()
        transformer.transform(X, Y)
        best = min(best, time.process_time() - start)
    print(f"\nHRRR 1.9 M points, PROJ transform: {best * 1e3:.1f} ms ({best * 1e9 / X.size:.1f} ns/point)")
    out = subprocess.run([BENCH, "3"], check=True, capture_output=True, text=True).stdout
    for line in out.splitlines():
        if line.startswith("hrrr lambert"):
            print("ours:", line)


if __name__ == "__main__":
    main()
