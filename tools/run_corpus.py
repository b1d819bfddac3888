#!/usr/bin/env python3
"""Feeds the malformed-input corpus of tools/make_corpus.py through the
Python path and checks that nothing crashes, hangs or balloons.

Each case goes through codes_new_from_message, every key the handle lists
(keys iterator when the module has one, else a fixed list) read with
codes_get / codes_get_array, codes_get_values and the coordinate keys; then,
written to a file, through codes_count_in_file, reading every message and
the message index. A
case passes when each step gives a result or one of the module's exceptions
(CodesInternalError and its subclasses; TypeError / OverflowError for the
argument conversions). It fails when anything else is raised, when the
worker process dies (a crash, an abort, an allocation past RLIMIT_AS), when
it takes more than --cpu seconds of CPU time or --wall seconds of real time,
or when the worker's peak resident memory passes --rss-mb.

The cases run in a worker subprocess (restarted after a failure that kills
it) so that one crash names its case and the rest still run.

Usage:
  run_corpus.py                  every case
  run_corpus.py --sample N       a fixed, deterministic slice of about N cases
  run_corpus.py --filter TEXT    only cases whose name contains TEXT
Options: --seed, --no-testdata, --cpu, --wall, --rss-mb, --as-gib, -v.
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


# ------------------------------------------------------------------ worker


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


def exercise(v, data: bytes) -> str:
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
                read(h, key)
            except allowed:
                pass
        try:
            v.codes_get_array(h, key)
        except allowed:
            pass
    values = None
    try:
        values = v.codes_get_values(h)
    except allowed:
        pass
    for key in COORDINATE_KEYS:
        try:
            v.codes_get_double_array(h, key)
        except allowed:
            pass
    # get_data makes one Python dict per point: only for small grids, where
    # its cost is the module's and not the interpreter's.
    if hasattr(v, "codes_grib_get_data") and values is not None and len(values) <= 100_000:
        try:
            v.codes_grib_get_data(h)
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


def worker_main() -> int:
    sys.path.insert(0, ROOT)
    from vorlak import _vorlak as v

    import tempfile
    # Every case is written to the same file name: the cache could take a
    # rewrite within one clock tick for the old contents.
    v.codes_grib_cache_set_enabled(False)
    scratch = tempfile.mkdtemp(prefix="vorlak-corpus-")
    case_path = os.path.join(scratch, "case.grib")
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
        start = resource.getrusage(resource.RUSAGE_SELF)
        try:
            outcome = exercise(v, data)
            exercise_file(v, case_path, data)
            status = "ok"
        except BaseException as e:  # anything the module should not raise
            outcome = f"{type(e).__name__}: {e}"
            status = "bad"
        end = resource.getrusage(resource.RUSAGE_SELF)
        cpu = (end.ru_utime - start.ru_utime) + (end.ru_stime - start.ru_stime)
        out.write(json.dumps({"status": status, "outcome": outcome[:300], "cpu": cpu,
                              "maxrss_kb": peak_resident_kb()}) + "\n")
        out.flush()


# ------------------------------------------------------------------ parent


class Worker:
    def __init__(self, as_bytes: int):
        def limits():
            resource.setrlimit(resource.RLIMIT_AS, (as_bytes, as_bytes))
            resource.setrlimit(resource.RLIMIT_CORE, (0, 0))

        env = dict(os.environ, PYTHONPATH=ROOT, OPENBLAS_NUM_THREADS="1", OMP_NUM_THREADS="1")
        self.proc = subprocess.Popen([sys.executable, os.path.abspath(__file__), "--worker"],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     preexec_fn=limits, env=env)
        line = self._read_line(60.0)
        if line != "ready":
            raise RuntimeError(f"corpus worker did not start: {line!r} {self.stderr_tail()}")

    def _read_line(self, timeout: float):
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

    def run(self, name: str, data: bytes, wall: float):
        encoded = name.encode()
        try:
            self.proc.stdin.write(struct.pack(">II", len(encoded), len(data)) + encoded + data)
            self.proc.stdin.flush()
        except BrokenPipeError:
            return None
        line = self._read_line(wall)
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


def peak_resident_kb() -> int:
    """This process's own peak resident set (VmHWM). getrusage's maxrss is
    not used: it carries the parent's peak across fork and exec."""
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss


def main(argv) -> int:
    if argv[1:2] == ["--worker"]:
        return worker_main()
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--sample", type=int, default=0)
    ap.add_argument("--filter", default="")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--no-testdata", action="store_true")
    ap.add_argument("--cpu", type=float, default=1.0, help="CPU seconds per case")
    ap.add_argument("--wall", type=float, default=30.0, help="real seconds per case before it counts as a hang")
    ap.add_argument("--rss-mb", type=int, default=1536, help="peak resident memory of the worker")
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
    slowest = (0.0, "")
    started = time.monotonic()
    count = 0
    for name, data in cases:
        count += 1
        result = worker.run(name, data, args.wall)
        if not isinstance(result, dict):
            what = "hang (no answer within %.0f s)" % args.wall if result is None and worker.proc.poll() is None \
                else "worker died"
            failures.append((name, f"{what}: {worker.stderr_tail()}"))
            worker = Worker(as_bytes)
            continue
        if result["status"] != "ok":
            failures.append((name, f"unexpected exception {result['outcome']}"))
        elif result["cpu"] > args.cpu:
            failures.append((name, f"took {result['cpu']:.2f} s of CPU time (limit {args.cpu} s)"))
        if result["maxrss_kb"] > args.rss_mb * 1024:
            failures.append((name, f"peak resident memory {result['maxrss_kb'] // 1024} MiB "
                                   f"(budget {args.rss_mb} MiB)"))
            worker.close()
            worker = Worker(as_bytes)
        if result["outcome"].startswith("refused"):
            refused += 1
        else:
            handled += 1
        slowest = max(slowest, (result["cpu"], name))
        if args.verbose:
            print(f"{name}: {result['outcome'][:160]}")
    worker.close()
    took = time.monotonic() - started
    print(f"corpus: {count} cases in {took:.1f} s ({handled} opened, {refused} refused at open; "
          f"slowest {slowest[0]:.3f} s CPU: {slowest[1]})")
    for name, why in failures:
        print(f"FAIL {name}: {why}")
    failed = len({name for name, _ in failures})
    print(f"corpus: {count - failed} passed, {failed} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
