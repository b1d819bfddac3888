"""The horizontal part of a field: its shape, dimension names and axes.

Values come in the order the message stores them; the layout flags
(jPointsAreConsecutive, alternativeRowScanning) say how that order maps
onto rows and columns. The key layer gives the grid size (Nx, Ny) and type without decoding, but
the latitude and longitude axes of regular latitude/longitude and regular
Gaussian grids come from the decoded field (the keys distinctLatitudes and
distinctLongitudes). So one message per distinct grid is decoded when a
dataset is opened; its values stay memoised with its handle, so loading it
later costs nothing more."""
from __future__ import annotations

from dataclasses import dataclass

import numpy as np

from vorlak import _vorlak as codes

AXIS_GRIDS = ("regular_ll", "regular_gg")
AXIS_ATTEMPTS = 3  # messages tried for the axes before giving up on them


@dataclass
class Grid:
    grid_type: str
    dims: tuple[str, ...]  # base names: (latitude, longitude), (y, x) or (values,)
    shape: tuple[int, ...]
    npoints: int
    columns_first: bool = False  # jPointsAreConsecutive: values run down the columns
    alternate_rows: bool = False  # alternativeRowScanning: every second row runs backwards
    latitudes: np.ndarray | None = None
    longitudes: np.ndarray | None = None
    note: str = ""

    def layout(self) -> tuple:
        """What a lazy array needs to turn a message's values into the grid."""
        return (self.shape, self.columns_first, self.alternate_rows, self.npoints)


def read_axes(handle) -> tuple[np.ndarray, np.ndarray]:
    """Decodes the message (once per handle) for its latitude and longitude
    axes. Kept as a module function so that tests can count the calls."""
    lats = np.asarray(codes.codes_get_array(handle, "distinctLatitudes"), dtype=np.float64)
    lons = np.asarray(codes.codes_get_array(handle, "distinctLongitudes"), dtype=np.float64)
    return lats, lons


def _long(handle, key: str) -> int | None:
    try:
        return codes.codes_get_long(handle, key)
    except codes.CodesInternalError:
        return None


def _string(handle, key: str) -> str:
    try:
        return codes.codes_get_string(handle, key)
    except codes.CodesInternalError:
        return "unknown"


def _point_count(handle) -> int:
    try:
        return codes.codes_get_size(handle, "values")
    except codes.CodesInternalError:
        # No size among the keys: only decoding tells.
        return int(np.asarray(codes.codes_get_values(handle)).size)


def build_grid(handles: list) -> Grid:
    """The grid shared by ``handles`` (messages with identical grid
    definitions), taken from the keys of the first and, for axis grids,
    the decoded axes of the first message that decodes."""
    first = handles[0]
    grid_type = _string(first, "gridType")
    nx, ny = _long(first, "Nx"), _long(first, "Ny")
    if not nx or not ny:
        n = _point_count(first)
        return Grid(grid_type, ("values",), (n,), n)
    grid = Grid(grid_type, ("y", "x"), (ny, nx), nx * ny, bool(_long(first, "jPointsAreConsecutive")),
                bool(_long(first, "alternativeRowScanning")))
    if grid_type not in AXIS_GRIDS:
        return grid
    errors = []
    for handle in handles[:AXIS_ATTEMPTS]:
        try:
            lats, lons = read_axes(handle)
        except codes.CodesInternalError as e:
            errors.append(str(e))
            continue
        if lats.size == ny and lons.size == nx:
            grid.dims = ("latitude", "longitude")
            grid.latitudes, grid.longitudes = lats, lons
        else:
            grid.note = (f"axes of {lats.size} latitudes and {lons.size} longitudes do not match "
                         f"the {ny} x {nx} grid")
        return grid
    grid.note = f"latitude/longitude axes unavailable: {errors[0]}"
    return grid
