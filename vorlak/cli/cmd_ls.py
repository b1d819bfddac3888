"""``vorlak ls``: one line per message."""
from __future__ import annotations

from vorlak.cli import keys
from vorlak.cli.output import number_text, print_json, table
from vorlak.cli.reading import FileProblem, Selection, messages

HELP = "list the messages of GRIB files, one line each"

DESCRIPTION = """\
List every message: its number in the file, byte offset and length, GRIB
edition, parameter (shortName), level type and level, reference date and
time (dataDate YYYYMMDD, dataTime HHMM), forecast step, grid type, grid
size (points along a row x rows) and packing. Files that cannot be read
are reported on stderr; the other files are still listed."""

# (column title, JSON field, key read from the message; None: see _record)
COLUMNS = [
    ("#", "number", None), ("offset", "offset", "offset"), ("length", "length", "totalLength"),
    ("ed", "edition", "edition"), ("shortName", "shortName", "shortName"),
    ("typeOfLevel", "typeOfLevel", "typeOfLevel"), ("level", "level", "level"),
    ("dataDate", "dataDate", "dataDate"), ("dataTime", "dataTime", "dataTime"),
    ("stepRange", "stepRange", "stepRange"), ("gridType", "gridType", "gridType"),
    ("NixNj", "grid", None), ("packingType", "packingType", "packingType"),
]


def add_arguments(p) -> None:
    p.add_argument("files", nargs="+", metavar="FILE", help="GRIB files")


def _record(number: int, handle) -> dict:
    rec = {}
    for _title, field, key in COLUMNS:
        if field == "number":
            rec[field] = number
        elif field == "grid":
            rec[field] = keys.grid_shape_text(handle)
        else:
            rec[field] = keys.native(handle, key)
    return rec


def run(args, report_error) -> int:
    selection = Selection(args.where, args.message)
    status = 0
    listing = []
    for path in args.files:
        try:
            records = [_record(n, h) for n, h in messages(path, selection)]
        except FileProblem as e:
            report_error(str(e))
            status = 1
            continue
        listing.append((path, records))

    if args.json:
        print_json([{"file": path, **rec} for path, recs in listing for rec in recs])
        return status
    for i, (path, records) in enumerate(listing):
        if len(args.files) > 1:
            print(("\n" if i else "") + f"{path}:")
        rows = [[number_text(rec[field]) for _t, field, _k in COLUMNS] for rec in records]
        table([title for title, _f, _k in COLUMNS], rows)
        print(f"{len(records)} message{'' if len(records) == 1 else 's'}")
    return status
