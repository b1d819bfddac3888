"""One pass over the fields of a source: for every field the keys that place
it in the dataset (variable, member, time, step, threshold, level) and the
byte range it is read from, without decoding any values.

What a variable or a grid needs once (its attributes, its coordinates) is
read from the first field that has it, while the source is open, into a
Catalogue shared by the scans of every file of one dataset."""
from __future__ import annotations

import difflib
import mmap
import warnings
from dataclasses import dataclass, field

import numpy as np

from vorlak.dataset import attributes as A
from vorlak.dataset.grid import described_grid, grid_identity
from vorlak.dataset.reader import DECODED_TEMPLATES, open_fields
from vorlak.dataset.signature import LAYER, message_fields, stated_length
from vorlak.dataset.source import Source
from vorlak.dataset.timekeys import forecast_step, reference_time


class FieldInfo:
    """Where a field is and where it goes."""

    __slots__ = ("src", "pos", "label", "offset", "length", "index", "end", "var", "time", "step", "valid",
                 "level", "member", "top", "bottom", "limits", "percentile", "wide")

    def __init__(self, src, pos, label, offset, length, index, end, var, time, step, level):
        self.src = src          # the source's place in the dataset's list of sources
        self.pos = pos          # the field's place among the fields of its source
        self.label = label      # its number as the command line writes it: "3", or "3.2"
        self.offset = offset    # its message: offset and length
        self.length = length
        self.index = index      # its place in the message
        self.end = end          # end of its section 7, from the message start
        self.var = var          # (parameter, level type, grid key, product identity)
        self.time = time
        self.step = step
        self.valid = time + step
        self.level = level
        self.member = None      # ensemble member (the key "number"), None outside ensembles
        self.top = None         # layers: their top and bottom
        self.bottom = None
        self.limits = None      # probabilities: (lowerLimit, upperLimit), NaN where absent
        self.percentile = None
        self.wide = False       # values need float64


@dataclass
class VariableFacts:
    attrs: dict
    level_type: str
    name_parts: dict  # what may qualify its name when another variable has the same


@dataclass
class Catalogue:
    """What the scans of one dataset found once: variables and grids."""
    read_keys: tuple = ()
    variables: dict = field(default_factory=dict)   # var key -> VariableFacts
    grids: dict = field(default_factory=dict)       # grid key -> Grid
    _grid_keys: dict = field(default_factory=dict)  # grid definition bytes -> grid key
    _identities: dict = field(default_factory=dict)  # semantic identity -> grid key

    def grid_key(self, raw: bytes | None, f) -> int:
        key = self._grid_keys.get(raw) if raw is not None else None
        if key is not None:
            return key
        ident = grid_identity(f)
        key = self._identities.get(ident)
        if key is None:
            key = self._identities[ident] = len(self._identities)
            self.grids[key] = described_grid(ident, f, key)
        if raw is not None:
            self._grid_keys[raw] = key
        return key


@dataclass
class FileScan:
    source: Source
    fields: list[FieldInfo] = field(default_factory=list)
    total: int = 0                                   # fields in the source, before filtering
    left_out: list[tuple[str, str]] = field(default_factory=list)  # (field label, why)
    truncated: str | None = None
    filter_report: list[str] = field(default_factory=list)  # why filter_by_keys selected nothing
    end: int = 0  # end of the last message read


def _label(f, count_in_message: int) -> str:
    if count_in_message > 1:
        return f"{f.message_number}.{f.index_in_message + 1}"
    return str(f.message_number)


def _text(f, key: str) -> str | None:
    text = getattr(f, "_text", None)
    if text is not None:
        try:
            return text(key)
        except KeyError:
            return None
    value = f.get(key)
    if value is None:
        return None
    if isinstance(value, float) and value.is_integer():
        return str(int(value))
    return str(value)


def _matches(f, key: str, wanted) -> bool:
    """filter_by_keys: a str compares with the key's text, a number with its
    value; a list, tuple or set matches any of its items."""
    if isinstance(wanted, (list, tuple, set, frozenset, range)):
        return any(_matches(f, key, w) for w in wanted)
    if isinstance(wanted, str):
        return _text(f, key) == wanted
    if isinstance(wanted, (int, float, np.integer, np.floating)) and not isinstance(wanted, bool):
        have = f.get(key)
        if isinstance(have, (int, float, np.integer, np.floating)):
            return float(have) == float(wanted)
        try:
            return have is not None and float(have) == float(wanted)
        except (TypeError, ValueError):
            return False
    raise TypeError(f"filter_by_keys value for {key!r} must be a str, a number or a list of them, "
                    f"not {type(wanted).__name__}")


# Product definition templates whose fields differ by these keys beyond
# parameter and level (chemistry, aerosols, satellites): separate variables.
_IDENTITY_EXTRA = ("constituentType", "aerosolType", "satelliteNumber", "instrumentType",
                   "scaledValueOfCentralWaveNumber", "typeOfWavelengthInterval")
_COMMON_TEMPLATES = frozenset({0, LAYER, 1, 2, 5, 6, 8, 9, 10, 11, 12, 15})
_GRIB1_STATISTICS = (3, 4, 5)  # time range indicators of averages, accumulations and differences


def _float(v) -> float:
    return float("nan") if v is None else float(v)


class _Scanner:
    def __init__(self, catalogue: Catalogue, src: int, filters: list):
        self.catalogue = catalogue
        self.src = src
        self.filters = filters
        self.times: dict = {}
        self.steps: dict = {}
        self.seen_filter_keys: set = set()
        self.filter_values: dict = {k: [] for k, _ in filters}
        self.key_names: list = []  # the keys of the first field, for close matches

    def keep(self, f) -> bool:
        if not self.key_names:
            self.key_names = list(f.keys())
        if len(self.seen_filter_keys) < len(self.filters):
            for key, _ in self.filters:
                if key not in self.seen_filter_keys and f.get(key) is not None:
                    self.seen_filter_keys.add(key)
        for key, wanted in self.filters:
            if not _matches(f, key, wanted):
                seen = self.filter_values[key]
                if len(seen) < 12:
                    text = _text(f, key)
                    if text is not None and text not in seen:
                        seen.append(text)
                return False
        return True

    def info(self, f, facts, label: str, pos: int, edition: int) -> FieldInfo | str:
        """The field's place in the dataset, or why it is left out."""
        get = f.get
        if edition == 2:
            template = get("dataRepresentationTemplateNumber")
            if template is not None and template not in DECODED_TEMPLATES:
                return f"data representation template 5.{template} is not decoded"
        elif edition == 1 and facts.packing is not None and facts.packing[0]:
            return "edition 1 data packed otherwise than simply (flags {:04b}) are not decoded".format(
                facts.packing[0])
        date = (get("dataDate"), get("dataTime"))
        time = self.times.get(date)
        if time is None:
            time = self.times[date] = reference_time(*date)
        # The end of the step: a statistically processed field (an
        # accumulation, a maximum) is shown where its interval ends.
        step_keys = (get("endStep"), get("stepUnits"))
        step = self.steps.get(step_keys)
        if step is None:
            step = self.steps[step_keys] = forecast_step(*step_keys)
        level_type = get("typeOfLevel") or "unknown"
        level = get("level")
        code = facts.product
        product: tuple = ()
        extra: dict = {}
        if edition == 2 and code not in (0, LAYER) or edition == 1 and code in _GRIB1_STATISTICS:
            product = (code, get("stepType"), get("typeOfStatisticalProcessing"), get("probabilityType"),
                       get("derivedForecast"))
            if code not in _COMMON_TEMPLATES:
                extra = {k: get(k) for k in _IDENTITY_EXTRA}
                extra = {k: v for k, v in extra.items() if v is not None}
                product += tuple(sorted(extra.items()))
        param = get("paramId")
        var = (param if param is not None else get("shortName"), level_type, self.grid_key, product)
        info = FieldInfo(self.src, pos, label, f.message_offset, f.message_length, f.index_in_message,
                         facts.end, var, time, step, _float(level))
        info.member = get("number")
        if product or code == LAYER or level_type.endswith("Layer"):
            top, bottom = get("topLevel"), get("bottomLevel")
            if bottom is not None:
                info.top, info.bottom = _float(top), _float(bottom)
            if product:
                if product[3] is not None:
                    info.limits = (_float(get("lowerLimit")), _float(get("upperLimit")))
                percentile = get("percentileValue")
                if percentile is not None:
                    info.percentile = float(percentile)
        bits = get("bitsPerValue") if edition == 2 else (facts.packing or (0, None))[1]
        if edition == 2 and template == 4:
            info.wide = get("precision") != 1
        else:
            info.wide = bits is not None and bits > 24
        if var not in self.catalogue.variables:
            attrs = A.variable_attrs(f, product=bool(product), extra=self.catalogue.read_keys)
            self.catalogue.variables[var] = VariableFacts(attrs, level_type, {
                "typeOfLevel": level_type, "stepType": get("stepType"),
                "template": None if edition != 2 or code in (0, LAYER) else code,
                "probabilityType": get("probabilityType"), "derivedForecast": get("derivedForecast"), **extra})
        return info


def scan_source(source: Source, src: int, catalogue: Catalogue, filter_by_keys: dict | None = None,
                errors: str = "warn") -> FileScan:
    """Every field of ``source`` matching ``filter_by_keys``. Raises OSError
    or CodesInternalError (no messages, unreadable file) with the source
    named; warns (or, with errors="raise", raises) for what it leaves out."""
    filters = list((filter_by_keys or {}).items())
    scan = FileScan(source)
    data = source.read_all()
    buf, close_buf = _bytes_of(data)
    try:
        try:
            grib = open_fields(data)
        except Exception as e:
            raise type(e)(f"{source.name}: {e}") from None
        try:
            _scan_fields(grib, buf, _Scanner(catalogue, src, filters), scan)
        finally:
            grib.close()
        _check_end(buf, scan)
    finally:
        close_buf()
    _report(scan, filters, errors)
    return scan


def _bytes_of(data):
    if isinstance(data, str):
        f = open(data, "rb")
        try:
            buf = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)
        except ValueError:  # empty file
            buf = b""
        f.close()
        return buf, (buf.close if isinstance(buf, mmap.mmap) else (lambda: None))
    return memoryview(data).cast("B") if not isinstance(data, bytes) else data, (lambda: None)


def _scan_fields(grib, buf, scanner: _Scanner, scan: FileScan) -> None:
    facts_of: dict[int, list] = {}
    catalogue = scanner.catalogue
    for pos, f in enumerate(grib):
        scan.total += 1
        scan.end = max(scan.end, f.message_offset + f.message_length)
        if scanner.filters and not scanner.keep(f):
            continue
        offset = f.message_offset
        facts = facts_of.get(offset)
        if facts is None:
            facts = facts_of[offset] = message_fields(buf, offset, f.message_length)
            stated = stated_length(buf, offset)
            if stated is not None and offset + stated > len(buf) and scan.truncated is None:
                scan.truncated = (f"the message at offset {offset} states {stated} bytes but "
                                  f"{len(buf) - offset} are there")
        label = _label(f, max(len(facts), f.index_in_message + 1))
        if f.index_in_message >= len(facts) or offset + f.message_length > len(buf):
            scan.truncated = scan.truncated or (f"field {label} at offset {offset} ends past the end of "
                                                f"the {len(buf)} bytes")
            continue
        fact = facts[f.index_in_message]
        scanner.grid_key = catalogue.grid_key(fact.grid, f)
        info = scanner.info(f, fact, label, pos, buf[offset + 7])
        if isinstance(info, str):
            scan.left_out.append((label, info))
            continue
        scan.fields.append(info)
    scan.filter_report = _filter_report(scanner, scan)


def _check_end(buf, scan: FileScan) -> None:
    """A message that starts after the last complete one but does not end
    within the bytes: the file was cut short. (Only the last mebibyte is
    searched: a cut message is the last one.)"""
    start = max(scan.end, len(buf) - (1 << 20))
    tail = bytes(buf[start:])
    at = tail.find(b"GRIB")
    while at >= 0 and scan.truncated is None:
        offset = start + at
        stated = stated_length(buf, offset)
        cut = stated is None or offset + stated > len(buf)  # not even its length, or not all of it
        if buf[offset + 7:offset + 8] in (b"\x01", b"\x02") and cut:
            scan.truncated = (f"a message starts at offset {offset} but ends past the end of the "
                              f"{len(buf)} bytes")
        at = tail.find(b"GRIB", at + 4)


def _filter_report(scanner: _Scanner, scan: FileScan) -> list[str]:
    out = []
    if not scanner.filters or scan.fields:
        return out
    for key, wanted in scanner.filters:
        if key not in scanner.seen_filter_keys:
            names = sorted(set(scanner.key_names) | set(A.FILTER_KEYS))
            close = difflib.get_close_matches(key, names, n=3, cutoff=0.6)
            hint = f"; did you mean {', '.join(repr(c) for c in close)}?" if close else ""
            out.append(f"no field has the key {key!r}{hint}")
        else:
            seen = scanner.filter_values[key]
            if seen:
                out.append(f"no field has {key}={wanted!r}; values seen: {', '.join(seen)}")
    return out


def _report(scan: FileScan, filters, errors: str) -> None:
    texts = []
    if scan.truncated:
        texts.append(f"{scan.source.name} is truncated: {scan.truncated}; the complete fields are read")
    for label, why in scan.left_out:
        texts.append(f"{scan.source.name}: field {label} is left out: {why}")
    texts.extend(f"{scan.source.name}: filter_by_keys selects nothing: {t}" for t in scan.filter_report)
    for text in texts:
        if errors == "raise":
            raise ValueError(text)
        if errors != "ignore":
            warnings.warn(text, RuntimeWarning, stacklevel=6)


class KeyTexts:
    """The text of every key of a field, reading its source again: for
    explaining a clash, not for the scan. Close it after use."""

    def __init__(self, sources: list[Source]):
        self.sources = sources
        self._open: dict = {}

    def __call__(self, info: FieldInfo) -> dict[str, str]:
        grib = self._open.get(info.src)
        if grib is None:
            grib = self._open[info.src] = open_fields(self.sources[info.src].read_all())
        f = grib[info.pos]
        out = {}
        for key in f.keys():
            text = _text(f, key)
            if text is not None and len(text) < 200:
                out[key] = text
        return out

    def close(self) -> None:
        for grib in self._open.values():
            grib.close()
        self._open.clear()
