"""vorlak: a GRIB reader with a flat codes_* API and NumPy arrays,
``vorlak.open`` for reading every field of a file (see vorlak.fields), an
xarray engine and ``vorlak.references`` for virtual datasets (see
vorlak.virtual)."""
from typing import TYPE_CHECKING

from vorlak import _vorlak
from vorlak._vorlak import *  # noqa: F401,F403

if TYPE_CHECKING:
    from vorlak.fields import Field, GribFile, NearestPoint, open  # noqa: F401
    from vorlak.virtual import references  # noqa: F401

# The codes API only: `from vorlak import *` must not shadow the builtin open.
__all__ = list(_vorlak.__all__)
__version__ = _vorlak.__version__

_FIELD_API = ("open", "GribFile", "Field", "NearestPoint")


def __getattr__(name):
    # vorlak.open and its classes load on first use, so that importing the
    # codes API loads nothing more (NumPy included).
    if name in _FIELD_API:
        from vorlak import fields

        return getattr(fields, name)
    if name == "references":
        from vorlak.virtual import references

        return references
    raise AttributeError(f"module 'vorlak' has no attribute {name!r}")


def __dir__():
    return sorted(set(globals()) | set(_FIELD_API) | {"references"})
