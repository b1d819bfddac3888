"""Handle objects: cloning shares bytes and decoded values, release
functions only validate, wrong classes are refused, handles outlive the
cache entry they came from."""
import gc

import numpy as np
import pytest

from conftest import latlon_message, write
from vorlak import _vorlak as v

RELEASERS = [
    (v.codes_release, "_msgid", "CodesHandle"),
    (v.codes_keys_iterator_delete, "_iterid", "CodesKeysIterator"),
    (v.codes_grib_iterator_delete, "_iterid", "CodesGribIterator"),
    (v.codes_grib_nearest_delete, "_nid", "CodesNearest"),
    (v.codes_index_release, "_indexid", "CodesIndex"),
]


def test_release_leaves_the_handle_usable(handle):
    assert v.codes_release(handle) is None
    assert v.codes_release(_msgid=handle) is None
    assert v.codes_get_long(handle, "edition") == 2
    assert v.codes_get_values(handle).size == 12


@pytest.mark.parametrize("function, param, cls", RELEASERS)
def test_release_functions_refuse_other_classes(function, param, cls, handle):
    wrong = [1, None, "handle", object()]
    if cls != "CodesHandle":
        wrong.append(handle)
    for obj in wrong:
        with pytest.raises(TypeError) as info:
            function(obj)
        assert str(info.value) == f"argument '{param}': '{type(obj).__qualname__}' object cannot be converted to '{cls}'"


@pytest.mark.parametrize("function, param, cls", RELEASERS)
def test_release_functions_bind_like_others(function, param, cls):
    with pytest.raises(TypeError):
        function()
    with pytest.raises(TypeError):
        function(1, 2)


def test_clone_has_the_same_keys_and_shares_the_values(handle):
    values = v.codes_get_values(handle)
    clone = v.codes_clone(handle)
    assert clone is not handle and type(clone) is v.CodesHandle
    for key in ("edition", "shortName", "level", "offset", "totalLength", "dataDate"):
        assert v.codes_get(clone, key) == v.codes_get(handle, key)
    assert v.codes_get_message(clone) == v.codes_get_message(handle)
    # One memo for both: the clone's view is the same memory, decoded once.
    assert np.shares_memory(v.codes_get_values(clone), values)
    assert v.codes_get_values(clone).base is clone


def test_clone_before_decoding_shares_the_later_decode(one_file):
    h = v.codes_grib_new_from_file(one_file)
    clone = v.codes_clone(msgid=h)
    from_clone = v.codes_get_values(clone)
    assert np.shares_memory(v.codes_get_values(h), from_clone)
    del h
    gc.collect()
    assert v.codes_get_long(clone, "edition") == 2 and from_clone.size == 12


def test_clone_of_a_message_from_bytes():
    m = latlon_message()
    h = v.codes_new_from_message(m)
    clone = v.codes_clone(h)
    del h
    gc.collect()
    assert v.codes_get_message(clone) == m


def test_clone_refuses_other_objects():
    with pytest.raises(TypeError, match="^argument 'msgid': 'int' object cannot be converted to 'CodesHandle'$"):
        v.codes_clone(3)


def test_handle_outlives_cache_clear_and_switch_off(one_file, fresh_cache):
    h = v.codes_grib_new_from_file(one_file)
    message = v.codes_get_message(h)
    v.codes_grib_cache_clear()
    assert v.codes_get_message(h) == message
    v.codes_grib_cache_set_enabled(False)
    assert v.codes_get_values(h).size == 12
    assert v.codes_get_message(v.codes_clone(h)) == message


def test_many_handles_share_one_loaded_file(three_file, fresh_cache):
    handles = []
    with open(three_file, "rb") as f:
        while (h := v.codes_grib_new_from_file(f)) is not None:
            handles.append(h)
    assert len(handles) == 3
    info = v.codes_grib_cache_info()
    assert info["entries"] == 1
    assert [v.codes_get_long(h, "messageNumber") for h in handles] == [1, 2, 3]


def test_handles_are_not_hashable_by_value(handle):
    clone = v.codes_clone(handle)
    assert handle != clone and {handle, clone} == {handle, clone}
    with pytest.raises(AttributeError):
        handle.anything = 1


def test_handle_from_a_rewritten_file_keeps_its_bytes(tmp_path, fresh_cache):
    path = write(tmp_path / "f.grib2", latlon_message(level=85000))
    old = v.codes_grib_new_from_file(path)
    old_message = v.codes_get_message(old)
    write(path, latlon_message(level=50000, ni=6, nj=2))
    new = v.codes_grib_new_from_file(path)
    assert v.codes_get_long(new, "level") == 500
    assert v.codes_get_long(old, "level") == 850
    assert v.codes_get_message(old) == old_message
    assert v.codes_get_values(old).size == 12 and v.codes_get_values(new).size == 12
