#!/usr/bin/env python3
"""Feeds the malformed-input corpus of tools/make_corpus.py through the
Python path and checks that nothing crashes, hangs or balloons.

Each case goes through codes_new_from_message, every key the handle lists
(keys iterator when the module has one, else a fixed list) read with
codes_get / codes_get_array, codes_get_values and the coordinate keys; then,
written to a file, through codes_count_in_file, reading every message and
the message index; then through vorlak.open: every field's keys (dict),
values in both precisions, shape, coordinates, plane axes, grid
descriptions and a nearest search. A case passes when each step gives a
result or one of the module's exceptions (CodesInternalError and its
subclasses; TypeError / OverflowError for the argument conversions), and
when its work stays within a bound set by the bytes of the message, checked
in the worker:

  - points: no array handed out is longer than VALUES_PER_OCTET points per
    octet of the message (at least MIN_POINTS). The documented exceptions,
    whose size is the grid's, may go up to the 2^28-point limit instead: a
    constant field (0 bits per value), a GRIB1 bitmap that ends before
    the grid does, and the field API's compressing packings (PNG,
    run-length).
  - memory: the worker's peak resident set grows during the case by at most
    MEMORY_SLACK plus MEMORY_ARRAYS arrays of doubles of that many points.

Neither depends on the machine. The only limits on time and on the whole
worker are hang guards, far above any honest case: a case that uses more
than --hang-cpu seconds of CPU or gives no answer within --hang-wall
seconds, a worker whose peak resident memory passes --rss-mb or that dies
(a crash, an abort, an allocation past the --as-gib address-space limit).
A case is never failed for being merely slow.

The cases run in a worker subprocess (restarted after a failure that kills
it) so that one crash names its case and the rest still run.

Usage:
  run_corpus.py                  every case
  run_corpus.py --sample N       a fixed, deterministic slice of about N cases
  run_corpus.py --filter TEXT    only cases whose name contains TEXT
Options: --seed, --no-testdata, --hang-cpu, --hang-wall, --rss-mb, --as-gib, -v.
"""
from __future__ import annotations

import argparse
import json
import os
import resource
import select
import struct
import subprocess
import sys
import time
import zlib

TOOLS = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(TOOLS)

# Read when the module has no keys iterator yet.
FIXED_KEYS = (
    "edition", "editionNumber", "offset", "totalLength", "numberOfPoints", "numberOfValues",
    "numberOfDataPoints", "Ni", "Nj", "Nx", "Ny", "shortName", "name", "units", "typeOfLevel", "levelType",
    "level", "gridType", "gridDefinitionDescription", "dataType", "packingType", "stepType", "missingValue",
    "messageNumber", "centre", "centreDescription", "subCentre", "discipline", "parameterCategory",
    "parameterNumber", "gridDefinitionTemplateNumber", "productDefinitionTemplateNumber",
    "dataRepresentationTemplateNumber", "bitsPerValue", "table2Version", "indicatorOfParameter",
    "generatingProcessIdentifier", "paramId", "cfName", "cfVarName", "forecastTime", "endStep", "stepRange",
    "stepUnits", "iScansNegatively", "jScansPositively", "jPointsAreConsecutive", "alternativeRowScanning",
    "dataDate", "dataTime", "validityDate", "validityTime", "numberOfMissing",
    "latitudeOfFirstGridPointInDegrees", "longitudeOfFirstGridPointInDegrees",
    "latitudeOfLastGridPointInDegrees", "longitudeOfLastGridPointInDegrees",
    "iDirectionIncrementInDegrees", "jDirectionIncrementInDegrees",
)
COORDINATE_KEYS = ("latitudes", "longitudes", "distinctLatitudes", "distinctLongitudes")

# ------------------------------------------------------------ work bounds
# Points per octet of the message that an array handed out may have. One
# bit per value (simple packing, a bitmap) gives 8; the compressing
# packings give more on smooth fields (the densest real field of the test
# data, a complex-packed one, has 16).
VALUES_PER_OCTET = 64
# Small messages may still describe a small grid of their own.
MIN_POINTS = 4096
# Data representations that compress without a bound of their own (the
# field API decodes them; the codes API refuses them): PNG (deflate) and
# run-length packing. Their output is bounded by the grid.
COMPRESSING_TEMPLATES = (41, 200)
# The largest field the module accepts; the grid-sized exceptions go up to it.
GRID_LIMIT = 1 << 28
# Peak resident growth of one case: this much, plus this many arrays of
# doubles as long as the points bound (the decoded values, the array being
# handed out and the decoder's own working arrays).
MEMORY_SLACK = 16 << 20
MEMORY_ARRAYS = 6
# Large blocks are mapped afresh by the worker's allocator (a fixed mmap
# threshold), so that the peak resident set shows what a case allocated
# rather than what an earlier case left in the heap.
MMAP_THRESHOLD = 1 << 20


def _u24(b: bytes, at: int) -> int:
    return int.from_bytes(b[at:at + 3], "big")


def _message_grid_sized(m: bytes) -> bool:
    if len(m) < 8:
        return False
    if m[7] == 1:
        # 8.. PDS (8 flags: 0x80 GDS, 0x40 BMS), then GDS, BMS, BDS (11 bits).
        at = 8
        flags = m[at + 7] if len(m) > at + 7 else 0
        at += _u24(m, at)
        if flags & 0x80:
            at += _u24(m, at)
        if flags & 0x40:
            return True  # a bitmap: it may end before the grid does
        return len(m) > at + 10 and m[at + 10] == 0
    if m[7] == 2:
        # 16.. sections of 4-octet length and 1-octet number; 5: 10-11
        # template, 20 bits.
        at = 16
        while at + 5 <= len(m) and m[at:at + 4] != b"7777":
            length = int.from_bytes(m[at:at + 4], "big")
            if m[at + 4] == 5 and length >= 20 and len(m) > at + 19 and m[at + 19] == 0:
                return True
            if m[at + 4] == 5 and length >= 11 and len(m) > at + 10 and \
                    int.from_bytes(m[at + 9:at + 11], "big") in COMPRESSING_TEMPLATES:
                return True
            if length < 5:
                return False
            at += length
    return False


def grid_sized(data: bytes) -> bool:
    """True when a message in `data` may decode to as many points as its
    grid holds, whatever its size: a field of 0 bits per value, or a GRIB1
    bitmap (it may end before the grid does; the rest is missing). Read
    from the octets of every message start, leniently: what cannot be read
    is not an exception."""
    at = data.find(b"GRIB")
    while at >= 0:
        if _message_grid_sized(data[at:]):
            return True
        at = data.find(b"GRIB", at + 1)
    return False


def points_bound(data: bytes) -> int:
    if grid_sized(data):
        return GRID_LIMIT
    return min(GRID_LIMIT, max(MIN_POINTS, VALUES_PER_OCTET * len(data)))


def memory_bound(points: int) -> int:
    return MEMORY_SLACK + MEMORY_ARRAYS * 8 * points


# ------------------------------------------------------------------ worker


class Work:
    """The largest array (or list) one case was handed."""

    def __init__(self):
        self.largest = 0

    def note(self, result):
        if result is not None and not isinstance(result, (str, bytes, int, float, dict, type)):
            try:
                self.largest = max(self.largest, len(result))
            except TypeError:
                pass
        return result


def _keys_of(v, h):
    if not hasattr(v, "codes_keys_iterator_new"):
        return FIXED_KEYS
    names = []
    it = v.codes_keys_iterator_new(h)
    try:
        while v.codes_keys_iterator_next(it):
            names.append(v.codes_keys_iterator_get_name(it))
    finally:
        v.codes_keys_iterator_delete(it)
    return names


def exercise(v, data: bytes, work: Work) -> str:
    """One case through the Python path. Returns "handle" or "refused: ...";
    raises whatever the module raises that is not one of its own errors."""
    allowed = (v.CodesInternalError, TypeError, OverflowError)
    try:
        h = v.codes_new_from_message(data)
    except allowed as e:
        return f"refused: {type(e).__name__}: {e}"
    for key in _keys_of(v, h):
        for read in (v.codes_get, v.codes_get_size, v.codes_get_native_type, v.codes_is_missing,
                     v.codes_get_string):
            try:
                work.note(read(h, key))
            except allowed:
                pass
        try:
            work.note(v.codes_get_array(h, key))
        except allowed:
            pass
    values = None
    try:
        values = work.note(v.codes_get_values(h))
    except allowed:
        pass
    for key in COORDINATE_KEYS:
        try:
            work.note(v.codes_get_double_array(h, key))
        except allowed:
            pass
    # get_data makes one Python dict per point: only for small grids, where
    # its cost is the module's and not the interpreter's.
    if hasattr(v, "codes_grib_get_data") and values is not None and len(values) <= 100_000:
        try:
            work.note(v.codes_grib_get_data(h))
        except allowed:
            pass
    try:
        v.codes_get_message(h)
    except allowed:
        pass
    v.codes_release(h)
    return "handle"


def exercise_file(v, path: str, data: bytes) -> None:
    """The same bytes as a file: counted, opened message by message and
    indexed (no decoding: the bytes path above does that)."""
    allowed = (v.CodesInternalError, TypeError, OverflowError)
    with open(path, "wb") as f:
        f.write(data)
    try:
        v.codes_count_in_file(path)
        with open(path, "rb") as f:
            while v.codes_grib_new_from_file(f) is not None:
                pass
    except allowed:
        return
    if not hasattr(v, "codes_index_new_from_file"):
        return
    try:
        idx = v.codes_index_new_from_file(path, ["shortName", "level", "gridType"])
    except allowed:
        return
    try:
        for key in ("shortName", "level", "gridType"):
            found = v.codes_index_get(idx, key)
            if found:
                v.codes_index_select(idx, key, found[0])
        while True:
            h = v.codes_new_from_index(idx)
            if h is None:
                break
            v.codes_get_long(h, "edition")
            v.codes_release(h)
    except allowed:
        pass
    v.codes_index_release(idx)


def exercise_fields(open_fields, data: bytes, work: Work) -> None:
    """The same bytes through the field API (vorlak.open): every field of
    every message, its keys, decoded data and grid."""
    import numpy as np
    from vorlak._vorlak import CodesInternalError
    allowed = (CodesInternalError, TypeError, OverflowError)
    try:
        grib = open_fields(data)
    except allowed:
        return
    with grib:
        for field in grib:
            for read in (lambda: dict(field), lambda: field.shape, lambda: field.grid_id, lambda: field.values,
                         lambda: field.data(np.float32), lambda: field.latitudes, lambda: field.longitudes,
                         lambda: field.x, lambda: field.y, lambda: field.projparams, lambda: field._crs(True),
                         lambda: field.nearest(45.0, 10.0, k=4)):
                try:
                    result = read()
                except allowed:
                    continue
                if isinstance(result, dict):
                    for value in result.values():
                        work.note(value)
                else:
                    work.note(result)


def _status_kib(field: str) -> int:
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field):
                return int(line.split()[1])
    return 0


def reset_resident_peak() -> bool:
    """Sets this process's peak resident set (VmHWM) back to its current
    resident set; False where the kernel does not allow it."""
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
        return True
    except OSError:
        return False


def peak_resident_kb() -> int:
    """This process's own peak resident set (VmHWM). getrusage's maxrss is
    not used: it carries the parent's peak across fork and exec."""
    return _status_kib("VmHWM:") or resource.getrusage(resource.RUSAGE_SELF).ru_maxrss


def work_verdict(data: bytes, work: Work, growth: int | None) -> str | None:
    """Why the case did more work than its bytes allow; None when it did not."""
    points = points_bound(data)
    if work.largest > points:
        return (f"handed out an array of {work.largest} points for {len(data)} octets "
                f"(bound {points}: {VALUES_PER_OCTET} per octet)")
    if growth is not None and growth > memory_bound(points):
        return (f"peak resident memory grew by {growth >> 20} MiB for {len(data)} octets "
                f"(bound {memory_bound(points) >> 20} MiB)")
    return None


def worker_main() -> int:
    sys.path.insert(0, ROOT)
    from vorlak import _vorlak as v
    from vorlak import fields

    import tempfile
    # Every case is written to the same file name: the cache could take a
    # rewrite within one clock tick for the old contents.
    v.codes_grib_cache_set_enabled(False)
    scratch = tempfile.mkdtemp(prefix="vorlak-corpus-")
    case_path = os.path.join(scratch, "case.grib")
    # One honest message of each edition first, so that what is set up on
    # first use (NumPy's interface, tables, caches) is not charged to a case.
    sys.path.insert(0, TOOLS)
    import make_sample
    for honest in (make_sample.grib2_messages()[0], make_sample.grib1_messages()[0]):
        exercise(v, honest, Work())
        exercise_file(v, case_path, honest)
        exercise_fields(fields.open, honest, Work())
    can_reset_peak = reset_resident_peak()
    inp = sys.stdin.buffer
    out = sys.stdout
    out.write("ready\n")
    out.flush()
    while True:
        head = inp.read(8)
        if len(head) < 8:
            return 0
        name_len, data_len = struct.unpack(">II", head)
        inp.read(name_len)
        data = inp.read(data_len)
        work = Work()
        if can_reset_peak:
            reset_resident_peak()
        resident_before = _status_kib("VmRSS:")
        # CPU time is read only for the hang guard.
        start = resource.getrusage(resource.RUSAGE_SELF)
        try:
            outcome = exercise(v, data, work)
            exercise_file(v, case_path, data)
            exercise_fields(fields.open, data, work)
            status = "ok"
        except BaseException as e:  # anything the module should not raise
            outcome = f"{type(e).__name__}: {e}"
            status = "bad"
        end = resource.getrusage(resource.RUSAGE_SELF)
        cpu = (end.ru_utime - start.ru_utime) + (end.ru_stime - start.ru_stime)
        growth = (peak_resident_kb() - resident_before) * 1024 if can_reset_peak else None
        over = work_verdict(data, work, growth) if status == "ok" else None
        out.write(json.dumps({"status": status, "outcome": outcome[:300], "over": over, "cpu": cpu,
                              "points": work.largest, "octets": len(data), "growth": growth,
                              "maxrss_kb": peak_resident_kb()}) + "\n")
        out.flush()


# ------------------------------------------------------------------ parent


class Worker:
    def __init__(self, as_bytes: int):
        def limits():
            resource.setrlimit(resource.RLIMIT_AS, (as_bytes, as_bytes))
            resource.setrlimit(resource.RLIMIT_CORE, (0, 0))

        env = dict(os.environ, PYTHONPATH=ROOT, OPENBLAS_NUM_THREADS="1", OMP_NUM_THREADS="1",
                   MALLOC_MMAP_THRESHOLD_=str(MMAP_THRESHOLD))
        self.proc = subprocess.Popen([sys.executable, os.path.abspath(__file__), "--worker"],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     preexec_fn=limits, env=env)
        line = self._read_line(120.0)  # hang guard: the worker imports NumPy and the module
        if line != "ready":
            raise RuntimeError(f"corpus worker did not start: {line!r} {self.stderr_tail()}")

    def _read_line(self, timeout: float):
        """One line from the worker; None when none comes within `timeout`
        seconds (a hang guard: real time, far above any honest case)."""
        deadline = time.monotonic() + timeout
        buf = b""
        fd = self.proc.stdout.fileno()
        while not buf.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            ready, _, _ = select.select([fd], [], [], left)
            if not ready:
                return None
            chunk = os.read(fd, 1 << 16)
            if not chunk:
                return None if not buf else buf.decode(errors="replace").strip()
            buf += chunk
        return buf.decode(errors="replace").strip()

    def run(self, name: str, data: bytes, hang_wall: float):
        encoded = name.encode()
        try:
            self.proc.stdin.write(struct.pack(">II", len(encoded), len(data)) + encoded + data)
            self.proc.stdin.flush()
        except BrokenPipeError:
            return None
        line = self._read_line(hang_wall)
        return json.loads(line) if line and line.startswith("{") else line

    def stderr_tail(self) -> str:
        try:
            self.proc.kill()
            _, err = self.proc.communicate(timeout=10)
        except Exception:
            return ""
        return err.decode(errors="replace").strip()[-600:]

    def close(self):
        try:
            self.proc.stdin.close()
            self.proc.wait(timeout=30)
        except Exception:
            self.proc.kill()


def select_cases(make_cases, sample, text):
    """The cases to run, streamed (the whole corpus with the real files is
    gigabytes): those whose name contains `text`, and of them a
    deterministic slice of about `sample` when asked, chosen by a hash of
    the name."""
    def matching():
        return (c for c in make_cases() if text in c[0])

    modulus = 1
    if sample:
        total = sum(1 for _ in matching())
        modulus = max(1, total // sample)
    return (c for c in matching() if zlib.crc32(c[0].encode()) % modulus == 0)


def main(argv) -> int:
    if argv[1:2] == ["--worker"]:
        return worker_main()
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--sample", type=int, default=0)
    ap.add_argument("--filter", default="")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--no-testdata", action="store_true")
    # Hang guards, not speed limits: an honest case takes a small fraction
    # of either on any machine this runs on.
    ap.add_argument("--hang-cpu", type=float, default=60.0,
                    help="hang guard: CPU seconds one case may use before it counts as runaway")
    ap.add_argument("--hang-wall", type=float, default=300.0,
                    help="hang guard: real seconds without an answer before a case counts as hung")
    ap.add_argument("--rss-mb", type=int, default=3072, help="peak resident memory of the worker")
    ap.add_argument("--as-gib", type=float, default=4.0, help="address-space limit of the worker")
    ap.add_argument("-v", "--verbose", action="store_true")
    args = ap.parse_args(argv[1:])

    sys.path.insert(0, TOOLS)
    import make_corpus

    cases = select_cases(lambda: make_corpus.all_cases(args.seed, not args.no_testdata), args.sample,
                         args.filter)
    as_bytes = int(args.as_gib * (1 << 30))
    worker = Worker(as_bytes)
    failures = []
    refused = handled = 0
    densest = (0.0, 0, 0, "")  # points per octet, points, octets, name
    most_memory = (0, "")
    count = 0
    for name, data in cases:
        count += 1
        result = worker.run(name, data, args.hang_wall)
        if not isinstance(result, dict):
            what = "hang (no answer within %.0f s)" % args.hang_wall \
                if result is None and worker.proc.poll() is None else "worker died"
            failures.append((name, f"{what}: {worker.stderr_tail()}"))
            worker = Worker(as_bytes)
            continue
        if result["status"] != "ok":
            failures.append((name, f"unexpected exception {result['outcome']}"))
        elif result["over"]:
            failures.append((name, f"work bound: {result['over']}"))
        if result["cpu"] > args.hang_cpu:
            failures.append((name, f"hang guard: {result['cpu']:.0f} s of CPU (guard {args.hang_cpu:.0f} s)"))
        if result["maxrss_kb"] > args.rss_mb * 1024:
            failures.append((name, f"peak resident memory {result['maxrss_kb'] // 1024} MiB "
                                   f"(guard {args.rss_mb} MiB)"))
            worker.close()
            worker = Worker(as_bytes)
        if result["outcome"].startswith("refused"):
            refused += 1
        else:
            handled += 1
        densest = max(densest, (result["points"] / max(1, result["octets"]), result["points"], result["octets"],
                                name))
        most_memory = max(most_memory, (result["growth"] or 0, name))
        if args.verbose:
            print(f"{name}: {result['outcome'][:160]} [{result['points']} points, {result['octets']} octets, "
                  f"+{(result['growth'] or 0) >> 20} MiB]")
    worker.close()
    print(f"corpus: {count} cases ({handled} opened, {refused} refused at open); "
          f"densest {densest[1]} points for {densest[2]} octets: {densest[3]}; "
          f"largest growth {most_memory[0] >> 20} MiB: {most_memory[1]}")
    for name, why in failures:
        print(f"FAIL {name}: {why}")
    failed = len({name for name, _ in failures})
    print(f"corpus: {count - failed} passed, {failed} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
