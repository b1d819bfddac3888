"""Virtual datasets: ``vorlak.references(paths)``.

The references describe the dataset the xarray engine would make of the
files, as a Zarr (version 2) store in the kerchunk reference format
(version 1): the metadata of every array, the coordinates inline, and for
every field one chunk that names the byte range of its message, from the
message start to the end of that field's data. The codec ``vorlak``
(vorlak.codec) decodes such a chunk. So an archive of many files, local
or in an object store, opens as one lazy dataset through fsspec and zarr
without scanning the files again::

    refs = vorlak.references(paths)
    ds = xr.open_dataset("reference://", engine="zarr", backend_kwargs={
        "storage_options": {"fo": refs}, "consolidated": False})
"""
from __future__ import annotations

import base64
import json
import os

import numpy as np

from vorlak.dataset.model import DEFAULT_TIME_DIMS, Coordinate, DatasetModel
from vorlak.dataset.opening import open_model
from vorlak.dataset.source import open_source
from vorlak.dataset.timekeys import encode_times

__all__ = ["references"]


def _jsonable(value):
    if isinstance(value, dict):
        return {str(k): _jsonable(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [_jsonable(v) for v in value]
    if isinstance(value, np.generic):
        return value.item()
    if isinstance(value, np.ndarray):
        return value.tolist()
    return value


def _array_meta(shape, chunks, dtype: np.dtype, compressor=None, fill_value=None) -> str:
    return json.dumps({"zarr_format": 2, "shape": list(shape), "chunks": list(chunks), "dtype": dtype.str,
                       "compressor": compressor, "filters": None, "fill_value": fill_value, "order": "C",
                       "dimension_separator": "."})


def _attrs(attrs: dict, dims, coordinates=()) -> str:
    out = {k: v for k, v in _jsonable(attrs).items()}
    out["_ARRAY_DIMENSIONS"] = list(dims)
    if coordinates:
        out["coordinates"] = " ".join(coordinates)
    return json.dumps(out)


def _chunk_key(name: str, index) -> str:
    return f"{name}/{'.'.join(str(i) for i in index) if len(index) else '0'}"


def _inline(refs: dict, name: str, c: Coordinate) -> None:
    values = np.asarray(c.values)
    attrs = dict(c.attrs)
    if values.dtype.kind in "Mm":
        values, cf = encode_times(values)
        attrs.update(cf)
    values = np.asarray(values, dtype=values.dtype.newbyteorder("<")).copy(order="C")
    refs[f"{name}/.zarray"] = _array_meta(values.shape, values.shape, values.dtype)
    refs[f"{name}/.zattrs"] = _attrs(attrs, c.dims)
    refs[_chunk_key(name, (0,) * values.ndim)] = "base64:" + base64.b64encode(values.tobytes()).decode("ascii")


def _grid_points(refs: dict, name: str, c: Coordinate, model: DatasetModel, urls) -> None:
    """Latitudes or longitudes of a grid without axes: one chunk, the bytes
    of a field on that grid, which the codec turns into its coordinates."""
    fid = next(int(f) for v in model.variables if v.grid.key == c.grid for f in v.table.ravel() if f >= 0)
    store = model.store
    dtype = np.dtype("<f8")
    kind = "latitude" if c.attrs.get("standard_name") == "latitude" else "longitude"
    refs[f"{name}/.zarray"] = _array_meta(c.values.shape, c.values.shape, dtype,
                                          {"id": "vorlak", "dtype": "float64", "coordinate": kind}, "NaN")
    refs[f"{name}/.zattrs"] = _attrs(c.attrs, c.dims)
    refs[_chunk_key(name, (0,) * c.values.ndim)] = [urls[store.src[fid]], int(store.offset[fid]),
                                                      int(store.ends[fid])]


def model_references(model: DatasetModel) -> dict:
    """Kerchunk references (version 1) of a dataset model."""
    store = model.store
    urls = [s.url for s in store.sources]
    for s, url in zip(store.sources, urls):
        if url is None:
            raise TypeError(f"references name files: {s.name} is not one")
    refs: dict = {".zgroup": json.dumps({"zarr_format": 2}), ".zattrs": json.dumps(_jsonable(model.attrs))}
    used = {c for v in model.variables for c in (*v.coordinates, *v.dims)}
    for name, c in model.coords.items():
        if name not in used:
            continue
        if c.grid is not None:
            _grid_points(refs, name, c, model, urls)
        else:
            _inline(refs, name, c)
    for v in model.variables:
        grid_shape = tuple(v.grid.shape)
        shape = v.table.shape + grid_shape
        dtype = np.dtype(v.dtype).newbyteorder("<")
        refs[f"{v.name}/.zarray"] = _array_meta(shape, (1,) * v.table.ndim + grid_shape, dtype,
                                                {"id": "vorlak", "dtype": np.dtype(v.dtype).name,
                                                 "points": int(np.prod(grid_shape))}, "NaN")
        coordinates = [c for c in v.coordinates if c not in v.dims]
        refs[f"{v.name}/.zattrs"] = _attrs(v.attrs, v.dims, coordinates)
        tail = (0,) * len(grid_shape)
        for index in np.ndindex(v.table.shape):
            fid = int(v.table[index])
            # A cell without a field is an empty chunk, which the codec
            # fills with NaN (an absent chunk would do for zarr, but not
            # for every fsspec that reads references).
            refs[_chunk_key(v.name, index + tail)] = "" if fid < 0 else [
                urls[store.src[fid]], int(store.offset[fid]), int(store.ends[fid])]
    return {"version": 1, "refs": refs}


def references(paths, *, filter_by_keys=None, time_dims=DEFAULT_TIME_DIMS, dtype=None, storage_options=None,
               errors="warn", read_keys=()) -> dict:
    """References (kerchunk version 1) to the dataset that the xarray engine
    makes of ``paths`` (a path or URL, or a list of them) taken together.

    The keywords are those of the engine. Files are named by absolute path
    or by their URL (with ``storage_options`` for fsspec). The result is
    JSON-serialisable: ``json.dump(refs, f)``."""
    import vorlak.codec  # noqa: F401 (registers the codec in this process)

    if isinstance(paths, (str, os.PathLike)):
        paths = [paths]
    sources = [open_source(p, storage_options) for p in paths]
    model = open_model(sources, filter_by_keys=filter_by_keys, time_dims=time_dims, dtype=dtype, errors=errors,
                       read_keys=read_keys)
    return model_references(model)
