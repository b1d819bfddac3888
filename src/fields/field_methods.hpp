#pragma once
// The decoding methods of the Field class (field_data.cpp), listed in its
// method table (field.cpp).
#include "fields/binding.hpp"

namespace vorlak::fields {

// _values(single_precision: bool, writeable: bool) -> ndarray
PyObject* field_values_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs);
// _shape() -> (rows, columns) or None
PyObject* field_shape_method(PyObject* self, PyObject*);
// _grid_array(which: int) -> read-only ndarray or None; which is 0
// (latitudes), 1 (longitudes), both shaped like the values, 2 (x) or 3 (y).
PyObject* field_grid_array_method(PyObject* self, PyObject* which);
// _crs(cf: bool) -> dict of PROJ parameters (CF grid_mapping attributes)
// or None where the grid has no coordinates.
PyObject* field_crs_method(PyObject* self, PyObject* cf);
// _grid_id() -> bytes: equal for fields on byte-identical grid sections.
PyObject* field_grid_id_method(PyObject* self, PyObject*);
// _nearest(lat, lon, count) -> [(index, lat, lon, distance_km, value), ...]
// with presented indexes.
PyObject* field_nearest_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs);
// _codes_keys() -> [(name, value or None, error text or None), ...]: every
// key the codes API lists for a message holding only this field, the
// computed ones answered from its decode.
PyObject* field_codes_keys_method(PyObject* self, PyObject*);

}  // namespace vorlak::fields
