"""``vorlak stats``: a summary of the decoded values of each field."""
from __future__ import annotations

import numpy as np

from vorlak import _vorlak as codes
from vorlak.cli import keys
from vorlak.cli.output import number_text, print_json, table
from vorlak.cli.reading import FileProblem, Selection, fields, number_record

HELP = "decode the values and print count, missing, min, max and mean"

DESCRIPTION = """\
Decode the values of each field and print the number of grid points,
how many of them are missing (bitmap or missing-value code), and the
minimum, maximum and mean of the others. A field whose values cannot be
decoded shows the reason instead; the exit status is then 1."""


def add_arguments(p) -> None:
    p.add_argument("file", metavar="FILE", help="GRIB file")


def summarise(values: np.ndarray) -> dict:
    """Point count, missing count and min/max/mean over the present points
    (None when no point is present)."""
    present = values[~np.isnan(values)]
    stats = {"points": int(values.size), "missing": int(values.size - present.size),
             "min": None, "max": None, "mean": None}
    if present.size:
        stats.update(min=float(present.min()), max=float(present.max()), mean=float(present.mean()))
    return stats


def _record(number: str, field) -> tuple[str, dict]:
    rec = {**number_record(field), "shortName": keys.native(field, "shortName"),
           "typeOfLevel": keys.native(field, "typeOfLevel"), "level": keys.native(field, "level")}
    try:
        rec.update(summarise(field.values.ravel()))
    except codes.CodesInternalError as e:
        rec["error"] = str(e)
    return number, rec


HEADER = ["#", "shortName", "typeOfLevel", "level", "points", "missing", "min", "max", "mean"]
FIELDS = ["shortName", "typeOfLevel", "level", "points", "missing", "min", "max", "mean"]


def run(args, report_error) -> int:
    selection = Selection(args.where, args.message)
    try:
        records = [_record(n, f) for n, f in fields(args.file, selection)]
    except FileProblem as e:
        report_error(str(e))
        return 1
    if args.json:
        print_json([{"file": args.file, **r} for _n, r in records])
    else:
        rows = []
        for number, r in records:
            head = [number] + [number_text(r[k]) for k in FIELDS[:3]]
            if "error" in r:
                rows.append(head + [f"cannot decode: {r['error']}"])
            else:
                rows.append(head + [number_text(r[k]) for k in FIELDS[3:]])
        table(HEADER, rows)
    failed = [(n, r) for n, r in records if "error" in r]
    for number, r in failed:
        report_error(f"{args.file}: message {number}: {r['error']}")
    return 1 if failed else 0
