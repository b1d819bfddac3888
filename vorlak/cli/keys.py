"""Reading keys for display: absent keys give None instead of an error."""
from __future__ import annotations

from typing import Any


def native(field, key: str) -> Any:
    """The key's value in its own type (int, float, str), or None."""
    return field.get(key)


def grid_shape_text(field) -> str | None:
    """Points along a row times rows, as 1440x721."""
    nx, ny = field.get("Nx"), field.get("Ny")
    if nx is None or ny is None:
        return None
    return f"{nx}x{ny}"
