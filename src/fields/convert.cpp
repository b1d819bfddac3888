// Conversions at the boundary of vorlak._fields: key values to Python
// objects, core errors to exceptions, decoded vectors to NumPy arrays that
// own them.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

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

void free_memory(PyObject* capsule) { std::free(PyCapsule_GetPointer(capsule, "vorlak._fields.memory")); }

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

PyObject* array_of(ValueArray&& values, std::optional<FieldShape> shape, bool writeable) {
  if (!numpy_ready()) return nullptr;
  npy_intp dims[2];
  const int rank = dimensions(values.size(), shape, dims);
  const int type_number = values.type() == ValueType::Float32 ? NPY_FLOAT32 : NPY_FLOAT64;
  PyRef array;
  if (values.size() == 0) {
    array = PyRef(PyArray_SimpleNew(rank, dims, type_number));
    if (!array) return nullptr;
  } else {
    // The capsule frees the memory the decoder wrote.
    void* data = values.release();
    PyRef capsule(PyCapsule_New(data, "vorlak._fields.memory", &free_memory));
    if (!capsule) {
      std::free(data);
      return nullptr;
    }
    array = PyRef(PyArray_SimpleNewFromData(rank, dims, type_number, data));
    if (!array) return nullptr;
    if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array.get()), capsule.release()) < 0) return nullptr;
  }
  if (!writeable) PyArray_CLEARFLAGS(reinterpret_cast<PyArrayObject*>(array.get()), NPY_ARRAY_WRITEABLE);
  return array.release();
}

std::optional<std::span<const double>> doubles_of(PyObject* object) {
  if (!numpy_ready()) return std::nullopt;
  auto* array = reinterpret_cast<PyArrayObject*>(object);
  if (!PyArray_Check(object) || PyArray_TYPE(array) != NPY_FLOAT64 || !PyArray_IS_C_CONTIGUOUS(array)) {
    PyErr_SetString(PyExc_TypeError, "expected a contiguous float64 array");
    return std::nullopt;
  }
  return std::span<const double>(static_cast<const double*>(PyArray_DATA(array)),
                                 static_cast<std::size_t>(PyArray_SIZE(array)));
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

namespace {

// Interned key names by where their lasting text lies: open addressing on
// the address, a power-of-two table that never shrinks, at most half full.
class NamesByAddress {
 public:
  PyObject* find(const char* text) const {
    if (slots_.empty()) return nullptr;
    for (std::size_t i = slot_of(text);; i = (i + 1) & (slots_.size() - 1)) {
      if (slots_[i].text == text) return slots_[i].name;
      if (!slots_[i].text) return nullptr;
    }
  }
  // Keeps a reference to `name`; false when the table is full.
  bool add(const char* text, PyObject* name) {
    if (count_ + 1 > kMaxNames) return false;
    if (2 * (count_ + 1) > slots_.size()) grow();
    for (std::size_t i = slot_of(text);; i = (i + 1) & (slots_.size() - 1)) {
      if (!slots_[i].text) {
        slots_[i] = Slot{text, Py_NewRef(name)};
        ++count_;
        return true;
      }
      if (slots_[i].text == text) return true;
    }
  }

 private:
  static constexpr std::size_t kMaxNames = 8192;
  struct Slot {
    const char* text = nullptr;
    PyObject* name = nullptr;
  };
  std::size_t slot_of(const char* text) const {
    auto h = reinterpret_cast<std::uintptr_t>(text);
    h ^= h >> 17;
    h *= 0x9E3779B97F4A7C15u;
    return static_cast<std::size_t>(h >> 20) & (slots_.size() - 1);
  }
  void grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(old.empty() ? 256 : old.size() * 2, Slot{});
    for (const Slot& s : old) {
      if (!s.text) continue;
      std::size_t i = slot_of(s.text);
      while (slots_[i].text) i = (i + 1) & (slots_.size() - 1);
      slots_[i] = s;
    }
  }
  std::vector<Slot> slots_;
  std::size_t count_ = 0;
};

}  // namespace

PyObject* name_object(std::string_view name, bool lasting) {
  // Key names repeat from field to field: one interned object each (its
  // hash kept), for the life of the process. The set is bounded; names past
  // the bound are made afresh.
  static std::unordered_map<std::string, PyObject*> names;
  // The field keys' names are views of text that stays where it is for the
  // life of the process: its address finds the object.
  static NamesByAddress by_address;
  constexpr std::size_t kMaxNames = 8192;
  if (lasting) {
    if (PyObject* found = by_address.find(name.data())) return Py_NewRef(found);
  }
  PyObject* found = nullptr;
  if (auto it = names.find(std::string(name)); it != names.end()) {
    found = Py_NewRef(it->second);
  } else {
    found = text_object(name);
    if (!found || names.size() >= kMaxNames) return found;
    PyUnicode_InternInPlace(&found);
    names.emplace(std::string(name), Py_NewRef(found));
  }
  if (lasting) by_address.add(name.data(), found);
  return found;
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
