"""Grouping fields into variables, each a hypercube over ensemble member
(when the fields have one), the time dimensions (``time_dims``: reference
time and step by default), probability threshold or percentile (when the
fields have one) and level, on one grid.

A variable is one parameter of one product (its statistics, probability
type, derived forecast, ...) on one level type and one grid; the same
parameter on two grids becomes two variables. Cells without a field stay
empty (NaN when read). Layers that share their top but not their bottom
(soil 0-10 cm and 0-200 cm) become variables of their own. Two fields that
fall into the same cell otherwise cannot both be shown: the dataset is
refused, naming the keys in which they differ so that filter_by_keys can
pick one set."""
from __future__ import annotations

import math
from dataclasses import dataclass, field

import numpy as np

from vorlak.dataset.scan import FieldInfo

TIME_KINDS = ("time", "step", "valid_time")


class DatasetBuildError(ValueError):
    """The fields do not form a dataset; the text says which keys clash."""


def _ns(value) -> int:
    return int(value.astype("datetime64[ns]" if value.dtype.kind == "M" else "timedelta64[ns]").view(np.int64))


def _nan_none(x: float):
    return None if x != x else x


# Probability types whose event is bounded by the upper limit alone.
_UPPER_LIMIT_TYPES = (1, 4)


def threshold_of(limits: tuple, probability_type) -> float:
    lower, upper = limits
    if probability_type in _UPPER_LIMIT_TYPES or lower != lower:
        return upper
    return lower


def _cell_value(kind: str, f: FieldInfo):
    if kind == "number":
        return -1 if f.member is None else int(f.member)
    if kind == "time":
        return _ns(f.time)
    if kind == "step":
        return _ns(f.step)
    if kind == "valid_time":
        return _ns(f.valid)
    if kind == "threshold":
        return (None, None) if f.limits is None else tuple(_nan_none(x) for x in f.limits)
    if kind == "percentile":
        return f.percentile
    return _nan_none(f.level)  # "level"; NaN (no level) is one value, None


def _sort_key(value):
    if value is None:
        return (1, 0.0)
    if isinstance(value, tuple):
        return tuple(_sort_key(v) for v in value)
    if isinstance(value, float) and math.isnan(value):
        return (1, 0.0)
    return (0, value)


@dataclass
class Axis:
    kind: str
    values: list                     # distinct cell values, sorted
    bottoms: list | None = None      # level axes of layers: the bottom of each level

    def __len__(self):
        return len(self.values)


@dataclass
class Cube:
    var: tuple
    fields: list[FieldInfo]
    ids: list[int]                   # the fields' ids in the dataset
    axes: list[Axis] = field(default_factory=list)
    table: np.ndarray | None = None  # field ids by axes; -1 where no field

    @property
    def first(self) -> FieldInfo:
        return self.fields[0]

    def axis(self, kind: str) -> Axis | None:
        return next((a for a in self.axes if a.kind == kind), None)


def axis_kinds(fields: list[FieldInfo], time_dims: tuple) -> list[str]:
    kinds = ["number"] if any(f.member is not None for f in fields) else []
    kinds += list(time_dims)
    if any(f.limits is not None for f in fields):
        kinds.append("threshold")
    if any(f.percentile is not None for f in fields):
        kinds.append("percentile")
    return kinds + ["level"]


def group(fields: list[FieldInfo], time_dims: tuple, explain) -> list[Cube]:
    """Cubes in the order of their first field; ``explain(a, b, cube_fields)``
    says why two fields in one cell clash."""
    by_var: dict[tuple, list[int]] = {}
    for i, f in enumerate(fields):
        by_var.setdefault(f.var, []).append(i)
    cubes = []
    for var, ids in by_var.items():
        cubes.extend(_build(var, ids, fields, time_dims, explain))
    return cubes


def _build(var, ids, fields, time_dims, explain) -> list[Cube]:
    members = [fields[i] for i in ids]
    kinds = axis_kinds(members, time_dims)
    cells = [tuple(_cell_value(k, f) for k in kinds) for f in members]
    owner: dict[tuple, int] = {}
    for k, cell in enumerate(cells):
        j = owner.setdefault(cell, k)
        if j != k:
            a, b = members[j], members[k]
            if a.bottom != b.bottom and a.bottom is not None and b.bottom is not None:
                return _split_by_bottom(var, ids, fields, time_dims, explain)
            raise DatasetBuildError(explain(a, b, members, kinds))
    cube = Cube(var, members, ids)
    index_of = []
    for d, kind in enumerate(kinds):
        values = sorted({cell[d] for cell in cells}, key=_sort_key)
        axis = Axis(kind, values)
        if kind == "level" and any(f.bottom is not None for f in members):
            bottom_of = {}
            for f in members:
                bottom_of.setdefault(_nan_none(f.level), f.bottom)
            axis.bottoms = [bottom_of.get(v) for v in values]
        cube.axes.append(axis)
        index_of.append({v: i for i, v in enumerate(values)})
    table = np.full(tuple(len(a) for a in cube.axes), -1, dtype=np.int64)
    for fid, cell in zip(ids, cells):
        table[tuple(index_of[d][v] for d, v in enumerate(cell))] = fid
    cube.table = table
    return [cube]


def _split_by_bottom(var, ids, fields, time_dims, explain) -> list[Cube]:
    parts: dict = {}
    for i in ids:
        parts.setdefault(fields[i].bottom, []).append(i)
    out = []
    for bottom, part in parts.items():
        out.extend(_build(var + (("bottomLevel", bottom),), part, fields, time_dims, explain))
    return out


# ---------------------------------------------------------------- clashes

# Keys that say where a field sits in its file or how its values are
# packed, not what it holds.
POSITION_KEYS = {
    "offset", "totalLength", "messageNumber", "packingType", "missingValue", "numberOfMissing",
    "bitmapPresent", "JS", "KS", "MS", "MV", "MVL", "NC", "NC1", "NC2", "NR", "NS", "P", "TS",
    "biFourierSubTruncationType", "binaryScaleFactor", "bitsPerValue", "blockSize", "ccsdsFlags",
    "dataRepresentationTemplateNumber", "decimalScaleFactor", "decimalScaleFactorOfRepresentativeValueOfEachLevel",
    "groupSplittingMethodUsed", "lengthIncrementForTheGroupLengths", "levelValues", "missingValueManagementUsed",
    "numberOfBitsForScaledGroupLengths", "numberOfBitsUsedForTheGroupWidths", "numberOfDataValuesEncodedInSection7",
    "numberOfGroupsOfDataValues", "numberOfOctetsExtraDescriptors", "numberOfValues", "orderOfSpatialDifferencing",
    "packingModeForAxes", "preProcessingParameter", "precision", "precisionOfTheUnpackedSubset",
    "primaryMissingValueSubstitute", "realPartOfCoefficient", "referenceForGroupLengths",
    "referenceForGroupWidths", "referenceSampleInterval", "referenceValue", "secondaryMissingValueSubstitute",
    "targetCompressionRatio", "trueLengthOfLastGroup", "typeOfCompressionUsed", "typeOfOriginalFieldValues"}
# Keys that follow from the cube's dimensions.
COORDINATE_KEYS = {"dataDate", "dataTime", "validityDate", "validityTime", "forecastTime", "endStep",
                   "startStep", "stepRange", "level", "dataType", "number", "perturbationNumber",
                   "lowerLimit", "upperLimit", "scaledValueOfLowerLimit", "scaledValueOfUpperLimit",
                   "scaleFactorOfLowerLimit", "scaleFactorOfUpperLimit", "percentileValue", "topLevel",
                   "bottomLevel", "scaledValueOfFirstFixedSurface", "scaleFactorOfFirstFixedSurface",
                   "scaledValueOfSecondFixedSurface", "scaleFactorOfSecondFixedSurface", "hour", "day",
                   "month", "year", "minute", "second", "validityDate", "julianDay"}


def cell_text(f: FieldInfo, kinds) -> str:
    parts = []
    for kind in kinds:
        if kind == "number" and f.member is not None:
            parts.append(f"number {f.member}")
        elif kind == "time":
            parts.append(f"time {np.datetime_as_string(f.time, unit='m')}")
        elif kind == "step":
            hours = f.step / np.timedelta64(1, "h") if not np.isnat(f.step) else float("nan")
            parts.append(f"step {hours:g} h")
        elif kind == "valid_time":
            parts.append(f"valid_time {np.datetime_as_string(f.valid, unit='m')}")
        elif kind == "threshold" and f.limits is not None:
            parts.append(f"limits {f.limits[0]:g}/{f.limits[1]:g}")
        elif kind == "percentile" and f.percentile is not None:
            parts.append(f"percentile {f.percentile:g}")
        elif kind == "level":
            parts.append(f"{f.var[1]} {f.level:g}")
    return ", ".join(parts)


def literal(text: str) -> str:
    try:
        return repr(int(text))
    except ValueError:
        return repr(text)


def duplicate_text(a: FieldInfo, b: FieldInfo, where: str, kinds, key_texts, varying_texts) -> str:
    """Why fields ``a`` and ``b`` cannot both be shown. ``key_texts(f)`` is
    the text of every key of a field; ``varying_texts()`` the keys whose
    text varies across the variable's fields."""
    name = a.var[0]
    what = (f"cannot put every field of parameter {name} of {where} on one grid of "
            f"{', '.join(kinds)}: fields {a.label} and {b.label} are both at {cell_text(a, kinds)}")
    ka, kb = key_texts(a), key_texts(b)
    diff = {k: (ka.get(k), kb.get(k)) for k in sorted(set(ka) | set(kb))
            if ka.get(k) != kb.get(k) and k not in COORDINATE_KEYS and k not in POSITION_KEYS}
    hint = ""
    if "time" not in kinds and ("dataDate" in ka and ka.get("dataDate") != kb.get("dataDate")
                                or ka.get("dataTime") != kb.get("dataTime")):
        hint = "; they differ in reference time: add 'time' to time_dims"
    elif "step" not in kinds and ka.get("endStep") != kb.get("endStep"):
        hint = "; they differ in step: add 'step' to time_dims"
    if diff:
        shown = ", ".join(f"{k} ({va} / {vb})" for k, (va, vb) in list(diff.items())[:6])
        key, (va, vb) = next(iter(diff.items()))
        return (f"{what} and differ in {shown}. Open one set at a time, "
                f"e.g. filter_by_keys={{{key!r}: {literal(va if va is not None else vb)}}}{hint}")
    if hint:
        return what + hint
    varying = {k: v for k, v in varying_texts().items() if k not in COORDINATE_KEYS and k not in POSITION_KEYS}
    if varying:
        shown = ", ".join(f"{k} ({', '.join(vs[:5])})" for k, vs in list(varying.items())[:6])
        key, values = next(iter(varying.items()))
        return (f"{what}, and no key tells those two apart. Across the variable's fields "
                f"{shown} vary; filter_by_keys={{{key!r}: {literal(values[0])}}} opens one set, "
                f"which may still hold such pairs")
    return (f"{what}, and no key tells them apart: the file may hold the same field twice, or "
            f"fields (ensemble members, say) that differ only in ways these keys do not show")
