#pragma once
// The decoding methods of the Field class (field_data.cpp), listed in its
// method table (field.cpp).
#include "fields/binding.hpp"

namespace vorlak::fields {

// _values(single_precision: bool, writeable: bool) -> ndarray
PyObject* field_values_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs);
// _shape() -> (rows, columns) or None
PyObject* field_shape_method(PyObject* self, PyObject*);
// _coordinate(latitude: bool) -> ndarray or None
PyObject* field_coordinate_method(PyObject* self, PyObject* latitude);
// _nearest(lat, lon, count) -> [(index, lat, lon, distance_km, value), ...]
PyObject* field_nearest_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs);
// _codes_keys() -> [(name, value or None, error text or None), ...]: every
// key the codes API lists for a message holding only this field, the
// computed ones answered from its decode.
PyObject* field_codes_keys_method(PyObject* self, PyObject*);

}  // namespace vorlak::fields
