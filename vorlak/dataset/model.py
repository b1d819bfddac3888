"""The dataset model of one file: data variables with their dimensions and
message tables, and the coordinates they use, built from keys only (plus
one decode per latitude/longitude grid for its axes, see ``grid``)."""
from __future__ import annotations

import warnings
from dataclasses import dataclass, field

import numpy as np

from vorlak.dataset import attributes as A
from vorlak.dataset.cube import Cube, fill, group
from vorlak.dataset.grid import AXIS_ATTEMPTS, Grid, build_grid
from vorlak.dataset.naming import Names, identity
from vorlak.dataset.scan import FileScan


@dataclass
class Coordinate:
    dims: tuple[str, ...]
    values: np.ndarray
    attrs: dict


@dataclass
class Variable:
    name: str
    dims: tuple[str, ...]
    table: np.ndarray  # offsets over the field dimensions; -1 where no message
    grid: Grid
    attrs: dict
    coordinates: list[str] = field(default_factory=list)


@dataclass
class DatasetModel:
    path: str
    stamp: tuple[int, int]
    variables: list[Variable] = field(default_factory=list)
    coords: dict[str, Coordinate] = field(default_factory=dict)
    attrs: dict = field(default_factory=dict)


def _level_base(level_type: str | None) -> str:
    return level_type if level_type and level_type != "unknown" else "level"


@dataclass
class _Axis:
    base: str
    values: np.ndarray
    attrs: dict
    name: str = ""
    is_dim: bool = True


def _choose_dims(axes: list[list[_Axis]]) -> None:
    """A single-valued axis becomes a scalar coordinate only when every
    variable with an axis of that name has that same single value: a scalar
    coordinate belongs to all variables of a dataset. Otherwise it stays a
    dimension of length 1, so that its value goes with its own variable
    only (t2m at heightAboveGround 2 beside u10 at 10)."""
    seen: dict[str, set] = {}
    for cube_axes in axes:
        for ax in cube_axes:
            seen.setdefault(ax.base, set()).add(identity(ax.values) if ax.values.size == 1 else "many")
    for cube_axes in axes:
        for ax in cube_axes:
            ax.is_dim = ax.values.size > 1 or len(seen[ax.base]) > 1


def _axes(cube: Cube) -> list[_Axis]:
    """The field dimensions of a cube, in the order of its table."""
    level_type = cube.first.level_type or "unknown"
    members = [_Axis("number", cube.members, A.NUMBER_ATTRS)] if cube.members is not None else []
    return members + [_Axis("time", cube.times, A.TIME_ATTRS), _Axis("step", cube.steps, A.STEP_ATTRS),
                      _Axis(_level_base(level_type), cube.levels, A.level_attrs(level_type))]


def _grids(cubes: list[Cube]) -> dict[bytes, Grid]:
    handles: dict[bytes, list] = {}
    for cube in cubes:
        hs = handles.setdefault(cube.key[2], [])
        for m in cube.messages:
            if len(hs) >= AXIS_ATTEMPTS:
                break
            hs.append(m.handle)
    return {sig: build_grid(hs) for sig, hs in handles.items()}


def build_model(scan: FileScan) -> DatasetModel:
    model = DatasetModel(scan.path, scan.stamp)
    cubes = group(scan.messages)
    for cube in cubes:
        fill(cube, scan.path)
    grids = _grids(cubes)
    for grid in grids.values():
        if grid.note:
            warnings.warn(f"{scan.path}: {grid.grid_type} grid: {grid.note}", RuntimeWarning, stacklevel=3)

    names = Names()
    axes = [_axes(c) for c in cubes]
    _choose_dims(axes)
    grid_dims: list[tuple[str, ...]] = []
    # Dimensions first, so that they keep the plain names.
    for cube, cube_axes in zip(cubes, axes):
        for ax in cube_axes:
            if ax.is_dim:
                ax.name = names.claim(ax.base, ("dim", identity(ax.values)))
        grid_dims.append(_claim_grid_dims(names, grids[cube.key[2]], cube.key[2]))
    for cube_axes in axes:
        for ax in cube_axes:
            if not ax.is_dim:
                ax.name = names.claim(ax.base, ("scalar", identity(ax.values)))

    for cube, cube_axes, gdims in zip(cubes, axes, grid_dims):
        grid = grids[cube.key[2]]
        for ax in cube_axes:
            if ax.name not in model.coords:
                dims = (ax.name,) if ax.is_dim else ()
                model.coords[ax.name] = Coordinate(dims, ax.values if ax.is_dim else ax.values[0],
                                                   ax.attrs)
        if grid.latitudes is not None:
            model.coords.setdefault(gdims[0], Coordinate((gdims[0],), grid.latitudes, A.LATITUDE_ATTRS))
            model.coords.setdefault(gdims[1], Coordinate((gdims[1],), grid.longitudes, A.LONGITUDE_ATTRS))
        time_axis, step_axis = cube_axes[-3], cube_axes[-2]
        valid_name = _valid_time(model, names, time_axis, step_axis)

        attrs = A.variable_attrs(cube.first.handle, product=bool(cube.first.product))
        name = names.claim_variable(_variable_base(attrs), _level_base(cube.first.level_type),
                                    ("var", cube.key))
        field_dims = tuple(ax.name for ax in cube_axes if ax.is_dim)
        keep = tuple(slice(None) if ax.is_dim else 0 for ax in cube_axes)
        model.variables.append(Variable(
            name=name, dims=field_dims + gdims, table=cube.table[keep], grid=grid, attrs=attrs,
            coordinates=[ax.name for ax in cube_axes] + [valid_name]))
    model.attrs = A.dataset_attrs([v.attrs for v in model.variables])
    return model


def _claim_grid_dims(names: Names, grid: Grid, signature: bytes) -> tuple[str, ...]:
    """Latitude and longitude go by their values, so grids that share an
    axis share its dimension; other grids' dimensions (y, x, values) are
    positions on one projection and go by the grid definition."""
    if grid.latitudes is not None:
        return (names.claim("latitude", ("axis", identity(grid.latitudes))),
                names.claim("longitude", ("axis", identity(grid.longitudes))))
    return tuple(names.claim(d, ("grid", signature)) for d in grid.dims)


def _variable_base(attrs: dict) -> str:
    """cfVarName, else shortName; parameters the tables do not name go by
    their paramId (p140230) so that they stay apart."""
    for key in ("GRIB_cfVarName", "GRIB_shortName"):
        name = attrs.get(key)
        if name and name != "unknown":
            return str(name)
    param = attrs.get("GRIB_paramId")
    return f"p{param}" if param else "unknown"


def _valid_time(model: DatasetModel, names: Names, time: _Axis, step: _Axis) -> str:
    """valid_time = time + step over whichever of the two are dimensions."""
    name = names.claim("valid_time", ("valid", time.name, step.name))
    if name not in model.coords:
        t = time.values[:, None] if time.is_dim else time.values[:1][:, None]
        s = step.values[None, :] if step.is_dim else step.values[:1][None, :]
        values = t + s
        dims = tuple(ax.name for ax in (time, step) if ax.is_dim)
        values = values.reshape(tuple(ax.values.size for ax in (time, step) if ax.is_dim))
        model.coords[name] = Coordinate(dims, values, A.VALID_TIME_ATTRS)
    return name
