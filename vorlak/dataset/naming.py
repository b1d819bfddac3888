"""Names of dimensions, coordinates and variables within one dataset.

A name means one thing: when two variables need different values under the
same name (isobaricInhPa with 13 levels for one, 31 for another;
heightAboveGround 2 m for one, 10 m for another), the later one gets a
numbered name (isobaricInhPa_1, heightAboveGround_1)."""
from __future__ import annotations

import numpy as np


def identity(values) -> tuple:
    """What a coordinate holds, comparable and hashable."""
    if values is None:
        return ()
    a = np.asarray(values)
    if a.dtype.kind == "O":
        return ("O", a.shape, tuple(map(str, a.ravel().tolist())))
    return (a.dtype.str, a.shape, a.tobytes())


class Names:
    def __init__(self):
        self._taken: dict[str, object] = {}

    def claim(self, base: str, ident: object) -> str:
        """``base`` if it is free or already holds ``ident``, else the first
        of base_1, base_2, ... that is."""
        candidate, k = base, 0
        while candidate in self._taken and self._taken[candidate] != ident:
            k += 1
            candidate = f"{base}_{k}"
        self._taken[candidate] = ident
        return candidate

    def __contains__(self, name: str) -> bool:
        return name in self._taken
