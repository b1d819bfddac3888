"""vorlak: a GRIB reader with a flat codes_* API and NumPy arrays."""
from vorlak import _vorlak
from vorlak._vorlak import *  # noqa: F401,F403

__all__ = list(_vorlak.__all__)
__version__ = _vorlak.__version__
