// Conversions at the boundary of vorlak._fields: key values to Python
// objects, core errors to exceptions, decoded vectors to NumPy arrays that
// own them.
#include <cerrno>
#include <cstring>
#include <string>
#include <unordered_map>

#include <numpy/arrayobject.h>

#include "fields/binding.hpp"

namespace vorlak::fields {
namespace {

// Fetched from vorlak._vorlak once, at import, and kept.
PyObject* codes_internal_error = nullptr;
PyObject* invalid_type_error = nullptr;
PyObject* key_not_found_error = nullptr;

bool numpy_loaded = false;

// The vector an array's capsule owns.
template <class T>
void free_vector(PyObject* capsule) {
  delete static_cast<std::vector<T>*>(PyCapsule_GetPointer(capsule, "vorlak._fields.values"));
}

void free_shared(PyObject* capsule) {
  delete static_cast<SharedDoubles*>(PyCapsule_GetPointer(capsule, "vorlak._fields.shared"));
}

// Rows x columns when the shape holds `size` points, else one dimension.
int dimensions(std::size_t size, const std::optional<FieldShape>& shape, npy_intp* dims) {
  if (shape && shape->rows * shape->columns == size) {
    dims[0] = static_cast<npy_intp>(shape->rows);
    dims[1] = static_cast<npy_intp>(shape->columns);
    return 2;
  }
  dims[0] = static_cast<npy_intp>(size);
  return 1;
}

template <class T>
PyObject* array_over(std::vector<T>&& values, std::optional<FieldShape> shape, bool writeable, int type_number) {
  if (!numpy_ready()) return nullptr;
  npy_intp dims[2];
  const int rank = dimensions(values.size(), shape, dims);
  PyRef array;
  if (values.empty()) {
    // Nothing to hand over: NumPy makes its own (empty) storage.
    array = PyRef(PyArray_SimpleNew(rank, dims, type_number));
    if (!array) return nullptr;
  } else {
    auto* owned = new std::vector<T>(std::move(values));
    PyRef capsule(PyCapsule_New(owned, "vorlak._fields.values", &free_vector<T>));
    if (!capsule) {
      delete owned;
      return nullptr;
    }
    array = PyRef(PyArray_SimpleNewFromData(rank, dims, type_number, owned->data()));
    if (!array) return nullptr;
    // The array owns the capsule, the capsule the vector.
    if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array.get()), capsule.release()) < 0) {
      return nullptr;
    }
  }
  if (!writeable) PyArray_CLEARFLAGS(reinterpret_cast<PyArrayObject*>(array.get()), NPY_ARRAY_WRITEABLE);
  return array.release();
}

}  // namespace

bool numpy_ready() {
  if (numpy_loaded) return true;
  if (_import_array() < 0) return false;
  numpy_loaded = true;
  return true;
}

PyObject* array_of(std::vector<double>&& values, std::optional<FieldShape> shape, bool writeable) {
  return array_over(std::move(values), shape, writeable, NPY_FLOAT64);
}

PyObject* array_of(std::vector<float>&& values, std::optional<FieldShape> shape, bool writeable) {
  return array_over(std::move(values), shape, writeable, NPY_FLOAT32);
}

PyObject* array_of(SharedDoubles&& values, std::optional<FieldShape> shape) {
  if (!numpy_ready()) return nullptr;
  npy_intp dims[2];
  const int rank = dimensions(values.data.size(), shape, dims);
  if (values.data.empty()) return PyArray_SimpleNew(rank, dims, NPY_FLOAT64);
  auto* owned = new SharedDoubles(std::move(values));
  PyRef capsule(PyCapsule_New(owned, "vorlak._fields.shared", &free_shared));
  if (!capsule) {
    delete owned;
    return nullptr;
  }
  // NumPy does not write through an array made read-only below.
  PyRef array(PyArray_SimpleNewFromData(rank, dims, NPY_FLOAT64, const_cast<double*>(owned->data.data())));
  if (!array) return nullptr;
  if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array.get()), capsule.release()) < 0) return nullptr;
  PyArray_CLEARFLAGS(reinterpret_cast<PyArrayObject*>(array.get()), NPY_ARRAY_WRITEABLE);
  return array.release();
}

PyObject* dict_of(const NamedValues& values) {
  PyRef dict(PyDict_New());
  if (!dict) return nullptr;
  for (const auto& [name, value] : values) {
    // Several numbers (two standard parallels) as a list: dicts of lists compare.
    PyRef item;
    if (const auto* numbers = std::get_if<std::vector<double>>(&value.value)) {
      item = PyRef(PyList_New(static_cast<Py_ssize_t>(numbers->size())));
      for (std::size_t i = 0; item && i < numbers->size(); ++i) {
        PyObject* number = PyFloat_FromDouble((*numbers)[i]);
        if (!number) return nullptr;
        PyList_SET_ITEM(item.get(), static_cast<Py_ssize_t>(i), number);
      }
    } else {
      item = PyRef(key_value_object(value));
    }
    if (!item || PyDict_SetItemString(dict.get(), name.c_str(), item.get()) < 0) return nullptr;
  }
  return dict.release();
}

PyObject* name_object(const std::string& name) {
  // Key names repeat from field to field: one interned object each (its
  // hash kept), for the life of the process. The set is bounded; names past
  // the bound are made afresh.
  static std::unordered_map<std::string, PyObject*> names;
  constexpr std::size_t kMaxNames = 8192;
  if (auto it = names.find(name); it != names.end()) return Py_NewRef(it->second);
  PyObject* made = text_object(name);
  if (!made || names.size() >= kMaxNames) return made;
  PyUnicode_InternInPlace(&made);
  names.emplace(name, Py_NewRef(made));
  return made;
}

PyObject* text_object(std::string_view text) {
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

PyObject* key_value_object(const KeyValue& value) {
  switch (value.tag()) {
    case KeyTag::Long: return PyLong_FromLongLong(std::get<std::int64_t>(value.value));
    case KeyTag::Double: return PyFloat_FromDouble(std::get<double>(value.value));
    case KeyTag::String: return text_object(std::get<std::string>(value.value));
    case KeyTag::DoubleArray: {
      // A fresh copy per read: the caller may change it.
      std::vector<double> copy = std::get<std::vector<double>>(value.value);
      return array_of(std::move(copy), std::nullopt, true);
    }
  }
  return raise_codes("key of unknown kind");
}

bool load_error_classes() {
  PyRef codes(PyImport_ImportModule("vorlak._vorlak"));
  if (!codes) return false;
  codes_internal_error = PyObject_GetAttrString(codes.get(), "CodesInternalError");
  invalid_type_error = PyObject_GetAttrString(codes.get(), "InvalidTypeError");
  key_not_found_error = PyObject_GetAttrString(codes.get(), "KeyValueNotFoundError");
  return codes_internal_error && invalid_type_error && key_not_found_error;
}

PyObject* raise_codes(std::string_view text) {
  PyRef message(text_object(text));
  if (message) PyErr_SetObject(codes_internal_error, message.get());
  return nullptr;
}

PyObject* raise_error(const CodesError& error) {
  switch (error.kind) {
    case CodesError::Kind::KeyNotFound: {
      PyRef key(text_object(error.text));
      if (key) PyErr_SetObject(PyExc_KeyError, key.get());
      return nullptr;
    }
    case CodesError::Kind::TypeMismatch: {
      PyRef message(text_object(error.message()));
      if (message) PyErr_SetObject(invalid_type_error, message.get());
      return nullptr;
    }
    default: return raise_codes(error.message());
  }
}

PyObject* raise_codes_error(const CodesError& error) {
  PyObject* type = codes_internal_error;
  if (error.kind == CodesError::Kind::KeyNotFound) type = key_not_found_error;
  if (error.kind == CodesError::Kind::TypeMismatch) type = invalid_type_error;
  PyRef message(text_object(error.message()));
  if (message) PyErr_SetObject(type, message.get());
  return nullptr;
}

PyObject* raise_open_error(const FieldFileError& error, PyObject* path) {
  if (error.os_error == 0) return raise_codes(error.text);
  // OSError(errno, strerror, path): the interpreter picks the subclass
  // (FileNotFoundError, PermissionError, IsADirectoryError, ...).
  PyRef args(Py_BuildValue("(isO)", error.os_error, std::strerror(error.os_error), path));
  if (!args) return nullptr;
  PyRef exception(PyObject_Call(PyExc_OSError, args.get(), nullptr));
  if (exception) PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.get())), exception.get());
  return nullptr;
}

}  // namespace vorlak::fields
