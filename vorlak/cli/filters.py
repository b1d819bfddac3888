"""Key filters given as ``-w key=value,key=value``.

A field matches when every listed key is defined and its text form (as
the codes API writes it: ``level`` 500.0 reads as 500) equals the value
given. Keys are read without decoding, so the decoded arrays (``values``,
``latitudes``, ...) never match."""
from __future__ import annotations

import argparse

Condition = tuple[str, str]


def parse_where(text: str) -> list[Condition]:
    """argparse type for one ``-w`` option."""
    conditions = []
    for part in text.split(","):
        key, sep, value = part.partition("=")
        key = key.strip()
        if not sep or not key:
            raise argparse.ArgumentTypeError(
                f"expected key=value[,key=value...], got {text!r}")
        conditions.append((key, value.strip()))
    return conditions


def flatten(groups: list[list[Condition]] | None) -> list[Condition]:
    return [c for group in groups or [] for c in group]


def matches(field, conditions: list[Condition]) -> bool:
    return all(field._text(key) == wanted for key, wanted in conditions)
