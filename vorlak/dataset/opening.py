"""Opening sources as one dataset model: scan each, then build the model."""
from __future__ import annotations

import numpy as np

from vorlak.dataset.model import DEFAULT_TIME_DIMS, DatasetModel, build_model, check_time_dims
from vorlak.dataset.scan import Catalogue, KeyTexts, scan_source
from vorlak.dataset.source import Source

ERRORS = ("warn", "ignore", "raise")


def check_dtype(dtype):
    """None (float32 where the packing fits it, float64 elsewhere) or a
    floating-point dtype of 32 or 64 bits for every variable."""
    if dtype is None or (isinstance(dtype, str) and dtype == "auto"):
        return None
    try:
        wanted = np.dtype(dtype)
    except TypeError:
        raise ValueError(f"dtype must be None, 'auto', float32 or float64, not {dtype!r}") from None
    if wanted not in (np.dtype(np.float32), np.dtype(np.float64)):
        raise ValueError(f"dtype must be None, 'auto', float32 or float64, not {wanted}")
    return wanted


def open_model(sources: list[Source], filter_by_keys: dict | None = None, time_dims=DEFAULT_TIME_DIMS,
               dtype=None, errors: str = "warn", read_keys=(), squeeze: bool = True) -> DatasetModel:
    if errors not in ERRORS:
        raise ValueError(f"errors must be one of {', '.join(map(repr, ERRORS))}, not {errors!r}")
    if filter_by_keys is not None and not isinstance(filter_by_keys, dict):
        raise TypeError(f"filter_by_keys must be a dict of key names and values, not {type(filter_by_keys).__name__}")
    if isinstance(read_keys, str):
        read_keys = (read_keys,)
    time_dims = check_time_dims(time_dims)
    dtype = check_dtype(dtype)
    catalogue = Catalogue(read_keys=tuple(read_keys or ()))
    scans = [scan_source(s, i, catalogue, filter_by_keys, errors) for i, s in enumerate(sources)]
    keys = KeyTexts(list(sources))
    try:
        return build_model(scans, catalogue, time_dims, dtype, keys, squeeze)
    finally:
        keys.close()
