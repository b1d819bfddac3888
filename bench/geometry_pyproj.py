#!/usr/bin/env python3
"""Grid coordinates against PROJ (pyproj): every point of each grid of
build/geometry_bench compared with PROJ's inverse of the grid's own plane
coordinates under the grid's own PROJ parameters (both from the core), and
PROJ's time for HRRR's 1.9 million points next to ours.

Then the field API's path on the HRRR file: `field.latitudes` and
`field.longitudes` of the first field read in a process (the grid's
coordinates computed once, shared through the coordinate cache), and of a
later field on the same grid (the shared arrays handed out again).

Run from the project root after `ninja -C build geometry_bench`, with the
package importable (PYTHONPATH=.); needs Debian's python3-pyproj. Times are
CPU times, best of three: of this process for PROJ, of the benchmark for
ours, of a fresh process for the field API's first read."""
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
HRRR = os.path.join("..", "shared", "testdata", "hrrr.t06z.wrfsfcf01-UGRD.grib2")

# The first read of a grid's coordinates in a fresh process, and a later
# field's on the same grid: CPU milliseconds of each.
FIELD_API = """
import sys, time, vorlak
with vorlak.open(sys.argv[1]) as grib:
    field = grib[0]
    field.shape  # the scan and the keys, not timed
    start = time.process_time()
    field.latitudes, field.longitudes
    first = time.process_time() - start
    start = time.process_time()
    again = grib[0]
    again.latitudes, again.longitudes
    print(first * 1e3, (time.process_time() - start) * 1e3)
"""

# name in geometry_bench: (columns, rows)
PROJECTED = {
    "hrrr from its section 3": (1799, 1059),
    "hrrr lambert 1799x1059": (1799, 1059),
    "hrrr lambert on WGS84": (1799, 1059),
    "ndfd lambert 2145x1377": (2145, 1377),
    "aqm polar stereographic 825x553": (825, 553),
    "aqm mercator 321x225": (321, 225),
    "albers conus on GRS80 1000x700": (1000, 700),
    "south polar stereographic on WGS84": (700, 700),
    "meteosat full disc 3712x3712": (3712, 3712),
}


def ours(name, ni, nj, axes=True):
    """Latitudes and longitudes of every point, and the x and y axes."""
    n = ni * nj
    with tempfile.NamedTemporaryFile(suffix=".bin") as f:
        subprocess.run([BENCH, "--dump", name, f.name], check=True)
        data = np.fromfile(f.name, dtype=np.float64)
    x = data[2 * n:2 * n + ni] if axes else None
    y = data[2 * n + ni:] if axes else None
    return data[:n], data[n:2 * n], x, y


def proj_string(name):
    return subprocess.run([BENCH, "--proj", name], check=True, capture_output=True, text=True).stdout.strip()


def difference(lat, lon, plat, plon):
    dlat = np.nanmax(np.abs(lat - plat))
    dlon = np.nanmax(np.abs((lon - plon + 180.0) % 360.0 - 180.0))
    return dlat, dlon


def projected(name, ni, nj):
    lat, lon, x, y = ours(name, ni, nj)
    p = pyproj.Proj(proj_string(name))
    X, Y = np.meshgrid(x, y)
    plon, plat = p(X, Y, inverse=True, errcheck=False)
    off = (np.abs(plon) > 1e30) | (np.abs(plat) > 1e30)  # PROJ marks points off the Earth
    plon, plat = np.where(off, np.nan, plon).ravel(), np.where(off, np.nan, plat).ravel()
    return lat, lon, plat, plon


def rotated_hrdps():
    """HRDPS: the rotated frame's regular axes through PROJ's ob_tran."""
    name, ni, nj = "hrdps rotated 2540x1290", 2540, 1290
    lat, lon, _, _ = ours(name, ni, nj, axes=False)
    lon_r = 345.17878 + (42.306283 + 360 - 345.17878) / (ni - 1) * np.arange(ni)
    lat_r = -12.302501 + (16.700001 + 12.302501) / (nj - 1) * np.arange(nj)
    crs = pyproj.CRS.from_proj4(proj_string(name) + " +R=6371229")
    t = pyproj.Transformer.from_crs(crs, pyproj.CRS.from_proj4("+proj=longlat +R=6371229"), always_xy=True)
    LON, LAT = np.meshgrid(lon_r, lat_r)
    plon, plat = t.transform(LON, LAT)
    return lat, lon, plat.ravel(), plon.ravel()


def main():
    print(f"PROJ {pyproj.proj_version_str}, pyproj {pyproj.__version__}")
    print(f"{'grid':36} {'points':>9} {'max |dlat|':>12} {'max |dlon|':>12}  beyond 1e-7")
    cases = [(name, lambda n=name, s=shape: projected(n, *s)) for name, shape in PROJECTED.items()]
    cases.append(("hrdps rotated 2540x1290", rotated_hrdps))
    for name, compute in cases:
        lat, lon, plat, plon = compute()
        dlat, dlon = difference(lat, lon, plat, plon)
        far = np.count_nonzero((np.abs(lat - plat) > 1e-7) | (np.abs((lon - plon + 180) % 360 - 180) > 1e-7))
        discs = "" if np.array_equal(np.isnan(lat), np.isnan(plat)) else "  (points off the Earth differ)"
        print(f"{name:36} {lat.size:9} {dlat:12.3g} {dlon:12.3g}  {far}{discs}")

    # Time: PROJ's transform of HRRR's plane coordinates against ours.
    name = "hrrr lambert 1799x1059"
    _, _, x, y = ours(name, *PROJECTED[name])
    crs = pyproj.CRS.from_proj4(proj_string(name))
    transformer = pyproj.Transformer.from_crs(crs, crs.geodetic_crs, always_xy=True)
    X, Y = np.meshgrid(x, y)
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

    if not os.path.exists(HRRR):
        return
    runs = [subprocess.run([sys.executable, "-c", FIELD_API, HRRR], check=True, capture_output=True, text=True,
                           env={**os.environ, "PYTHONPATH": os.getcwd()}).stdout.split() for _ in range(3)]
    first = min(float(r[0]) for r in runs)
    again = min(float(r[1]) for r in runs)
    print(f"field API, HRRR latitudes and longitudes: first field {first:.1f} ms "
          f"({first * 1e6 / X.size:.1f} ns/point), a later field on the grid {again * 1e3:.1f} us")


if __name__ == "__main__":
    main()
