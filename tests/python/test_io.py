"""Messages in and out: file objects, paths and path-likes, positions,
counting, offsets, handles from bytes, message bytes and writing."""
import io
import os
import pathlib

import pytest

from conftest import latlon_message, write
from vorlak import _vorlak as v

NO_PATH = "expected a filesystem path or a file-like object with a .name attribute"
READERS = [
    lambda f, **kw: v.codes_grib_new_from_file(f, **kw),
    lambda f, **kw: v.codes_any_new_from_file(f, **kw),
    lambda f, **kw: v.codes_new_from_file(f, 1, **kw),
    lambda f, **kw: v.codes_new_from_file(f, 0, **kw),
]


def level(h):
    return v.codes_get_long(h, "level")


def ends(messages):
    out, total = [], 0
    for m in messages:
        total += len(m)
        out.append(total)
    return out


@pytest.mark.parametrize("read", READERS)
def test_file_object_walks_the_messages(read, two_file, messages):
    with open(two_file, "rb") as f:
        first = read(f)
        assert level(first) == 850 and f.tell() == len(messages[0])
        second = read(f)
        assert level(second) == 700 and f.tell() == len(messages[0]) + len(messages[1])
        assert read(f) is None
        assert read(f) is None
        f.seek(0)
        assert level(read(f)) == 850


def test_position_inside_between_and_at_ends(tmp_path, messages):
    gap = b"\0junk between\0"
    path = write(tmp_path / "gaps.grib2", b"lead", messages[0], gap, messages[1], messages[2], b"tail")
    start1 = 4
    end1 = start1 + len(messages[0])
    start2 = end1 + len(gap)
    end2 = start2 + len(messages[1])
    cases = [
        (0, 850, end1),            # before the first message
        (start1 + 10, 850, end1),  # inside message 1
        (end1, 700, end2),         # at the end of message 1: the next one
        (end1 + 3, 700, end2),     # in the gap
        (start2 + 5, 700, end2),   # inside message 2: message 2, not 3
        (end2, 500, end2 + len(messages[2])),
    ]
    with open(path, "rb") as f:
        for position, expected_level, after in cases:
            f.seek(position)
            h = v.codes_grib_new_from_file(f)
            assert level(h) == expected_level and f.tell() == after, position
        f.seek(end2 + len(messages[2]))
        assert v.codes_grib_new_from_file(f) is None
        f.seek(os.path.getsize(path) + 100)
        assert v.codes_grib_new_from_file(f) is None


@pytest.mark.parametrize("spelling", ["str", "path", "pathlike"])
def test_paths_give_the_first_message_every_time(spelling, two_file):
    class PathLike:
        def __fspath__(self):
            return two_file
    arg = {"str": two_file, "path": pathlib.Path(two_file), "pathlike": PathLike()}[spelling]
    for _ in range(3):
        assert level(v.codes_grib_new_from_file(arg)) == 850
    assert v.codes_count_in_file(arg) == 2


class Named:
    """A file-like object that only has a name: position 0, no seek."""
    def __init__(self, name):
        self.name = name


class Positioned(Named):
    def __init__(self, name, position=0):
        super().__init__(name)
        self.position = position
        self.calls = []

    def tell(self):
        self.calls.append("tell")
        return self.position

    def seek(self, n):
        self.calls.append(("seek", n))
        self.position = n
        return "ignored"


def test_object_with_only_a_name(two_file):
    f = Named(two_file)
    assert level(v.codes_grib_new_from_file(f)) == 850
    assert level(v.codes_grib_new_from_file(f)) == 850


def test_tell_and_seek_are_called_in_order(two_file, messages):
    f = Positioned(two_file)
    h = v.codes_grib_new_from_file(f)
    assert level(h) == 850 and f.calls == ["tell", ("seek", len(messages[0]))]
    f.calls.clear()
    assert v.codes_count_in_file(f) == 1 and f.calls == ["tell", ("seek", 0)]


@pytest.mark.parametrize("bad", [
    b"/bytes/path",
    io.BytesIO(b"GRIB"),
    object(),
    Named(b"/bytes/name"),
    Named(None),
])
def test_no_usable_path(bad):
    for call in (v.codes_grib_new_from_file, v.codes_count_in_file):
        with pytest.raises(v.CodesInternalError) as info:
            call(bad)
        assert str(info.value) == NO_PATH


def test_bytes_pathlike_is_refused():
    class BytesPath:
        def __fspath__(self):
            return b"/x"
    with pytest.raises(v.CodesInternalError, match=NO_PATH):
        v.codes_grib_new_from_file(BytesPath())


def test_name_lookup_errors_pass_through(one_file):
    class Broken:
        @property
        def name(self):
            raise ValueError("no name for you")
    with pytest.raises(ValueError, match="no name for you"):
        v.codes_grib_new_from_file(Broken())


@pytest.mark.parametrize("tell, error", [
    (lambda: -1, OverflowError),
    (lambda: 1.5, TypeError),
    (lambda: "0", TypeError),
])
def test_bad_tell_results(one_file, tell, error):
    f = Named(one_file)
    f.tell = tell
    with pytest.raises(error):
        v.codes_grib_new_from_file(f)


def test_tell_and_seek_exceptions_pass_through(one_file):
    f = Positioned(one_file)
    def bad_seek(n):
        raise OSError("seek refused")
    f.seek = bad_seek
    with pytest.raises(OSError, match="seek refused"):
        v.codes_grib_new_from_file(f)
    def bad_tell():
        raise KeyError("tell")
    f.tell = bad_tell
    with pytest.raises(KeyError):
        v.codes_count_in_file(f)


@pytest.mark.parametrize("content", [b"", b"no messages in here at all" * 10, b"GRIB" + b"\0" * 40])
def test_files_without_messages(tmp_path, content):
    path = write(tmp_path / "empty.grib", content)
    with pytest.raises(v.CodesInternalError, match="^no GRIB messages found$"):
        v.codes_grib_new_from_file(path)
    with pytest.raises(v.CodesInternalError, match="^no GRIB messages found$"):
        v.codes_count_in_file(path)


def test_missing_file(tmp_path):
    path = str(tmp_path / "missing.grib")
    with pytest.raises(v.CodesInternalError) as info:
        v.codes_grib_new_from_file(path)
    assert str(info.value).startswith(f"failed to stat '{path}': ")
    assert str(info.value).endswith("(os error 2)")


def test_count_from_the_current_position(three_file, messages):
    with open(three_file, "rb") as f:
        assert v.codes_count_in_file(f) == 3 and f.tell() == 0
        f.seek(len(messages[0]))
        assert v.codes_count_in_file(f) == 2 and f.tell() == 0
        f.seek(len(messages[0]) + 5)  # inside message 2, which still counts
        assert v.codes_count_in_file(f) == 2
        f.seek(len(messages[0]) + len(messages[1]))
        assert v.codes_count_in_file(f) == 1
        f.seek(os.path.getsize(three_file))
        assert v.codes_count_in_file(f) == 0 and f.tell() == 0


@pytest.mark.parametrize("kind, error, text", [
    (2, v.FunctionNotImplementedError, "vorlak currently supports GRIB messages only"),
    (3, v.FunctionNotImplementedError, "vorlak currently supports GRIB messages only"),
    (4, v.FunctionNotImplementedError, "vorlak currently supports GRIB messages only"),
    (5, v.CodesInternalError, "unsupported product kind 5"),
    (7, v.CodesInternalError, "unsupported product kind 7"),
    (-1, v.CodesInternalError, "unsupported product kind -1"),
])
def test_other_product_kinds_touch_nothing(two_file, kind, error, text):
    f = Positioned(two_file, position=7)
    with pytest.raises(error) as info:
        v.codes_new_from_file(f, kind)
    assert str(info.value) == text and type(info.value) is error
    assert f.calls == [] and f.position == 7
    with pytest.raises(error):
        v.codes_new_from_file(str(two_file) + ".missing", kind)


def test_product_kind_conversion(two_file):
    with pytest.raises(OverflowError, match="^argument 'product_kind': out of range integral type"):
        v.codes_new_from_file(two_file, 2**31)
    with pytest.raises(TypeError, match="^argument 'product_kind': "):
        v.codes_new_from_file(two_file, "1")


def test_headers_only_must_be_bool(one_file):
    import numpy as np
    a = v.codes_grib_new_from_file(one_file, headers_only=True)
    b = v.codes_grib_new_from_file(one_file, False)
    assert v.codes_get_message(a) == v.codes_get_message(b)
    assert v.codes_get_values(a).tolist() == v.codes_get_values(b).tolist()
    assert v.codes_any_new_from_file(one_file, np.bool_(True)) is not None
    for bad in (1, 0, None, "yes"):
        with pytest.raises(TypeError, match="^argument 'headers_only': .* cannot be converted to 'PyBool'$"):
            v.codes_grib_new_from_file(one_file, bad)
        with pytest.raises(TypeError, match="^argument 'headers_only': "):
            v.codes_new_from_file(one_file, 1, headers_only=bad)


@pytest.mark.parametrize("function", [v.codes_extract_offsets, v.codes_extract_offsets_sizes])
def test_offsets(function, tmp_path, messages):
    path = write(tmp_path / "off.grib2", b"xx", messages[0], b"yyy", messages[1], messages[2])
    expected_offsets = [2, 2 + len(messages[0]) + 3, 2 + len(messages[0]) + 3 + len(messages[1])]
    got = function(path, 1)
    if function is v.codes_extract_offsets:
        assert got == expected_offsets
    else:
        assert got == [(o, len(m)) for o, m in zip(expected_offsets, messages)]
        assert all(type(item) is tuple for item in got)
    assert function(path, 0, False) == got
    assert function(filepath=path, product_kind=1, is_strict=True) == got


@pytest.mark.parametrize("function", [v.codes_extract_offsets, v.codes_extract_offsets_sizes])
def test_offsets_of_other_kinds(function, tmp_path):
    missing = str(tmp_path / "does-not-exist")
    for kind in (2, 3, 4, 9, -5):
        assert function(missing, kind, False) == []
        with pytest.raises(v.FunctionNotImplementedError,
                           match="^offset extraction is currently implemented for GRIB messages only$"):
            function(missing, kind)
        with pytest.raises(v.FunctionNotImplementedError):
            function(missing, kind, True)
    with pytest.raises(v.CodesInternalError, match="^failed to stat"):
        function(missing, 1)


def test_offsets_want_a_str_path(two_file):
    with pytest.raises(TypeError, match="^argument 'filepath': 'PosixPath' object cannot be converted"):
        v.codes_extract_offsets(pathlib.Path(two_file), 1)
    with open(two_file, "rb") as f:
        with pytest.raises(TypeError, match="^argument 'filepath': "):
            v.codes_extract_offsets_sizes(f, 1)
    with pytest.raises(TypeError, match="^argument 'is_strict': "):
        v.codes_extract_offsets(two_file, 1, 1)
    assert v.codes_count_in_file(pathlib.Path(two_file)) == 2


@pytest.mark.parametrize("convert", [bytes, bytearray, list, tuple, memoryview])
def test_new_from_message_sequences(convert, messages):
    data = b"JUNK GRIB?" + messages[0] + messages[1]
    h = v.codes_new_from_message(convert(data))
    assert v.codes_get_offset(h) == 10 == v.codes_get_message_offset(h)
    assert v.codes_get_message(h) == messages[0]
    assert v.codes_get_message_size(h) == len(messages[0])
    assert level(h) == 850
    assert v.codes_get_values(h).size == 12


@pytest.mark.parametrize("bad, error, text", [
    ("GRIB", TypeError, "argument 'message': Can't extract `str` to `Vec`"),
    (42, TypeError, "argument 'message': 'int' object cannot be converted to 'Sequence'"),
    ([1, 256], OverflowError, "argument 'message': out of range integral type conversion attempted"),
    ([1, -1], OverflowError, "argument 'message': out of range integral type conversion attempted"),
    ([1, 2.0], TypeError, "argument 'message': 'float' object cannot be interpreted as an integer"),
    ([1, 2**70], OverflowError, "argument 'message': out of range integral type conversion attempted"),
])
def test_new_from_message_argument_errors(bad, error, text):
    with pytest.raises(error) as info:
        v.codes_new_from_message(bad)
    assert str(info.value) == text


@pytest.mark.parametrize("data", [b"", b"junk only", list(b"GRIB\0\0\0\2")])
def test_new_from_message_without_messages(data):
    with pytest.raises(v.CodesInternalError, match="^no GRIB messages found$"):
        v.codes_new_from_message(data)


def test_message_from_list_equals_bytes(messages):
    a = v.codes_new_from_message(list(messages[1]))
    b = v.codes_new_from_message(messages[1])
    assert v.codes_get_message(a) == v.codes_get_message(b) == messages[1]
    assert v.codes_get_values(a).tolist() == v.codes_get_values(b).tolist()


def test_message_bytes_of_a_file_handle(three_file, messages):
    with open(three_file, "rb") as f:
        handles = [v.codes_grib_new_from_file(f) for _ in messages]
    for h, m, offset in zip(handles, messages, [0] + ends(messages)[:-1]):
        assert v.codes_get_message(h) == m
        assert v.codes_get_offset(h) == offset
        assert v.codes_get_message_size(h) == len(m)


def test_write_to_files_and_objects(tmp_path, handle, one_file):
    out = tmp_path / "out.grib2"
    with open(out, "wb") as f:
        assert v.codes_write(handle, f) is None
        assert v.codes_write(msgid=handle, fileobj=f) is None
    data = out.read_bytes()
    message = v.codes_get_message(handle)
    assert data == message * 2
    assert len(message) == v.codes_get_long(handle, "totalLength")

    buffer = io.BytesIO()
    v.codes_write(handle, buffer)
    assert buffer.getvalue() == message

    written = []
    class Sink:
        def write(self, data):
            written.append(data)
            return "anything"
    v.codes_write(handle, Sink())
    assert written == [message] and type(written[0]) is bytes


def test_write_errors(handle):
    with pytest.raises(AttributeError):
        v.codes_write(handle, object())
    class Failing:
        def write(self, data):
            raise OSError("disk full")
    with pytest.raises(OSError, match="disk full"):
        v.codes_write(handle, Failing())
    with pytest.raises(TypeError, match="^argument 'msgid': 'bytes' object cannot be converted to 'CodesHandle'$"):
        v.codes_write(b"GRIB", io.BytesIO())


def test_grib1_and_grib2_in_one_file(tmp_path, messages):
    from conftest import grib1_message
    path = write(tmp_path / "mixed.grib", grib1_message(), messages[0])
    with open(path, "rb") as f:
        first = v.codes_grib_new_from_file(f)
        second = v.codes_grib_new_from_file(f)
    assert v.codes_get_long(first, "edition") == 1
    assert v.codes_get_long(second, "edition") == 2
    assert v.codes_count_in_file(path) == 2


def test_undecodable_message_is_still_opened(tmp_path):
    import gribbuild as g
    fields = g.field_simple([1.0] * 12, bits=16)
    fields[-1] = g.section7(b"\x01")  # far too few data bytes for 12 values
    grid = g.section3_latlon(ni=4, nj=3, la1=60, lo1=0, la2=58, lo2=3, di=1, dj=1)
    path = write(tmp_path / "bad.grib2", g.grib2_message([g.section1(), grid, *fields]))
    h = v.codes_grib_new_from_file(path)
    assert h is not None and v.codes_get_long(h, "edition") == 2
    with pytest.raises(v.CodesInternalError):
        v.codes_get_values(h)


def test_real_files_count_and_offsets():
    from conftest import testdata
    path = testdata("jma_meps_pall_fh00-15_first20fields.grib2")
    sizes = v.codes_extract_offsets_sizes(path, 1)
    assert v.codes_count_in_file(path) == len(sizes) == len(v.codes_extract_offsets(path, 0))
    with open(path, "rb") as f:
        for offset, size in sizes:
            h = v.codes_grib_new_from_file(f)
            assert (v.codes_get_offset(h), v.codes_get_message_size(h)) == (offset, size)
            assert f.tell() == offset + size
        assert v.codes_grib_new_from_file(f) is None
