"""The numcodecs codec ``vorlak``: one GRIB field from the bytes a
reference names (see vorlak.virtual).

A chunk's bytes are those of a message from its start to the end of the
field (the last field of those bytes is the chunk's). The codec decodes
that field into the configured dtype, or, with ``coordinate`` set, gives
the latitudes or longitudes of its grid. An empty chunk is a cell without
a field: ``points`` missing values. It only decodes: encoding GRIB is not
what vorlak does."""
from __future__ import annotations

import numpy as np
from numcodecs.abc import Codec
from numcodecs.compat import ensure_contiguous_ndarray, ndarray_copy
from numcodecs.registry import register_codec

from vorlak.dataset.fields import field_threads
from vorlak.dataset.signature import whole_message
from vorlak.fields import open as open_fields

COORDINATES = ("latitude", "longitude")


class VorlakCodec(Codec):
    codec_id = "vorlak"

    def __init__(self, dtype: str = "float32", coordinate: str | None = None, points: int | None = None):
        self.dtype = np.dtype(dtype).name
        self.points = points
        if coordinate is not None and coordinate not in COORDINATES:
            raise ValueError(f"coordinate must be one of {COORDINATES}, not {coordinate!r}")
        self.coordinate = coordinate

    def encode(self, buf):
        raise NotImplementedError("the vorlak codec reads GRIB fields; it does not write them")

    def decode(self, buf, out=None):
        data = whole_message(ensure_contiguous_ndarray(buf).tobytes())
        if not data:
            if out is None and self.points is None:
                raise ValueError("an empty chunk needs the number of points (config 'points')")
            missing = np.full(self.points if out is None else np.asarray(out).size, np.nan, dtype=self.dtype)
            return ndarray_copy(missing, out)
        grib = open_fields(data)
        try:
            field = grib[len(grib) - 1]
            if self.coordinate is None:
                values = field.data(self.dtype, threads=field_threads())
            else:
                values = field.latitudes if self.coordinate == "latitude" else field.longitudes
                if values is None:
                    raise ValueError("the field's grid has no coordinates")
                values = np.asarray(values, dtype=self.dtype)
        finally:
            grib.close()
        return ndarray_copy(np.ascontiguousarray(values).ravel(), out)

    def get_config(self):
        config = {"id": self.codec_id, "dtype": self.dtype}
        if self.coordinate is not None:
            config["coordinate"] = self.coordinate
        if self.points is not None:
            config["points"] = self.points
        return config

    def __repr__(self):
        extra = f", coordinate={self.coordinate!r}" if self.coordinate else ""
        return f"VorlakCodec(dtype={self.dtype!r}{extra})"


register_codec(VorlakCodec)
