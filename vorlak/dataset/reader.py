"""The fields of a GRIB file or buffer, as the dataset package reads them.

A stand-in over the codes API until the field API is merged: one field per
message, values laid out on (rows, columns)."""
from __future__ import annotations

import numpy as np

from vorlak import _vorlak as codes

# Data representation templates that decode (edition 2).
DECODED_TEMPLATES = frozenset({0, 2, 3, 4, 40, 42})


class Field:
    def __init__(self, handle, number: int):
        self._h = handle
        self.message_number = number
        self.message_offset = codes.codes_get_long(handle, "offset")
        self.message_length = codes.codes_get_long(handle, "totalLength")
        self.index_in_message = 0

    def get(self, key, default=None):
        try:
            return codes.codes_get(self._h, key)
        except codes.CodesInternalError:
            return default

    def __contains__(self, key) -> bool:
        return codes.codes_is_defined(self._h, key)

    def keys(self):
        it = codes.codes_keys_iterator_new(self._h)
        out = []
        while codes.codes_keys_iterator_next(it):
            out.append(codes.codes_keys_iterator_get_name(it))
        return out

    @property
    def shape(self):
        nx, ny = self.get("Nx"), self.get("Ny")
        return (ny, nx) if nx and ny else None

    def data(self, dtype=np.float64) -> np.ndarray:
        v = np.asarray(codes.codes_get_values(self._h))
        shape = self.shape
        if shape is None or v.size != shape[0] * shape[1]:
            return v.astype(dtype)
        columns_first = bool(self.get("jPointsAreConsecutive"))
        lines = v.reshape(shape[::-1] if columns_first else shape)
        if self.get("alternativeRowScanning") and lines.shape[0] > 1:
            lines = lines.copy()
            lines[1::2] = lines[1::2, ::-1]
        return (lines.T if columns_first else lines).astype(dtype)

    def _axes(self):
        if self.get("gridType") not in ("regular_ll", "regular_gg"):
            return None
        lats = np.asarray(codes.codes_get_array(self._h, "distinctLatitudes"), dtype=np.float64)
        lons = np.asarray(codes.codes_get_array(self._h, "distinctLongitudes"), dtype=np.float64)
        if self.shape != (lats.size, lons.size):
            return None
        return np.meshgrid(lats, lons, indexing="ij")

    @property
    def latitudes(self):
        axes = self._axes()
        return None if axes is None else axes[0]

    @property
    def longitudes(self):
        axes = self._axes()
        return None if axes is None else axes[1]


class GribFile:
    def __init__(self, fields):
        self._fields = fields

    def __iter__(self):
        return iter(self._fields)

    def __len__(self):
        return len(self._fields)

    def __getitem__(self, i):
        return self._fields[i]

    def close(self):
        self._fields = []


def open_fields(source) -> GribFile:
    """A path or bytes."""
    if isinstance(source, str):
        out = []
        with open(source, "rb") as f:
            while (h := codes.codes_grib_new_from_file(f)) is not None:
                out.append(Field(h, len(out) + 1))
        if not out:
            raise codes.CodesInternalError("no GRIB messages found")
        return GribFile(out)
    out = []
    data = bytes(source)
    pos = 0
    while (start := data.find(b"GRIB", pos)) >= 0:
        try:
            h = codes.codes_new_from_message(data[start:])
        except codes.CodesInternalError:
            pos = start + 4
            continue
        field = Field(h, len(out) + 1)
        field.message_offset = start
        out.append(field)
        pos = start + max(field.message_length, 4)
    if not out:
        raise codes.CodesInternalError("no GRIB messages found")
    return GribFile(out)
