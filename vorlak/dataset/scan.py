"""One pass over a file: a handle and the keys that place it in the dataset
for every message, without decoding any values."""
from __future__ import annotations

import mmap
import os
from dataclasses import dataclass, field
from typing import Any

import numpy as np

from vorlak import _vorlak as codes
from vorlak.dataset.signature import message_facts
from vorlak.dataset.timekeys import forecast_step, reference_time


class MessageInfo:
    """Where a message is and where it goes: variable, time, step, level."""

    __slots__ = ("number", "offset", "length", "handle", "param", "short_name", "level_type",
                 "level", "time", "step", "grid", "member", "product")

    def __init__(self, number, offset, length, handle, param, short_name, level_type, level,
                 time, step, grid, member=None, product=()):
        self.number = number
        self.offset = offset
        self.length = length
        self.handle = handle
        self.param = param
        self.short_name = short_name
        self.level_type = level_type
        self.level = level
        self.time = time
        self.step = step
        self.grid = grid
        self.member = member    # ensemble member (the key "number"), None outside ensembles
        self.product = product  # what sets the field apart beyond parameter and level


@dataclass
class FileScan:
    path: str
    stamp: tuple[int, int]  # size and modification time (ns) when scanned
    messages: list[MessageInfo] = field(default_factory=list)
    total: int = 0  # messages in the file, before filtering


def file_stamp(path: str) -> tuple[int, int]:
    st = os.stat(path)
    return (st.st_size, st.st_mtime_ns)


_NOT_FOUND = codes.KeyValueNotFoundError


def _get(handle, key: str) -> Any:
    try:
        return codes.codes_get(handle, key)
    except _NOT_FOUND:
        return None


def _wanted_matches(handle, key: str, wanted) -> bool:
    """filter_by_keys: a str is compared with the key's text, a number with
    its numeric value; a list or tuple matches any of its items."""
    if isinstance(wanted, (list, tuple, set, frozenset)):
        return any(_wanted_matches(handle, key, w) for w in wanted)
    try:
        if isinstance(wanted, str):
            return codes.codes_get_string(handle, key) == wanted
        if isinstance(wanted, (int, float, np.integer, np.floating)) and not isinstance(wanted, bool):
            return codes.codes_get_double(handle, key) == float(wanted)
    except codes.CodesInternalError:
        return False
    raise TypeError(f"filter_by_keys value for {key!r} must be a str, a number or a list of them, "
                    f"not {type(wanted).__name__}")


def scan_file(path: str, filter_by_keys: dict | None = None) -> FileScan:
    """Open every message of ``path`` (keys only) and keep those matching
    ``filter_by_keys``. Raises OSError or CodesInternalError (no messages,
    unreadable file) with the file named."""
    filters = list((filter_by_keys or {}).items())
    stamp = file_stamp(path)
    scan = FileScan(path, stamp)
    with open(path, "rb") as f:
        buf = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) if stamp[0] else b""
        try:
            # An index without keys walks every message in file order, and
            # makes the handles in one pass over the loaded file.
            index = codes.codes_index_new_from_file(path, [])
            _scan_messages(index, buf, filters, scan)
        except codes.CodesInternalError as e:
            raise type(e)(f"{path}: {e}") from None
        finally:
            if isinstance(buf, mmap.mmap):
                buf.close()
    return scan


# Keys of product templates other than 4.0 (and of layers) that make fields
# of one parameter and level different products: statistics, probabilities,
# percentiles, derived (ensemble mean, spread, ...) and anomaly products,
# layers that share their top (soil 0-10 cm and 0-200 cm).
PRODUCT_KEYS = ("productDefinitionTemplateNumber", "stepType", "probabilityType", "lowerLimit", "upperLimit",
                "percentileValue", "derivedForecast", "bottomLevel")


# GRIB1 time range indicators of statistics (average, accumulation, difference).
_GRIB1_STATISTICS = (3, 4, 5)


def _product(handle, edition: int, code) -> tuple:
    """() for plain analyses and forecasts (GRIB2 template 4.0, GRIB1 without
    statistics), else the values of PRODUCT_KEYS. ``code`` is what
    message_facts read from the bytes (None: ask the keys)."""
    if edition == 2 and code == 0:
        return ()
    if edition == 1 and code is not None and code not in _GRIB1_STATISTICS:
        return ()
    return tuple(_get(handle, k) for k in PRODUCT_KEYS)


def _scan_messages(index, buf, filters, scan: FileScan) -> None:
    new_from_index = codes.codes_new_from_index
    get_long = codes.codes_get_long
    get = codes.codes_get
    messages = scan.messages
    # Files repeat a few dates and steps many times over.
    times: dict[tuple, np.datetime64] = {}
    steps: dict[tuple, np.timedelta64] = {}
    while True:
        handle = new_from_index(index)
        if handle is None:
            return
        scan.total += 1
        if filters and not all(_wanted_matches(handle, k, w) for k, w in filters):
            continue
        offset = get_long(handle, "offset")
        length = get_long(handle, "totalLength")
        date = (_get(handle, "dataDate"), _get(handle, "dataTime"))
        time = times.get(date)
        if time is None:
            time = times[date] = reference_time(*date)
        # The end of the step: a statistically processed field (an
        # accumulation, a maximum) is shown where its interval ends.
        step_keys = (_get(handle, "endStep"), _get(handle, "stepUnits"))
        step = steps.get(step_keys)
        if step is None:
            step = steps[step_keys] = forecast_step(*step_keys)
        edition = _edition(buf, offset)
        signature, code = message_facts(buf, offset, length, edition)
        product = _product(handle, edition, code)
        member = _get(handle, "number") if product else None
        # shortName, typeOfLevel and level are defined for every message.
        messages.append(MessageInfo(
            scan.total, offset, length, handle, _get(handle, "paramId"), get(handle, "shortName"),
            get(handle, "typeOfLevel"), float(get(handle, "level")), time, step,
            signature or _keys_signature(handle), member, product))


def _edition(buf, offset: int) -> int:
    # Octet 8 of section 0 holds the edition number in both editions.
    return buf[offset + 7] if offset + 8 <= len(buf) else 0


def _keys_signature(handle) -> bytes:
    """Stand-in grid identity when the grid definition bytes cannot be
    found: grid type and size."""
    return "keys:{}:{}:{}".format(_get(handle, "gridType"), _get(handle, "Nx"),
                                  _get(handle, "Ny")).encode()
