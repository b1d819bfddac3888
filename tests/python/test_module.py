"""The module frame: attributes, exception and handle classes, the function
table with its text signatures, argument binding, and the small version,
feature, path and debug functions."""
import os
import subprocess
import sys
import textwrap

import pytest

from conftest import HANG_GUARD_SECONDS
from vorlak import _vorlak as v

ATTRIBUTES = [
    ("__version__", "0.1.0"),
    ("bindings_version", "0.1.0"),
    ("CODES_PRODUCT_ANY", 0),
    ("CODES_PRODUCT_GRIB", 1),
    ("CODES_PRODUCT_BUFR", 2),
    ("CODES_PRODUCT_METAR", 3),
    ("CODES_PRODUCT_GTS", 4),
    ("CODES_MISSING_LONG", 2147483647),
    ("CODES_MISSING_DOUBLE", -1e100),
    ("CODES_FEATURES_ALL", 0),
    ("CODES_FEATURES_ENABLED", 1),
    ("CODES_FEATURES_DISABLED", 2),
    ("__allocator__", "system"),
]
EXCEPTIONS = [
    "CodesInternalError",
    "KeyValueNotFoundError",
    "InvalidTypeError",
    "EndOfFileError",
    "FunctionNotImplementedError",
    "InvalidKeysIteratorError",
    "InvalidGribIteratorError",
    "InvalidIndexError",
    "InvalidNearestError",
]
HANDLE_CLASSES = ["CodesHandle", "CodesKeysIterator", "CodesGribIterator", "CodesNearest", "CodesIndex"]

# Every function of the interface with its text signature, in registration order.
FUNCTIONS = [
    ("codes_grib_new_from_file", "(fileobj, headers_only=False)"),
    ("codes_new_from_file", "(fileobj, product_kind, headers_only=False)"),
    ("codes_any_new_from_file", "(fileobj, headers_only=False)"),
    ("codes_count_in_file", "(fileobj)"),
    ("codes_new_from_message", "(message)"),
    ("codes_get_message", "(msgid)"),
    ("codes_get_string_length", "(msgid, key)"),
    ("codes_get", "(msgid, key, ktype=None)"),
    ("codes_get_long", "(msgid, key)"),
    ("codes_get_double", "(msgid, key)"),
    ("codes_get_string", "(msgid, key)"),
    ("codes_get_size", "(msgid, key)"),
    ("codes_is_defined", "(msgid, key)"),
    ("codes_is_missing", "(msgid, key)"),
    ("codes_get_native_type", "(msgid, key)"),
    ("codes_get_array", "(msgid, key, ktype=None)"),
    ("codes_get_double_array", "(msgid, key)"),
    ("codes_get_float_array", "(msgid, key)"),
    ("codes_get_long_array", "(msgid, key)"),
    ("codes_get_string_array", "(msgid, key)"),
    ("codes_get_double_element", "(msgid, key, index)"),
    ("codes_get_double_elements", "(msgid, key, indexes)"),
    ("codes_get_elements", "(msgid, key, indexes)"),
    ("codes_get_values", "(gribid, ktype=None)"),
    ("_benchmark_force_decode_values", "(msgid)"),
    ("_benchmark_decode_values_uncached", "(msgid)"),
    ("codes_get_message_offset", "(msgid)"),
    ("codes_get_message_size", "(msgid)"),
    ("codes_get_offset", "(msgid)"),
    ("codes_clone", "(msgid)"),
    ("codes_release", "(_msgid)"),
    ("codes_keys_iterator_new", "(msgid, namespace=None)"),
    ("codes_keys_iterator_next", "(iterid)"),
    ("codes_keys_iterator_get_name", "(iterid)"),
    ("codes_keys_iterator_rewind", "(iterid)"),
    ("codes_keys_iterator_delete", "(_iterid)"),
    ("codes_skip_duplicates", "(_iterid)"),
    ("codes_skip_coded", "(_iterid)"),
    ("codes_skip_computed", "(iterid)"),
    ("codes_skip_edition_specific", "(_iterid)"),
    ("codes_skip_function", "(_iterid)"),
    ("codes_skip_read_only", "(_iterid)"),
    ("codes_grib_iterator_new", "(gribid, mode)"),
    ("codes_grib_iterator_next", "(iterid)"),
    ("codes_grib_iterator_delete", "(_iterid)"),
    ("codes_grib_get_data", "(gribid)"),
    ("codes_grib_nearest_new", "(_msgid)"),
    ("codes_grib_nearest_find", "(nid, gribid, inlat, inlon, flags, is_lsm=False, npoints=4)"),
    ("codes_grib_nearest_delete", "(_nid)"),
    ("codes_grib_find_nearest", "(gribid, inlat, inlon, is_lsm=False, npoints=1)"),
    ("codes_grib_find_nearest_multiple", "(gribid, is_lsm, inlats, inlons)"),
    ("codes_extract_offsets", "(filepath, product_kind, is_strict=True)"),
    ("codes_extract_offsets_sizes", "(filepath, product_kind, is_strict=True)"),
    ("codes_grib_cache_clear", "()"),
    ("codes_grib_cache_set_enabled", "(enabled)"),
    ("codes_grib_cache_set_limits", "(max_entries, max_bytes)"),
    ("codes_grib_cache_info", "()"),
    ("codes_write", "(msgid, fileobj)"),
    ("codes_index_new_from_file", "(filename, keys)"),
    ("codes_index_add_file", "(indexid, filename)"),
    ("codes_index_select", "(indexid, key, value)"),
    ("codes_index_select_long", "(indexid, key, value)"),
    ("codes_index_select_double", "(indexid, key, value)"),
    ("codes_index_select_string", "(indexid, key, value)"),
    ("codes_index_get", "(indexid, key, ktype=None)"),
    ("codes_index_get_long", "(indexid, key)"),
    ("codes_index_get_double", "(indexid, key)"),
    ("codes_index_get_string", "(indexid, key)"),
    ("codes_index_get_size", "(indexid, key)"),
    ("codes_new_from_index", "(indexid)"),
    ("codes_index_release", "(_indexid)"),
    ("codes_get_library_path", "()"),
    ("codes_definition_path", "()"),
    ("codes_samples_path", "()"),
    ("codes_set_definitions_path", "(defs_path)"),
    ("codes_set_samples_path", "(samples_path)"),
    ("codes_set_debug", "(dmode)"),
    ("codes_get_features", "(select=...)"),
    ("codes_get_api_version", "()"),
    ("codes_get_version_info", "()"),
]
SIGNATURES = dict(FUNCTIONS)
REGISTERED = [name for name, _ in FUNCTIONS if hasattr(v, name)]


def run_fresh(code):
    """Runs code in a new interpreter with this checkout importable."""
    env = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(os.path.dirname(__file__))))
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=env,
                          capture_output=True, text=True, timeout=HANG_GUARD_SECONDS)


def test_table_has_eighty_functions():
    assert len(FUNCTIONS) == 80 and len(SIGNATURES) == 80


def test_all_lists_every_name_in_order():
    expected = ([name for name, _ in ATTRIBUTES] + EXCEPTIONS + HANDLE_CLASSES + REGISTERED)
    assert v.__all__ == expected
    assert v.__all__[:3] == ["__version__", "bindings_version", "CODES_PRODUCT_ANY"]
    for name in v.__all__:
        assert hasattr(v, name)


def test_no_function_outside_the_table():
    exported = {name for name in dir(v) if callable(getattr(v, name)) and not isinstance(getattr(v, name), type)}
    assert exported <= set(SIGNATURES)


def test_the_binding_and_frame_functions_are_registered():
    for name in ["codes_get_library_path", "codes_get_features", "codes_set_debug", "codes_get_version_info",
                 "codes_definition_path", "codes_set_samples_path"]:
        assert name in REGISTERED


@pytest.mark.parametrize("name, value", ATTRIBUTES)
def test_attribute_values(name, value):
    got = getattr(v, name)
    assert type(got) is type(value) and got == value


@pytest.mark.parametrize("name", REGISTERED)
def test_text_signature_and_no_doc(name):
    function = getattr(v, name)
    assert function.__text_signature__ == SIGNATURES[name]
    assert function.__doc__ is None
    assert function.__name__ == name


def test_module_doc_is_empty():
    assert v.__doc__ == ""


@pytest.mark.parametrize("name", EXCEPTIONS)
def test_exception_hierarchy_and_names(name):
    cls = getattr(v, name)
    assert cls.__module__ == "_vorlak" and cls.__qualname__ == name
    assert f"{cls.__module__}.{cls.__qualname__}" == f"_vorlak.{name}"
    assert cls.__doc__ is None
    if name == "CodesInternalError":
        assert cls.__bases__ == (Exception,)
    else:
        assert cls.__bases__ == (v.CodesInternalError,)


@pytest.mark.parametrize("name", HANDLE_CLASSES)
def test_handle_classes_cannot_be_called(name):
    cls = getattr(v, name)
    assert cls.__module__ == "vorlak._vorlak" and cls.__qualname__ == name
    with pytest.raises(TypeError, match=f"^No constructor defined for {name}$"):
        cls()
    with pytest.raises(TypeError):
        cls(1, key=2)
    assert [a for a in vars(cls) if not a.startswith("__")] == []


def test_reimport_in_same_interpreter_gives_same_module():
    import importlib
    saved = sys.modules.pop("vorlak._vorlak")
    try:
        again = importlib.import_module("vorlak._vorlak")
        assert again is saved
    finally:
        sys.modules["vorlak._vorlak"] = saved


def test_sub_interpreter_is_refused():
    result = run_fresh("""
        import vorlak._vorlak
        import _xxsubinterpreters as interpreters
        sub = interpreters.create()
        try:
            interpreters.run_string(sub, "import vorlak._vorlak")
        except interpreters.RunFailedError as e:
            print("refused:", e)
        else:
            print("accepted")
    """)
    assert "refused: <class 'ImportError'>" in result.stdout, result.stderr


@pytest.mark.parametrize("select, expected", [
    (None, "KORV GRIB1 GRIB2 AEC JPG PNG MEMFS BUFR GTS METAR NETCDF FORTRAN"),
    (0, "KORV GRIB1 GRIB2 AEC JPG PNG MEMFS BUFR GTS METAR NETCDF FORTRAN"),
    (1, "KORV GRIB1 GRIB2 AEC JPG PNG MEMFS"),
    (2, "BUFR GTS METAR NETCDF FORTRAN"),
    (True, "KORV GRIB1 GRIB2 AEC JPG PNG MEMFS"),
])
def test_features(select, expected):
    got = v.codes_get_features() if select is None else v.codes_get_features(select)
    assert got == expected
    if select is not None:
        assert v.codes_get_features(select=select) == expected


@pytest.mark.parametrize("select, error, text", [
    (3, v.CodesInternalError, "unsupported feature selector 3"),
    (-1, v.CodesInternalError, "unsupported feature selector -1"),
    (2**40, OverflowError, "argument 'select': out of range integral type conversion attempted"),
    (-2**31 - 1, OverflowError, "argument 'select': out of range integral type conversion attempted"),
    (2**80, OverflowError, "argument 'select': out of range integral type conversion attempted"),
    (1.0, TypeError, "argument 'select': 'float' object cannot be interpreted as an integer"),
    ("1", TypeError, "argument 'select': "),
])
def test_features_errors(select, error, text):
    with pytest.raises(error) as info:
        v.codes_get_features(select)
    assert str(info.value).startswith(text)
    assert type(info.value) is error


def test_version_functions():
    assert v.codes_get_api_version() == "0.1.0"
    info = v.codes_get_version_info()
    assert list(info.items()) == [("vorlak", "0.1.0"), ("bindings", "0.1.0"), ("allocator", "system"),
                                  ("target_os", "linux"), ("target_arch", "x86_64")]
    info["vorlak"] = "changed"
    assert v.codes_get_version_info()["vorlak"] == "0.1.0"
    assert v.codes_get_version_info() is not v.codes_get_version_info()


def test_library_path_is_the_module_file():
    path = v.codes_get_library_path()
    assert path == v.__file__ and os.path.exists(path)


def test_library_path_with_a_module_file_that_is_not_text():
    saved = v.__file__
    try:
        v.__file__ = 42
        with pytest.raises(TypeError):
            v.codes_get_library_path()
        del v.__file__
        with pytest.raises(AttributeError):
            v.codes_get_library_path()
    finally:
        v.__file__ = saved


def test_path_settings_in_a_fresh_process():
    result = run_fresh("""
        from vorlak import _vorlak as v
        print(v.codes_definition_path(), v.codes_samples_path())
        assert v.codes_set_definitions_path("x") is None
        print(v.codes_definition_path(), v.codes_samples_path())
        v.codes_set_samples_path(samples_path="")
        print(repr(v.codes_samples_path()), v.codes_definition_path())
    """)
    assert result.stdout.splitlines() == ["/MEMFS/definitions /MEMFS/samples", "x /MEMFS/samples", "'' x"], \
        result.stderr


@pytest.mark.parametrize("function, name", [
    (v.codes_set_definitions_path, "defs_path"),
    (v.codes_set_samples_path, "samples_path"),
])
def test_path_setters_require_str(function, name):
    before = v.codes_definition_path(), v.codes_samples_path()
    for bad in [b"/x", 1, None]:
        with pytest.raises(TypeError, match=f"^argument '{name}': '.*' object cannot be converted to 'PyString'$"):
            function(bad)
    assert (v.codes_definition_path(), v.codes_samples_path()) == before


def test_set_debug():
    assert v.codes_set_debug(5) is None
    assert v.codes_set_debug(dmode=-1) is None
    with pytest.raises(OverflowError, match="^argument 'dmode': out of range integral type conversion attempted$"):
        v.codes_set_debug(2**31)
    with pytest.raises(TypeError, match="^argument 'dmode': "):
        v.codes_set_debug("5")


@pytest.mark.parametrize("call", [
    lambda: v.codes_set_debug(),                       # missing required
    lambda: v.codes_set_debug(1, 2),                   # too many
    lambda: v.codes_set_debug(1, dmode=1),             # by position and keyword
    lambda: v.codes_set_debug(mode=1),                 # unknown keyword
    lambda: v.codes_get_api_version(1),                # takes nothing
    lambda: v.codes_get_api_version(x=1),
    lambda: v.codes_get_features(1, select=1),
])
def test_binding_errors_are_type_errors(call):
    with pytest.raises(TypeError):
        call()


def test_integer_like_objects_are_accepted():
    class Index:
        def __index__(self):
            return 1
    assert v.codes_get_features(Index()) == "KORV GRIB1 GRIB2 AEC JPG PNG MEMFS"
