"""Where the bytes of a dataset come from: a local file, bytes in memory,
or a file on an fsspec file system (a URL such as ``s3://bucket/a.grib2``,
or an fsspec file object).

A source is read whole once, for the scan; afterwards every read asks for
the byte range of one message. Sources pickle small (a path or URL and the
file's stamp; bytes in memory pickle as themselves), so that dask workers
in other processes read the same bytes, and a file that changed after the
scan is refused rather than misread."""
from __future__ import annotations

import io
import os
import re
import threading


class FileChanged(RuntimeError):
    """The file is no longer the one that was scanned."""


class Source:
    name: str = "<source>"

    def read_all(self):
        """Everything, for the scan: bytes, or a path the reader opens."""
        raise NotImplementedError

    def read(self, offset: int, length: int) -> bytes:
        """``length`` bytes from ``offset``, for one message."""
        raise NotImplementedError

    @property
    def url(self) -> str | None:
        """Where another program finds the same bytes (None: nowhere)."""
        return None


def _stamp(st: os.stat_result) -> tuple[int, int]:
    return (st.st_size, st.st_mtime_ns)


class LocalFile(Source):
    def __init__(self, path: str, stamp: tuple[int, int] | None = None):
        self.path = os.path.abspath(path)
        self.name = self.path
        self.stamp = tuple(stamp) if stamp is not None else _stamp(os.stat(self.path))

    def __reduce__(self):
        return (LocalFile, (self.path, self.stamp))

    def read_all(self):
        return self.path

    def read(self, offset: int, length: int) -> bytes:
        try:
            fd = os.open(self.path, os.O_RDONLY)
        except OSError as e:
            raise FileChanged(f"{self.path} can no longer be read: {e.strerror or e}") from None
        try:
            if _stamp(os.fstat(fd)) != self.stamp:
                raise FileChanged(f"{self.path} has changed since it was opened; open it again")
            data = os.pread(fd, length, offset)
        finally:
            os.close(fd)
        if len(data) != length:
            raise FileChanged(f"{self.path} ends before the message at offset {offset}; open it again")
        return data

    @property
    def url(self) -> str:
        return self.path


class MemoryBytes(Source):
    def __init__(self, data, name: str = "<bytes>"):
        self.data = bytes(data)
        self.name = name

    def __reduce__(self):
        return (MemoryBytes, (self.data, self.name))

    def read_all(self):
        return self.data

    def read(self, offset: int, length: int) -> bytes:
        return self.data[offset:offset + length]


class FsspecFile(Source):
    """A file on an fsspec file system, read by byte ranges after the scan."""

    def __init__(self, fs, path: str, stamp=None):
        self.fs = fs
        self.path = path
        self.name = self.url
        self.stamp = stamp if stamp is not None else _fs_stamp(fs, path)
        self._checked = threading.Event()
        self._checked.set()  # the process that scanned knows the file is the same

    def __reduce__(self):
        return (_unpickled_fsspec, (self.fs, self.path, self.stamp))

    @property
    def url(self) -> str:
        return self.fs.unstrip_protocol(self.path)

    def read_all(self):
        return self.fs.cat_file(self.path)

    def read(self, offset: int, length: int) -> bytes:
        if not self._checked.is_set():
            # Once per process: another process may see another file.
            if _fs_stamp(self.fs, self.path) != self.stamp:
                raise FileChanged(f"{self.url} has changed since it was opened; open it again")
            self._checked.set()
        data = self.fs.cat_file(self.path, start=offset, end=offset + length)
        if len(data) != length:
            raise FileChanged(f"{self.url} ends before the message at offset {offset}; open it again")
        return data


def _unpickled_fsspec(fs, path, stamp) -> FsspecFile:
    source = FsspecFile(fs, path, stamp)
    source._checked.clear()
    return source


def _fs_stamp(fs, path: str):
    info = fs.info(path)
    return (info.get("size"), str(fs.ukey(path)))


_URL = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*(://|::)")


def _is_url(text: str) -> bool:
    """s3://..., https://..., simplecache::s3://... (fsspec's chains)."""
    return _URL.match(text) is not None


def open_source(obj, storage_options: dict | None = None) -> Source:
    """A Source for what open_dataset was given: a path, a URL (through
    fsspec, with ``storage_options``), bytes, or a binary file object (an
    fsspec file is read by ranges later; other files are read whole now)."""
    if isinstance(obj, Source):
        return obj
    if isinstance(obj, (bytes, bytearray, memoryview)):
        return MemoryBytes(obj)
    if isinstance(obj, (str, os.PathLike)):
        text = os.fspath(obj)
        if isinstance(text, bytes):
            text = os.fsdecode(text)
        if text.startswith("file://"):
            text = text[len("file://"):]
        elif _is_url(text):
            import fsspec

            fs, path = fsspec.core.url_to_fs(text, **(storage_options or {}))
            if _is_local(fs):
                return LocalFile(path)
            return FsspecFile(fs, path)
        return LocalFile(text)
    if storage_options:
        raise TypeError("storage_options apply to URLs only")
    fs, path = getattr(obj, "fs", None), getattr(obj, "path", None)
    if fs is not None and isinstance(path, str) and hasattr(fs, "cat_file"):
        if _is_local(fs):
            return LocalFile(path)
        return FsspecFile(fs, path)
    read = getattr(obj, "read", None)
    if callable(read):
        name = getattr(obj, "name", None)
        if isinstance(name, str) and not isinstance(obj, io.BytesIO) and os.path.isfile(name):
            try:
                start = obj.tell()
            except (OSError, AttributeError, ValueError):
                start = None
            if start == 0:
                return LocalFile(name)
        data = read()
        if isinstance(data, str):
            raise TypeError("the vorlak engine needs a file opened in binary mode")
        return MemoryBytes(data, name if isinstance(name, str) else "<file>")
    raise TypeError("the vorlak engine reads a path, a URL, bytes or a binary file object, not "
                    f"{type(obj).__name__}")


def _is_local(fs) -> bool:
    protocol = fs.protocol if isinstance(fs.protocol, str) else fs.protocol[0]
    return protocol in ("file", "local")
