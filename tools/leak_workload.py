#!/usr/bin/env python3
"""Handle lifetimes for leak checks: each opens a message (from a file object
and from bytes), reads every key the keys iterator lists, decodes values and
coordinates, walks the grid, searches it, indexes the file, refuses a broken
message, and lets everything go; then the same file through vorlak.open
(field_lifetime): every key of every field, values, coordinates, the
command line's key listing and nearest search, errors, and closing.

Used by tests/python/test_leaks.py (resident memory stays flat over 10,000
lifetimes) and by `make test-leaks` (this script under valgrind).

Usage: leak_workload.py [LIFETIMES]
"""
import os
import sys
import tempfile

TOOLS = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, TOOLS)
sys.path.insert(0, os.path.dirname(TOOLS))

import gribbuild as g  # noqa: E402
import make_sample  # noqa: E402


def sample_bytes():
    return b"".join(make_sample.grib2_messages() + make_sample.grib1_messages())


def _ignore(call, *args, allowed=()):
    try:
        return call(*args)
    except allowed:
        return None


def lifetime(v, path, message, broken):
    """One round of everything a handle can do, ending with nothing held."""
    errors = (v.CodesInternalError,)
    with open(path, "rb") as f:
        h = v.codes_grib_new_from_file(f)
    it = v.codes_keys_iterator_new(h) if hasattr(v, "codes_keys_iterator_new") else None
    keys = []
    if it is not None:
        while v.codes_keys_iterator_next(it):
            keys.append(v.codes_keys_iterator_get_name(it))
        v.codes_keys_iterator_delete(it)
    for key in keys:
        _ignore(v.codes_get, h, key, allowed=errors)
        _ignore(v.codes_get_string, h, key, allowed=errors)
    values = v.codes_get_values(h)
    _ignore(v.codes_get_double_array, h, "latitudes", allowed=errors)
    if hasattr(v, "codes_grib_get_data"):
        _ignore(v.codes_grib_get_data, h, allowed=errors)
    if hasattr(v, "codes_grib_find_nearest"):
        _ignore(v.codes_grib_find_nearest, h, 45.0, 10.0, allowed=errors)
    clone = v.codes_clone(h)
    v.codes_get_message(clone)
    v.codes_release(clone)
    del clone
    v.codes_release(h)
    del h, values

    m = v.codes_new_from_message(message)
    _ignore(v.codes_get_values, m, allowed=errors)
    v.codes_release(m)
    del m
    try:
        bad = v.codes_new_from_message(broken)
        _ignore(v.codes_get_values, bad, allowed=errors)
    except errors:
        pass
    try:
        v.codes_get_long(v.codes_new_from_message(message), "noSuchKey")
    except v.KeyValueNotFoundError:
        pass
    if hasattr(v, "codes_index_new_from_file"):
        idx = v.codes_index_new_from_file(path, ["shortName", "level"])
        v.codes_index_release(idx)


def field_lifetime(vorlak, path, message, broken):
    """One round of everything the field API does, ending with nothing held."""
    import numpy as np

    errors = (vorlak.CodesInternalError,)
    with vorlak.open(path) as grib:
        for field in grib:
            dict(field)
            field.get("noSuchKey")
            _ignore(field.__getitem__, "noSuchKey", allowed=(KeyError,))
            _ignore(lambda: field.values, allowed=errors)
            _ignore(field.data, np.float32, allowed=errors)
            _ignore(lambda: (field.latitudes, field.longitudes, field.shape), allowed=errors)
            _ignore(field._nearest, 45.0, 10.0, 2, allowed=errors)
            field._codes_keys()
            field._text("level")
            repr(field)
        grib.select(shortName="t", level=[500, 850])
        kept = grib[0]
    _ignore(lambda: kept.values, allowed=(ValueError,))
    with vorlak.open(message) as grib:
        grib[0].data()
    _ignore(vorlak.open, broken, allowed=errors)
    _ignore(vorlak.open, path + ".absent", allowed=(OSError,))


def fixtures(folder):
    """(path, one message, one broken message) written under `folder`."""
    data = sample_bytes()
    path = os.path.join(folder, "leak.grib")
    with open(path, "wb") as f:
        f.write(data)
    message = make_sample.grib2_messages()[2]
    broken = message[:40] + b"\xff" * 20 + message[60:]
    return path, message, broken


def main(argv):
    import vorlak
    from vorlak import _vorlak as v
    count = int(argv[1]) if len(argv) > 1 else 200
    with tempfile.TemporaryDirectory() as folder:
        path, message, broken = fixtures(folder)
        for _ in range(count):
            lifetime(v, path, message, broken)
            field_lifetime(vorlak, path, message, broken)
        v.codes_grib_cache_clear()
    print(f"{count} lifetimes")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
