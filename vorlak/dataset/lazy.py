"""From a dataset model to an xarray Dataset: lazy arrays that decode only
the fields an indexing request touches, and coordinates decoded as
xarray's decoding arguments ask."""
from __future__ import annotations

import numpy as np
import xarray as xr
from xarray.backends import BackendArray
from xarray.core import indexing

from vorlak.dataset.fields import FieldStore
from vorlak.dataset.model import DatasetModel, Variable
from vorlak.dataset.timekeys import encode_times


def outer_index(a: np.ndarray, key: tuple) -> np.ndarray:
    """Orthogonal indexing: each item of ``key`` (int, slice or 1-D integer
    array) applies to its own axis; integers drop their axis."""
    axis = 0
    for k in key:
        if isinstance(k, (int, np.integer)):
            a = np.take(a, int(k), axis=axis)
        elif isinstance(k, slice):
            if k != slice(None):
                a = a[(slice(None),) * axis + (k,)]
            axis += 1
        else:
            a = np.take(a, np.asarray(k, dtype=np.intp), axis=axis)
            axis += 1
    return a


class FieldArray(BackendArray):
    """Shape: the variable's field dimensions (number, time, step, level,
    ... those that are dimensions) followed by the grid's."""

    def __init__(self, store: FieldStore, table: np.ndarray, grid_shape: tuple, dtype):
        self.store = store
        self.table = np.asarray(table, dtype=np.int64)
        self.grid_shape = tuple(int(n) for n in grid_shape)
        self.dtype = np.dtype(dtype)
        self.shape = self.table.shape + self.grid_shape

    def __getitem__(self, key):
        return indexing.explicit_indexing_adapter(key, self.shape, indexing.IndexingSupport.OUTER,
                                                  self._read)

    def field(self, fid: int, keep: bool = True) -> np.ndarray:
        """One field's values on the grid (see FieldStore.read)."""
        values = self.store.read(fid, self.dtype, keep)
        if values.shape != self.grid_shape:
            if values.size != int(np.prod(self.grid_shape)):
                raise ValueError(f"{self.store.where(fid)}: {values.size} values for a grid of "
                                 f"{int(np.prod(self.grid_shape))} points")
            values = values.reshape(self.grid_shape)
        return values

    def _read(self, key: tuple) -> np.ndarray:
        nf = self.table.ndim
        fids = outer_index(self.table, key[:nf])
        grid_key = key[nf:]
        whole = all(isinstance(k, slice) and k == slice(None) for k in grid_key)
        if whole and fids.size == 1 and fids.ravel()[0] >= 0:
            # One whole field (a dask chunk): the decoded array itself.
            values = self.field(int(fids.ravel()[0]), keep=False)
            if not values.flags.writeable:
                values = values.copy()
            return values.reshape(fids.shape + self.grid_shape)
        sample = outer_index(np.broadcast_to(np.False_, self.grid_shape), grid_key)
        out = np.empty(fids.shape + sample.shape, dtype=self.dtype)
        for cell in np.ndindex(fids.shape):
            fid = int(fids[cell])
            if fid < 0:
                out[cell] = np.nan
            else:
                out[cell] = outer_index(self.field(fid, keep=not whole), grid_key)
        return out


def _variable(model: DatasetModel, v: Variable) -> xr.Variable:
    array = FieldArray(model.store, v.table, v.grid.shape, v.dtype)
    var = xr.Variable(v.dims, indexing.LazilyIndexedArray(array), v.attrs)
    nfield = v.table.ndim
    var.encoding = {
        "dtype": v.dtype,
        # One chunk per field: chunks={} gives every field its own chunk.
        "preferred_chunks": {d: (1 if i < nfield else n) for i, (d, n) in enumerate(zip(v.dims, array.shape))},
    }
    return var


def _coordinate(name: str, c, decoding: dict) -> xr.Variable:
    values = np.asarray(c.values)
    if values.dtype.kind not in "Mm" or not decoding:
        return xr.Variable(c.dims, values, c.attrs)
    numbers, cf = encode_times(values)
    var = xr.Variable(c.dims, numbers, {**c.attrs, **cf})
    return xr.conventions.decode_cf_variable(name, var, **decoding)


def to_dataset(model: DatasetModel, drop_variables=(), decoding: dict | None = None) -> xr.Dataset:
    """``decoding``: decode_times, decode_timedelta and use_cftime as given
    to open_dataset (empty: datetime64 and timedelta64 coordinates)."""
    drop = {drop_variables} if isinstance(drop_variables, str) else set(drop_variables or ())
    kept = [v for v in model.variables if v.name not in drop]
    used = {c for v in kept for c in (*v.coordinates, *v.dims)}
    data_vars = {v.name: _variable(model, v) for v in kept}
    coords = {name: _coordinate(name, c, decoding or {}) for name, c in model.coords.items()
              if name in used and name not in drop}
    ds = xr.Dataset(data_vars, coords=coords, attrs=model.attrs)
    ds.set_close(model.store.close)
    return ds
