"""Aligned text tables, number formatting and JSON output."""
from __future__ import annotations

import json
import math
import sys
from typing import Any, Sequence

import numpy as np

MISSING = "-"


def number_text(v: Any) -> str:
    """Short text of a number: integers as they are, floats with up to
    seven significant digits, NaN and None as a dash."""
    if v is None:
        return MISSING
    if isinstance(v, (bool, np.bool_)):
        return str(bool(v))
    if isinstance(v, (int, np.integer)):
        return str(int(v))
    if isinstance(v, (float, np.floating)):
        if math.isnan(v):
            return MISSING
        return f"{float(v):.7g}"
    return str(v)


def _is_numeric(text: str) -> bool:
    try:
        float(text)
    except ValueError:
        return False
    return True


def table(header: Sequence[str], rows: Sequence[Sequence[str]], out=None) -> None:
    """Columns padded to their widest cell; columns whose cells are all
    numbers (or dashes) are right-aligned. A row shorter than the header
    ends in free text (an error, say) that runs on without setting the
    width of its column. The last column is not padded."""
    out = out or sys.stdout
    ncol = len(header)
    widths = [len(h) for h in header]
    numeric = [True] * ncol
    for row in rows:
        fitted = row if len(row) == ncol else row[:-1]
        for i, cell in enumerate(fitted):
            widths[i] = max(widths[i], len(cell))
            if cell != MISSING and not _is_numeric(cell):
                numeric[i] = False

    def line(cells, free_text):
        parts = []
        for i, cell in enumerate(cells):
            if free_text and i == len(cells) - 1:
                parts.append(cell)
            elif numeric[i]:
                parts.append(cell.rjust(widths[i]))
            else:
                parts.append(cell if i == ncol - 1 else cell.ljust(widths[i]))
        return "  ".join(parts).rstrip()

    print(line(list(header), False), file=out)
    for row in rows:
        print(line(list(row), len(row) != ncol), file=out)


def jsonable(v: Any) -> Any:
    """Plain JSON values: NaN and infinities become null, NumPy scalars and
    arrays become numbers and lists."""
    if isinstance(v, dict):
        return {str(k): jsonable(x) for k, x in v.items()}
    if isinstance(v, (list, tuple)):
        return [jsonable(x) for x in v]
    if isinstance(v, np.ndarray):
        return [jsonable(x) for x in v.tolist()]
    if isinstance(v, (bool, np.bool_)):
        return bool(v)
    if isinstance(v, (int, np.integer)):
        return int(v)
    if isinstance(v, (float, np.floating)):
        f = float(v)
        return f if math.isfinite(f) else None
    if isinstance(v, bytes):
        return v.decode("utf-8", "replace")
    return v


def print_json(v: Any, out=None) -> None:
    json.dump(jsonable(v), out or sys.stdout, indent=1, allow_nan=False)
    print(file=out or sys.stdout)
