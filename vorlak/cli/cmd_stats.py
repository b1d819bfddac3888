"""``vorlak stats``: a summary of the decoded values of each message."""
from __future__ import annotations

import numpy as np

from vorlak import _vorlak as codes
from vorlak.cli import keys
from vorlak.cli.output import number_text, print_json, table
from vorlak.cli.reading import FileProblem, Selection, messages

HELP = "decode the values and print count, missing, min, max and mean"

DESCRIPTION = """\
Decode the values of each message and print the number of grid points,
how many of them are missing (bitmap or missing-value code), and the
minimum, maximum and mean of the others. A message whose values cannot be
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


def _record(number: int, handle) -> dict:
    rec = {"number": number, "shortName": keys.native(handle, "shortName"),
           "typeOfLevel": keys.native(handle, "typeOfLevel"), "level": keys.native(handle, "level")}
    try:
        rec.update(summarise(np.asarray(codes.codes_get_values(handle), dtype=np.float64)))
    except codes.CodesInternalError as e:
        rec["error"] = str(e)
    return rec


HEADER = ["#", "shortName", "typeOfLevel", "level", "points", "missing", "min", "max", "mean"]
FIELDS = ["number", "shortName", "typeOfLevel", "level", "points", "missing", "min", "max", "mean"]


def run(args, report_error) -> int:
    selection = Selection(args.where, args.message)
    try:
        records = [_record(n, h) for n, h in messages(args.file, selection)]
    except FileProblem as e:
        report_error(str(e))
        return 1
    failed = [r for r in records if "error" in r]
    if args.json:
        print_json([{"file": args.file, **r} for r in records])
    else:
        rows = []
        for r in records:
            head = [number_text(r[k]) for k in FIELDS[:4]]
            if "error" in r:
                rows.append(head + [f"cannot decode: {r['error']}"])
            else:
                rows.append(head + [number_text(r[k]) for k in FIELDS[4:]])
        table(HEADER, rows)
    for r in failed:
        report_error(f"{args.file}: message {r['number']}: {r['error']}")
    return 1 if failed else 0
