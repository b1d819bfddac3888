"""Faults around the module: files that change under an open handle, paths
that cannot be read, file objects that fail, threads, cache churn and
memory limits. Nothing may crash, and nothing already handed out may be
lost or corrupted."""
import os
import subprocess
import sys
import textwrap
import threading

import numpy as np
import pytest

from conftest import HANG_GUARD_SECONDS, ROOT, latlon_message, write
from vorlak import _vorlak as v


def run_python(code, preexec_fn=None, timeout=HANG_GUARD_SECONDS):
    """`code` in a fresh interpreter with the module importable; returns
    the completed process (stdout holds what it printed)."""
    env = dict(os.environ, PYTHONPATH=ROOT)
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                          env=env, preexec_fn=preexec_fn, timeout=timeout)


# ------------------------------------------------- files changing under a handle

def _rewrite(path, data, when):
    if when == "deleted":
        os.remove(path)
    elif when == "truncated":
        with open(path, "r+b") as f:
            f.truncate(10)
    elif when == "rewritten":
        with open(path, "wb") as f:
            f.write(data)
        st = os.stat(path)
        os.utime(path, ns=(st.st_atime_ns, st.st_mtime_ns + 5_000_000_000))
    elif when == "replaced":
        tmp = path + ".new"
        write(tmp, data)
        os.replace(tmp, path)


@pytest.mark.parametrize("when", ["deleted", "truncated", "rewritten", "replaced"])
@pytest.mark.parametrize("cache", [True, False])
def test_handle_keeps_its_bytes_when_the_file_changes(tmp_path, fresh_cache, when, cache):
    v.codes_grib_cache_set_enabled(cache)
    old = latlon_message(level=85000)
    new = latlon_message(level=50000, values=[1.0] * 12)
    assert len(old) == len(new)
    path = write(tmp_path / "f.grib2", old)
    h = v.codes_grib_new_from_file(path)  # made before the change, decoded after
    decoded_early = v.codes_grib_new_from_file(path)
    early = np.array(v.codes_get_values(decoded_early))
    _rewrite(path, new, when)

    assert v.codes_get_message(h) == old
    np.testing.assert_array_equal(v.codes_get_values(h), early)
    assert v.codes_get_long(h, "level") == 850
    np.testing.assert_array_equal(v.codes_get_values(decoded_early), early)
    clone = v.codes_clone(h)
    np.testing.assert_array_equal(v.codes_get_values(clone), early)

    if when in ("deleted", "truncated"):
        with pytest.raises(v.CodesInternalError):
            v.codes_grib_new_from_file(path)
    else:
        fresh = v.codes_grib_new_from_file(path)
        assert v.codes_get_long(fresh, "level") == 500
        np.testing.assert_array_equal(v.codes_get_values(fresh), np.ones(12))
        assert v.codes_get_message(h) == old  # still the old bytes


def test_file_growing_between_count_and_read(tmp_path, fresh_cache, messages):
    path = write(tmp_path / "g.grib2", messages[0])
    with open(path, "rb") as f:
        assert v.codes_count_in_file(f) == 1
        first = v.codes_grib_new_from_file(f)
        with open(path, "ab") as out:
            out.write(messages[1])
        os.utime(path, ns=(0, os.stat(path).st_mtime_ns + 1_000_000_000))
        second = v.codes_grib_new_from_file(f)
    assert v.codes_get_long(first, "level") == 850
    assert v.codes_get_long(second, "level") == 700


# --------------------------------------------------------- unreadable paths

def test_directory_passed_as_a_file(tmp_path, fresh_cache):
    for call in (v.codes_grib_new_from_file, v.codes_count_in_file):
        with pytest.raises(v.CodesInternalError, match=r"failed to read '.*': .*\(os error 21\)"):
            call(str(tmp_path))
    assert v.codes_grib_cache_info()["entries"] == 0


def test_missing_file_names_the_os_error(tmp_path, fresh_cache):
    with pytest.raises(v.CodesInternalError, match=r"failed to stat '.*nope': .*\(os error 2\)"):
        v.codes_grib_new_from_file(str(tmp_path / "nope"))


def _drop_to_nobody():
    os.setgroups([])
    os.setgid(65534)
    os.setuid(65534)


@pytest.fixture
def open_folder():
    # World-traversable (pytest's own folders are private to their owner), so
    # that only the file itself is refused.
    import shutil
    import tempfile
    folder = tempfile.mkdtemp(prefix="vorlak-perm-")
    os.chmod(folder, 0o755)
    yield folder
    shutil.rmtree(folder, ignore_errors=True)


def test_permission_denied(open_folder, messages):
    path = write(os.path.join(open_folder, "secret.grib2"), messages[0])
    os.chmod(path, 0o000)
    code = f"""
        from vorlak import _vorlak as v
        try:
            v.codes_grib_new_from_file({path!r})
            print("opened")
        except v.CodesInternalError as e:
            print("refused:", e)
        """
    if os.geteuid() == 0:
        # Root reads anything: drop to nobody in the child. The module must be
        # readable by nobody for this to say anything.
        if not os.access(os.path.join(ROOT, "vorlak", "__init__.py"), os.R_OK):
            pytest.skip("the source tree is not readable")
        try:
            done = run_python(code, preexec_fn=_drop_to_nobody)
        except (PermissionError, subprocess.SubprocessError) as e:
            pytest.skip(f"cannot drop privileges: {e}")
        if "No module named" in done.stderr or "Permission denied" in done.stderr and not done.stdout:
            pytest.skip(f"nobody cannot import the module: {done.stderr.strip()[-200:]}")
    else:
        done = run_python(code)
    assert done.returncode == 0, done.stderr
    assert done.stdout.startswith("refused: failed to read"), done.stdout
    assert "(os error 13)" in done.stdout


@pytest.mark.parametrize("raw", [b"caf\xe9.grib2", b"\xff\xfe-\x80.grib2", "sn\u00f8w.grib2".encode()])
def test_paths_that_are_not_utf8(tmp_path, fresh_cache, messages, raw):
    folder = os.fsencode(str(tmp_path))
    path_bytes = os.path.join(folder, raw)
    with open(path_bytes, "wb") as f:
        f.write(messages[0])
    name = os.fsdecode(path_bytes)  # surrogateescape for the bytes that are not UTF-8
    h = v.codes_grib_new_from_file(name)
    assert v.codes_get_long(h, "level") == 850
    assert v.codes_count_in_file(name) == 1
    import pathlib
    assert v.codes_count_in_file(pathlib.Path(name)) == 1
    with open(path_bytes, "rb") as f:  # its .name is the bytes path: refused, not crashed
        with pytest.raises(v.CodesInternalError, match="expected a filesystem path"):
            v.codes_grib_new_from_file(f)
    missing = name + ".missing"
    with pytest.raises(v.CodesInternalError) as err:
        v.codes_grib_new_from_file(missing)
    str(err.value).encode("utf-8")  # the message is valid text


# ------------------------------------------------------ failing file objects

class Boom(Exception):
    pass


class FailingFile:
    def __init__(self, path, fail):
        self.name = path
        self.fail = fail
        self.position = 0
        self.written = []

    def tell(self):
        if self.fail == "tell":
            raise Boom("tell")
        if self.fail == "tell-negative":
            return -1
        if self.fail == "tell-text":
            return "0"
        return self.position

    def seek(self, n):
        if self.fail == "seek":
            raise Boom("seek")
        self.position = n

    def write(self, data):
        if self.fail == "write":
            raise Boom("write")
        self.written.append(data)


@pytest.mark.parametrize("fail", ["tell", "seek"])
def test_file_object_exceptions_pass_through_unchanged(one_file, fail):
    f = FailingFile(one_file, fail)
    with pytest.raises(Boom) as err:
        v.codes_grib_new_from_file(f)
    assert err.value.args == (fail,)
    if fail == "tell":
        with pytest.raises(Boom):
            v.codes_count_in_file(f)


def test_write_exception_passes_through_unchanged(handle, one_file):
    f = FailingFile(one_file, "write")
    with pytest.raises(Boom) as err:
        v.codes_write(handle, f)
    assert err.value.args == ("write",)
    # The handle is untouched.
    assert len(v.codes_get_values(handle)) == 12


@pytest.mark.parametrize("fail", ["tell-negative", "tell-text"])
def test_bad_positions_are_refused(one_file, fail):
    with pytest.raises((TypeError, OverflowError, ValueError)):
        v.codes_grib_new_from_file(FailingFile(one_file, fail))


def test_name_property_that_raises(one_file):
    class Sly:
        @property
        def name(self):
            raise Boom("name")

    with pytest.raises(Boom):
        v.codes_grib_new_from_file(Sly())


# ------------------------------------------------------------------- threads

def test_one_handle_from_many_threads_decodes_once(tmp_path, fresh_cache):
    path = write(tmp_path / "t.grib2", latlon_message(ni=40, nj=30, values=[float(k % 97) for k in range(1200)]))
    h = v.codes_grib_new_from_file(path)
    clones = [v.codes_clone(h) for _ in range(3)]
    start = threading.Barrier(8)
    results, errors = [], []

    def work(k):
        try:
            start.wait()
            target = clones[k % 3] if k % 2 else h
            for _ in range(25):
                arr = v.codes_get_values(target)
                lats = v.codes_get_double_array(target, "latitudes")
                results.append((arr.__array_interface__["data"][0], float(arr.sum()), len(lats)))
                v.codes_get_long(target, "numberOfMissing")
                v.codes_get_string(target, "shortName")
        except BaseException as e:  # noqa: BLE001 - reported below
            errors.append(e)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    # Every array is a view of the one memoised field: decoded once for the
    # handle and its clones.
    assert len({r[0] for r in results}) == 1
    assert len({r[1:] for r in results}) == 1
    assert v._benchmark_force_decode_values(h) == 1200


def test_many_handles_of_one_file_from_threads(tmp_path, fresh_cache, messages):
    path = write(tmp_path / "m.grib2", *messages)
    errors = []

    def work():
        try:
            for _ in range(30):
                with open(path, "rb") as f:
                    while True:
                        h = v.codes_grib_new_from_file(f)
                        if h is None:
                            break
                        assert len(v.codes_get_values(h)) == v.codes_get_long(h, "numberOfPoints")
                        v.codes_release(h)
        except BaseException as e:  # noqa: BLE001
            errors.append(e)

    threads = [threading.Thread(target=work) for _ in range(6)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    assert v.codes_grib_cache_info()["entries"] == 1


# ---------------------------------------------------------------- cache churn

def test_cache_limits_hold_under_churn(tmp_path, fresh_cache):
    v.codes_grib_cache_set_limits(3, 3000)
    kept = []
    for k in range(60):
        path = write(tmp_path / f"c{k % 20}.grib2", latlon_message(level=100 * (k + 1), values=[float(k)] * 12))
        if k >= 20:  # the same names again, rewritten: stale entries replaced
            os.utime(path, ns=(0, os.stat(path).st_mtime_ns + k * 1_000_000_000))
        h = v.codes_grib_new_from_file(path)
        kept.append((h, k))
        if k % 7 == 0:
            v.codes_grib_cache_set_limits(1 + k % 4, 1 + (k * 37) % 4000)
        if k % 11 == 0:
            v.codes_grib_cache_clear()
        if k % 13 == 0:
            v.codes_grib_cache_set_enabled(k % 26 != 0)
        info = v.codes_grib_cache_info()
        assert info["entries"] <= info["max_entries"]
        assert info["total_bytes"] <= info["max_bytes"]
    # Every handle, evicted or not, still has its own contents.
    for h, k in kept:
        assert v.codes_get_long(h, "level") == k + 1
        np.testing.assert_array_equal(v.codes_get_values(h), np.full(12, float(k)))


# ------------------------------------------------------------- memory limits

def test_allocation_failure_is_a_memory_error_not_a_crash():
    # A legal field of 2^27 constant values (1 GiB of doubles) under a 1 GiB
    # address-space limit: the decode cannot allocate.
    code = """
        import resource, sys
        sys.path.insert(0, "tools")
        import gribbuild as g
        from vorlak import _vorlak as v
        resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
        grid = g.section3_latlon(ni=1 << 14, nj=1 << 13, la1=60, lo1=0, la2=-60, lo2=359, di=0.02, dj=0.01)
        m = g.grib2_message([g.section1(), grid, g.section4(), g.section5(0, 0, 1.0), g.section6(),
                             g.section7(b"")])
        h = v.codes_new_from_message(m)
        for _ in range(2):  # the memo stays empty and tries again
            try:
                v.codes_get_values(h)
                print("decoded")
            except MemoryError:
                print("MemoryError")
        print(v.codes_get_long(h, "numberOfPoints"))
        """
    done = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                          env=dict(os.environ, PYTHONPATH=ROOT), cwd=ROOT, timeout=HANG_GUARD_SECONDS)
    assert done.returncode == 0, done.stderr[-800:]
    assert done.stdout.split() == ["MemoryError", "MemoryError", str(1 << 27)]


def test_endless_device_ends_in_an_error_not_a_crash():
    # /dev/zero has no end: reading it whole fails, under a memory limit,
    # as MemoryError and leaves the interpreter working.
    code = """
        import resource
        from vorlak import _vorlak as v
        resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
        try:
            v.codes_grib_new_from_file("/dev/zero")
            print("opened")
        except (MemoryError, v.CodesInternalError) as e:
            print(type(e).__name__)
        print(v.codes_grib_cache_info()["entries"])
        """
    done = run_python(code)
    assert done.returncode == 0, done.stderr[-800:]
    assert done.stdout.split()[-1] == "0"
    assert done.stdout.split()[0] in ("MemoryError", "CodesInternalError")
