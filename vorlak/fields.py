"""Reading GRIB files field by field: ``vorlak.open``.

::

    with vorlak.open("gfs.grib2") as grib:
        for field in grib.select(shortName="t", typeOfLevel="isobaricInhPa", level=[500, 850]):
            print(field["level"], field.values.mean())

Opening scans the bytes once and decodes nothing; a field's values and
coordinates are decoded when asked for, for that field alone, without
holding the interpreter lock (two threads decoding two fields run in
parallel). Every field of every message is offered: a message that
carries several fields gives one ``Field`` each.
"""
from __future__ import annotations

import functools
import os
from typing import Any, Iterator, NamedTuple

import numpy as np

from vorlak import _fields
from vorlak._vorlak import CodesInternalError

__all__ = ["open", "GribFile", "Field", "NearestPoint"]

# The arrays of a field's grid, by the number the binding knows them by.
_LATITUDES, _LONGITUDES, _X, _Y = range(4)
# Points handed out at a time by Field.points().
_POINTS_AT_ONCE = 4096

# The keys shown by repr(field), when the field has them.
_REPR_KEYS = ("shortName", "typeOfLevel", "level", "dataDate", "dataTime", "stepRange", "gridType")


def _label(field: _fields.Field) -> str:
    """The field's number as the command line writes it: the message number,
    then ``.k`` (1-based) when its message holds several fields."""
    if field._fields_in_message > 1:
        return f"{field.message_number}.{field.index_in_message + 1}"
    return str(field.message_number)


class NearestPoint(NamedTuple):
    """A grid point found by :meth:`Field.nearest`."""

    lat: float
    lon: float
    value: float
    distance: float  # great-circle distance in km
    index: int  # into field.values.ravel()
    position: tuple  # into field.values: (row, column), or (index,) on a grid without rows


@functools.lru_cache(maxsize=64)
def _crs_of(params: tuple):
    """The pyproj.CRS of PROJ parameters (as sorted items), made once per
    grid description."""
    try:
        import pyproj
    except ImportError:
        raise ImportError("Field.crs needs pyproj (Debian: apt-get install python3-pyproj)") from None
    crs = pyproj.CRS.from_dict(dict(params))
    # Through its WKT, so that the CRS read back from grid_mapping's
    # crs_wkt (as rioxarray reads it) compares equal: a rotated frame made
    # from PROJ parameters does not, though it transforms the same.
    wkt = crs.to_wkt()
    return pyproj.CRS.from_wkt(wkt) if wkt else crs


class Field(_fields.Field):
    """One field of a GRIB file.

    A field is a read-only mapping of its keys (``field["shortName"]``,
    ``field.get("number")``, ``field.keys()``, ``field.items()``,
    ``dict(field)``): the keys of the codes API and the fields of its
    templates, every one read without decoding the data. The
    decoded data are attributes: ``values``, ``data()``, ``latitudes``,
    ``longitudes`` and ``shape``. (``values`` is the data, so the mapping has
    no ``values()`` method.)

    ``values``, ``latitudes`` and ``longitudes`` are computed on first use and
    kept by this field object; ``grib[i]`` makes a new object each time, so
    nothing decoded outlives the fields you keep. Coordinates are computed
    once per grid and shared by every field on it. Once the file is closed,
    every read raises ``ValueError``.

    The grid: ``latitudes``, ``longitudes``, ``x``, ``y``, ``projparams``,
    ``crs``, ``grid_mapping``, ``grid_id``, ``grid_type``, ``nearest()`` and
    ``points()``.
    """

    __slots__ = ("_values_kept", "_latitudes_kept", "_longitudes_kept", "_x_kept", "_y_kept")

    @property
    def values(self) -> np.ndarray:
        """The decoded values: a read-only float64 array, NaN where a point is
        missing, shaped (rows, columns) when the grid has rows, else 1-D, in
        the order of ``latitudes`` and ``longitudes``."""
        self._check_open()
        try:
            return self._values_kept
        except AttributeError:
            pass
        values = self._values(False, False)
        self._values_kept = values
        return values

    def data(self, dtype: Any = np.float64) -> np.ndarray:
        """The decoded values as a new writable array of a floating-point
        dtype (float64 by default; float32 is rounded from the decoded
        doubles without keeping them). Nothing is kept by the field."""
        wanted = np.dtype(dtype)
        if wanted.kind != "f":
            raise TypeError(f"data() gives floating-point values; {wanted} is not a floating-point dtype")
        self._check_open()
        kept = getattr(self, "_values_kept", None)
        if kept is not None:
            return kept.astype(wanted)
        if wanted == np.float64:
            return self._values(False, True)
        if wanted == np.float32:
            return self._values(True, True)
        return self._values(False, False).astype(wanted)

    @property
    def shape(self) -> tuple[int, int] | None:
        """(rows, columns) of the grid, or None where it has no rows (rows of
        their own lengths, a single row, spectral coefficients). Decodes no
        values."""
        return self._shape()

    # ------------------------------------------------------------------ grid

    @property
    def latitudes(self) -> np.ndarray | None:
        """Latitude of every point in degrees north, read-only, shaped like
        ``values`` (2-D on grids with rows, 1-D on point lists such as reduced
        Gaussian grids); None where the message does not place its points
        (unstructured grids, spectral coefficients, predefined grids).
        Raises CodesInternalError where the grid's parameters make no sense
        or its points are placed in a way not supported; the values stay
        readable."""
        return self._grid("_latitudes_kept", _LATITUDES)

    @property
    def longitudes(self) -> np.ndarray | None:
        """Longitude of every point in degrees east, like ``latitudes``:
        in [-180, 180), or running on past 180 where that keeps a grid that
        crosses the antimeridian in one piece."""
        return self._grid("_longitudes_kept", _LONGITUDES)

    @property
    def x(self) -> np.ndarray | None:
        """x of every column in metres in the plane of the projection (the
        axis of ``crs``), read-only; None unless the grid is projected."""
        return self._grid("_x_kept", _X)

    @property
    def y(self) -> np.ndarray | None:
        """y of every row in metres in the plane of the projection; None
        unless the grid is projected."""
        return self._grid("_y_kept", _Y)

    def _grid(self, slot: str, which: int) -> np.ndarray | None:
        self._check_open()
        try:
            return getattr(self, slot)
        except AttributeError:
            pass
        array = self._grid_array(which)
        setattr(self, slot, array)
        return array

    @property
    def projparams(self) -> dict[str, Any] | None:
        """The grid's coordinate reference system as PROJ parameters
        (``{"proj": "lcc", "lat_1": 25.0, ..., "R": 6371229.0, "units": "m"}``;
        ``ob_tran`` for rotated grids, ``longlat`` for plain ones): the plane of
        ``x`` and ``y``, or the latitude/longitude frame (rotated or not) the
        grid is regular in. None where the grid has no coordinates;
        CodesInternalError where its projection makes no sense."""
        return self._crs(False)

    @property
    def grid_mapping(self) -> dict[str, Any] | None:
        """The CF grid_mapping attributes of the grid (``grid_mapping_name``
        and its parameters, the figure of the Earth), with ``crs_wkt`` when
        pyproj is installed; None where the grid has no coordinates."""
        attributes = self._crs(True)
        if attributes is not None:
            try:
                crs = self.crs
            except ImportError:
                return attributes
            attributes["crs_wkt"] = crs.to_wkt()
        return attributes

    @property
    def crs(self):
        """The grid's coordinate reference system as a ``pyproj.CRS`` (from
        ``projparams``); None where the grid has no coordinates. Raises
        ImportError when pyproj is not installed."""
        params = self.projparams
        if params is None:
            return None
        return _crs_of(tuple(sorted(params.items())))

    @property
    def grid_id(self) -> bytes:
        """A hashable identity of the field's grid, read without decoding:
        fields whose grid sections are byte for byte the same have the same
        ``grid_id`` (and share their coordinates)."""
        return self._grid_id()

    @property
    def grid_type(self) -> str | None:
        """The ``gridType`` key: ``regular_ll``, ``lambert``,
        ``polar_stereographic``, ``reduced_gg``, ``rotated_ll``, ..."""
        return self.get("gridType")

    def nearest(self, lat: float, lon: float, k: int = 1) -> list[NearestPoint]:
        """The ``k`` grid points nearest to (lat, lon) by great-circle
        distance (km, on a sphere of 6371.0088 km), nearest first (equal
        distances by index), each with its value. Decodes the values; raises
        CodesInternalError where the grid has no coordinates."""
        count = _count(k)
        found = self._nearest(float(lat), float(lon), count)
        shape = self.shape
        return [NearestPoint(p_lat, p_lon, value, distance, index,
                             divmod(index, shape[1]) if shape else (index,))
                for index, p_lat, p_lon, distance, value in found]

    def points(self) -> Iterator[tuple[float, float, float]]:
        """An iterator over (lat, lon, value) of every point, in the order of
        ``values``. Raises CodesInternalError at once where the grid has no
        coordinates."""
        values = self.values
        lats, lons = self.latitudes, self.longitudes
        if lats is None or lats.size != values.size:
            raise CodesInternalError(f"no grid point positions on this {self.grid_type or 'unknown'} grid")
        return _points(lats.ravel(), lons.ravel(), values.ravel())

    def _check_open(self) -> None:
        self.message_number  # raises ValueError once the file is closed

    def __repr__(self) -> str:
        try:
            label = _label(self)
        except ValueError:
            return f"<Field {self._index} of a closed GRIB file>"
        shown = " ".join(f"{k}={self._text(k)}" for k in _REPR_KEYS if k in self)
        return f"<Field {label} {shown}>"


class GribFile:
    """The fields of one GRIB file or buffer, made by :func:`open`.

    ``len(grib)``, ``grib[i]`` (negative indexes count from the end; a slice
    gives a list), iteration in file order and :meth:`select`. Use it as a
    context manager, or call :meth:`close`, to let go of the bytes.
    """

    __slots__ = ("_reader", "name")

    def __init__(self, reader: _fields.Reader, name: str) -> None:
        self._reader = reader
        self.name = name

    def __len__(self) -> int:
        return len(self._reader)

    def __getitem__(self, index):
        if isinstance(index, slice):
            return [Field(self._reader, i) for i in range(*index.indices(len(self._reader)))]
        try:
            i = index.__index__()
        except AttributeError:
            raise TypeError(f"GRIB file indices must be integers or slices, not {type(index).__name__}") from None
        count = len(self._reader)
        if i < 0:
            i += count
        if not 0 <= i < count:
            raise IndexError("field index out of range")
        return Field(self._reader, i)

    def __iter__(self) -> Iterator[Field]:
        reader = self._reader
        for i in range(len(reader)):
            yield Field(reader, i)

    def select(self, **criteria: Any) -> list[Field]:
        """The fields whose keys have the given values, in file order.

        A value may be one value or a list (tuple, set, range) of accepted
        values. Numbers compare as numbers (``level=500`` matches 500.0); a
        text given for a numeric key compares with the key's text
        (``level="500"``). A field without one of the keys does not match.
        """
        wanted = [(key, _choices(value)) for key, value in criteria.items()]
        return [field for field in self if all(_matches(field, key, choices) for key, choices in wanted)]

    def close(self) -> None:
        """Let go of the bytes; later reads of the file and its fields raise
        ValueError. Decodes running in other threads finish first."""
        self._reader.close()

    @property
    def closed(self) -> bool:
        return self._reader.closed

    def __enter__(self) -> GribFile:
        return self

    def __exit__(self, *exc_info) -> None:
        self.close()

    def __repr__(self) -> str:
        if self._reader.closed:
            return f"<GribFile {self.name!r} (closed)>"
        count = len(self._reader)
        return f"<GribFile {self.name!r} {count} field{'' if count == 1 else 's'}>"


def _count(k: Any) -> int:
    try:
        count = k.__index__()
    except AttributeError:
        raise TypeError(f"k must be an integer, not {type(k).__name__}") from None
    if count < 1:
        raise ValueError(f"k must be at least 1, not {count}")
    return count


def _points(lats: np.ndarray, lons: np.ndarray, values: np.ndarray) -> Iterator[tuple[float, float, float]]:
    for start in range(0, values.size, _POINTS_AT_ONCE):
        end = start + _POINTS_AT_ONCE
        yield from zip(lats[start:end].tolist(), lons[start:end].tolist(), values[start:end].tolist())


def _choices(value: Any) -> tuple:
    if isinstance(value, (list, tuple, set, frozenset, range)):
        return tuple(value)
    return (value,)


def _matches(field: Field, key: str, choices: tuple) -> bool:
    have = field.get(key)
    if have is None or isinstance(have, np.ndarray):
        return False
    for want in choices:
        if isinstance(want, str) and not isinstance(have, str):
            if field._text(key) == want:
                return True
        elif have == want:
            return True
    return False


def open(source: Any) -> GribFile:  # noqa: A001 (vorlak.open, as in the README)
    """Open GRIB messages for reading field by field.

    ``source`` is a path (str or os.PathLike), the bytes of GRIB messages
    (bytes, bytearray, memoryview), or a readable binary file object (fsspec
    files too), which is read to its end. A file given by path is read whole
    once; bytes are copied once. Opening scans the messages and decodes
    nothing; junk between messages is skipped.

    Raises OSError (FileNotFoundError, ...) when the file cannot be read,
    vorlak.CodesInternalError "no GRIB messages found" when the bytes hold no
    GRIB message, and TypeError for any other kind of source.
    """
    if isinstance(source, (bytes, bytearray, memoryview)):
        return GribFile(_fields.open_bytes(source), "<bytes>")
    if isinstance(source, (str, os.PathLike)):
        path = os.fspath(source)
        if isinstance(path, bytes):
            path = os.fsdecode(path)
        return GribFile(_fields.open_path(path), path)
    read = getattr(source, "read", None)
    if callable(read):
        data = read()
        if isinstance(data, str):
            raise TypeError("vorlak.open() needs a file opened in binary mode")
        name = getattr(source, "name", None)
        return GribFile(_fields.open_bytes(data), name if isinstance(name, str) else "<file>")
    raise TypeError(f"vorlak.open() takes a path, bytes or a binary file object, not {type(source).__name__}")
