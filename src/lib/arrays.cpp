#include "lib/arrays.hpp"

#include <cstdint>
#include <cstring>

#include <numpy/arrayobject.h>

#include "core/key_lookup.hpp"

namespace vorlak::py {

namespace {

bool numpy_ready = false;

// The pending exception as a normalised instance (null when none).
PyRef take_exception() {
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (value && traceback) PyException_SetTraceback(value, traceback);
  Py_XDECREF(type);
  Py_XDECREF(traceback);
  return PyRef(value);
}

// Loads the array API capsule once; a failure is reported with one fixed
// text, the interpreter's own error kept as the cause.
bool ensure_numpy() {
  if (numpy_ready) return true;
  if (_import_array() < 0) {
    PyRef cause = take_exception();
    PyErr_SetString(PyExc_ImportError, "Failed to access NumPy array API capsule");
    if (cause) {
      PyRef error = take_exception();
      PyException_SetCause(error.get(), cause.release());  // steals
      PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.get())), error.get());
    }
    return false;
  }
  numpy_ready = true;
  return true;
}

// A new, writeable, one-dimensional array that owns its storage.
template <class Element, class Convert>
PyObject* owned(int type_number, std::span<const double> values, Convert convert) {
  if (!ensure_numpy()) return nullptr;
  npy_intp length = static_cast<npy_intp>(values.size());
  PyObject* array = PyArray_SimpleNew(1, &length, type_number);
  if (!array) return nullptr;
  auto* out = static_cast<Element*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array)));
  for (std::size_t i = 0; i < values.size(); ++i) out[i] = convert(values[i]);
  return array;
}

}  // namespace

PyObject* values_view(HandleObject* owner, std::span<const double> values) {
  if (!ensure_numpy()) return nullptr;
  npy_intp length = static_cast<npy_intp>(values.size());
  // The memo never changes once filled; the array is marked read-only.
  // An empty field still gets a valid pointer, so every view is alike.
  static const double no_values = 0.0;
  void* data = const_cast<double*>(values.empty() ? &no_values : values.data());
  PyRef array(PyArray_SimpleNewFromData(1, &length, NPY_FLOAT64, data));
  if (!array) return nullptr;
  auto* view = reinterpret_cast<PyArrayObject*>(array.get());
  PyArray_CLEARFLAGS(view, NPY_ARRAY_WRITEABLE);
  Py_INCREF(reinterpret_cast<PyObject*>(owner));
  if (PyArray_SetBaseObject(view, reinterpret_cast<PyObject*>(owner)) < 0) return nullptr;  // steals
  return array.release();
}

PyObject* owned_float64(std::span<const double> values) {
  if (!ensure_numpy()) return nullptr;
  npy_intp length = static_cast<npy_intp>(values.size());
  PyObject* array = PyArray_SimpleNew(1, &length, NPY_FLOAT64);
  if (!array) return nullptr;
  if (!values.empty()) {
    std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array)), values.data(),
                values.size() * sizeof(double));
  }
  return array;
}

PyObject* filled_float64(std::uint64_t size, const std::function<bool(std::span<double>)>& fill) {
  if (!ensure_numpy()) return nullptr;
  npy_intp length = static_cast<npy_intp>(size);
  PyRef array(PyArray_SimpleNew(1, &length, NPY_FLOAT64));
  if (!array) return nullptr;
  auto* data = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())));
  if (!fill(std::span<double>(data, static_cast<std::size_t>(size)))) return nullptr;
  return array.release();
}

PyObject* owned_float32(std::span<const double> values) {
  return owned<float>(NPY_FLOAT32, values, [](double v) { return static_cast<float>(v); });
}

PyObject* owned_int64(std::span<const double> values) {
  return owned<std::int64_t>(NPY_INT64, values, [](double v) { return saturating_double_to_long(v); });
}

}  // namespace vorlak::py
