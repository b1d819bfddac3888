"""Reading the fields of one dataset, each from the byte range of its
message.

A FieldStore knows, for every field of a dataset, its source, the offset
and length of its message and its place in that message. Reading a field
reads those bytes (nothing more: a remote file is asked for that range
only), and decodes that field alone, without holding the interpreter lock
while it decodes. The last fields read are kept up to CACHE_BYTES, so that
looking at one field several ways decodes it once.

A store pickles as its sources and the positions of its fields; in every
process the copies of one store share one cache."""
from __future__ import annotations

import threading
import uuid
import weakref
from collections import OrderedDict

import numpy as np

from vorlak.dataset.reader import open_fields
from vorlak.dataset.source import FileChanged, Source  # noqa: F401 (FileChanged: re-exported)

CACHE_BYTES = 64 * 1024 * 1024


def field_threads() -> int | None:
    """Threads one field may be split across. A read from a worker thread
    (dask's threaded scheduler, a thread pool) is one of several running
    side by side, which already fill the cores: splitting each field too
    would only crowd them. The main thread splits a large field as
    ``vorlak.open`` does."""
    return None if threading.current_thread() is threading.main_thread() else 1


def decode(data: bytes, index: int, dtype) -> np.ndarray:
    """Field ``index`` of the message in ``data``, decoded into ``dtype``.
    Every read of a field goes through here, which tests count."""
    grib = open_fields(data)
    try:
        return grib[index].data(dtype, threads=field_threads())
    finally:
        grib.close()


class FieldStore:
    _shared: "weakref.WeakValueDictionary[str, FieldStore]" = weakref.WeakValueDictionary()
    _shared_lock = threading.Lock()

    def __init__(self, sources: list[Source], src, offset, length, index, labels, ends=None,
                 token: str | None = None):
        self.sources = list(sources)
        self.src = np.asarray(src, dtype=np.int32)
        self.offset = np.asarray(offset, dtype=np.int64)
        self.length = np.asarray(length, dtype=np.int64)
        self.index = np.asarray(index, dtype=np.int32)
        self.labels = list(labels)
        # End of each field's data from its message start: the bytes a
        # reference to the field names.
        self.ends = self.length if ends is None else np.asarray(ends, dtype=np.int64)
        self.token = token or uuid.uuid4().hex
        self._cache: OrderedDict = OrderedDict()
        self._cached_bytes = 0
        self._lock = threading.Lock()
        FieldStore._shared[self.token] = self

    @classmethod
    def from_fields(cls, sources: list[Source], fields) -> FieldStore:
        return cls(sources, [f.src for f in fields], [f.offset for f in fields], [f.length for f in fields],
                   [f.index for f in fields], [f.label for f in fields], [f.end for f in fields])

    def __reduce__(self):
        return (_shared_store, (self.token, self.sources, self.src, self.offset, self.length, self.index,
                                self.labels, self.ends))

    def __len__(self) -> int:
        return self.offset.size

    def where(self, fid: int) -> str:
        return f"{self.sources[self.src[fid]].name}, field {self.labels[fid]}"

    def message(self, fid: int) -> bytes:
        """The bytes of the field's message."""
        return self.sources[self.src[fid]].read(int(self.offset[fid]), int(self.length[fid]))

    def read(self, fid: int, dtype, keep: bool = True) -> np.ndarray:
        """The field's values (rows, columns) or (points,). Kept ones are
        shared and read-only; with ``keep`` False a field not kept comes
        as a new array of the caller's (and is not kept)."""
        dtype = np.dtype(dtype)
        key = (fid, dtype.char)
        with self._lock:
            values = self._cache.get(key)
            if values is not None:
                self._cache.move_to_end(key)
                return values
        data = self.message(fid)
        try:
            values = decode(data, int(self.index[fid]), dtype)
        except Exception as e:
            if isinstance(e, (MemoryError, KeyboardInterrupt)):
                raise
            raise type(e)(f"{self.where(fid)}: {e}") from None
        if not keep:
            return values
        values.flags.writeable = False
        with self._lock:
            if key not in self._cache and values.nbytes <= CACHE_BYTES:
                self._cache[key] = values
                self._cached_bytes += values.nbytes
                while self._cached_bytes > CACHE_BYTES:
                    _, dropped = self._cache.popitem(last=False)
                    self._cached_bytes -= dropped.nbytes
        return values

    def close(self) -> None:
        """Forget the fields kept; later reads read again."""
        with self._lock:
            self._cache.clear()
            self._cached_bytes = 0


def _shared_store(token, sources, src, offset, length, index, labels, ends) -> FieldStore:
    with FieldStore._shared_lock:
        store = FieldStore._shared.get(token)
        if store is None:
            store = FieldStore(sources, src, offset, length, index, labels, ends, token)
        return store
