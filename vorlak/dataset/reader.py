"""The fields of a GRIB file or buffer, as the dataset package reads them:
``vorlak.open`` (every field of every message; keys without decoding;
decoding without the interpreter lock)."""
from __future__ import annotations

from vorlak.fields import open as open_fields  # noqa: F401 (the one way in)

# Data representation templates the field API decodes (edition 2); others
# are left out of a dataset with a warning instead of failing when read.
DECODED_TEMPLATES = frozenset({0, 2, 3, 4, 40, 41, 42, 50, 61, 200})
# Edition 1: simple packing only (no flags in the binary data section).
