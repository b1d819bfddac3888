"""The bytes that place each field of a message: its grid definition, what
kind of product it is, and where its data end.

The grid definition bytes are edition 2's section 3 in effect for the field
(everything after the section length and number) or edition 1's grid
description section; an edition 1 message without one names a catalogued
grid (octet 7 of the product definition, with the centre in octet 5). They
are a quick first identity of a grid: equal bytes are one grid. (Unequal
bytes may still describe one grid; ``grid.grid_identity`` decides that
from the keys, once per distinct bytes.)

A field's data end with its section 7: the bytes from the start of its
message to there hold everything the field needs (the bitmap it reuses
from an earlier field included), which is the byte range a reference to
one field names."""
from __future__ import annotations

import struct

_LENGTH_AND_NUMBER = struct.Struct(">IB")
LAYER = -1  # the product code of a template 4.0 layer
_END_MARKER = 0x37373737  # "7777" read as a section length

# Octet of the resolution and component flags in the grid templates that
# have them: bit 0x08 says whether vector components are relative to the
# grid or to east and north, which tells wind fields apart from others on
# the very same grid.
_COMPONENT_FLAGS_OCTET = {0: 55, 1: 55, 2: 55, 3: 55, 4: 47, 5: 47, 10: 47, 12: 47, 13: 47, 20: 47, 23: 47,
                          30: 47, 31: 47, 33: 47, 40: 55, 41: 55, 42: 55, 43: 55, 62: 97, 90: 47, 110: 47,
                          140: 55, 150: 31}
_GRIB1_COMPONENT_FLAGS_OCTET = 17
_GRIB1_FLAGGED_TYPES = (0, 1, 3, 4, 5, 10)  # latitude/longitude, Mercator, Lambert, Gaussian, polar, rotated


class FieldFacts:
    __slots__ = ("grid", "product", "end", "packing")

    def __init__(self, grid: bytes | None, product: int | None, end: int, packing=None):
        self.grid = grid        # grid definition bytes (None: not found)
        self.product = product  # template number (LAYER for a 4.0 layer) or GRIB1 time range indicator
        self.end = end          # end of the field's section 7, counted from the message start
        self.packing = packing  # edition 1: (flags of the binary data section, bits per value)


def _masked(body, octet: int | None, first: int) -> bytes:
    # ``body`` starts at octet ``first`` of its section.
    at = None if octet is None else octet - first
    if at is None or at >= len(body) or not body[at] & 0x08:
        return bytes(body)
    out = bytearray(body)
    out[at] &= ~0x08
    return bytes(out)


def _grib2(buf, start: int, end: int) -> list[FieldFacts]:
    # Section 0 is 16 octets; then each section starts with its 4-octet
    # length and 1-octet number, until the end marker "7777". A message
    # with several fields repeats sections 3 to 7 or 4 to 7; a field is
    # complete with its section 7.
    unpack = _LENGTH_AND_NUMBER.unpack_from
    pos = start + 16
    grid = None
    product = None
    out = []
    while pos + 5 <= end:
        length, number = unpack(buf, pos)
        if length == _END_MARKER or length < 5 or pos + length > end:
            break
        if number == 3:
            body = buf[pos + 5:pos + length]
            template = (body[7] << 8) | body[8] if len(body) >= 9 else None
            grid = b"\x02" + _masked(body, _COMPONENT_FLAGS_OCTET.get(template), 6)
        elif number == 4 and length >= 9:
            product = (buf[pos + 7] << 8) | buf[pos + 8]
            # Template 4.0 between two surfaces (octet 29 the second's type):
            # a layer, told apart like other products.
            if product == 0 and length >= 29 and buf[pos + 28] != 255:
                product = LAYER
        elif number == 7:
            out.append(FieldFacts(grid, product, pos + length - start))
        pos += length
    return out


def _u24(buf, pos: int) -> int:
    return (buf[pos] << 16) | (buf[pos + 1] << 8) | buf[pos + 2]


def _grib1(buf, start: int, end: int) -> list[FieldFacts]:
    # Section 0 is 8 octets; the product definition section follows with
    # its 3-octet length; its octet 8 says whether a grid description
    # (0x80) and a bitmap (0x40) follow; its octet 21 is the time range
    # indicator. Then the binary data section: octet 4 its flags (high
    # nibble), octet 11 the bits per value.
    pds = start + 8
    whole = end - start
    if pds + 8 > end:
        return [FieldFacts(None, None, whole)]
    pds_len = _u24(buf, pds)
    if pds_len < 8 or pds + pds_len > end:
        return [FieldFacts(None, None, whole)]
    indicator = buf[pds + 20] if pds_len >= 21 else None
    flags = buf[pds + 7]
    pos = pds + pds_len
    grid = None
    if not flags & 0x80:
        grid = b"\x01catalogued:" + bytes([buf[pds + 4], buf[pds + 6]])
    elif pos + 3 <= end and 3 <= (gds_len := _u24(buf, pos)) and pos + gds_len <= end:
        body = buf[pos + 3:pos + gds_len]
        # Octet 6: the data representation type.
        mask = _GRIB1_COMPONENT_FLAGS_OCTET if len(body) > 2 and body[2] in _GRIB1_FLAGGED_TYPES else None
        grid = b"\x01" + _masked(body, mask, 4)
        pos += gds_len
    else:
        return [FieldFacts(None, indicator, whole)]
    if flags & 0x40:
        if pos + 3 > end or (bms_len := _u24(buf, pos)) < 3:
            return [FieldFacts(grid, indicator, whole)]
        pos += bms_len
    packing = (buf[pos + 3] >> 4, buf[pos + 10]) if pos + 11 <= end else None
    return [FieldFacts(grid, indicator, whole, packing)]


def message_fields(buf, offset: int, length: int) -> list[FieldFacts]:
    """The facts of every complete field of the message at ``offset`` (a
    message cut short gives the fields complete before the cut)."""
    end = min(offset + length, len(buf))
    if offset + 8 > end:
        return []
    # Octet 8 of section 0 holds the edition number in both editions.
    edition = buf[offset + 7]
    if edition == 2:
        return _grib2(buf, offset, end)
    if edition == 1:
        return _grib1(buf, offset, end)
    return []


def stated_length(buf, offset: int) -> int | None:
    """The total length section 0 of the message at ``offset`` states."""
    if offset + 16 > len(buf):
        return None
    edition = buf[offset + 7]
    if edition == 2:
        return int.from_bytes(bytes(buf[offset + 8:offset + 16]), "big")
    if edition == 1:
        return _u24(buf, offset + 4)
    return None


def whole_message(data: bytes) -> bytes:
    """A message from the bytes of an edition 2 message up to the end of one
    of its fields (a reference to that field names just those bytes): the
    end marker added and the total length set, so that the field is the
    last of a complete message. Whole messages come back unchanged."""
    if len(data) < 16 or data[:4] != b"GRIB" or data[7] != 2 or data.endswith(b"7777"):
        return data
    total = len(data) + 4
    return b"".join((data[:8], total.to_bytes(8, "big"), data[16:], b"7777"))
