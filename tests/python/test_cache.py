"""The process-wide file cache, end to end: hits, one entry per file however
it is spelled, rewrite detection, LRU eviction, limits from the environment,
switching off and clearing."""
import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest

from conftest import DEFAULT_MAX_BYTES, DEFAULT_MAX_ENTRIES, HANG_GUARD_SECONDS, ROOT, latlon_message, write
from vorlak import _vorlak as v

pytestmark = pytest.mark.usefixtures("fresh_cache")


def level_of(path):
    return v.codes_get_long(v.codes_grib_new_from_file(path), "level")


def swap_in_place(path, data):
    """Rewrites the file with bytes of the same length and puts the old
    modification time back, so that only a fresh read can see the change."""
    st = os.stat(path)
    assert len(data) == st.st_size
    with open(path, "r+b") as f:
        f.write(data)
    os.utime(path, ns=(st.st_atime_ns, st.st_mtime_ns))


def make(tmp_path, name, level=85000):
    return write(tmp_path / name, latlon_message(level=level))


def cached(path, level_now=850):
    """True when the next load is answered from the cache (sees the old level)."""
    swap_in_place(path, latlon_message(level=10000))
    return level_of(path) == level_now


def info():
    return v.codes_grib_cache_info()


def test_info_shape_and_defaults():
    got = info()
    assert list(got) == ["enabled", "entries", "total_bytes", "max_entries", "max_bytes"]
    assert got == {"enabled": True, "entries": 0, "total_bytes": 0, "max_entries": DEFAULT_MAX_ENTRIES,
                   "max_bytes": DEFAULT_MAX_BYTES}
    assert type(got["enabled"]) is bool and info() is not got


def test_second_open_is_a_hit(tmp_path):
    path = make(tmp_path, "a.grib2")
    assert level_of(path) == 850
    assert info()["entries"] == 1 and info()["total_bytes"] == os.path.getsize(path)
    assert cached(path)
    assert v.codes_count_in_file(path) == 1 and v.codes_extract_offsets(path, 1) == [0]
    assert info()["entries"] == 1


def test_every_spelling_shares_one_entry(tmp_path, monkeypatch):
    path = make(tmp_path, "data.grib")
    os.mkdir(tmp_path / "sub")
    os.symlink(path, tmp_path / "link.grib")
    monkeypatch.chdir(tmp_path)
    spellings = ["data.grib", "./data.grib", str(path), str(tmp_path / "link.grib"), "sub/../data.grib",
                 str(tmp_path) + "//data.grib", "link.grib"]
    assert level_of(spellings[0]) == 850
    swap_in_place(path, latlon_message(level=10000))
    for spelling in spellings:
        assert level_of(spelling) == 850, spelling
    assert info()["entries"] == 1


@pytest.mark.parametrize("change", ["length", "mtime"])
def test_rewrite_is_detected(tmp_path, change):
    path = make(tmp_path, "r.grib2")
    old = v.codes_grib_new_from_file(path)
    old_values = v.codes_get_values(old).copy()
    if change == "length":
        write(path, latlon_message(level=50000, ni=5, nj=2))
    else:
        st = os.stat(path)
        swap_in_place(path, latlon_message(level=50000))
        os.utime(path, ns=(st.st_atime_ns, st.st_mtime_ns + 1_000_000_000))
    assert level_of(path) == 500
    assert info()["entries"] == 1 and info()["total_bytes"] == os.path.getsize(path)
    # The old handle keeps the bytes it was made from.
    assert v.codes_get_long(old, "level") == 850
    np.testing.assert_array_equal(v.codes_get_values(old), old_values)


def test_least_recently_used_goes_first(tmp_path):
    v.codes_grib_cache_set_limits(2, DEFAULT_MAX_BYTES)
    a, b, c = (make(tmp_path, name) for name in ("a", "b", "c"))
    for path in (a, b, a, c):
        level_of(path)
    assert info()["entries"] == 2
    assert cached(a)
    assert not cached(b)


def test_byte_limit_and_oversized_files(tmp_path):
    size = len(latlon_message())
    v.codes_grib_cache_set_limits(10, 2 * size)
    a, b, c = (make(tmp_path, name) for name in ("a", "b", "c"))
    for path in (a, b, c):
        level_of(path)
    assert info()["entries"] == 2 and info()["total_bytes"] == 2 * size
    v.codes_grib_cache_set_limits(10, size - 1)
    assert info()["entries"] == 0 and info()["total_bytes"] == 0
    h = v.codes_grib_new_from_file(a)  # larger than the limit: opened, not kept
    assert v.codes_get_values(h).size == 12 and info()["entries"] == 0


def test_zero_limits_are_raised_to_one(tmp_path):
    level_of(make(tmp_path, "a"))
    assert v.codes_grib_cache_set_limits(0, 0) is None
    got = info()
    assert (got["max_entries"], got["max_bytes"], got["entries"]) == (1, 1, 0)


@pytest.mark.parametrize("args, error, name", [
    ((-1, 10), OverflowError, "max_entries"),
    ((10, -1), OverflowError, "max_bytes"),
    ((2**64, 10), OverflowError, "max_entries"),
    ((1.5, 10), TypeError, "max_entries"),
    ((10, "1"), TypeError, "max_bytes"),
])
def test_set_limits_conversion_errors_change_nothing(args, error, name):
    before = info()
    with pytest.raises(error, match=f"^argument '{name}': "):
        v.codes_grib_cache_set_limits(*args)
    assert info() == before
    v.codes_grib_cache_set_limits(max_entries=2**64 - 1, max_bytes=True)
    assert (info()["max_entries"], info()["max_bytes"]) == (2**64 - 1, 1)


def test_switching_off_and_on(tmp_path):
    a = make(tmp_path, "a")
    level_of(a)
    assert v.codes_grib_cache_set_enabled(False) is None
    got = info()
    assert got["enabled"] is False and got["entries"] == 0 and got["total_bytes"] == 0
    h = v.codes_grib_new_from_file(a)
    assert info()["entries"] == 0
    assert not cached(a)  # every load reads the file
    assert v.codes_get_long(h, "level") == 850
    v.codes_grib_cache_set_enabled(np.bool_(True))
    level_of(a)
    assert info()["entries"] == 1 and info()["enabled"] is True


@pytest.mark.parametrize("bad", [1, 0, None, "False"])
def test_set_enabled_wants_a_bool(bad):
    with pytest.raises(TypeError, match="^argument 'enabled': .* cannot be converted to 'PyBool'$"):
        v.codes_grib_cache_set_enabled(bad)
    assert info()["enabled"] is True


def test_clear(tmp_path):
    assert v.codes_grib_cache_clear() is None
    assert info()["entries"] == 0
    for name in ("a", "b"):
        level_of(make(tmp_path, name))
    limits = info()["max_entries"], info()["max_bytes"]
    v.codes_grib_cache_clear()
    assert info()["entries"] == 0 and info()["total_bytes"] == 0 and info()["enabled"] is True
    assert (info()["max_entries"], info()["max_bytes"]) == limits
    with pytest.raises(TypeError):
        v.codes_grib_cache_clear(True)


@pytest.mark.parametrize("enabled", [True, False])
def test_missing_file_is_not_cached(tmp_path, enabled):
    v.codes_grib_cache_set_enabled(enabled)
    path = str(tmp_path / "nope.grib")
    with pytest.raises(v.CodesInternalError) as error:
        v.codes_count_in_file(path)
    assert str(error.value) == f"failed to stat '{path}': No such file or directory (os error 2)"
    assert info()["entries"] == 0


def test_failed_scan_is_not_cached(tmp_path):
    path = write(tmp_path / "junk", b"x" * 100)
    with pytest.raises(v.CodesInternalError, match="^no GRIB messages found$"):
        v.codes_grib_new_from_file(path)
    assert info()["entries"] == 0


def test_handle_outlives_eviction(tmp_path):
    v.codes_grib_cache_set_limits(1, DEFAULT_MAX_BYTES)
    a = make(tmp_path, "a")
    h = v.codes_grib_new_from_file(a)
    level_of(make(tmp_path, "b"))  # evicts a
    assert not cached(a, level_now=850)
    assert v.codes_get_long(h, "level") == 850 and v.codes_get_values(h).size == 12


def run_with_env(env_vars, code):
    env = {k: val for k, val in os.environ.items() if not k.startswith("VORLAK_GRIB_CACHE")}
    env.update(env_vars, PYTHONPATH=ROOT)
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=env, capture_output=True,
                            text=True, timeout=HANG_GUARD_SECONDS)
    assert result.returncode == 0, result.stderr
    return result.stdout.strip()


INFO = "from vorlak import _vorlak as v; i = v.codes_grib_cache_info(); print(i['enabled'], i['max_entries'], i['max_bytes'])"


@pytest.mark.parametrize("value, enabled", [
    (" Off ", False), ("DISABLED", False), ("0", False), ("no", False), ("false", False), ("\tOFF\n", False),
    ("2", True), ("on", True), ("yes", True), ("", True), ("offf", True), ("1", True),
])
def test_environment_switch(value, enabled):
    assert run_with_env({"VORLAK_GRIB_CACHE": value}, INFO).split()[0] == str(enabled)


@pytest.mark.parametrize("value, expected", [
    ("+10", 10), ("10", 10), (" 7 ", 7), ("0", 0), ("-1", 32), ("1e3", 32), ("ten", 32), ("1 0", 32),
    ("99999999999999999999", 32), ("+", 32), ("-", 32), ("", 32), ("18446744073709551615", 2**64 - 1),
    ("++5", 32), ("5.", 32),
])
def test_environment_entry_limit(value, expected):
    assert run_with_env({"VORLAK_GRIB_CACHE_MAX_ENTRIES": value}, INFO).split()[1] == str(expected)


@pytest.mark.parametrize("value, expected", [("+4096", 4096), ("4k", DEFAULT_MAX_BYTES), ("", DEFAULT_MAX_BYTES)])
def test_environment_byte_limit(value, expected):
    assert run_with_env({"VORLAK_GRIB_CACHE_MAX_BYTES": value}, INFO).split()[2] == str(expected)


def test_environment_is_read_once_at_first_use(tmp_path):
    path = make(tmp_path, "a")
    out = run_with_env({"VORLAK_GRIB_CACHE_MAX_ENTRIES": "0"}, f"""
        import os
        from vorlak import _vorlak as v
        h = v.codes_grib_new_from_file({path!r})
        os.environ["VORLAK_GRIB_CACHE_MAX_ENTRIES"] = "5"
        v.codes_grib_new_from_file({path!r})
        i = v.codes_grib_cache_info()
        print(v.codes_get_long(h, "level"), i["entries"], i["max_entries"])
    """)
    assert out == "850 0 0"


def test_environment_off_process(tmp_path):
    path = make(tmp_path, "a")
    out = run_with_env({"VORLAK_GRIB_CACHE": "off"}, f"""
        from vorlak import _vorlak as v
        for _ in range(3):
            v.codes_grib_new_from_file({path!r})
        print(v.codes_grib_cache_info()["entries"])
    """)
    assert out == "0"
