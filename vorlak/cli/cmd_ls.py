"""``vorlak ls``: one line per field."""
from __future__ import annotations

from vorlak.cli import keys
from vorlak.cli.output import number_text, print_json, table
from vorlak.cli.reading import FileProblem, Selection, fields, number_record

HELP = "list the fields of GRIB files, one line each"

DESCRIPTION = """\
List every field: its number (the message number, or message.field when a
message carries several fields), byte offset and length of its message,
GRIB edition, parameter (shortName), level type and level, reference date
and time (dataDate YYYYMMDD, dataTime HHMM), forecast step, grid type, grid
size (points along a row x rows) and packing. Files that cannot be read are
reported on stderr; the other files are still listed."""

# (column title, JSON field, key read from the field; None: see _record)
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


def _record(number: str, field) -> tuple[str, dict]:
    """(number text, JSON record)."""
    rec = number_record(field)
    for _title, name, key in COLUMNS:
        if name == "grid":
            rec[name] = keys.grid_shape_text(field)
        elif key is not None:
            rec[name] = keys.native(field, key)
    return number, rec


def run(args, report_error) -> int:
    selection = Selection(args.where, args.message)
    status = 0
    listing = []
    for path in args.files:
        try:
            records = [_record(n, f) for n, f in fields(path, selection)]
        except FileProblem as e:
            report_error(str(e))
            status = 1
            continue
        listing.append((path, records))

    if args.json:
        print_json([{"file": path, **rec} for path, recs in listing for _n, rec in recs])
        return status
    for i, (path, records) in enumerate(listing):
        if len(args.files) > 1:
            print(("\n" if i else "") + f"{path}:")
        rows = [[number] + [number_text(rec[name]) for _t, name, _k in COLUMNS[1:]] for number, rec in records]
        table([title for title, _f, _k in COLUMNS], rows)
        messages = len({rec["number"] for _n, rec in records})
        summary = f"{messages} message{'' if messages == 1 else 's'}"
        if len(records) != messages:
            summary += f", {len(records)} fields"
        print(summary)
    return status
