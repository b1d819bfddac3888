#pragma once
// Declarations of the module functions, grouped by the file that defines
// them. function_table.cpp refers to these by name.
#include "lib/pyref.hpp"

#define VORLAK_FUNCTION(fname) \
  PyObject* fname([[maybe_unused]] PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)

namespace vorlak::py::fn {

// fn_io.cpp
VORLAK_FUNCTION(codes_grib_new_from_file);
VORLAK_FUNCTION(codes_new_from_file);
VORLAK_FUNCTION(codes_any_new_from_file);
VORLAK_FUNCTION(codes_count_in_file);
VORLAK_FUNCTION(codes_new_from_message);
VORLAK_FUNCTION(codes_get_message);
VORLAK_FUNCTION(codes_get_message_offset);
VORLAK_FUNCTION(codes_get_message_size);
VORLAK_FUNCTION(codes_get_offset);
VORLAK_FUNCTION(codes_extract_offsets);
VORLAK_FUNCTION(codes_extract_offsets_sizes);
VORLAK_FUNCTION(codes_write);

// fn_keys.cpp
VORLAK_FUNCTION(codes_get_string_length);
VORLAK_FUNCTION(codes_get);
VORLAK_FUNCTION(codes_get_long);
VORLAK_FUNCTION(codes_get_double);
VORLAK_FUNCTION(codes_get_string);
VORLAK_FUNCTION(codes_get_size);
VORLAK_FUNCTION(codes_is_defined);
VORLAK_FUNCTION(codes_is_missing);
VORLAK_FUNCTION(codes_get_native_type);
VORLAK_FUNCTION(codes_get_array);
VORLAK_FUNCTION(codes_get_double_array);
VORLAK_FUNCTION(codes_get_float_array);
VORLAK_FUNCTION(codes_get_long_array);
VORLAK_FUNCTION(codes_get_string_array);
VORLAK_FUNCTION(codes_get_double_element);
VORLAK_FUNCTION(codes_get_double_elements);
VORLAK_FUNCTION(codes_get_elements);
VORLAK_FUNCTION(codes_get_values);

// fn_handles.cpp
VORLAK_FUNCTION(codes_clone);
VORLAK_FUNCTION(codes_release);
VORLAK_FUNCTION(codes_keys_iterator_delete);
VORLAK_FUNCTION(codes_grib_iterator_delete);
VORLAK_FUNCTION(codes_grib_nearest_delete);
VORLAK_FUNCTION(codes_index_release);

// fn_cache.cpp
VORLAK_FUNCTION(_benchmark_force_decode_values);
VORLAK_FUNCTION(_benchmark_decode_values_uncached);
VORLAK_FUNCTION(codes_grib_cache_clear);
VORLAK_FUNCTION(codes_grib_cache_set_enabled);
VORLAK_FUNCTION(codes_grib_cache_set_limits);
VORLAK_FUNCTION(codes_grib_cache_info);

// fn_info.cpp
VORLAK_FUNCTION(codes_get_library_path);
VORLAK_FUNCTION(codes_definition_path);
VORLAK_FUNCTION(codes_samples_path);
VORLAK_FUNCTION(codes_set_definitions_path);
VORLAK_FUNCTION(codes_set_samples_path);
VORLAK_FUNCTION(codes_set_debug);
VORLAK_FUNCTION(codes_get_features);
VORLAK_FUNCTION(codes_get_api_version);
VORLAK_FUNCTION(codes_get_version_info);

// fn_keys_iterator.cpp
VORLAK_FUNCTION(codes_keys_iterator_new);
VORLAK_FUNCTION(codes_keys_iterator_next);
VORLAK_FUNCTION(codes_keys_iterator_get_name);
VORLAK_FUNCTION(codes_keys_iterator_rewind);
VORLAK_FUNCTION(codes_skip_duplicates);
VORLAK_FUNCTION(codes_skip_coded);
VORLAK_FUNCTION(codes_skip_computed);
VORLAK_FUNCTION(codes_skip_edition_specific);
VORLAK_FUNCTION(codes_skip_function);
VORLAK_FUNCTION(codes_skip_read_only);

// fn_grid.cpp
VORLAK_FUNCTION(codes_grib_iterator_new);
VORLAK_FUNCTION(codes_grib_iterator_next);
VORLAK_FUNCTION(codes_grib_get_data);
VORLAK_FUNCTION(codes_grib_nearest_new);
VORLAK_FUNCTION(codes_grib_nearest_find);
VORLAK_FUNCTION(codes_grib_find_nearest);
VORLAK_FUNCTION(codes_grib_find_nearest_multiple);

// fn_index.cpp
VORLAK_FUNCTION(codes_index_new_from_file);
VORLAK_FUNCTION(codes_index_add_file);
VORLAK_FUNCTION(codes_index_select);
VORLAK_FUNCTION(codes_index_select_long);
VORLAK_FUNCTION(codes_index_select_double);
VORLAK_FUNCTION(codes_index_select_string);
VORLAK_FUNCTION(codes_index_get);
VORLAK_FUNCTION(codes_index_get_long);
VORLAK_FUNCTION(codes_index_get_double);
VORLAK_FUNCTION(codes_index_get_string);
VORLAK_FUNCTION(codes_index_get_size);
VORLAK_FUNCTION(codes_new_from_index);

}  // namespace vorlak::py::fn
