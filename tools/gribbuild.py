"""Exact GRIB messages built byte by byte, for tests and sample files.

Standard library only. Every function returns ``bytes``; sections are built
by their own functions and joined by ``grib2_message`` / ``grib1_message``, so
a test can replace, truncate, repeat or corrupt any section it likes.

GRIB2::

    msg = grib2_message(discipline=0, sections=[
        section1(year=2024, month=5, day=1, hour=12),
        section3_latlon(ni=4, nj=3, la1=60, lo1=0, la2=58, lo2=3, di=1, dj=1),
        *field_simple(values, bits=12, category=0, number=0, level_type=100, level=850),
    ])

GRIB1::

    msg = grib1_message(pds(parameter=130, level_type=100, level=850, has_gds=True),
                        gds_latlon(ni=4, nj=3, la1=60, lo1=0, la2=58, lo2=3, di=1, dj=1),
                        None, bds_simple(values, bits=12))

Angles are in degrees; they are stored in millionths (GRIB2) or thousandths
(GRIB1) of a degree, sign-magnitude, rounded to the nearest unit.
"""

from __future__ import annotations

import math
import struct
from typing import Iterable, Optional, Sequence

# ---------------------------------------------------------------- numbers


def u8(v: int) -> bytes:
    return struct.pack(">B", v & 0xFF)


def u16(v: int) -> bytes:
    return struct.pack(">H", v & 0xFFFF)


def u24(v: int) -> bytes:
    return struct.pack(">I", v & 0xFFFFFF)[1:]


def u32(v: int) -> bytes:
    return struct.pack(">I", v & 0xFFFFFFFF)


def u64(v: int) -> bytes:
    return struct.pack(">Q", v & 0xFFFFFFFFFFFFFFFF)


def sm(v: int, octets: int) -> bytes:
    """Sign-magnitude integer: sign in the top bit, magnitude in the rest."""
    bits = octets * 8
    mag = abs(int(v))
    if mag >= 1 << (bits - 1):
        raise ValueError(f"{v} does not fit {octets} sign-magnitude octets")
    raw = mag | ((1 << (bits - 1)) if v < 0 else 0)
    return raw.to_bytes(octets, "big")


def ieee32(v: float) -> bytes:
    return struct.pack(">f", v)


def ieee32_bits(v: float) -> int:
    return struct.unpack(">I", struct.pack(">f", v))[0]


def ibm_encode(x: float, round_down: bool = True) -> bytes:
    """IBM single precision: sign bit, 7-bit base-16 exponent biased by 64,
    24-bit mantissa. With round_down the result is never above ``x`` (a
    reference value must not exceed the field minimum)."""
    if x == 0:
        return b"\0\0\0\0"
    sign = 0x80 if x < 0 else 0
    a = abs(x)
    exp = 64
    while a >= 1.0:
        a /= 16.0
        exp += 1
    while a < 1.0 / 16.0:
        a *= 16.0
        exp -= 1
    if not 0 <= exp <= 127:
        raise ValueError(f"{x} is outside the IBM float range")
    scaled = a * (1 << 24)
    # Rounding towards minus infinity: truncate the magnitude of a positive
    # number, round up the magnitude of a negative one.
    if round_down:
        mant = math.floor(scaled) if sign == 0 else math.ceil(scaled)
    else:
        mant = round(scaled)
    if mant >= 1 << 24:
        mant >>= 4
        exp += 1
    return bytes([sign | exp]) + mant.to_bytes(3, "big")


def ibm_decode(raw: bytes) -> float:
    sign = -1.0 if raw[0] & 0x80 else 1.0
    exp = (raw[0] & 0x7F) - 64
    mant = int.from_bytes(raw[1:4], "big")
    return sign * mant * 16.0 ** exp / (1 << 24)


def pack_bits(ints: Iterable[int], bits: int) -> bytes:
    """Unsigned integers of `bits` bits each, most significant bit first,
    the last octet padded with zero bits."""
    acc = 0
    n = 0
    out = bytearray()
    for v in ints:
        if v < 0 or (bits < 64 and v >> bits):
            raise ValueError(f"{v} does not fit {bits} bits")
        acc = (acc << bits) | v
        n += bits
        while n >= 8:
            n -= 8
            out.append((acc >> n) & 0xFF)
        acc &= (1 << n) - 1
    if n:
        out.append((acc << (8 - n)) & 0xFF)
    return bytes(out)


def pack_bitmap(present: Sequence[bool]) -> bytes:
    return pack_bits((1 if p else 0 for p in present), 1)


# --------------------------------------------------------- simple packing


class Packed:
    """The result of simple packing: Y = (R + X * 2^E) / 10^D."""

    def __init__(self, reference: float, E: int, D: int, bits: int, data: bytes, count: int):
        self.reference = reference
        self.E = E
        self.D = D
        self.bits = bits
        self.data = data
        self.count = count

    def decoded(self, ints: Sequence[int]) -> list:
        return [(self.reference + x * 2.0 ** self.E) / 10.0 ** self.D for x in ints]


def _float32_at_most(x: float) -> float:
    r = struct.unpack(">f", struct.pack(">f", x))[0]
    if r > x:
        bits = ieee32_bits(r)
        bits = bits - 1 if r > 0 else bits + 1
        if r == 0:
            bits = 0x80000001
        r = struct.unpack(">f", struct.pack(">I", bits))[0]
    return r


def simple_pack(values: Sequence[float], bits: int, D: int = 0, E: Optional[int] = None,
                reference: Optional[float] = None, ibm: bool = False) -> Packed:
    """Packs present values (no NaN) with `bits` bits each. The reference is
    the minimum of the scaled values, representable as IEEE float32 (GRIB2)
    or IBM float (GRIB1); E is chosen so the range fits unless given."""
    scaled = [v * 10.0 ** D for v in values]
    if reference is None:
        lo = min(scaled) if scaled else 0.0
        reference = ibm_decode(ibm_encode(lo)) if ibm else _float32_at_most(lo)
    if bits == 0:
        return Packed(reference, E or 0, D, 0, b"", len(values))
    if E is None:
        span = (max(scaled) - reference) if scaled else 0.0
        E = 0
        top = (1 << bits) - 1
        if span > 0:
            E = math.ceil(math.log2(span / top))
            while span / 2.0 ** E > top:
                E += 1
    ints = []
    top = (1 << bits) - 1
    for s in scaled:
        x = round((s - reference) / 2.0 ** E)
        ints.append(min(max(x, 0), top))
    return Packed(reference, E, D, bits, pack_bits(ints, bits), len(values))


# ---------------------------------------------------------------- GRIB2


def section(number: int, body: bytes, length: Optional[int] = None) -> bytes:
    """Any GRIB2 section: 4-octet length, section number, body. `length`
    overrides the stored length (for malformed sections)."""
    n = len(body) + 5 if length is None else length
    return u32(n) + u8(number) + body


def grib2_message(sections: Sequence[bytes], discipline: int = 0, total_length: Optional[int] = None,
                  end: bytes = b"7777") -> bytes:
    """Section 0, the given sections in order, the end marker."""
    body = b"".join(sections)
    n = 16 + len(body) + len(end) if total_length is None else total_length
    return b"GRIB" + b"\0\0" + u8(discipline) + u8(2) + u64(n) + body + end


def section1(centre: int = 98, subcentre: int = 0, master: int = 2, local: int = 0, significance: int = 1,
             year: int = 2024, month: int = 1, day: int = 1, hour: int = 0, minute: int = 0,
             second: int = 0, status: int = 0, data_type: int = 1) -> bytes:
    """Identification section (21 octets)."""
    body = (u16(centre) + u16(subcentre) + u8(master) + u8(local) + u8(significance) + u16(year) +
            u8(month) + u8(day) + u8(hour) + u8(minute) + u8(second) + u8(status) + u8(data_type))
    return section(1, body)


def section2(payload: bytes = b"") -> bytes:
    return section(2, payload)


def _earth(shape: int = 6) -> bytes:
    # Octets 15-30: shape of the earth and its (unused) radius and axes.
    return u8(shape) + u8(0) + u32(0) + u8(0) + u32(0) + u8(0) + u32(0)


def section3(template: int, template_body: bytes, points: int) -> bytes:
    """Grid definition section: octets 6-14 then the template from octet 15."""
    head = u8(0) + u32(points) + u8(0) + u8(0) + u16(template)
    return section(3, head + template_body)


def _micro(deg: float, unit: float = 1e6) -> int:
    return int(round(deg * unit))


def section3_latlon(ni: int, nj: int, la1: float, lo1: float, la2: float, lo2: float, di: float, dj: float,
                    scan: int = 0, basic_angle: int = 0, subdivisions: int = 0, gaussian_n: Optional[int] = None,
                    flags: int = 0x30) -> bytes:
    """Template 3.0 (latitude/longitude), or 3.40 (Gaussian) when gaussian_n
    is given (octets 68-71 then hold N instead of Dj). 72 octets."""
    unit = 1e6 if not (basic_angle and subdivisions) else subdivisions / basic_angle
    body = (_earth() + u32(ni) + u32(nj) + u32(basic_angle) + u32(subdivisions) +
            sm(_micro(la1, unit), 4) + sm(_micro(lo1, unit), 4) + u8(flags) +
            sm(_micro(la2, unit), 4) + sm(_micro(lo2, unit), 4) + u32(_micro(di, unit)) +
            (u32(gaussian_n) if gaussian_n is not None else u32(_micro(dj, unit))) + u8(scan))
    return section3(40 if gaussian_n is not None else 0, body, ni * nj)


def section3_gaussian(ni: int, nj: int, n: int, la1: float, lo1: float, la2: float, lo2: float, di: float,
                      scan: int = 0) -> bytes:
    return section3_latlon(ni, nj, la1, lo1, la2, lo2, di, 0, scan=scan, gaussian_n=n)


def section3_lambert(nx: int, ny: int, la1: float, lo1: float, dx_m: float, dy_m: float, lad: float = 25.0,
                     lov: float = 265.0, latin1: float = 25.0, latin2: float = 25.0, scan: int = 0x40) -> bytes:
    """Template 3.30 (Lambert conformal), 81 octets; Dx, Dy in metres."""
    body = (_earth() + u32(nx) + u32(ny) + sm(_micro(la1), 4) + sm(_micro(lo1), 4) + u8(0x08) +
            sm(_micro(lad), 4) + sm(_micro(lov), 4) + u32(int(round(dx_m * 1000))) +
            u32(int(round(dy_m * 1000))) + u8(0) + u8(scan) + sm(_micro(latin1), 4) + sm(_micro(latin2), 4) +
            sm(-90000000, 4) + u32(0))
    return section3(30, body, nx * ny)


def section3_polar(nx: int, ny: int, scan: int = 0x40) -> bytes:
    """Template 3.20 (polar stereographic), 65 octets."""
    body = (_earth() + u32(nx) + u32(ny) + sm(_micro(40.0), 4) + sm(_micro(200.0), 4) + u8(0x08) +
            sm(_micro(60.0), 4) + sm(_micro(210.0), 4) + u32(5000000) + u32(5000000) + u8(0) + u8(scan))
    return section3(20, body, nx * ny)


def section3_mercator(ni: int, nj: int, scan: int = 0x40) -> bytes:
    """Template 3.10 (Mercator), 72 octets."""
    body = (_earth() + u32(ni) + u32(nj) + sm(_micro(18.0), 4) + sm(_micro(198.0), 4) + u8(0x30) +
            sm(_micro(20.0), 4) + sm(_micro(23.0), 4) + sm(_micro(206.0), 4) + u8(scan) + u32(0) +
            u32(2500000) + u32(2500000))
    return section3(10, body, ni * nj)


def section4(category: int = 0, number: int = 0, level_type: int = 100, level: int = 850, level_scale: int = 0,
             forecast_time: int = 0, time_unit: int = 1, process: int = 96, template: int = 0,
             extra: bytes = b"") -> bytes:
    """Product definition, template 4.0 layout (34 octets): octet 24 is the
    level scale factor as a signed octet, octets 25-28 the scaled level."""
    body = (u16(0) + u16(template) + u8(category) + u8(number) + u8(2) + u8(0) + u8(process) + u16(0) +
            u8(0) + u8(time_unit) + u32(forecast_time) + u8(level_type) + u8(level_scale & 0xFF) +
            u32(level) + u8(255) + u8(0) + u32(0) + extra)
    return section(4, body)


MISSING = object()  # a field value: all ones
_LAYOUTS = None


def _template_layout(section_number: int, template: int):
    # The description next to this file (generated by tools/gen_templates.py).
    import importlib.util
    import os
    global _LAYOUTS
    if _LAYOUTS is None:
        path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "template_layouts.py")
        found = importlib.util.spec_from_file_location("template_layouts", path)
        module = importlib.util.module_from_spec(found)
        found.loader.exec_module(module)
        _LAYOUTS = (module.FIELDS, module.LAYOUTS)
    FIELDS, LAYOUTS = _LAYOUTS
    try:
        indices, groups = LAYOUTS[(section_number, template)]
    except KeyError:
        raise ValueError(f"template {section_number}.{template} is not described") from None
    return [FIELDS[i] for i in indices], groups


def _encode(value, width: int, sign: str) -> int:
    bits = 8 * width
    mask = (1 << bits) - 1
    if value is MISSING:
        return mask
    value = int(value)
    if sign in ("S", "F"):  # sign-magnitude (one-octet scale factors too)
        if abs(value) >> (bits - 1):
            raise ValueError(f"{value} does not fit {width} sign-magnitude octets")
        return abs(value) | ((1 << (bits - 1)) if value < 0 else 0)
    if sign == "T":
        return value & mask
    if value < 0 or value > mask:
        raise ValueError(f"{value} does not fit {width} octets")
    return value


def template_section(section_number: int, template: int, values: Optional[dict] = None,
                     length: Optional[int] = None) -> bytes:
    """A section 3, 4 or 5 of any described template (tools/template_layouts.py,
    generated from the WMO tables like the reader's own description), from
    key values. Fields not named are 0; MISSING writes all ones. An entry
    field of a repeated group takes a list, one value per entry; the group's
    count field, when not named, is set to the number of entries. The
    template number (and section 3's points-per-row entry width, 2) are
    filled in. `length` overrides octets 1-4 and cuts or pads the bytes."""
    fields, groups = _template_layout(section_number, template)
    values = dict(values or {})
    keys = [f[0] for f in fields]
    unknown = set(values) - set(keys)
    if unknown:
        raise ValueError(f"template {section_number}.{template} has no key {sorted(unknown)[0]}")
    number_key = {3: "gridDefinitionTemplateNumber", 4: "productDefinitionTemplateNumber",
                  5: "dataRepresentationTemplateNumber"}[section_number]
    values.setdefault(number_key, template)

    def as_list(v):
        return list(v) if isinstance(v, (list, tuple)) else [v]

    counts, strides = [], []
    for g, (count_field, width_field, _octet, stride) in enumerate(groups):
        given = max([len(as_list(values[f[0]])) for f in fields if f[4] == g + 1 and f[0] in values], default=0)
        if width_field is not None:
            if given and keys[width_field] not in values:
                values[keys[width_field]] = 2
            stride = int(values.get(keys[width_field], 0))
        if count_field is None:
            count = given
        elif keys[count_field] in values:
            count = int(values[keys[count_field]])
        else:
            count = given
            values[keys[count_field]] = given
        counts.append(count)
        strides.append(stride)
    shift = [0]
    for c, st in zip(counts, strides):
        shift.append(shift[-1] + c * st)

    end = 5
    for key, octet, width, _sign, group, preceding, _table in fields:
        if group == 0:
            end = max(end, octet - 1 + shift[preceding] + width)
        else:
            g = group - 1
            end = max(end, groups[g][2] - 1 + shift[g] + counts[g] * strides[g])
    out = bytearray(end)
    for key, octet, width, sign, group, preceding, _table in fields:
        if group == 0:
            raw = _encode(values.get(key, 0), width, sign)
            out[octet - 1 + shift[preceding]:octet - 1 + shift[preceding] + width] = raw.to_bytes(width, "big")
            continue
        g = group - 1
        width = width or strides[g]
        entries = as_list(values.get(key, []))
        for e in range(min(counts[g], len(entries))):
            at = octet - 1 + shift[g] + e * strides[g]
            out[at:at + width] = _encode(entries[e], width, sign).to_bytes(width, "big")
    stated = len(out) if length is None else length
    out = out[:max(stated, 5)] + bytes(max(0, stated - len(out)))
    out[0:4] = u32(stated)
    out[4] = section_number
    return bytes(out)


def section5(template: int, count: int, reference: float = 0.0, E: int = 0, D: int = 0, bits: int = 0,
             original_type: int = 0, tail: bytes = b"") -> bytes:
    """Data representation with the common octets 6-21 followed by `tail`
    (the template-specific octets from 22). Template 4 has its own builder."""
    body = (u32(count) + u16(template) + ieee32(reference) + sm(E, 2) + sm(D, 2) + u8(bits) +
            u8(original_type) + tail)
    return section(5, body)


def section5_simple(packed: Packed) -> bytes:
    return section5(0, packed.count, packed.reference, packed.E, packed.D, packed.bits)


def section5_complex(count: int, reference: float = 0.0, E: int = 0, D: int = 0, bits: int = 8,
                     template: int = 2, splitting: int = 1, missing_management: int = 0,
                     primary_missing: int = 0, secondary_missing: int = 0, groups: int = 1,
                     width_reference: int = 0, width_bits: int = 0, length_reference: int = 1,
                     length_increment: int = 1, last_length: int = 1, length_bits: int = 0,
                     order: int = 2, descriptor_octets: int = 2) -> bytes:
    """Templates 5.2 (47 octets) and 5.3 (49 octets)."""
    tail = (u8(splitting) + u8(missing_management) + u32(primary_missing) + u32(secondary_missing) +
            u32(groups) + u8(width_reference) + u8(width_bits) + u32(length_reference) + u8(length_increment) +
            u32(last_length) + u8(length_bits))
    if template == 3:
        tail += u8(order) + u8(descriptor_octets)
    return section5(template, count, reference, E, D, bits, 0, tail)


def section5_ieee(count: int, precision: int = 1, long_form_bits: Optional[int] = None) -> bytes:
    """Template 5.4. The WMO layout is 12 octets: the precision (1 = 32-bit,
    2 = 64-bit, 3 = 128-bit) in octet 12. With long_form_bits the section
    instead carries the 21-octet common layout with that width in octet 20."""
    if long_form_bits is not None:
        return section5(4, count, 0.0, 0, 0, long_form_bits)
    return section(5, u32(count) + u16(4) + u8(precision))


def section5_jpeg(count: int, reference: float = 0.0, E: int = 0, D: int = 0, bits: int = 8,
                  compression: int = 0, ratio: int = 255) -> bytes:
    """Template 5.40, 23 octets."""
    return section5(40, count, reference, E, D, bits, 0, u8(compression) + u8(ratio))


def section5_ccsds(count: int, reference: float = 0.0, E: int = 0, D: int = 0, bits: int = 16,
                   flags: int = 14, block_size: int = 32, rsi: int = 128) -> bytes:
    """Template 5.42, 25 octets."""
    return section5(42, count, reference, E, D, bits, 0, u8(flags) + u8(block_size) + u16(rsi))


def section6(present: Optional[Sequence[bool]] = None, indicator: Optional[int] = None) -> bytes:
    """Bitmap section: indicator 0 with the bits of `present`, or the given
    indicator (255 no bitmap, 254 reuse) with no bits."""
    if present is not None:
        return section(6, u8(0 if indicator is None else indicator) + pack_bitmap(present))
    return section(6, u8(255 if indicator is None else indicator))


def section7(payload: bytes) -> bytes:
    return section(7, payload)


def field_simple(values: Sequence[float], bits: int = 16, D: int = 0, category: int = 0, number: int = 0,
                 level_type: int = 100, level: int = 850, level_scale: int = 0, forecast_time: int = 0,
                 time_unit: int = 1, E: Optional[int] = None, reference: Optional[float] = None) -> list:
    """Sections 4 to 7 of one simple-packed field. NaN values are missing:
    they are left out of the packed data and marked absent in a bitmap (no
    bitmap when every value is present)."""
    present = [not (isinstance(v, float) and math.isnan(v)) for v in values]
    kept = [v for v, p in zip(values, present) if p]
    packed = simple_pack(kept, bits, D=D, E=E, reference=reference)
    s6 = section6(present) if not all(present) else section6()
    s5 = section5(0, len(values), packed.reference, packed.E, packed.D, packed.bits)
    return [section4(category, number, level_type, level, level_scale, forecast_time, time_unit), s5, s6,
            section7(packed.data)]


# ---------------------------------------------------------------- GRIB1


def grib1_message(pds_bytes: bytes, gds_bytes: Optional[bytes] = None, bms_bytes: Optional[bytes] = None,
                  bds_bytes: bytes = b"", total_length: Optional[int] = None, end: bytes = b"7777") -> bytes:
    """Indicator section, the sections present, the end marker."""
    body = pds_bytes + (gds_bytes or b"") + (bms_bytes or b"") + bds_bytes
    n = 8 + len(body) + len(end) if total_length is None else total_length
    return b"GRIB" + u24(n) + u8(1) + body + end


def pds(table_version: int = 128, centre: int = 98, process: int = 145, grid: int = 255, has_gds: bool = True,
        has_bms: bool = False, parameter: int = 130, level_type: int = 100, level: int = 850,
        year: int = 2024, month: int = 1, day: int = 1, hour: int = 0, minute: int = 0, time_unit: int = 1,
        p1: int = 0, p2: int = 0, time_range: int = 0, subcentre: int = 0, D: int = 0,
        century: Optional[int] = None, year_of_century: Optional[int] = None, extra: bytes = b"",
        length: Optional[int] = None) -> bytes:
    """Product definition section (28 octets plus `extra`). The year is split
    into century and year of century (year 2000 is century 20, year 100)
    unless both are given."""
    if century is None or year_of_century is None:
        century = (year - 1) // 100 + 1
        year_of_century = year - (century - 1) * 100
    flags = (0x80 if has_gds else 0) | (0x40 if has_bms else 0)
    body = (u8(table_version) + u8(centre) + u8(process) + u8(grid) + u8(flags) + u8(parameter) +
            u8(level_type) + u16(level) + u8(year_of_century) + u8(month) + u8(day) + u8(hour) + u8(minute) +
            u8(time_unit) + u8(p1) + u8(p2) + u8(time_range) + u16(0) + u8(0) + u8(century) + u8(subcentre) +
            sm(D, 2) + extra)
    n = len(body) + 3 if length is None else length
    return u24(n) + body


def _milli(deg: float) -> int:
    return int(round(deg * 1000))


def gds(rep_type: int, body: bytes, nv: int = 0, pv_pl: int = 255, length: Optional[int] = None) -> bytes:
    """Any grid description section: octets 1-6, then `body` from octet 7."""
    content = u8(nv) + u8(pv_pl) + u8(rep_type) + body
    n = len(content) + 3 if length is None else length
    return u24(n) + content


def gds_latlon(ni: int, nj: int, la1: float, lo1: float, la2: float, lo2: float, di: float, dj: float,
               scan: int = 0, gaussian_n: Optional[int] = None, pl: Optional[Sequence[int]] = None) -> bytes:
    """Type 0 (latitude/longitude), or type 4 (Gaussian) when gaussian_n is
    given. 32 octets; with `pl` (points per row) a reduced Gaussian grid:
    Ni and Di are 0xFFFF and the list follows from octet 33."""
    reduced = pl is not None
    body = (u16(0xFFFF if reduced else ni) + u16(nj) + sm(_milli(la1), 3) + sm(_milli(lo1), 3) + u8(0x80) +
            sm(_milli(la2), 3) + sm(_milli(lo2), 3) + u16(0xFFFF if reduced else _milli(di)) +
            u16(gaussian_n if gaussian_n is not None else _milli(dj)) + u8(scan) + b"\0\0\0\0")
    if reduced:
        body += b"".join(u16(p) for p in pl)
    return gds(4 if gaussian_n is not None else 0, body, pv_pl=33 if reduced else 255)


def gds_lambert(nx: int, ny: int, la1: float, lo1: float, dx_m: int, dy_m: int, lov: float = 265.0,
                latin1: float = 25.0, latin2: float = 25.0, scan: int = 0x40) -> bytes:
    """Type 3 (Lambert conformal), 42 octets; Dx, Dy in metres."""
    body = (u16(nx) + u16(ny) + sm(_milli(la1), 3) + sm(_milli(lo1), 3) + u8(0x88) + sm(_milli(lov), 3) +
            u24(dx_m) + u24(dy_m) + u8(0) + u8(scan) + sm(_milli(latin1), 3) + sm(_milli(latin2), 3) +
            sm(-90000, 3) + u24(0) + u16(0))
    return gds(3, body)


def gds_spherical(j: int = 106, k: int = 106, m: int = 106, rep_type: int = 50) -> bytes:
    """Types 50/51 (spherical harmonics), 32 octets."""
    body = u16(j) + u16(k) + u16(m) + u8(1) + u8(1) + b"\0" * 18
    return gds(rep_type, body)


def _even(body: bytes) -> bytes:
    return body + b"\0" if len(body) % 2 else body


def bms(present: Sequence[bool], table: int = 0, unused: Optional[int] = None) -> bytes:
    """Bit map section: octets 1-3 length (kept even), 4 the unused bits at
    the end, 5-6 the predefined bitmap number (0: the bits follow from 7)."""
    bits = pack_bitmap(present) if table == 0 else b""
    if (6 + len(bits)) % 2:
        bits += b"\0"
    length = 6 + len(bits)
    if unused is None:
        unused = len(bits) * 8 - len(present) if table == 0 else 0
    return u24(length) + u8(unused) + u16(table) + bits


def bds_simple(values: Sequence[float], bits: int = 16, D: int = 0, E: Optional[int] = None,
               reference: Optional[float] = None, flags: int = 0) -> bytes:
    """Binary data section with simple packing of the present values; the
    decimal scale D belongs in the PDS (pass the same D to ``pds``)."""
    packed = simple_pack(values, bits, D=D, E=E, reference=reference, ibm=True)
    return bds_raw(packed.reference, packed.E, packed.bits, packed.data, count=len(values), flags=flags)


def bds_raw(reference: float, E: int, bits: int, data: bytes, count: Optional[int] = None, flags: int = 0,
            unused: Optional[int] = None) -> bytes:
    """Octets 1-3 length (kept even), 4 flags (high nibble) and unused bits
    at the end (low nibble), 5-6 E (sign-magnitude), 7-10 reference (IBM),
    11 bits per value, 12.. the packed values."""
    padded = _even(sm(E, 2) + ibm_encode(reference) + u8(bits) + data)
    total = len(padded) + 4
    if unused is None:
        used = count * bits if count is not None else len(data) * 8
        unused = (total - 11) * 8 - used
    return u24(total) + u8((flags & 0xF0) | (unused & 0x0F)) + padded


def gaussian_latitudes(n: int) -> list:
    """The 2N Gaussian latitudes in degrees, north to south (roots of the
    Legendre polynomial of degree 2N, by Newton's method)."""
    nlat = 2 * n
    lats = []
    for i in range(1, nlat + 1):
        x = math.cos(math.pi * (i - 0.25) / (nlat + 0.5))
        for _ in range(100):
            p0, p1 = 1.0, x
            for k in range(2, nlat + 1):
                p0, p1 = p1, ((2 * k - 1) * x * p1 - (k - 1) * p0) / k
            dp = nlat * (x * p1 - p0) / (x * x - 1.0)
            dx = p1 / dp
            x -= dx
            if abs(dx) < 1e-15:
                break
        lats.append(math.degrees(math.asin(x)))
    return lats


# ------------------------------------------- complex packing, IEEE fields


def _bits_needed(v: int) -> int:
    return v.bit_length()


def complex_pack(ints: Sequence[Optional[int]], group_size: int = 8, order: int = 0, descriptor_octets: int = 4,
                 missing_management: int = 0) -> tuple:
    """Templates 5.2 (order 0) and 5.3 (order 1 or 2) over non-negative
    integers; None is a missing point (needs missing_management 1). Returns
    (section 5 tail fields as a dict, section 7 payload)."""
    present = [x for x in ints if x is not None]
    descriptors = b""
    work = list(ints)
    if order:
        # Differences over the present points only, as the decoder restores them.
        diffs = []
        for k, x in enumerate(present):
            if k < order:
                diffs.append(0)
            elif order == 1:
                diffs.append(x - present[k - 1])
            else:
                diffs.append(x - 2 * present[k - 1] + present[k - 2])
        minimum = min(diffs[order:]) if len(diffs) > order else 0
        shifted = iter([0] * min(order, len(diffs)) + [d - minimum for d in diffs[order:]])
        work = [None if x is None else next(shifted) for x in ints]
        for x in present[:order]:
            descriptors += sm(x, descriptor_octets)
        descriptors += sm(minimum, descriptor_octets)
    groups = [work[i:i + group_size] for i in range(0, len(work), group_size)]
    refs, widths = [], []
    for grp in groups:
        vals = [x for x in grp if x is not None]
        if not vals:
            refs.append(None)
            widths.append(0)
            continue
        ref = min(vals)
        top = max(vals) - ref
        if len(vals) < len(grp):
            top += 1  # all ones of the width marks a missing point
        refs.append(ref)
        widths.append(_bits_needed(top))
    max_ref = max([r for r in refs if r is not None] or [0])
    bits = max(1, _bits_needed(max_ref + (1 if missing_management else 0)))
    refs = [(1 << bits) - 1 if r is None else r for r in refs]
    w_ref = min(widths) if widths else 0
    w_bits = _bits_needed(max(widths) - w_ref) if widths else 0
    out = descriptors
    out += pack_bits(refs, bits)
    out += pack_bits([w - w_ref for w in widths], w_bits) if w_bits else b""
    values = bytearray()
    acc_bits = []
    for grp, ref, width in zip(groups, refs, widths):
        if width == 0:
            continue
        for x in grp:
            acc_bits.append(((1 << width) - 1 if x is None else x - ref, width))
    acc = 0
    n = 0
    for v, w in acc_bits:
        acc = (acc << w) | v
        n += w
        while n >= 8:
            n -= 8
            values.append((acc >> n) & 0xFF)
        acc &= (1 << n) - 1
    if n:
        values.append((acc << (8 - n)) & 0xFF)
    out += bytes(values)
    fields = dict(bits=bits, groups=len(groups), width_reference=w_ref, width_bits=w_bits,
                  length_reference=group_size, length_increment=1,
                  last_length=len(groups[-1]) if groups else 0, length_bits=0,
                  missing_management=missing_management, order=order, descriptor_octets=descriptor_octets,
                  template=3 if order else 2)
    return fields, out


def field_complex(values: Sequence[float], D: int = 0, group_size: int = 8, order: int = 0,
                  category: int = 0, number: int = 0, level_type: int = 100, level: int = 850) -> list:
    """Sections 4 to 7 of a complex-packed field (5.2, or 5.3 with `order`).
    NaN values are missing points (missing value management 1)."""
    scaled = [None if math.isnan(v) else int(round(v * 10.0 ** D)) for v in values]
    present = [x for x in scaled if x is not None]
    base = min(present) if present else 0
    ints = [None if x is None else x - base for x in scaled]
    mm = 1 if len(present) < len(scaled) else 0
    fields, payload = complex_pack(ints, group_size=group_size, order=order, missing_management=mm)
    s5 = section5_complex(len(values), reference=float(base), D=D, **fields)
    return [section4(category, number, level_type, level), s5, section6(), section7(payload)]


def field_ieee(values: Sequence[float], precision: int = 1, category: int = 0, number: int = 0,
               level_type: int = 100, level: int = 850) -> list:
    """Sections 4 to 7 of an IEEE field (template 5.4, 32- or 64-bit)."""
    fmt = ">%d%s" % (len(values), "f" if precision == 1 else "d")
    return [section4(category, number, level_type, level), section5_ieee(len(values), precision), section6(),
            section7(struct.pack(fmt, *values))]
