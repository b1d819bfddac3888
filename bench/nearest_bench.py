"""Cost of the nearest-point searches seen from Python on a field of about a
million points: one codes_grib_find_nearest (goal: under 10 ms), the same
with four points, and codes_grib_find_nearest_multiple with 100 queries.

Uses the GFS 0.25 degree global field of ../shared/testdata (721 rows north
to south) when present, or the field given with --file, otherwise a synthetic
1000 x 1000 global latitude/longitude field. Searches are timed in
mid-latitudes, near both poles and on the equator.

    PYTHONPATH=. /usr/bin/python3 bench/nearest_bench.py [--repeat N] [--file PATH]
"""
import argparse
import os
import random
import statistics
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))

import gribbuild as g  # noqa: E402

from vorlak import _vorlak as v  # noqa: E402

REAL_FIELD = os.path.join(os.path.dirname(ROOT), "shared", "testdata", "gfs.t12z.pgrb2.0p25.f023-PV-TMP-missing.grib2")


def synthetic_field(directory):
    ni, nj = 1000, 1000
    values = [float((i * 7919) % 1000) for i in range(ni * nj)]
    grid = g.section3_latlon(ni=ni, nj=nj, la1=89.91, lo1=0, la2=-89.91, lo2=359.64, di=0.36, dj=0.18)
    path = os.path.join(directory, "nearest_bench.grib2")
    with open(path, "wb") as f:
        f.write(g.grib2_message([g.section1(), grid, *g.field_simple(values, bits=16)]))
    return path


def timed(call, repeat):
    """Milliseconds per call of call(run): median, minimum and maximum over `repeat` runs."""
    samples = []
    for run in range(repeat):
        start = time.perf_counter()
        call(run)
        samples.append((time.perf_counter() - start) * 1e3)
    return statistics.median(samples), min(samples), max(samples)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=100)
    parser.add_argument("--file", default=REAL_FIELD, help="GRIB file whose first message is searched")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as tmp:
        path = args.file if os.path.exists(args.file) else synthetic_field(tmp)
        handle = v.codes_grib_new_from_file(path)
        points = v.codes_get_long(handle, "numberOfValues")
        start = time.perf_counter()
        v.codes_get_values(handle)  # decode once; the searches reuse the memo
        decode_ms = (time.perf_counter() - start) * 1e3

        rng = random.Random(42)
        queries = [(rng.uniform(-90, 90), rng.uniform(-180, 360)) for _ in range(100)]
        lats = [q[0] for q in queries]
        lons = [q[1] for q in queries]

        def single(npoints):
            def call(run):
                lat, lon = queries[run % len(queries)]
                v.codes_grib_find_nearest(handle, lat, lon, npoints=npoints)
            return call

        def fixed(lat, lon, npoints=1):
            return lambda run: v.codes_grib_find_nearest(handle, lat, lon, npoints=npoints)

        cases = [
            ("codes_grib_find_nearest, 1 point", single(1), args.repeat),
            ("codes_grib_find_nearest, 4 points", single(4), args.repeat),
            ("codes_grib_find_nearest, 100 points", single(100), max(3, args.repeat // 10)),
        ]
        for where, lat, lon in (("89.9N 5E", 89.9, 5.0), ("0.1N 100.3E", 0.1, 100.3), ("89.9S 5W", -89.9, -5.0)):
            for npoints in (1, 4, 100):
                cases.append((f"codes_grib_find_nearest at {where}, {npoints} points", fixed(lat, lon, npoints),
                              max(3, args.repeat // 10)))
        cases += [
            ("codes_grib_find_nearest_multiple, 100 queries",
             lambda run: v.codes_grib_find_nearest_multiple(handle, False, lats, lons), max(3, args.repeat // 20)),
        ]
        print(f"field: {os.path.basename(path)}, {points} points (first decode {decode_ms:.1f} ms)")
        results = {}
        for label, call, repeat in cases:
            median, best, worst = timed(call, repeat)
            results[label] = median
            print(f"{label:48s} median {median:9.3f} ms   best {best:9.3f} ms   worst {worst:9.3f} ms")
        one = results[cases[0][0]]
        multiple = results[cases[-1][0]] / len(queries)
        print(f"codes_grib_find_nearest_multiple per query: {multiple:.3f} ms")
        slowest = max(results[c[0]] for c in cases[:-1])
        print(f"slowest single search: {slowest:.3f} ms")
        print(f"goal, one search under 10 ms: {'met' if one < 10.0 else 'NOT met'} ({one:.3f} ms)")


if __name__ == "__main__":
    main()
