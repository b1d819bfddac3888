"""``vorlak nearest``: the grid points closest to a position."""
from __future__ import annotations

import argparse

from vorlak import _vorlak as codes
from vorlak.cli import keys
from vorlak.cli.output import number_text, print_json, table
from vorlak.cli.reading import FileProblem, Selection, fields, number_record

HELP = "print the grid points nearest to a latitude/longitude"

DESCRIPTION = """\
For each field, print the K grid points closest to the position LAT LON
(degrees north, degrees east; west longitudes negative or above 180), with
their index in the field's values (row after row), position, great-circle
distance in km and value. Every grid the message places is searched
(latitude/longitude, Gaussian, projected, rotated); grids whose points the
message does not place (unstructured grids, spectral coefficients) show
the reason instead, and the exit status is then 1."""


def _latitude(text: str) -> float:
    v = _float(text)
    if not -90.0 <= v <= 90.0:
        raise argparse.ArgumentTypeError(f"latitude must be between -90 and 90, got {text}")
    return v


def _float(text: str) -> float:
    try:
        v = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if v != v or v in (float("inf"), float("-inf")):
        raise argparse.ArgumentTypeError(f"not a finite number: {text!r}")
    return v


def _count(text: str) -> int:
    try:
        n = int(text)
    except ValueError:
        n = 0
    if n < 1:
        raise argparse.ArgumentTypeError(f"expected a whole number of at least 1, got {text!r}")
    return n


def add_arguments(p) -> None:
    p.add_argument("file", metavar="FILE", help="GRIB file")
    p.add_argument("lat", metavar="LAT", type=_latitude, help="latitude in degrees north")
    p.add_argument("lon", metavar="LON", type=_float, help="longitude in degrees east")
    p.add_argument("-n", "--points", type=_count, default=1, metavar="K",
                   help="number of nearest points per field (default 1)")


def _record(number: str, field, lat: float, lon: float, k: int) -> tuple[str, dict]:
    rec = {**number_record(field), "shortName": keys.native(field, "shortName"),
           "level": keys.native(field, "level")}
    try:
        rec["points"] = [{"index": p.index, "lat": p.lat, "lon": p.lon, "distance_km": p.distance, "value": p.value}
                         for p in field.nearest(lat, lon, k)]
    except codes.CodesInternalError as e:
        rec["error"] = str(e)
    return number, rec


HEADER = ["#", "shortName", "level", "rank", "index", "lat", "lon", "km", "value"]


def run(args, report_error) -> int:
    selection = Selection(args.where, args.message)
    try:
        records = [_record(n, f, args.lat, args.lon, args.points) for n, f in fields(args.file, selection)]
    except FileProblem as e:
        report_error(str(e))
        return 1
    if args.json:
        print_json([{"file": args.file, "query": {"lat": args.lat, "lon": args.lon}, **r}
                    for _n, r in records])
    else:
        rows = []
        for number, r in records:
            head = [number, number_text(r["shortName"]), number_text(r["level"])]
            if "error" in r:
                rows.append(head + [r["error"]])
                continue
            for rank, p in enumerate(r["points"], 1):
                rows.append(head + [str(rank), str(p["index"]), number_text(p["lat"]),
                                    number_text(p["lon"]), f"{p['distance_km']:.3f}",
                                    number_text(p["value"])])
        table(HEADER, rows)
    failed = [(n, r) for n, r in records if "error" in r]
    for number, r in failed:
        report_error(f"{args.file}: message {number}: {r['error']}")
    return 1 if failed else 0
