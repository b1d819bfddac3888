"""The lazy array behind each data variable: decodes only the messages an
indexing request touches, through the FieldSource of its file."""
from __future__ import annotations

import numpy as np
from xarray.backends import BackendArray
from xarray.core import indexing

from vorlak.dataset.fields import FieldSource


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
    """Shape: the variable's field dimensions (time, step, level, those with
    more than one value) followed by the grid dimensions."""

    dtype = np.dtype(np.float64)

    def __init__(self, source: FieldSource, table: np.ndarray, grid_spec: tuple):
        self.source = source
        self.table = np.asarray(table, dtype=np.int64)
        self.grid_shape, self.columns_first, self.alternate_rows, self.npoints = grid_spec
        self.grid_shape = tuple(int(n) for n in self.grid_shape)
        self.shape = self.table.shape + self.grid_shape

    def __reduce__(self):
        return (_rebuild, (self.source.path, self.source.stamp, self.table,
                           (self.grid_shape, self.columns_first, self.alternate_rows, self.npoints)))

    def __getitem__(self, key):
        return indexing.explicit_indexing_adapter(key, self.shape, indexing.IndexingSupport.OUTER,
                                                  self._read)

    def field(self, offset: int) -> np.ndarray:
        """One message's values laid out on the grid (rows of latitude or
        y, columns of longitude or x)."""
        v = self.source.values(offset)
        if v.size != self.npoints:
            raise ValueError(f"{self.source.path}, message at offset {offset}: {v.size} values "
                             f"for a grid of {self.npoints} points")
        # The stored order runs along rows, or down columns when
        # columns_first; with alternate_rows every second line runs back.
        lines = v.reshape(self.grid_shape[::-1] if self.columns_first else self.grid_shape)
        if self.alternate_rows and lines.shape[0] > 1:
            lines = lines.copy()
            lines[1::2] = lines[1::2, ::-1]
        return lines.T if self.columns_first else lines

    def _read(self, key: tuple) -> np.ndarray:
        nf = self.table.ndim
        offsets = outer_index(self.table, key[:nf])
        grid_key = key[nf:]
        sample = outer_index(np.broadcast_to(np.False_, self.grid_shape), grid_key)
        out = np.empty(offsets.shape + sample.shape, dtype=np.float64)
        for cell in np.ndindex(offsets.shape):
            offset = int(offsets[cell])
            if offset < 0:
                out[cell] = np.nan
            else:
                out[cell] = outer_index(self.field(offset), grid_key)
        return out


def _rebuild(path, stamp, table, grid_spec) -> FieldArray:
    return FieldArray(FieldSource.shared(path, stamp), table, grid_spec)
