"""The dataset model of one or more sources: data variables with their
dimensions and tables of fields, and the coordinates they use, built from
keys only (nothing is decoded).

Dimensions, in this order: ``number`` (ensemble members), the time
dimensions (``time_dims``, by default ``time`` and ``step``),
``threshold`` (probabilities) or ``percentile``, the level (named by its
type: ``isobaricInhPa``, ``heightAboveGround``, ...), then the grid's
(``latitude``/``longitude``, ``y``/``x`` or ``values``). A dimension with
one value is a scalar coordinate when every variable with it agrees on
that value, else a dimension of length 1 of its own variables (t2m at 2 m
beside u10 at 10 m). Variables that share a level type and have several
levels share one level dimension, the union of their levels (cells without
a field are NaN), so that ``sel(isobaricInhPa=500)`` works on each of
them."""
from __future__ import annotations

import warnings
from dataclasses import dataclass, field

import numpy as np

from vorlak.dataset import attributes as A
from vorlak.dataset.cube import TIME_KINDS, Cube, DatasetBuildError, duplicate_text, group, threshold_of
from vorlak.dataset.fields import FieldStore
from vorlak.dataset.grid import Grid
from vorlak.dataset.naming import Names, identity
from vorlak.dataset.scan import Catalogue, FileScan

DEFAULT_TIME_DIMS = ("time", "step")


@dataclass
class Coordinate:
    dims: tuple[str, ...]
    values: np.ndarray
    attrs: dict
    grid: int | None = None  # the grid whose points these are (2-D and point-list latitudes, longitudes)


@dataclass
class Variable:
    name: str
    dims: tuple[str, ...]
    table: np.ndarray  # field ids over the field dimensions; -1 where no field
    grid: Grid
    attrs: dict
    dtype: np.dtype
    coordinates: list[str] = field(default_factory=list)


@dataclass
class DatasetModel:
    store: FieldStore
    variables: list[Variable] = field(default_factory=list)
    coords: dict[str, Coordinate] = field(default_factory=dict)
    attrs: dict = field(default_factory=dict)


def check_time_dims(time_dims) -> tuple[str, ...]:
    if isinstance(time_dims, str):
        time_dims = (time_dims,)
    time_dims = tuple(time_dims)
    if not time_dims or len(set(time_dims)) != len(time_dims) or any(d not in TIME_KINDS for d in time_dims):
        raise ValueError(f"time_dims must name one or more of {', '.join(TIME_KINDS)} once each; "
                         f"got {time_dims!r}")
    return time_dims


# ------------------------------------------------------------------ axes


@dataclass
class _Axis:
    kind: str
    base: str
    values: np.ndarray
    attrs: dict
    bottoms: np.ndarray | None = None
    tag: object = None  # more that tells two axes of equal values apart (a threshold's probability type)
    name: str = ""
    is_dim: bool = True


_KIND_ATTRS = {"number": A.NUMBER_ATTRS, "time": A.TIME_ATTRS, "step": A.STEP_ATTRS,
               "valid_time": A.VALID_TIME_ATTRS, "threshold": A.THRESHOLD_ATTRS,
               "percentile": A.PERCENTILE_ATTRS}


def _level_base(level_type: str | None) -> str:
    return level_type if level_type and level_type != "unknown" else "level"


def _axis_values(kind: str, values: list) -> np.ndarray:
    if kind == "number":
        return np.array(values, dtype=np.int64)
    if kind in ("time", "valid_time"):
        return np.array(values, dtype=np.int64).view("datetime64[ns]")
    if kind == "step":
        return np.array(values, dtype=np.int64).view("timedelta64[ns]")
    if kind == "threshold":
        return np.array([(np.nan if lo is None else lo, np.nan if up is None else up) for lo, up in values],
                        dtype=np.float64).reshape(-1, 2)
    return np.array([np.nan if v is None else v for v in values], dtype=np.float64)


def _axes(cube: Cube, level_type: str) -> list[_Axis]:
    out = []
    for axis in cube.axes:
        if axis.kind == "level":
            ax = _Axis("level", _level_base(level_type), _axis_values("level", axis.values),
                       A.level_attrs(level_type))
            if axis.bottoms is not None:
                ax.bottoms = np.array([np.nan if b is None else b for b in axis.bottoms], dtype=np.float64)
        else:
            ax = _Axis(axis.kind, axis.kind, _axis_values(axis.kind, axis.values), _KIND_ATTRS[axis.kind])
            if axis.kind == "threshold":
                ax.tag = cube.var[3][3]
        out.append(ax)
    return out


def _unite_levels(cubes: list[Cube], axes: list[list[_Axis]]) -> None:
    """Variables with several levels of one type share the union of their
    levels (when their layers agree on the bottom of each level)."""
    by_base: dict[str, list[int]] = {}
    for i, cube_axes in enumerate(axes):
        by_base.setdefault(cube_axes[-1].base, []).append(i)
    for members in by_base.values():
        levels = [axes[i][-1] for i in members]
        if len(members) < 2 or all(ax.values.size == 1 for ax in levels):
            continue
        bottom_of: dict[float, float] = {}
        consistent = True
        for ax in levels:
            bottoms = ax.bottoms if ax.bottoms is not None else np.full(ax.values.size, np.nan)
            for v, b in zip(ax.values.tolist(), bottoms.tolist()):
                have = bottom_of.setdefault(v, b)
                if have != b and not (np.isnan(have) and np.isnan(b)):
                    consistent = False
        if not consistent:
            continue
        union = np.unique(np.concatenate([ax.values for ax in levels]))
        union_bottoms = np.array([bottom_of[v] for v in union.tolist()], dtype=np.float64)
        for i in members:
            ax, cube = axes[i][-1], cubes[i]
            if np.array_equal(ax.values, union):
                continue
            where = np.searchsorted(union, ax.values)
            table = np.full(cube.table.shape[:-1] + (union.size,), -1, dtype=np.int64)
            table[..., where] = cube.table
            cube.table = table
            ax.values = union
            ax.bottoms = union_bottoms if np.isfinite(union_bottoms).any() else None


def _choose_dims(axes: list[list[_Axis]], squeeze: bool = True) -> None:
    """A single-valued axis becomes a scalar coordinate only when every
    variable with an axis of that name has that same single value: a scalar
    coordinate belongs to all variables of a dataset. Otherwise it stays a
    dimension of length 1, so that its value goes with its own variable
    only (t2m at heightAboveGround 2 beside u10 at 10)."""
    seen: dict[str, set] = {}
    for cube_axes in axes:
        for ax in cube_axes:
            seen.setdefault(ax.base, set()).add((identity(ax.values), identity(ax.bottoms), ax.tag)
                                                if len(ax.values) == 1 else "many")
    for cube_axes in axes:
        for ax in cube_axes:
            ax.is_dim = not squeeze or len(ax.values) > 1 or len(seen[ax.base]) > 1


# ----------------------------------------------------------------- model


def build_model(scans: list[FileScan], catalogue: Catalogue, time_dims=DEFAULT_TIME_DIMS,
                dtype=None, explain_keys=None, squeeze: bool = True) -> DatasetModel:
    """``explain_keys(field_info)`` gives the key texts of a field, to say
    why two fields clash."""
    time_dims = check_time_dims(time_dims)
    fields = [f for scan in scans for f in scan.fields]
    store = FieldStore.from_fields([s.source for s in scans], fields)
    model = DatasetModel(store)

    def explain(a, b, members, kinds):
        where = scans[a.src].source.name if a.src == b.src else "these files"
        keys = explain_keys or (lambda f: {})

        def varying():
            texts = [keys(f) for f in members[:50]]
            names = sorted({k for t in texts for k in t})
            out = {}
            for k in names:
                seen = list(dict.fromkeys(t.get(k) for t in texts))
                if len(seen) > 1:
                    out[k] = ["-" if x is None else x for x in seen]
            return out
        return duplicate_text(a, b, where, kinds, keys, varying)

    cubes = group(fields, time_dims, explain)
    facts = [catalogue.variables[c.var[:4]] for c in cubes]
    grids = [catalogue.grids[c.var[2]] for c in cubes]
    for grid in {g.key: g for g in grids}.values():
        if grid.note:
            warnings.warn(f"{grid.grid_type} grid: {grid.note}", RuntimeWarning, stacklevel=4)

    axes = [_axes(c, f.level_type) for c, f in zip(cubes, facts)]
    _unite_levels(cubes, axes)
    _choose_dims(axes, squeeze)
    names = Names()
    grid_dims = []
    # Dimensions first, so that they keep the plain names.
    for cube, cube_axes, grid in zip(cubes, axes, grids):
        for ax in cube_axes:
            if ax.is_dim:
                ax.name = names.claim(ax.base, ("dim", identity(ax.values), identity(ax.bottoms), ax.tag))
        grid_dims.append(_claim_grid_dims(names, grid))
    for cube_axes in axes:
        for ax in cube_axes:
            if not ax.is_dim:
                ax.name = names.claim(ax.base, ("scalar", identity(ax.values), identity(ax.bottoms), ax.tag))

    var_names = _variable_names(cubes, facts, names)
    for cube, cube_axes, grid, gdims, fact, name in zip(cubes, axes, grids, grid_dims, facts, var_names):
        coords = []
        for ax in cube_axes:
            coords.append(_axis_coordinate(model, ax, cube))
            coords.extend(_along_axis(model, names, ax, cube))
        coords.extend(_time_coordinates(model, names, cube, cube_axes))
        coords.extend(_grid_coordinates(model, names, grid, gdims))
        attrs = dict(fact.attrs)
        if grid.mapping is not None:
            attrs["grid_mapping"] = coords[-1]
        wide = any(f.wide for f in cube.fields)
        var_dtype = np.dtype(dtype) if dtype is not None else np.dtype(np.float64 if wide else np.float32)
        keep = tuple(slice(None) if ax.is_dim else 0 for ax in cube_axes)
        model.variables.append(Variable(
            name=name, dims=tuple(ax.name for ax in cube_axes if ax.is_dim) + gdims, table=cube.table[keep],
            grid=grid, attrs=attrs, dtype=var_dtype, coordinates=coords))
    model.attrs = A.dataset_attrs([v.attrs for v in model.variables])
    return model


def _axis_coordinate(model: DatasetModel, ax: _Axis, cube: Cube) -> str:
    if ax.name not in model.coords:
        values = ax.values
        if ax.kind == "threshold":
            values = _threshold_values(ax, cube.var[3][3])
        model.coords[ax.name] = Coordinate((ax.name,) if ax.is_dim else (), values if ax.is_dim else values[0],
                                           ax.attrs)
    return ax.name


def _threshold_values(ax: _Axis, ptype) -> np.ndarray:
    """The limit that bounds each event, or positions when that does not
    tell the thresholds apart."""
    values = np.array([threshold_of(tuple(pair), ptype) for pair in ax.values.tolist()], dtype=np.float64)
    if np.unique(values).size != values.size or np.isnan(values).any():
        return np.arange(values.size, dtype=np.float64)
    return values


def _along_axis(model: DatasetModel, names: Names, ax: _Axis, cube: Cube) -> list[str]:
    """Coordinates that go with an axis: a threshold's limits, a layer's
    top and bottom."""
    extra = []
    if ax.kind == "threshold":
        extra = [("lowerLimit", ax.values[:, 0], A.LOWER_LIMIT_ATTRS),
                 ("upperLimit", ax.values[:, 1], A.UPPER_LIMIT_ATTRS)]
    elif ax.kind == "level" and ax.bottoms is not None:
        # A layer's level is its first surface, its top.
        extra = [("topLevel", ax.values, A.layer_attrs(ax.attrs, "top")),
                 ("bottomLevel", ax.bottoms, A.layer_attrs(ax.attrs, "bottom"))]
    out = []
    for base, values, attrs in extra:
        if np.isnan(values).all():
            continue
        dims = (ax.name,) if ax.is_dim else ()
        name = names.claim(base, ("along", ax.name, identity(values)))
        if name not in model.coords:
            model.coords[name] = Coordinate(dims, values if ax.is_dim else values[0], attrs)
        out.append(name)
    return out


_TIME_ATTRS = {"time": A.TIME_ATTRS, "step": A.STEP_ATTRS, "valid_time": A.VALID_TIME_ATTRS}


def _time_coordinates(model: DatasetModel, names: Names, cube: Cube, cube_axes: list[_Axis]) -> list[str]:
    """The time quantities that are not dimensions, over those that are."""
    time_axes = [(i, ax) for i, ax in enumerate(cube_axes) if ax.kind in TIME_KINDS]
    kinds = [ax.kind for _, ax in time_axes]
    out = []
    for kind in TIME_KINDS:
        if kind in kinds:
            continue
        if len(time_axes) == 2:
            values = _combined(kind, time_axes[0][1], time_axes[1][1])
        else:
            values = _per_value(kind, cube, time_axes[0])
        used = [ax for _, ax in time_axes if ax.is_dim]
        if values.ndim > len(used):  # scalar axes: their one position
            values = values.reshape(tuple(ax.values.size for _, ax in time_axes))
            values = values[tuple(slice(None) if ax.is_dim else 0 for _, ax in time_axes)]
        dims = tuple(ax.name for ax in used)
        name = names.claim(kind, ("derived", dims, identity(values)))
        if name not in model.coords:
            model.coords[name] = Coordinate(dims, values, _TIME_ATTRS[kind])
        out.append(name)
    return out


def _combined(kind: str, a: _Axis, b: _Axis) -> np.ndarray:
    """valid_time = time + step, step = valid_time - time, time = valid_time - step,
    over the grid of the two time axes (in their order)."""
    va, vb = a.values[:, None], b.values[None, :]
    if kind == "valid_time":
        return va + vb
    return va - vb if a.kind == "valid_time" else vb - va


def _per_value(kind: str, cube: Cube, time_axis) -> np.ndarray:
    """With one time dimension, the others follow from the fields at each
    of its values; they must agree."""
    position, ax = time_axis
    attr = {"time": "time", "step": "step", "valid_time": "valid"}[kind]
    found: dict[int, object] = {}
    moved = np.moveaxis(cube.table, position, 0)
    ids = {fid: i for i, fid in enumerate(cube.ids)}
    for k in range(moved.shape[0]):
        for fid in moved[k].ravel().tolist():
            if fid < 0:
                continue
            value = getattr(cube.fields[ids[fid]], attr)
            have = found.setdefault(k, value)
            if have != value and not (np.isnat(have) and np.isnat(value)):
                raise DatasetBuildError(
                    f"fields of parameter {cube.first.var[0]} at one {ax.kind} differ in {kind}; "
                    f"add {kind!r} to time_dims")
    dtype = "timedelta64[ns]" if kind == "step" else "datetime64[ns]"
    return np.array([found[k] for k in range(moved.shape[0])], dtype=dtype)


def _claim_grid_dims(names: Names, grid: Grid) -> tuple[str, ...]:
    """Latitude and longitude go by their values, so grids that share an
    axis share its dimension; other grids' dimensions (y, x, values) are
    positions on one grid and go by the grid."""
    if grid.axes:
        return (names.claim("latitude", ("axis", identity(grid.latitudes))),
                names.claim("longitude", ("axis", identity(grid.longitudes))))
    return tuple(names.claim(d, ("grid", grid.key)) for d in grid.dims)


def _grid_coordinates(model: DatasetModel, names: Names, grid: Grid, gdims: tuple) -> list[str]:
    out = []
    if grid.axes:
        model.coords.setdefault(gdims[0], Coordinate((gdims[0],), grid.latitudes, A.LATITUDE_ATTRS))
        model.coords.setdefault(gdims[1], Coordinate((gdims[1],), grid.longitudes, A.LONGITUDE_ATTRS))
        out += list(gdims)
    else:
        if grid.x is not None:
            model.coords.setdefault(gdims[1], Coordinate((gdims[1],), grid.x, A.x_attrs(grid.mapping)))
            model.coords.setdefault(gdims[0], Coordinate((gdims[0],), grid.y, A.y_attrs(grid.mapping)))
            out += [gdims[0], gdims[1]]
        if grid.latitudes is not None:
            for base, values, attrs in (("latitude", grid.latitudes, A.LATITUDE_ATTRS),
                                        ("longitude", grid.longitudes, A.LONGITUDE_ATTRS)):
                name = names.claim(base, ("points", grid.key))
                model.coords.setdefault(name, Coordinate(gdims, values, attrs, grid.key))
                out.append(name)
    if grid.mapping is not None:
        attrs = dict(grid.mapping)
        if "crs_wkt" in attrs:
            attrs["spatial_ref"] = attrs["crs_wkt"]  # where GDAL and older rioxarray look
        name = names.claim("spatial_ref", ("crs", identity(sorted(map(str, attrs.items())))))
        model.coords.setdefault(name, Coordinate((), np.array(0, dtype=np.int64), attrs))
        out.append(name)
    return out


# ----------------------------------------------------------------- names

_TEMPLATE_LABELS = {1: "ens", 2: "derived", 5: "prob", 6: "pct", 8: "stat", 9: "prob", 10: "pct", 11: "ens",
                    12: "derived", 15: "spatial"}
_DERIVED_LABELS = {0: "mean", 1: "wmean", 2: "sd", 3: "nsd", 4: "spread", 5: "lai", 6: "clustermean",
                   7: "iqr", 8: "min", 9: "max"}


_PROBABILITY_LABELS = {0: "below", 1: "above", 2: "between", 3: "above", 4: "below", 5: "equal",
                       6: "abovenormal", 7: "nearnormal", 8: "belownormal", 9: "count", 10: "quantile"}


def _part_label(part: str, value) -> str:
    if part == "template":
        return _TEMPLATE_LABELS.get(value, f"pdt{value}") if value is not None else "plain"
    if part == "derivedForecast":
        return _DERIVED_LABELS.get(value, f"derived{value}") if value is not None else ""
    if part == "probabilityType":
        return _PROBABILITY_LABELS.get(value, f"pt{value}") if value is not None else ""
    if part == "bottomLevel":
        return f"to{value:g}" if value is not None else ""
    if part in ("typeOfLevel", "stepType"):
        return str(value)
    return f"{part}{value}"


def _variable_base(attrs: dict) -> str:
    """cfVarName, else shortName; parameters the tables do not name go by
    their paramId (p140230) so that they stay apart."""
    for key in ("GRIB_cfVarName", "GRIB_shortName"):
        name = attrs.get(key)
        if name and name != "unknown":
            return str(name)
    param = attrs.get("GRIB_paramId")
    return f"p{param}" if param else "unknown"


def _variable_names(cubes: list[Cube], facts, names: Names) -> list[str]:
    """A variable's base name; where several variables would have one name,
    each gets what tells it apart from the others (level type, statistic,
    product, layer bottom), and numbers where nothing does."""
    bases = [_variable_base(f.attrs) for f in facts]
    parts = []
    for cube, fact in zip(cubes, facts):
        p = dict(fact.name_parts)
        p["bottomLevel"] = dict(cube.var[4:]).get("bottomLevel")
        parts.append(p)
    chosen: dict[int, str] = {}
    for base in dict.fromkeys(bases):
        group = [j for j, b in enumerate(bases) if b == base]
        labels = {j: [base] for j in group}
        if len(group) > 1:
            keys = list(dict.fromkeys(k for j in group for k in parts[j]))
            for k in keys:
                if len({repr(parts[j].get(k)) for j in group}) < 2:
                    continue
                for j in group:
                    label = _part_label(k, parts[j].get(k))
                    if label:
                        labels[j].append(label)
                if len({tuple(labels[j]) for j in group}) == len(group):
                    break
        for j in group:
            chosen[j] = "_".join(labels[j])
    return [names.claim(chosen[i], ("var", i)) for i in range(len(bases))]
