#!/usr/bin/env python3
"""Malformed GRIB inputs, made from well-formed messages by fixed rules.

The base messages come from tools/make_sample.py and tools/gribbuild.py
(every packing the builder knows, both editions), from the whole-message
seeds under fuzz/corpus/handle_keys_fuzz/ (which add JPEG 2000 and CCSDS
payloads), and from ../shared/testdata when it is there. Each base message
is then

  - truncated at many offsets (with and without re-framing the remains),
  - given seeded random byte flips in every section,
  - given section lengths of 0, 4, 5, one short, one long and past the end,
  - given huge or absurd counts (points, Ni, Nj, N, groups, widths, lengths,
    numberOfValues, bits per value, bitmap indicators),
  - given edition bytes 0, 3 and 255, and GRIB1 lengths with the top bit set,
  - restructured (sections dropped, repeated, reordered, end marker lost).

Every case is (name, bytes), the name saying how it was made; the same seed
gives the same cases, byte for byte.

Usage:
  make_corpus.py --list              names of all cases
  make_corpus.py --out DIR           write every case as a file
  make_corpus.py --count             number of cases
Options: --seed N (default 1), --no-testdata.
"""
from __future__ import annotations

import argparse
import glob
import math
import os
import random
import struct
import sys
import zlib
from typing import Iterator, List, Optional, Tuple

TOOLS = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(TOOLS)
sys.path.insert(0, TOOLS)

import gribbuild as g  # noqa: E402
import make_sample  # noqa: E402

TESTDATA = os.path.join(os.path.dirname(ROOT), "shared", "testdata")
SEED_DIR = os.path.join(ROOT, "fuzz", "corpus", "handle_keys_fuzz")
NAN = float("nan")

Case = Tuple[str, bytes]

# ------------------------------------------------------------ base messages


def _wave(n: int, base: float, amp: float) -> List[float]:
    return [round(base + amp * math.sin(k * 0.37) * math.cos(k * 0.11), 1) for k in range(n)]


def builder_messages() -> List[Case]:
    """Small messages of every kind the Python builder writes."""
    out: List[Case] = []
    for k, m in enumerate(make_sample.grib2_messages()):
        out.append((f"sample2_{k}", m))
    for k, m in enumerate(make_sample.grib1_messages()):
        out.append((f"sample1_{k}", m))
    s1 = g.section1(centre=98, year=2024, month=5, day=1, hour=12)
    latlon = g.section3_latlon(ni=8, nj=5, la1=60, lo1=0, la2=20, lo2=35, di=5, dj=10)
    vals = _wave(40, 270.0, 12.0)
    gappy = [NAN if k % 6 == 2 else v for k, v in enumerate(vals)]
    gappy[16:24] = [NAN] * 8
    out.append(("complex2", g.grib2_message([s1, latlon, *g.field_complex(vals, D=1)])))
    out.append(("complex2_missing", g.grib2_message([s1, latlon, *g.field_complex(gappy, D=1)])))
    out.append(("spatial1", g.grib2_message([s1, latlon, *g.field_complex(vals, D=1, order=1)])))
    out.append(("spatial2_missing", g.grib2_message([s1, latlon, *g.field_complex(gappy, D=1, order=2)])))
    out.append(("ieee32", g.grib2_message([s1, latlon, *g.field_ieee(vals)])))
    out.append(("ieee64", g.grib2_message([s1, latlon, *g.field_ieee(vals, precision=2)])))
    lam = g.section3_lambert(nx=6, ny=4, la1=20, lo1=250, dx_m=3000, dy_m=3000)
    out.append(("lambert", g.grib2_message([s1, lam, *g.field_simple(_wave(24, 1000.0, 20.0), bits=12)])))
    out.append(("polar", g.grib2_message([s1, g.section3_polar(5, 4), *g.field_simple(_wave(20, 5.0, 2.0))])))
    out.append(("mercator",
                g.grib2_message([s1, g.section3_mercator(4, 5), *g.field_simple(_wave(20, 5.0, 2.0))])))
    # Two fields in one message (sections 4 to 7 repeated), with a local section.
    f1 = g.field_simple(vals, bits=12, D=1)
    f2 = g.field_simple(gappy, bits=10, D=1, number=2)
    out.append(("multifield", g.grib2_message([s1, g.section2(b"local"), latlon, *f1, *f2])))
    out.append(("constant", g.grib2_message([s1, latlon, *g.field_simple([3.5] * 40, bits=0, D=1)])))
    # Edition 1 variants: reduced Gaussian, Lambert, spherical harmonics.
    lats = g.gaussian_latitudes(2)
    pl = [4, 8, 8, 4]
    red = g.gds_latlon(ni=0, nj=4, la1=lats[0], lo1=0, la2=lats[-1], lo2=315, di=0, dj=0, gaussian_n=2, pl=pl)
    out.append(("g1_reduced", g.grib1_message(g.pds(parameter=130, D=1), red, None,
                                              g.bds_simple(_wave(24, 280.0, 9.0), bits=12, D=1))))
    out.append(("g1_lambert", g.grib1_message(g.pds(parameter=11),
                                              g.gds_lambert(5, 4, 20, 250, 3000, 3000), None,
                                              g.bds_simple(_wave(20, 280.0, 9.0), bits=10))))
    out.append(("g1_harmonic", g.grib1_message(g.pds(parameter=129), g.gds_spherical(), None,
                                               g.bds_simple(_wave(16, 1.0, 1.0), bits=16))))
    return out


def seed_messages() -> List[Case]:
    """The committed whole-message fuzz seeds (JPEG 2000, CCSDS and the
    C++ builder's other messages)."""
    out: List[Case] = []
    for path in sorted(glob.glob(os.path.join(SEED_DIR, "*"))):
        with open(path, "rb") as f:
            data = f.read()
        if data.startswith(b"GRIB") and len(data) <= 1 << 16:
            out.append((f"seed_{os.path.basename(path)}", data))
    return out


def split_messages(data: bytes) -> List[bytes]:
    """The messages of a file, by their stated lengths (well-formed files only)."""
    found = []
    pos = data.find(b"GRIB")
    while 0 <= pos and pos + 16 <= len(data):
        ed = data[pos + 7]
        n = struct.unpack(">Q", data[pos + 8:pos + 16])[0] if ed == 2 else int.from_bytes(data[pos + 4:pos + 7], "big")
        if n < 8 or pos + n > len(data):
            break
        found.append(data[pos:pos + n])
        pos = data.find(b"GRIB", pos + n)
    return found


def testdata_messages(limit_bytes: int = 3 << 20) -> List[Case]:
    """The first message of every real file, and its smallest one."""
    out: List[Case] = []
    for path in sorted(glob.glob(os.path.join(TESTDATA, "*.grib*"))):
        with open(path, "rb") as f:
            data = f.read()
        messages = [m for m in split_messages(data) if len(m) <= limit_bytes]
        if not messages:
            continue
        stem = os.path.basename(path).split(".grib")[0][:40]
        out.append((f"real_{stem}", messages[0]))
        smallest = min(messages, key=len)
        if smallest is not messages[0]:
            out.append((f"real_{stem}_small", smallest))
    return out


# -------------------------------------------------------------- structure


class Section:
    def __init__(self, number: int, start: int, length: int, len_octets: int):
        self.number = number          # GRIB2: 0-8; GRIB1: 0 IS, 1 PDS, 2 GDS, 3 BMS, 4 BDS, 8 end
        self.start = start
        self.length = length
        self.len_octets = len_octets  # width of the length field (0 for IS / end)

    def octet(self, n: int) -> int:
        """Offset of 1-based octet n of this section within the message."""
        return self.start + n - 1


def sections_of(msg: bytes) -> List[Section]:
    """The sections of a well-formed message, in order."""
    out: List[Section] = []
    if len(msg) < 8 or not msg.startswith(b"GRIB"):
        return out
    if msg[7] == 2:
        out.append(Section(0, 0, 16, 0))
        pos = 16
        while pos + 5 <= len(msg) and msg[pos:pos + 4] != b"7777":
            n = struct.unpack(">I", msg[pos:pos + 4])[0]
            if n < 5 or pos + n > len(msg):
                break
            out.append(Section(msg[pos + 4], pos, n, 4))
            pos += n
        out.append(Section(8, pos, 4, 0))
        return out
    out.append(Section(0, 0, 8, 0))
    pos = 8
    flags = msg[15] if len(msg) > 15 else 0
    numbers = [1] + ([2] if flags & 0x80 else []) + ([3] if flags & 0x40 else []) + [4]
    for number in numbers:
        if pos + 3 > len(msg):
            break
        n = int.from_bytes(msg[pos:pos + 3], "big")
        if n < 3 or pos + n > len(msg):
            break
        out.append(Section(number, pos, n, 3))
        pos += n
    out.append(Section(8, pos, 4, 0))
    return out


def put(msg: bytes, offset: int, value: int, octets: int) -> Optional[bytes]:
    if offset < 0 or offset + octets > len(msg):
        return None
    return msg[:offset] + (value & ((1 << (8 * octets)) - 1)).to_bytes(octets, "big") + msg[offset + octets:]


def reframe(body: bytes, edition: int) -> bytes:
    """`body` (starting at "GRIB") with its total length fixed and "7777" added."""
    total = len(body) + 4
    if edition == 2:
        return body[:8] + struct.pack(">Q", total) + body[16:] + b"7777"
    return body[:4] + (total & 0xFFFFFF).to_bytes(3, "big") + body[7:] + b"7777"


def _rng(name: str, seed: int) -> random.Random:
    return random.Random(zlib.crc32(name.encode()) ^ (seed * 0x9E3779B1))


# -------------------------------------------------------------- mutations


def truncations(name: str, msg: bytes, secs: List[Section], rng: random.Random) -> Iterator[Case]:
    cuts = set(range(0, min(len(msg), 24)))
    for s in secs:
        for d in (-1, 0, 1, 5, 6):
            cuts.add(s.start + d)
    cuts.update(len(msg) * k // 16 for k in range(16))
    cuts.update(len(msg) - d for d in (1, 2, 3, 4, 5))
    cuts.update(rng.randrange(len(msg)) for _ in range(8))
    edition = msg[7]
    header = 16 if edition == 2 else 8
    for n in sorted(c for c in cuts if 0 <= c < len(msg)):
        yield f"{name}/trunc/{n}", msg[:n]
        if n >= header and edition in (1, 2):
            yield f"{name}/refit/{n}", reframe(msg[:n], edition)


def flips(name: str, msg: bytes, secs: List[Section], rng: random.Random, per_section: int) -> Iterator[Case]:
    for s in secs:
        if s.length <= 0:
            continue
        for k in range(per_section):
            data = bytearray(msg)
            for _ in range(rng.choice((1, 1, 2, 3))):
                at = s.start + rng.randrange(s.length)
                if rng.random() < 0.5:
                    data[at] ^= 1 << rng.randrange(8)
                else:
                    data[at] = rng.choice((0x00, 0xFF, 0x7F, 0x80, rng.randrange(256)))
            yield f"{name}/flip/s{s.number}@{s.start}/{k}", bytes(data)


def section_lengths(name: str, msg: bytes, secs: List[Section]) -> Iterator[Case]:
    for s in secs:
        if not s.len_octets:
            continue
        rest = len(msg) - s.start
        top = (1 << (8 * s.len_octets)) - 1
        for label, v in (("0", 0), ("4", 4), ("5", 5), ("short", s.length - 1), ("long", s.length + 1),
                         ("past", rest + 1), ("max", top)):
            m = put(msg, s.start, v, s.len_octets)
            if m is not None:
                yield f"{name}/seclen/s{s.number}@{s.start}/{label}", m
        if s.len_octets == 3:  # GRIB1: the top bit of a 24-bit length
            m = put(msg, s.start, s.length | 0x800000, 3)
            if m is not None:
                yield f"{name}/seclen/s{s.number}@{s.start}/topbit", m


HUGE32 = (0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 1 << 28, (1 << 28) + 1, 0x00FFFFFF)
HUGE16 = (0, 1, 0x7FFF, 0x8000, 0xFFFF)
BITS = (0, 1, 31, 33, 63, 64, 65, 128, 255)


def _fields_grib2(s: Section, msg: bytes) -> List[Tuple[str, int, int, tuple]]:
    """(label, octet, width, values) of the header fields worth abusing."""
    f: List[Tuple[str, int, int, tuple]] = []
    if s.number == 1:
        f += [("year", 13, 2, (0, 0xFFFF)), ("month", 15, 1, (0, 13, 255)), ("day", 16, 1, (0, 32, 255)),
              ("hour", 17, 1, (24, 255)), ("second", 19, 1, (60, 255))]
    elif s.number == 3:
        template = int.from_bytes(msg[s.octet(13):s.octet(15)], "big") if s.length >= 14 else 0
        f += [("points", 7, 4, HUGE32), ("template", 13, 2, (0, 1, 10, 20, 30, 40, 90, 101, 0xFFFF)),
              ("Ni", 31, 4, HUGE32), ("Nj", 35, 4, HUGE32)]
        if template in (0, 40):
            f += [("basic", 39, 4, (1, 0xFFFFFFFF)), ("subdiv", 43, 4, (1, 0xFFFFFFFF)),
                  ("la1", 47, 4, (0x7FFFFFFF, 0xFFFFFFFF)), ("Di", 64, 4, (0, 0xFFFFFFFF)),
                  ("NorDj", 68, 4, (0, 1, 0xFFFF, 0xFFFFFFFF)), ("scan", 72, 1, (0x20, 0x40, 0x80, 0xF0, 0xFF))]
    elif s.number == 4:
        f += [("template", 8, 2, (8, 0xFFFF)), ("unit", 18, 1, (13, 255)), ("ftime", 19, 4, (0xFFFFFFFF,)),
              ("levtype", 23, 1, (0, 255)), ("levscale", 24, 1, (0x7F, 0x80, 0xFF)),
              ("level", 25, 4, (0xFFFFFFFF,))]
    elif s.number == 5:
        template = int.from_bytes(msg[s.octet(10):s.octet(12)], "big") if s.length >= 11 else 0
        f += [("nvalues", 6, 4, HUGE32), ("template", 10, 2, (0, 2, 3, 4, 40, 41, 42, 50, 200, 0xFFFF))]
        if s.length >= 20:
            f += [("E", 16, 2, HUGE16), ("D", 18, 2, HUGE16), ("bits", 20, 1, BITS),
                  ("reference", 12, 4, (0x7F800000, 0x7FC00000, 0xFF800000))]
        if template in (2, 3):
            f += [("mm", 23, 1, (1, 2, 3)), ("groups", 32, 4, HUGE32), ("wref", 36, 1, (1, 64, 255)),
                  ("wbits", 37, 1, BITS), ("lref", 38, 4, HUGE32), ("lincr", 42, 1, (0, 255)),
                  ("lastlen", 43, 4, HUGE32), ("lbits", 47, 1, BITS)]
        if template == 3:
            f += [("order", 48, 1, (0, 3, 255)), ("descr", 49, 1, (0, 8, 9, 255))]
        if template == 4 and s.length < 20:
            f += [("precision", 12, 1, (0, 2, 3, 255))]
        if template == 40:
            f += [("compression", 22, 1, (1, 255))]
        if template == 42:
            f += [("flags", 22, 1, (0, 1, 2, 4, 8, 0x3F, 0xFF)), ("block", 23, 1, (0, 7, 8, 64, 255)),
                  ("rsi", 24, 2, (0, 1, 0xFFFF))]
    elif s.number == 6:
        f += [("indicator", 6, 1, (0, 1, 254, 255))]
    return f


def _fields_grib1(s: Section) -> List[Tuple[str, int, int, tuple]]:
    if s.number == 1:
        return [("flags", 8, 1, (0x00, 0x40, 0x80, 0xC0, 0xFF)), ("param", 9, 1, (0, 255)),
                ("levtype", 10, 1, (112, 255)), ("year", 13, 1, (0, 255)), ("month", 14, 1, (0, 13)),
                ("unit", 18, 1, (255,)), ("century", 25, 1, (0, 255)), ("D", 27, 2, HUGE16)]
    if s.number == 2:
        return [("nv", 4, 1, (1, 255)), ("pvpl", 5, 1, (0, 1, 33, 255)), ("type", 6, 1, (0, 3, 4, 5, 50, 255)),
                ("Ni", 7, 2, HUGE16), ("Nj", 9, 2, HUGE16), ("Di", 24, 2, (0, 0xFFFF)),
                ("NorDj", 26, 2, (0, 0xFFFF)), ("scan", 28, 1, (0x40, 0x80, 0xFF))]
    if s.number == 3:
        return [("unused", 4, 1, (7, 8, 255)), ("table", 5, 2, (1, 0xFFFF))]
    if s.number == 4:
        return [("flags", 4, 1, (0x0F, 0x10, 0x40, 0x80, 0xF0, 0xFF)), ("E", 5, 2, HUGE16),
                ("reference", 7, 4, (0x7FFFFFFF, 0xFFFFFFFF)), ("bits", 11, 1, BITS)]
    return []


def counts(name: str, msg: bytes, secs: List[Section]) -> Iterator[Case]:
    edition = msg[7]
    for s in secs:
        fields = _fields_grib2(s, msg) if edition == 2 else _fields_grib1(s)
        for label, octet, width, values in fields:
            if octet + width - 1 > s.length:
                continue
            for v in values:
                m = put(msg, s.octet(octet), v, width)
                if m is not None and m != msg:
                    yield f"{name}/count/s{s.number}@{s.start}/{label}={v:#x}", m
        if s.number == (6 if edition == 2 else 3) and s.length > (6 if edition == 2 else 6):
            first = s.start + 6
            end = s.start + s.length
            yield f"{name}/bitmap/s{s.number}@{s.start}/none", msg[:first] + b"\0" * (end - first) + msg[end:]
            yield f"{name}/bitmap/s{s.number}@{s.start}/all", msg[:first] + b"\xff" * (end - first) + msg[end:]


def framing(name: str, msg: bytes) -> Iterator[Case]:
    for v in (0, 1, 2, 3, 255):
        if v != msg[7]:
            yield f"{name}/edition/{v}", msg[:7] + bytes([v]) + msg[8:]
    if msg[7] == 2:
        for label, v in (("0", 0), ("19", 19), ("20", 20), ("short", len(msg) - 1), ("long", len(msg) + 1),
                         ("2^63", 1 << 63), ("max", (1 << 64) - 1)):
            yield f"{name}/totlen/{label}", msg[:8] + struct.pack(">Q", v) + msg[16:]
    else:
        n = int.from_bytes(msg[4:7], "big")
        for label, v in (("0", 0), ("7", 7), ("8", 8), ("short", n - 1), ("long", n + 1), ("topbit", n | 0x800000),
                         ("max", 0xFFFFFF)):
            yield f"{name}/totlen/{label}", msg[:4] + (v & 0xFFFFFF).to_bytes(3, "big") + msg[7:]
    yield f"{name}/end/missing", msg[:-4]
    yield f"{name}/end/wrong", msg[:-4] + b"7778"
    yield f"{name}/junk/around", b"GRIB\x00\x00\x00" + b"\x00" * 9 + msg + b"GRIB\xff"
    yield f"{name}/twice", msg + msg


def restructure(name: str, msg: bytes, secs: List[Section]) -> Iterator[Case]:
    edition = msg[7]
    body = [s for s in secs if s.len_octets]
    if not body:
        return
    head = msg[:body[0].start]
    chunks = [msg[s.start:s.start + s.length] for s in body]
    tail = msg[body[-1].start + body[-1].length:]

    def build(parts: List[bytes]) -> bytes:
        return reframe(head + b"".join(parts), edition) if edition in (1, 2) else head + b"".join(parts) + tail

    for k, s in enumerate(body):
        yield f"{name}/drop/s{s.number}@{s.start}", build(chunks[:k] + chunks[k + 1:])
        yield f"{name}/repeat/s{s.number}@{s.start}", build(chunks[:k + 1] + chunks[k:])
    if len(chunks) > 1:
        yield f"{name}/reverse", build(chunks[::-1])
        yield f"{name}/swap-last", build(chunks[:-2] + [chunks[-1], chunks[-2]])
    if edition == 2 and len(chunks) >= 4:
        yield f"{name}/repeat-fields", build(chunks + chunks[-4:] * 3)


def mutations(name: str, msg: bytes, seed: int, per_section: int = 8) -> Iterator[Case]:
    secs = sections_of(msg)
    rng = _rng(name, seed)
    yield f"{name}/intact", msg
    yield from truncations(name, msg, secs, rng)
    yield from flips(name, msg, secs, rng, per_section)
    yield from section_lengths(name, msg, secs)
    yield from counts(name, msg, secs)
    yield from framing(name, msg)
    yield from restructure(name, msg, secs)


def base_messages(testdata: bool = True) -> List[Case]:
    bases = builder_messages() + seed_messages()
    if testdata and os.path.isdir(TESTDATA):
        bases += testdata_messages()
    return bases


def all_cases(seed: int = 1, testdata: bool = True) -> Iterator[Case]:
    for name, msg in base_messages(testdata):
        # Real messages are large: fewer flips each, the decode is the costly part.
        yield from mutations(name, msg, seed, per_section=3 if name.startswith("real_") else 8)


def safe_file_name(case: str) -> str:
    return "".join(c if c.isalnum() or c in "-_.=@" else "_" for c in case)


def main(argv: List[str]) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--out")
    ap.add_argument("--list", action="store_true")
    ap.add_argument("--count", action="store_true")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--no-testdata", action="store_true")
    args = ap.parse_args(argv[1:])
    n = 0
    if args.out:
        os.makedirs(args.out, exist_ok=True)
    for case, data in all_cases(args.seed, not args.no_testdata):
        n += 1
        if args.list:
            print(case)
        if args.out:
            with open(os.path.join(args.out, safe_file_name(case)), "wb") as f:
                f.write(data)
    if args.count or not (args.list or args.out):
        print(n)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
