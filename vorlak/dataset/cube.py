"""Grouping messages into variables, each a hypercube over ensemble member
(when the messages have one), reference time, forecast step and level on
one grid.

A variable is one parameter (paramId, else shortName) of one product (its
statistics, probability limits, percentile, ...) on one level type and one
grid; the same parameter on two grids becomes two variables. Cells
without a message stay empty (NaN when read). Two messages that fall into
the same cell cannot both be shown: the dataset is refused, naming the keys
in which they differ so that filter_by_keys can pick one set."""
from __future__ import annotations

from dataclasses import dataclass, field

import numpy as np

from vorlak import _vorlak as codes
from vorlak.dataset.scan import MessageInfo


class DatasetBuildError(ValueError):
    """The messages do not form a dataset; the text says which keys clash."""


@dataclass
class Cube:
    key: tuple
    messages: list[MessageInfo] = field(default_factory=list)
    members: np.ndarray | None = None  # ensemble members; None when the messages have none
    times: np.ndarray | None = None
    steps: np.ndarray | None = None
    levels: np.ndarray | None = None
    table: np.ndarray | None = None  # message offsets by ([member,] time, step, level); -1 empty

    @property
    def first(self) -> MessageInfo:
        return self.messages[0]


def variable_key(m: MessageInfo) -> tuple:
    return (m.param if m.param is not None else m.short_name, m.level_type, m.grid, m.product)


def group(messages: list[MessageInfo]) -> list[Cube]:
    """Cubes in the order of their first message."""
    cubes: dict[tuple, Cube] = {}
    for m in messages:
        key = variable_key(m)
        cube = cubes.get(key)
        if cube is None:
            cube = cubes[key] = Cube(key)
        cube.messages.append(m)
    return list(cubes.values())


def fill(cube: Cube, path: str) -> None:
    """Sorted coordinate values and the table of offsets."""
    ms = cube.messages
    times = np.array([m.time for m in ms], dtype="datetime64[ns]")
    steps = np.array([m.step for m in ms], dtype="timedelta64[ns]")
    levels = np.array([m.level for m in ms], dtype=np.float64)
    cube.times, ti = np.unique(times, return_inverse=True)
    cube.steps, si = np.unique(steps, return_inverse=True)
    cube.levels, li = np.unique(levels, return_inverse=True)
    shape = (cube.times.size, cube.steps.size, cube.levels.size)
    cells = [(ti[k], si[k], li[k]) for k in range(len(ms))]
    if any(m.member is not None for m in ms):
        members = np.array([-1 if m.member is None else int(m.member) for m in ms], dtype=np.int64)
        cube.members, ni = np.unique(members, return_inverse=True)
        shape = (cube.members.size,) + shape
        cells = [(ni[k],) + cell for k, cell in enumerate(cells)]
    table = np.full(shape, -1, dtype=np.int64)
    owner = np.full(table.shape, -1, dtype=np.int64)
    for k, m in enumerate(ms):
        cell = cells[k]
        if owner[cell] >= 0:
            raise DatasetBuildError(_duplicate_text(ms[owner[cell]], m, ms, path))
        owner[cell] = k
        table[cell] = m.offset
    cube.table = table


# Keys that say where a message sits in its file, not what it holds.
_POSITION_KEYS = {"offset", "totalLength", "messageNumber"}
# Keys answered from the decoded values; comparing them would decode.
_DECODED_KEYS = {"values", "numberOfMissing", "latitudes", "longitudes", "distinctLatitudes",
                 "distinctLongitudes", "iDirectionIncrementInDegrees", "jDirectionIncrementInDegrees",
                 "latitudeOfFirstGridPointInDegrees", "latitudeOfLastGridPointInDegrees",
                 "longitudeOfFirstGridPointInDegrees", "longitudeOfLastGridPointInDegrees"}


def _key_texts(handle) -> dict[str, str]:
    it = codes.codes_keys_iterator_new(handle)
    out = {}
    while codes.codes_keys_iterator_next(it):
        name = codes.codes_keys_iterator_get_name(it)
        if name in _POSITION_KEYS or name in _DECODED_KEYS:
            continue
        try:
            out[name] = codes.codes_get_string(handle, name)
        except codes.CodesInternalError:
            pass
    return out


# Keys that follow from time, step and level, which the cube already spans.
_COORDINATE_KEYS = {"dataDate", "dataTime", "validityDate", "validityTime", "forecastTime", "endStep",
                    "startStep", "stepRange", "level", "dataType", "number", "perturbationNumber"}


def differing_keys(a, b) -> dict[str, tuple[str | None, str | None]]:
    ka, kb = _key_texts(a), _key_texts(b)
    return {k: (ka.get(k), kb.get(k)) for k in sorted(set(ka) | set(kb)) if ka.get(k) != kb.get(k)}


def varying_keys(handles) -> dict[str, list[str]]:
    """Keys, apart from time, step and level, whose text is not the same in
    all of ``handles``, with their distinct texts in order of appearance."""
    texts = [_key_texts(h) for h in handles]
    names = sorted({k for t in texts for k in t} - _COORDINATE_KEYS)
    out = {}
    for k in names:
        seen = list(dict.fromkeys(t.get(k) for t in texts))
        if len(seen) > 1:
            out[k] = ["-" if x is None else x for x in seen]
    return out


def _cell_text(m: MessageInfo) -> str:
    step_h = m.step / np.timedelta64(1, "h") if not np.isnat(m.step) else float("nan")
    member = f"number {m.member}, " if m.member is not None else ""
    return (f"{member}time {np.datetime_as_string(m.time, unit='m')}, step {step_h:g} h, "
            f"{m.level_type} {m.level:g}")


def _literal(text: str) -> str:
    try:
        return repr(int(text))
    except ValueError:
        return repr(text)


def _duplicate_text(a: MessageInfo, b: MessageInfo, cube_messages: list[MessageInfo], path: str) -> str:
    what = (f"cannot put every {a.short_name} message of {path} on one grid of time, step and "
            f"{a.level_type}: messages {a.number} and {b.number} are both at {_cell_text(a)}")
    diff = {k: v for k, v in differing_keys(a.handle, b.handle).items() if k not in _COORDINATE_KEYS}
    if diff:
        shown = ", ".join(f"{k} ({va} / {vb})" for k, (va, vb) in list(diff.items())[:6])
        key, (va, vb) = next(iter(diff.items()))
        return (f"{what} and differ in {shown}. Open one set at a time, "
                f"e.g. filter_by_keys={{{key!r}: {_literal(va if va is not None else vb)}}}")
    varying = varying_keys([m.handle for m in cube_messages])
    if varying:
        shown = ", ".join(f"{k} ({', '.join(vs[:5])})" for k, vs in list(varying.items())[:6])
        key, values = next(iter(varying.items()))
        return (f"{what}, and no key tells those two apart. Across the {a.short_name} messages "
                f"{shown} vary; filter_by_keys={{{key!r}: {_literal(values[0])}}} opens one set, "
                f"which may still hold such pairs")
    return (f"{what}, and no key tells them apart: the file may hold the same field twice, or "
            f"fields (ensemble members, say) that differ only in ways these keys do not show")
