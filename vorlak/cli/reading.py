"""Walking the fields of a file for the commands, with file problems
turned into one-line errors.

Fields are numbered by their message (1 is the first message of the file);
a message that carries several fields numbers them message.field (``3.2``
is the second field of message 3)."""
from __future__ import annotations

from dataclasses import dataclass
from typing import Iterator

import vorlak
from vorlak import _vorlak as codes
from vorlak.cli.filters import Condition, matches
from vorlak.fields import _label as label


class FileProblem(Exception):
    """A file that cannot be read at all; the text names the file."""


@dataclass(frozen=True)
class FieldNumber:
    """A message number, and optionally a field of that message (1-based)."""
    message: int
    field: int | None = None

    def __str__(self) -> str:
        return f"{self.message}" if self.field is None else f"{self.message}.{self.field}"


@dataclass
class Selection:
    conditions: list[Condition]
    number: FieldNumber | None = None  # every field when None


def number_record(field) -> dict:
    """The field's number for JSON output: {"number": message} and, when the
    message holds several fields, "field": k."""
    rec = {"number": field.message_number}
    if field._fields_in_message > 1:
        rec["field"] = field.index_in_message + 1
    return rec


def _open(path: str):
    try:
        return vorlak.open(path)
    except OSError as e:
        raise FileProblem(f"{path}: {e.strerror or e}") from None
    except codes.CodesInternalError as e:
        raise FileProblem(f"{path}: {e}") from None


def _wanted(field, number: FieldNumber | None) -> bool:
    if number is None:
        return True
    if field.message_number != number.message:
        return False
    return number.field is None or field.index_in_message + 1 == number.field


def fields(path: str, selection: Selection) -> Iterator[tuple[str, object]]:
    """(number text, field) of each selected field, in file order."""
    number = selection.number
    with _open(path) as grib:
        found = 0
        for field in grib:
            if not _wanted(field, number):
                continue
            found += 1
            if matches(field, selection.conditions):
                yield label(field), field
        if number is None or found:
            return
        messages = grib[-1].message_number
        if number.field is None or number.message > messages:
            raise FileProblem(f"{path}: there is no message {number.message} (the file holds {messages})")
        held = sum(1 for f in grib if f.message_number == number.message)
        raise FileProblem(f"{path}: there is no field {number} (message {number.message} holds {held})")
