"""Walking the messages of a file for the commands, with file problems
turned into one-line errors."""
from __future__ import annotations

from dataclasses import dataclass
from typing import Iterator

from vorlak import _vorlak as codes

from vorlak.cli.filters import Condition, matches


class FileProblem(Exception):
    """A file that cannot be read at all; the text names the file."""


@dataclass
class Selection:
    conditions: list[Condition]
    message: int | None = None  # 1-based message number, or every message


def _open(path: str):
    try:
        return open(path, "rb")
    except OSError as e:
        raise FileProblem(f"{path}: {e.strerror or e}") from None


def messages(path: str, selection: Selection) -> Iterator[tuple[int, object]]:
    """(message number, handle) of each selected message, in file order."""
    seen = 0
    with _open(path) as f:
        while True:
            try:
                handle = codes.codes_grib_new_from_file(f)
            except codes.CodesInternalError as e:
                raise FileProblem(f"{path}: {e}") from None
            if handle is None:
                break
            seen += 1
            if selection.message is not None and seen != selection.message:
                continue
            if matches(handle, selection.conditions):
                yield seen, handle
            if selection.message is not None:
                return
    if selection.message is not None:
        raise FileProblem(f"{path}: there is no message {selection.message} "
                          f"(the file holds {seen})")
