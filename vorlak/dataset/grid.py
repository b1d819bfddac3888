"""The horizontal part of a field: which grid it is on, the shape and
dimensions of that grid, and its coordinates.

Two fields are on one grid when their grids say the same in numbers (the
keys below, and the projection), whatever bytes they were written with:
flags that only say how vector components are oriented, or a figure of the
Earth written with another scale factor, do not make another grid.

Fields come laid out on (rows, columns) in the order their grid scans. A
grid whose latitudes are the same along each row and longitudes the same
down each column (regular latitude/longitude and Gaussian grids) has 1-D
``latitude`` and ``longitude`` dimensions; other grids with rows have
``y`` and ``x`` (in metres on projections) with 2-D latitude and longitude,
and grids without rows (reduced Gaussian, unstructured, point lists) a
``values`` dimension with 1-D latitude and longitude where known."""
from __future__ import annotations

import dataclasses
import threading
from collections import OrderedDict
from dataclasses import dataclass

import numpy as np

# Keys that say where a grid's points are: for each, the key in degrees or
# metres where the field has it, else the one as written; absent keys are
# left out.
IDENTITY_KEYS = (
    ("gridType",), ("Nx", "Ni"), ("Ny", "Nj"), ("numberOfPoints",), ("N",),
    ("latitudeOfFirstGridPointInDegrees", "latitudeOfFirstGridPoint"),
    ("longitudeOfFirstGridPointInDegrees", "longitudeOfFirstGridPoint"),
    ("latitudeOfLastGridPointInDegrees", "latitudeOfLastGridPoint"),
    ("longitudeOfLastGridPointInDegrees", "longitudeOfLastGridPoint"),
    ("iDirectionIncrementInDegrees", "iDirectionIncrement"), ("jDirectionIncrementInDegrees", "jDirectionIncrement"),
    ("DxInMetres", "DiInMetres", "Dx", "Di"), ("DyInMetres", "DjInMetres", "Dy", "Dj"),
    ("LoVInDegrees", "LoV"), ("LaDInDegrees", "LaD"), ("Latin1InDegrees", "Latin1"), ("Latin2InDegrees", "Latin2"),
    ("latitudeOfSouthernPoleInDegrees", "latitudeOfSouthernPole"),
    ("longitudeOfSouthernPoleInDegrees", "longitudeOfSouthernPole"),
    ("angleOfRotationInDegrees", "angleOfRotation"), ("projectionCentreFlag",), ("orientationOfTheGrid",),
    ("basicAngleOfTheInitialProductionDomain",), ("subdivisionsOfBasicAngle",),
    ("iScansNegatively",), ("jScansPositively",), ("jPointsAreConsecutive",), ("alternativeRowScanning",),
    ("radiusInMetres", "scaledValueOfRadiusOfSphericalEarth"), ("scaleFactorOfRadiusOfSphericalEarth",),
    ("earthMajorAxisInMetres", "scaledValueOfEarthMajorAxis"), ("scaleFactorOfEarthMajorAxis",),
    ("earthMinorAxisInMetres", "scaledValueOfEarthMinorAxis"), ("scaleFactorOfEarthMinorAxis",),
    ("shapeOfTheEarth",), ("numberOfGridUsed",), ("uuidOfHGrid",),
)


def _rounded(value):
    if isinstance(value, float):
        return round(value, 6)
    if hasattr(value, "shape"):
        return np.asarray(value).tobytes()
    return value


def grid_identity(f) -> tuple:
    """What makes the field's grid this grid, comparable and hashable."""
    get = f.get
    ident = []
    metric = get("radiusInMetres") is not None or get("earthMajorAxisInMetres") is not None
    for names in IDENTITY_KEYS:
        if metric and names[0].startswith("scaleFactorOf"):
            continue  # the figure of the Earth in metres says it all
        for name in names:
            value = get(name)
            if value is not None:
                ident.append((names[0], _rounded(value)))
                break
    params = _attr(f, "projparams")
    if isinstance(params, dict):
        ident.append(("proj", tuple(sorted((k, _rounded(v)) for k, v in params.items()))))
    if f.get("gridType") in REDUCED_GRIDS:
        pl = get("pl")
        if pl is not None:
            ident.append(("pl", _rounded(pl)))
    return tuple(ident)


REDUCED_GRIDS = ("reduced_gg", "reduced_ll", "reduced_rotated_gg")
# Grids whose rows are latitudes and columns longitudes: 1-D axes. (A
# Mercator grid's are too, but its dimensions are x and y in metres like
# every projection's.)
AXIS_GRIDS = ("regular_ll", "regular_gg")


@dataclass
class Grid:
    key: int
    grid_type: str
    dims: tuple[str, ...]          # base names: (latitude, longitude), (y, x) or (values,)
    shape: tuple[int, ...]
    latitudes: np.ndarray | None = None   # 1-D axis, or on the grid's shape
    longitudes: np.ndarray | None = None
    x: np.ndarray | None = None           # metres along the projection's axes
    y: np.ndarray | None = None
    mapping: dict | None = None           # CF grid_mapping attributes (crs_wkt included)
    note: str = ""

    @property
    def axes(self) -> bool:
        """Latitude and longitude are the dimensions."""
        return self.dims == ("latitude", "longitude")


def _attr(f, name: str):
    try:
        return getattr(f, name)
    except Exception as e:  # the grid cannot say: no coordinates
        return e


def describe_grid(f, key: int) -> Grid:
    """The grid of field ``f`` (decodes nothing)."""
    grid_type = f.get("gridType") or "unknown"
    shape = _attr(f, "shape")
    if isinstance(shape, tuple) and len(shape) == 2:
        grid = Grid(key, grid_type, ("y", "x"), tuple(int(n) for n in shape))
    else:
        n = f.get("numberOfPoints") or f.get("numberOfDataPoints") or 0
        grid = Grid(key, grid_type, ("values",), (int(n),))
    lats, lons = _attr(f, "latitudes"), _attr(f, "longitudes")
    if isinstance(lats, Exception) or isinstance(lons, Exception):
        grid.note = f"no coordinates: {lats if isinstance(lats, Exception) else lons}"
        return grid
    if lats is None or lons is None:
        return grid
    lats, lons = np.asarray(lats, dtype=np.float64), np.asarray(lons, dtype=np.float64)
    if lats.size != int(np.prod(grid.shape)) or lons.size != lats.size:
        grid.note = f"{lats.size} coordinates for {int(np.prod(grid.shape))} points"
        return grid
    lats, lons = lats.reshape(grid.shape), lons.reshape(grid.shape)
    if grid.dims == ("y", "x") and grid_type in AXIS_GRIDS and _is_axes(lats, lons):
        grid.dims = ("latitude", "longitude")
        grid.latitudes, grid.longitudes = lats[:, 0].copy(), lons[0, :].copy()
    else:
        grid.latitudes, grid.longitudes = lats, lons
    x, y = _attr(f, "x"), _attr(f, "y")
    if grid.dims == ("y", "x") and isinstance(x, np.ndarray) and isinstance(y, np.ndarray) \
            and (y.size, x.size) == grid.shape:
        grid.x, grid.y = np.asarray(x, dtype=np.float64), np.asarray(y, dtype=np.float64)
    mapping = _attr(f, "grid_mapping")
    if isinstance(mapping, dict) and mapping:
        grid.mapping = dict(mapping)
        if grid.x is None and grid.dims == ("y", "x") and \
                mapping.get("grid_mapping_name") == "rotated_latitude_longitude":
            grid.x, grid.y = _rotated_axes(f, lats, lons)
    return grid


def _rotated_axes(f, lats: np.ndarray, lons: np.ndarray):
    """Longitude and latitude in the rotated frame along the first row and
    column (degrees), when pyproj can say and every row and column agree."""
    crs = _attr(f, "crs")
    if crs is None or isinstance(crs, Exception):
        return None, None
    try:
        import pyproj

        base = crs.source_crs or crs.geodetic_crs  # a rotated frame derives from its geographic one
        to_rotated = pyproj.Transformer.from_crs(base, crs, always_xy=True)
        rx, _ = to_rotated.transform(lons[0, :], lats[0, :])
        _, ry = to_rotated.transform(lons[:, 0], lats[:, 0])
        # The last row and column must say the same.
        rx_end, _ = to_rotated.transform(lons[-1, :], lats[-1, :])
        _, ry_end = to_rotated.transform(lons[:, -1], lats[:, -1])
    except Exception:
        return None, None
    rx, ry = np.asarray(rx, dtype=np.float64), np.asarray(ry, dtype=np.float64)
    if not (np.allclose(rx, rx_end, atol=1e-6) and np.allclose(ry, ry_end, atol=1e-6)):
        return None, None
    return rx, ry


def _is_axes(lats: np.ndarray, lons: np.ndarray) -> bool:
    return bool(np.array_equal(lats, np.broadcast_to(lats[:, :1], lats.shape))
                and np.array_equal(lons, np.broadcast_to(lons[:1, :], lons.shape)))


# Grids described lately, by identity: the files of one archive share their
# grid, whose coordinates are then computed once per process.
_DESCRIBED: OrderedDict = OrderedDict()
_DESCRIBED_LOCK = threading.Lock()
DESCRIBED_GRIDS = 16


def described_grid(ident: tuple, f, key: int) -> Grid:
    """describe_grid, through a small cache of recent grids (their arrays
    are shared and read-only)."""
    with _DESCRIBED_LOCK:
        grid = _DESCRIBED.get(ident)
        if grid is not None:
            _DESCRIBED.move_to_end(ident)
    if grid is None:
        grid = describe_grid(f, key)
        for a in (grid.latitudes, grid.longitudes, grid.x, grid.y):
            if a is not None:
                a.flags.writeable = False
        with _DESCRIBED_LOCK:
            _DESCRIBED[ident] = grid
            while len(_DESCRIBED) > DESCRIBED_GRIDS:
                _DESCRIBED.popitem(last=False)
    return dataclasses.replace(grid, key=key)
