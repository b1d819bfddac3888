"""The Python GRIB builder used by the tests and the sample writer: exact
number encodings, simple packing that decodes back to its input, and
section and message lengths that agree with what is written."""
import math
import os
import struct
import subprocess
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
import gribbuild as g  # noqa: E402


@pytest.mark.parametrize("value,raw", [
    (0.0, 0x00000000),
    (1.0, 0x41100000),
    (-118.625, 0xC276A000),
    (100.0, 0x42640000),
    (0.5, 0x40800000),
])
def test_ibm_known_patterns(value, raw):
    assert g.ibm_encode(value) == raw.to_bytes(4, "big")
    assert g.ibm_decode(raw.to_bytes(4, "big")) == value


@pytest.mark.parametrize("value", [0.1, -0.1, 273.15, -273.15, 1e-5, 98765.4321])
def test_ibm_rounds_towards_minus_infinity(value):
    decoded = g.ibm_decode(g.ibm_encode(value))
    assert decoded <= value
    assert value - decoded <= abs(value) * 2.0 ** -20


@pytest.mark.parametrize("value,octets,raw", [(-5, 4, 0x80000005), (5, 2, 0x0005), (-3, 2, 0x8003), (-1, 3, 0x800001)])
def test_sign_magnitude(value, octets, raw):
    assert g.sm(value, octets) == raw.to_bytes(octets, "big")


def unpack(packed):
    bits = packed.bits
    x = int.from_bytes(packed.data, "big") if packed.data else 0
    total = len(packed.data) * 8
    ints = [(x >> (total - bits * (k + 1))) & ((1 << bits) - 1) for k in range(packed.count)] if bits else [0] * packed.count
    return packed.decoded(ints)


@pytest.mark.parametrize("values,bits,D,ibm", [
    ([1.5, 2.25, 3.0, 7.75], 12, 0, False),
    ([270.0 + 0.37 * k for k in range(50)], 16, 1, False),
    ([-40.5, 0.0, 12.25, 33.0], 10, 2, True),
    ([5.0] * 7, 0, 0, False),
    ([-1e-3, 2e-3, 5e-3], 24, 4, True),
])
def test_simple_pack_decodes_within_half_a_step(values, bits, D, ibm):
    packed = g.simple_pack(values, bits, D=D, ibm=ibm)
    step = 2.0 ** packed.E / 10.0 ** D
    if ibm:
        assert g.ibm_decode(g.ibm_encode(packed.reference)) == packed.reference
    else:
        assert struct.unpack(">f", struct.pack(">f", packed.reference))[0] == packed.reference
    for want, got in zip(values, unpack(packed)):
        assert abs(want - got) <= step / 2 + 1e-9 * abs(want)


def test_grib2_lengths_and_bitmap():
    values = [1.0, float("nan"), 3.0, 4.0, 5.0, 6.0, 7.0, 8.0, 9.0, 10.0, 11.0, float("nan")]
    sections = [g.section1(), g.section3_latlon(4, 3, 60, 0, 58, 3, 1, 1), *g.field_simple(values, bits=8)]
    for s in sections:
        assert int.from_bytes(s[:4], "big") == len(s)
    assert [len(s) for s in sections[:4]] == [21, 72, 34, 21]
    s6 = sections[4]
    assert s6[5] == 0 and s6[6:] == bytes([0b10111111, 0b11100000])
    msg = g.grib2_message(sections)
    assert int.from_bytes(msg[8:16], "big") == len(msg) and msg.endswith(b"7777")
    assert [len(s) for s in (g.section3_lambert(4, 3, 20, 250, 3000, 3000), g.section3_polar(4, 3),
                             g.section3_mercator(4, 3), g.section5_complex(12, template=2),
                             g.section5_complex(12, template=3), g.section5_ieee(12), g.section5_jpeg(12),
                             g.section5_ccsds(12))] == [81, 65, 72, 47, 49, 12, 23, 25]


def test_grib1_lengths_and_unused_bits():
    present = [True] * 10 + [False, True]
    bms = g.bms(present)
    assert len(bms) == 8 and int.from_bytes(bms[:3], "big") == 8 and bms[3] == 4
    bds = g.bds_simple([1.0, 2.0, 3.0], bits=12)
    assert len(bds) % 2 == 0 and int.from_bytes(bds[:3], "big") == len(bds)
    assert bds[3] & 0x0F == (len(bds) - 11) * 8 - 36
    pds = g.pds(year=1999)
    assert len(pds) == 28 and pds[24] == 20 and pds[12] == 99
    gds = g.gds_latlon(4, 3, 60, 0, 58, 3, 1, 1)
    assert len(gds) == 32 and gds[5] == 0
    reduced = g.gds_latlon(0, 2, 60, 0, -60, 350, 0, 0, gaussian_n=1, pl=[4, 8])
    assert len(reduced) == 36 and reduced[4] == 33 and reduced[6:8] == b"\xff\xff"
    msg = g.grib1_message(pds, gds, None, g.bds_simple([float(k) for k in range(12)], bits=8))
    assert int.from_bytes(msg[4:7], "big") == len(msg)


def test_gaussian_latitudes_are_symmetric_legendre_roots():
    lats = g.gaussian_latitudes(2)
    assert lats[0] == pytest.approx(59.444408289, abs=1e-8)
    assert lats[1] == pytest.approx(19.875719147, abs=1e-8)
    assert [a + b for a, b in zip(lats, reversed(lats))] == pytest.approx([0.0] * 4, abs=1e-12)


def test_make_sample_writes_both_editions(tmp_path):
    out = tmp_path / "sample.grib"
    tool = os.path.join(os.path.dirname(__file__), "..", "..", "tools", "make_sample.py")
    subprocess.run([sys.executable, tool, str(out)], check=True)
    data = out.read_bytes()
    editions = []
    pos = 0
    while pos < len(data):
        assert data[pos:pos + 4] == b"GRIB"
        edition = data[pos + 7]
        length = int.from_bytes(data[pos + 8:pos + 16] if edition == 2 else data[pos + 4:pos + 7], "big")
        editions.append(edition)
        pos += length
    assert pos == len(data)
    assert editions == [2, 2, 2, 2, 1, 1]
