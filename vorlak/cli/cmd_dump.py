"""``vorlak dump``: every key of a field with its value."""
from __future__ import annotations

import numpy as np

from vorlak.cli.output import number_text, print_json
from vorlak.cli.reading import FileProblem, Selection, fields, number_record

HELP = "print every key of a field with its value"

DESCRIPTION = """\
Print all keys of a field, in name order, each with its value, together
with the decoded arrays (values, latitudes, longitudes, ...) and the keys
computed from them. Arrays are shown by their size, their first elements
and their range unless --full is given. Without -m every selected field is
dumped."""

SHOWN_ELEMENTS = 5


def add_arguments(p) -> None:
    p.add_argument("file", metavar="FILE", help="GRIB file")
    p.add_argument("--full", action="store_true", help="print arrays in full")


def _array_summary(a: np.ndarray) -> dict:
    present = a[~np.isnan(a)]
    return {"size": int(a.size), "missing": int(a.size - present.size),
            "first": a[:SHOWN_ELEMENTS].tolist(),
            "min": float(present.min()) if present.size else None,
            "max": float(present.max()) if present.size else None}


def _array_text(a: np.ndarray) -> str:
    s = _array_summary(a)
    first = " ".join(number_text(v) for v in s["first"])
    more = " ..." if a.size > SHOWN_ELEMENTS else ""
    text = f"[{first}{more}] ({s['size']} values"
    if s["missing"]:
        text += f", {s['missing']} missing"
    if s["min"] is not None:
        text += f", min {number_text(s['min'])}, max {number_text(s['max'])}"
    return text + ")"


def dump_record(field, full: bool) -> dict:
    """{name: value} with arrays summarised unless full, and {name: error}
    for keys that cannot be read (values of an undecodable field)."""
    values, errors = {}, {}
    for name, v, _text, err in field._codes_keys():
        if err is not None:
            errors[name] = err
        elif isinstance(v, np.ndarray):
            values[name] = v if full else _array_summary(np.asarray(v, dtype=np.float64))
        else:
            values[name] = v
    return {"keys": values, "errors": errors}


def _print_text(number: str, field, full: bool) -> None:
    read = field._codes_keys()
    width = max((len(name) for name, *_ in read), default=0)
    print(f"message {number}")
    for name, v, text, err in read:
        if err is not None:
            shown = f"<cannot read: {err}>"
        elif isinstance(v, np.ndarray):
            shown = (" ".join(number_text(x) for x in v.tolist()) if full
                     else _array_text(np.asarray(v, dtype=np.float64)))
        else:
            shown = text
        print(f"  {name.ljust(width)} = {shown}")


def run(args, report_error) -> int:
    selection = Selection(args.where, args.message)
    dumped = []
    try:
        for i, (number, field) in enumerate(fields(args.file, selection)):
            if args.json:
                dumped.append({"file": args.file, **number_record(field), **dump_record(field, args.full)})
            else:
                if i:
                    print()
                _print_text(number, field, args.full)
    except FileProblem as e:
        report_error(str(e))
        return 1
    if args.json:
        print_json(dumped)
    return 0
