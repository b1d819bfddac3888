#!/usr/bin/env python3
"""Per-call cost of the hot module functions, in nanoseconds, including the
interpreter's call overhead. Run with the package importable
(`make bench`, or PYTHONPATH=. python3 bench/python_bench.py).

Target: a scalar key read under 300 ns per call. `codes_get_values` after
the first decode must not depend on the grid size (it is a view)."""
import os
import sys
import tempfile
import timeit

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))

import gribbuild as g  # noqa: E402

from vorlak import _vorlak as v  # noqa: E402


def message(ni, nj):
    values = [280.0 + (k % 97) * 0.1 for k in range(ni * nj)]
    grid = g.section3_latlon(ni=ni, nj=nj, la1=90, lo1=0, la2=90 - (nj - 1) * 0.5, lo2=(ni - 1) * 0.5,
                             di=0.5, dj=0.5)
    return g.grib2_message([g.section1(year=2024, month=5, day=1, hour=12), grid,
                            *g.field_simple(values, bits=16, D=1, level_type=100, level=85000)])


def per_call_ns(stmt, namespace, repeat=5):
    """Best of `repeat` runs, each long enough to take about 0.2 s."""
    timer = timeit.Timer(stmt, globals=namespace)
    number, _ = timer.autorange()
    number = max(number, 1000)
    return min(timer.repeat(repeat=repeat, number=number)) / number * 1e9


def main():
    with tempfile.TemporaryDirectory() as tmp:
        small_path = os.path.join(tmp, "small.grib2")
        large_path = os.path.join(tmp, "large.grib2")
        with open(small_path, "wb") as f:
            f.write(message(16, 8))
        with open(large_path, "wb") as f:
            f.write(message(720, 361))

        h = v.codes_grib_new_from_file(small_path)
        large = v.codes_grib_new_from_file(large_path)
        v.codes_get_values(h)
        v.codes_get_values(large)
        ns = {"v": v, "h": h, "large": large, "path": small_path,
              "get_long": v.codes_get_long, "get_string": v.codes_get_string, "get_double": v.codes_get_double}

        rows = [
            ("empty call (interpreter floor)", "len(path)"),
            ("codes_get_long(h, 'edition')", "get_long(h, 'edition')"),
            ("codes_get_long(h, 'numberOfPoints')", "get_long(h, 'numberOfPoints')"),
            ("codes_get_string(h, 'shortName')", "get_string(h, 'shortName')"),
            ("codes_get_double(h, 'level')", "get_double(h, 'level')"),
            ("codes_get_double(h, 'missingValue')", "get_double(h, 'missingValue')"),
            ("codes_get(h, 'shortName')", "v.codes_get(h, 'shortName')"),
            ("codes_is_defined(h, 'level')", "v.codes_is_defined(h, 'level')"),
            ("codes_get_size(h, 'values')", "v.codes_get_size(h, 'values')"),
            ("codes_grib_new_from_file(path), cached", "v.codes_grib_new_from_file(path)"),
            ("codes_get_values(h), 128 points", "v.codes_get_values(h)"),
            ("codes_get_values(large), 259920 points", "v.codes_get_values(large)"),
        ]
        width = max(len(label) for label, _ in rows)
        print(f"{'call':<{width}}  ns/call")
        for label, stmt in rows:
            print(f"{label:<{width}}  {per_call_ns(stmt, ns):8.0f}")


if __name__ == "__main__":
    main()
