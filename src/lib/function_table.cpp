#include "lib/function_table.hpp"

#include <array>
#include <new>
#include <stdexcept>

#include "lib/functions.hpp"

namespace vorlak::py {

namespace {

// The last line of defence at the interpreter boundary: an allocation that
// fails (a huge but legal field under a memory limit) raises MemoryError
// instead of unwinding into the interpreter and aborting the process. RAII
// releases what the call held; the values memo stays empty and can retry.
template <FastFunction F>
PyObject* no_throw(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  try {
    return F(module, args, nargs, kwnames);
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::length_error&) {
    return PyErr_NoMemory();
  }
}

template <FastFunction F>
constexpr FastFunction guarded() {
  if constexpr (F == nullptr) {
    return nullptr;
  } else {
    return &no_throw<F>;
  }
}

// To register a function: declare it in functions.hpp, define it in its
// fn_*.cpp, and put its name in place of NOT_YET below.
#define ENTRY(fname, params, impl) FunctionEntry{#fname, #fname params "\n--\n\n", guarded<impl>()}
#define NOT_YET nullptr

using namespace fn;

constexpr std::array<FunctionEntry, 80> kFunctions = {
    ENTRY(codes_grib_new_from_file, "(fileobj, headers_only=False)", codes_grib_new_from_file),
    ENTRY(codes_new_from_file, "(fileobj, product_kind, headers_only=False)", codes_new_from_file),
    ENTRY(codes_any_new_from_file, "(fileobj, headers_only=False)", codes_any_new_from_file),
    ENTRY(codes_count_in_file, "(fileobj)", codes_count_in_file),
    ENTRY(codes_new_from_message, "(message)", codes_new_from_message),
    ENTRY(codes_get_message, "(msgid)", codes_get_message),
    ENTRY(codes_get_string_length, "(msgid, key)", codes_get_string_length),
    ENTRY(codes_get, "(msgid, key, ktype=None)", codes_get),
    ENTRY(codes_get_long, "(msgid, key)", codes_get_long),
    ENTRY(codes_get_double, "(msgid, key)", codes_get_double),
    ENTRY(codes_get_string, "(msgid, key)", codes_get_string),
    ENTRY(codes_get_size, "(msgid, key)", codes_get_size),
    ENTRY(codes_is_defined, "(msgid, key)", codes_is_defined),
    ENTRY(codes_is_missing, "(msgid, key)", codes_is_missing),
    ENTRY(codes_get_native_type, "(msgid, key)", codes_get_native_type),
    ENTRY(codes_get_array, "(msgid, key, ktype=None)", codes_get_array),
    ENTRY(codes_get_double_array, "(msgid, key)", codes_get_double_array),
    ENTRY(codes_get_float_array, "(msgid, key)", codes_get_float_array),
    ENTRY(codes_get_long_array, "(msgid, key)", codes_get_long_array),
    ENTRY(codes_get_string_array, "(msgid, key)", codes_get_string_array),
    ENTRY(codes_get_double_element, "(msgid, key, index)", codes_get_double_element),
    ENTRY(codes_get_double_elements, "(msgid, key, indexes)", codes_get_double_elements),
    ENTRY(codes_get_elements, "(msgid, key, indexes)", codes_get_elements),
    ENTRY(codes_get_values, "(gribid, ktype=None)", codes_get_values),
    ENTRY(_benchmark_force_decode_values, "(msgid)", _benchmark_force_decode_values),
    ENTRY(_benchmark_decode_values_uncached, "(msgid)", _benchmark_decode_values_uncached),
    ENTRY(codes_get_message_offset, "(msgid)", codes_get_message_offset),
    ENTRY(codes_get_message_size, "(msgid)", codes_get_message_size),
    ENTRY(codes_get_offset, "(msgid)", codes_get_offset),
    ENTRY(codes_clone, "(msgid)", codes_clone),
    ENTRY(codes_release, "(_msgid)", codes_release),
    ENTRY(codes_keys_iterator_new, "(msgid, namespace=None)", codes_keys_iterator_new),
    ENTRY(codes_keys_iterator_next, "(iterid)", codes_keys_iterator_next),
    ENTRY(codes_keys_iterator_get_name, "(iterid)", codes_keys_iterator_get_name),
    ENTRY(codes_keys_iterator_rewind, "(iterid)", codes_keys_iterator_rewind),
    ENTRY(codes_keys_iterator_delete, "(_iterid)", codes_keys_iterator_delete),
    ENTRY(codes_skip_duplicates, "(_iterid)", codes_skip_duplicates),
    ENTRY(codes_skip_coded, "(_iterid)", codes_skip_coded),
    ENTRY(codes_skip_computed, "(iterid)", codes_skip_computed),
    ENTRY(codes_skip_edition_specific, "(_iterid)", codes_skip_edition_specific),
    ENTRY(codes_skip_function, "(_iterid)", codes_skip_function),
    ENTRY(codes_skip_read_only, "(_iterid)", codes_skip_read_only),
    ENTRY(codes_grib_iterator_new, "(gribid, mode)", codes_grib_iterator_new),
    ENTRY(codes_grib_iterator_next, "(iterid)", codes_grib_iterator_next),
    ENTRY(codes_grib_iterator_delete, "(_iterid)", codes_grib_iterator_delete),
    ENTRY(codes_grib_get_data, "(gribid)", codes_grib_get_data),
    ENTRY(codes_grib_nearest_new, "(_msgid)", codes_grib_nearest_new),
    ENTRY(codes_grib_nearest_find, "(nid, gribid, inlat, inlon, flags, is_lsm=False, npoints=4)", codes_grib_nearest_find),
    ENTRY(codes_grib_nearest_delete, "(_nid)", codes_grib_nearest_delete),
    ENTRY(codes_grib_find_nearest, "(gribid, inlat, inlon, is_lsm=False, npoints=1)", codes_grib_find_nearest),
    ENTRY(codes_grib_find_nearest_multiple, "(gribid, is_lsm, inlats, inlons)", codes_grib_find_nearest_multiple),
    ENTRY(codes_extract_offsets, "(filepath, product_kind, is_strict=True)", codes_extract_offsets),
    ENTRY(codes_extract_offsets_sizes, "(filepath, product_kind, is_strict=True)", codes_extract_offsets_sizes),
    ENTRY(codes_grib_cache_clear, "()", codes_grib_cache_clear),
    ENTRY(codes_grib_cache_set_enabled, "(enabled)", codes_grib_cache_set_enabled),
    ENTRY(codes_grib_cache_set_limits, "(max_entries, max_bytes)", codes_grib_cache_set_limits),
    ENTRY(codes_grib_cache_info, "()", codes_grib_cache_info),
    ENTRY(codes_write, "(msgid, fileobj)", codes_write),
    ENTRY(codes_index_new_from_file, "(filename, keys)", codes_index_new_from_file),
    ENTRY(codes_index_add_file, "(indexid, filename)", codes_index_add_file),
    ENTRY(codes_index_select, "(indexid, key, value)", codes_index_select),
    ENTRY(codes_index_select_long, "(indexid, key, value)", codes_index_select_long),
    ENTRY(codes_index_select_double, "(indexid, key, value)", codes_index_select_double),
    ENTRY(codes_index_select_string, "(indexid, key, value)", codes_index_select_string),
    ENTRY(codes_index_get, "(indexid, key, ktype=None)", codes_index_get),
    ENTRY(codes_index_get_long, "(indexid, key)", codes_index_get_long),
    ENTRY(codes_index_get_double, "(indexid, key)", codes_index_get_double),
    ENTRY(codes_index_get_string, "(indexid, key)", codes_index_get_string),
    ENTRY(codes_index_get_size, "(indexid, key)", codes_index_get_size),
    ENTRY(codes_new_from_index, "(indexid)", codes_new_from_index),
    ENTRY(codes_index_release, "(_indexid)", codes_index_release),
    ENTRY(codes_get_library_path, "()", codes_get_library_path),
    ENTRY(codes_definition_path, "()", codes_definition_path),
    ENTRY(codes_samples_path, "()", codes_samples_path),
    ENTRY(codes_set_definitions_path, "(defs_path)", codes_set_definitions_path),
    ENTRY(codes_set_samples_path, "(samples_path)", codes_set_samples_path),
    ENTRY(codes_set_debug, "(dmode)", codes_set_debug),
    ENTRY(codes_get_features, "(select=...)", codes_get_features),
    ENTRY(codes_get_api_version, "()", codes_get_api_version),
    ENTRY(codes_get_version_info, "()", codes_get_version_info),
};

#undef ENTRY
#undef NOT_YET

}  // namespace

std::span<const FunctionEntry> function_table() { return kFunctions; }

}  // namespace vorlak::py
