"""Decoded fields of one open file, each decoded at most once.

A FieldSource holds a handle per message (from the scan, or opened by
offset on first use after unpickling in another process) and the decoded
values of the messages read so far. It pickles as its path and file stamp
only; every process then keeps one source per file (while anything uses
it), so the tasks of a dask worker share their decodes."""
from __future__ import annotations

import os
import threading
import weakref

import numpy as np

from vorlak import _vorlak as codes
from vorlak.dataset.scan import file_stamp


def decode(handle) -> np.ndarray:
    """The decoded values of one message (NaN where missing). Every decode
    of a lazily read field goes through here, which tests count."""
    return codes.codes_get_values(handle)


class _AtOffset:
    """A stand-in file object: the file's path and a position, so that the
    reader returns the message that starts at ``offset``."""

    def __init__(self, path: str, offset: int):
        self._path = path
        self._offset = offset

    def __fspath__(self) -> str:
        return self._path

    def tell(self) -> int:
        return self._offset

    def seek(self, _position: int) -> None:
        pass


class FileChanged(RuntimeError):
    pass


class FieldSource:
    _shared: "weakref.WeakValueDictionary[tuple, FieldSource]" = weakref.WeakValueDictionary()
    _shared_lock = threading.Lock()

    def __init__(self, path: str, stamp: tuple[int, int], handles: dict[int, object] | None = None):
        self.path = path
        self.stamp = tuple(stamp)
        self._handles = dict(handles or {})
        self._values: dict[int, np.ndarray] = {}
        self._lock = threading.Lock()

    @classmethod
    def shared(cls, path: str, stamp: tuple[int, int], handles: dict[int, object] | None = None):
        """The process's source for this file and stamp (made if needed)."""
        key = (path, tuple(stamp))
        with cls._shared_lock:
            source = cls._shared.get(key)
            if source is None:
                source = cls(path, stamp, handles)
                cls._shared[key] = source
            elif handles:
                with source._lock:
                    for offset, h in handles.items():
                        source._handles.setdefault(offset, h)
            return source

    def __reduce__(self):
        return (FieldSource.shared, (self.path, self.stamp))

    def _open(self, offset: int):
        try:
            now = file_stamp(self.path)
        except OSError as e:
            raise FileChanged(f"{self.path} can no longer be read: {e.strerror or e}") from None
        if now != self.stamp:
            raise FileChanged(f"{self.path} has changed since it was opened; open it again")
        handle = codes.codes_grib_new_from_file(_AtOffset(self.path, offset))
        if handle is None or codes.codes_get_long(handle, "offset") != offset:
            raise FileChanged(f"{self.path} holds no message at offset {offset}; open it again")
        return handle

    def handle(self, offset: int):
        with self._lock:
            h = self._handles.get(offset)
            if h is None:
                h = self._handles[offset] = self._open(offset)
            return h

    def values(self, offset: int) -> np.ndarray:
        """Read-only decoded values of the message at ``offset``."""
        with self._lock:
            v = self._values.get(offset)
            if v is not None:
                return v
            h = self._handles.get(offset)
            if h is None:
                h = self._handles[offset] = self._open(offset)
            try:
                v = decode(h)
            except codes.CodesInternalError as e:
                raise type(e)(f"{self.path}, message at offset {offset}: {e}") from None
            self._values[offset] = v
            return v

    def decoded_count(self) -> int:
        return len(self._values)

    def close(self) -> None:
        """Forget handles and decoded values; later reads open again."""
        with self._lock:
            self._handles.clear()
            self._values.clear()


def absolute(path) -> str:
    return os.path.abspath(os.fspath(path))
