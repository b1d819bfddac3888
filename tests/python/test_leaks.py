"""Resident memory stays flat over many handle lifetimes (the valgrind run
of the same workload is `make test-leaks`)."""
import gc
import os
import sys

import pytest

import leak_workload
import vorlak
from vorlak import _vorlak as v

LIFETIMES = 10_000
# Generous: a leak of even one small handle per lifetime is far above it
# (the derived keys alone are several kilobytes).
MARGIN_BYTES = 16 << 20


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc")
def test_handle_lifetimes_keep_memory_flat(tmp_path, fresh_cache):
    path, message, broken = leak_workload.fixtures(str(tmp_path))
    for _ in range(300):  # warm-up: caches, interned names, allocator pools
        leak_workload.lifetime(v, path, message, broken)
    gc.collect()
    before = resident_bytes()
    for _ in range(LIFETIMES):
        leak_workload.lifetime(v, path, message, broken)
    gc.collect()
    grown = resident_bytes() - before
    assert grown < MARGIN_BYTES, f"resident memory grew by {grown / (1 << 20):.1f} MiB over {LIFETIMES} lifetimes"


@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc")
def test_field_api_lifetimes_keep_memory_and_references_flat(tmp_path):
    path, message, broken = leak_workload.fixtures(str(tmp_path))
    for _ in range(100):
        leak_workload.field_lifetime(vorlak, path, message, broken)
    gc.collect()
    # Objects every lifetime hands out again and again: a reference the
    # module forgets to drop shows in their counts.
    watched = [None, True, "shortName", "level"]
    counts = [sys.getrefcount(x) for x in watched]
    before = resident_bytes()
    for _ in range(LIFETIMES // 5):
        leak_workload.field_lifetime(vorlak, path, message, broken)
    gc.collect()
    grown = resident_bytes() - before
    assert [sys.getrefcount(x) for x in watched] == counts
    assert grown < MARGIN_BYTES, f"resident memory grew by {grown / (1 << 20):.1f} MiB"
