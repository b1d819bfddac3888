"""vorlak: a GRIB reader with a flat codes_* API and NumPy arrays, and
``vorlak.open`` for reading every field of a file (see vorlak.fields)."""
from vorlak import _vorlak
from vorlak._vorlak import *  # noqa: F401,F403
from vorlak.fields import Field, GribFile, open  # noqa: A004 (vorlak.open, not the builtin)

# The codes API only: `from vorlak import *` must not shadow the builtin open.
__all__ = list(_vorlak.__all__)
__version__ = _vorlak.__version__
