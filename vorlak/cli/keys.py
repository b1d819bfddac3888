"""Reading keys for display: absent keys give None instead of an error."""
from __future__ import annotations

from typing import Any

from vorlak import _vorlak as codes


def native(handle, key: str) -> Any:
    """The key's value in its own type (int, float, str), or None."""
    try:
        if not codes.codes_is_defined(handle, key):
            return None
        return codes.codes_get(handle, key)
    except codes.CodesInternalError:
        return None


def text(handle, key: str) -> str | None:
    try:
        return codes.codes_get_string(handle, key)
    except codes.CodesInternalError:
        return None


def grid_shape_text(handle) -> str | None:
    """Points along a row times rows, as 1440x721."""
    nx, ny = native(handle, "Nx"), native(handle, "Ny")
    if nx is None or ny is None:
        return None
    return f"{nx}x{ny}"
