"""The bytes that define a message's grid, used to tell grids apart.

Two messages are on the same grid exactly when their grid definitions are
byte for byte the same: edition 2 section 3 (everything after the section
length and number), edition 1 the grid description section, or, for an
edition 1 message without one, the catalogued grid number of the product
definition (octet 7) with the centre (octet 5)."""
from __future__ import annotations

import struct


_LENGTH_AND_NUMBER = struct.Struct(">IB")
LAYER = -1  # message_facts' product code of a template 4.0 layer
_END_MARKER = 0x37373737  # "7777" read as a section length


def _grib2(buf, start: int, end: int) -> tuple[bytes | None, int | None]:
    # Section 0 is 16 octets; then each section starts with its 4-octet
    # length and 1-octet number, until the end marker "7777". A message
    # with several fields is described by its last section 3, and its last
    # section 4 (template number in octets 8-9).
    unpack = _LENGTH_AND_NUMBER.unpack_from
    pos = start + 16
    found = None
    product = None
    while pos + 5 <= end:
        length, number = unpack(buf, pos)
        if length == _END_MARKER:
            break
        if length < 5 or pos + length > end:
            return None, None
        if number == 3:
            found = buf[pos + 5:pos + length]
        elif number == 4 and length >= 9:
            product = (buf[pos + 7] << 8) | buf[pos + 8]
            # Template 4.0 between two surfaces (octet 29 the second's type):
            # a layer, told apart like other products.
            if product == 0 and length >= 29 and buf[pos + 28] != 255:
                product = LAYER
        pos += length
    return (None if found is None else bytes(found)), product


def _u24(buf, pos: int) -> int:
    return (buf[pos] << 16) | (buf[pos + 1] << 8) | buf[pos + 2]


def _grib1(buf, start: int, end: int) -> tuple[bytes | None, int | None]:
    # Section 0 is 8 octets; the product definition section follows with
    # its 3-octet length; octet 8 bit 0x80 says a grid description follows;
    # octet 21 is the time range indicator.
    pds = start + 8
    if pds + 8 > end:
        return None, None
    pds_len = _u24(buf, pds)
    if pds_len < 8 or pds + pds_len > end:
        return None, None
    indicator = buf[pds + 20] if pds_len >= 21 else None
    if not buf[pds + 7] & 0x80:
        return b"catalogued:" + bytes([buf[pds + 4], buf[pds + 6]]), indicator
    gds = pds + pds_len
    if gds + 3 > end:
        return None, indicator
    gds_len = _u24(buf, gds)
    if gds_len < 3 or gds + gds_len > end:
        return None, indicator
    return bytes(buf[gds + 3:gds + gds_len]), indicator


def message_facts(buf, offset: int, length: int, edition: int) -> tuple[bytes | None, int | None]:
    """The grid definition bytes of the message at ``offset`` (None when they
    cannot be found within its ``length`` bytes), and what says whether it
    is a plain analysis or forecast: the product definition template number
    (edition 2; LAYER for a template 4.0 layer) or the time range indicator
    (edition 1); None if unknown."""
    end = min(offset + length, len(buf))
    if edition == 2:
        sig, product = _grib2(buf, offset, end)
    elif edition == 1:
        sig, product = _grib1(buf, offset, end)
    else:
        return None, None
    return (None if sig is None else bytes([edition]) + sig), product


def grid_signature(buf, offset: int, length: int, edition: int) -> bytes | None:
    """The grid definition bytes of the message at ``offset``, or None."""
    return message_facts(buf, offset, length, edition)[0]
