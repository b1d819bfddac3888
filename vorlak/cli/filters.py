"""Key filters given as ``-w key=value,key=value``.

A message matches when every listed key is defined and its text form (what
``codes_get_string`` returns: ``level`` 500.0 reads as 500) equals the value
given."""
from __future__ import annotations

import argparse

from vorlak import _vorlak as codes

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


def matches(handle, conditions: list[Condition]) -> bool:
    for key, wanted in conditions:
        try:
            if codes.codes_get_string(handle, key) != wanted:
                return False
        except codes.CodesInternalError:
            return False
    return True
