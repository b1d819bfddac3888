"""xarray backend: ``xr.open_dataset(path, engine="vorlak")``.

Opening reads keys only; data variables are lazy and decode just the
fields that an indexing request touches, each read from the byte range of
its message (see vorlak.dataset)."""
from __future__ import annotations

import os

from xarray.backends import BackendEntrypoint

from vorlak.dataset.cube import DatasetBuildError
from vorlak.dataset.lazy import to_dataset
from vorlak.dataset.model import DEFAULT_TIME_DIMS
from vorlak.dataset.opening import open_model
from vorlak.dataset.source import open_source

__all__ = ["VorlakBackendEntrypoint", "DatasetBuildError", "open_grib_dataset"]

GRIB_SUFFIXES = (".grib", ".grib1", ".grib2", ".grb", ".grb1", ".grb2")

# Keywords of other GRIB engines, accepted with the meaning the README gives.
_ENCODE_CF = ("parameter", "time", "geography", "vertical")


def _decoding(decode_times, decode_timedelta, use_cftime) -> dict:
    """xarray's time decoding arguments; empty when they ask for what the
    model holds already (datetime64 and timedelta64)."""
    if decode_times in (None, True) and decode_timedelta in (None, True) and use_cftime in (None, False):
        return {}
    return {"decode_times": decode_times is not False,
            "decode_timedelta": (decode_times is not False) if decode_timedelta is None else bool(decode_timedelta),
            "use_cftime": use_cftime}


def open_grib_dataset(filename_or_obj, *, drop_variables=None, filter_by_keys=None, time_dims=DEFAULT_TIME_DIMS,
                      dtype=None, storage_options=None, errors="warn", read_keys=(), squeeze=True,
                      decode_times=None, decode_timedelta=None, use_cftime=None):
    source = open_source(filename_or_obj, storage_options)
    model = open_model([source], filter_by_keys=filter_by_keys, time_dims=time_dims, dtype=dtype,
                       errors=errors, read_keys=read_keys, squeeze=squeeze)
    return to_dataset(model, drop_variables, _decoding(decode_times, decode_timedelta, use_cftime))


class VorlakBackendEntrypoint(BackendEntrypoint):
    description = "GRIB editions 1 and 2 through vorlak (lazy, one dask chunk per field)"
    open_dataset_parameters = (
        "filename_or_obj", "drop_variables", "filter_by_keys", "time_dims", "dtype", "storage_options",
        "errors", "read_keys", "squeeze", "indexpath", "lock", "cache_geo_coords", "encode_cf",
        "decode_times", "decode_timedelta", "use_cftime", "mask_and_scale", "decode_coords",
        "concat_characters",
    )

    def open_dataset(self, filename_or_obj, *, drop_variables=None, filter_by_keys=None,
                     time_dims=DEFAULT_TIME_DIMS, dtype=None, storage_options=None, errors="warn", read_keys=(),
                     squeeze=True, indexpath=None, lock=None, cache_geo_coords=None, encode_cf=_ENCODE_CF,
                     decode_times=None, decode_timedelta=None, use_cftime=None, mask_and_scale=None,
                     decode_coords=None, concat_characters=None, **other):
        # indexpath: vorlak writes no index files (the scan is fast), so
        # any value is accepted and unused; lock and cache_geo_coords: no
        # lock is needed and grid coordinates are always shared.
        # mask_and_scale, decode_coords and concat_characters: values are
        # decoded and missing points are NaN already; coordinates are set
        # by the engine and no variable holds characters.
        if other:
            raise ValueError(f"the vorlak engine does not know {', '.join(map(repr, sorted(other)))}; it takes "
                             f"{', '.join(p for p in self.open_dataset_parameters if p != 'filename_or_obj')}")
        if tuple(encode_cf or ()) != _ENCODE_CF:
            raise ValueError(f"encode_cf: the vorlak engine always names parameters, times, grids and levels "
                             f"as {_ENCODE_CF!r}")
        return open_grib_dataset(filename_or_obj, drop_variables=drop_variables, filter_by_keys=filter_by_keys,
                                 time_dims=time_dims, dtype=dtype, storage_options=storage_options, errors=errors,
                                 read_keys=read_keys, squeeze=squeeze, decode_times=decode_times,
                                 decode_timedelta=decode_timedelta, use_cftime=use_cftime)

    def guess_can_open(self, filename_or_obj) -> bool:
        """GRIB suffixes, and files, bytes and file objects whose first
        bytes say GRIB."""
        if isinstance(filename_or_obj, (bytes, bytearray, memoryview)):
            return bytes(filename_or_obj[:4]) == b"GRIB"
        try:
            name = os.fspath(filename_or_obj)
        except TypeError:
            return _peek(filename_or_obj)
        if isinstance(name, bytes):
            name = os.fsdecode(name)
        if os.path.splitext(name)[1].lower() in GRIB_SUFFIXES:
            return True
        try:
            with open(name, "rb") as f:
                return f.read(4) == b"GRIB"
        except OSError:
            return False


def _peek(obj) -> bool:
    """A readable, seekable binary file object positioned at "GRIB"."""
    try:
        position = obj.tell()
        head = obj.read(4)
        obj.seek(position)
    except Exception:
        return False
    return head == b"GRIB"
