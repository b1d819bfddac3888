#include "lib/args.hpp"

#include <cstring>
#include <limits>

namespace vorlak::py {

namespace {

bool raise_too_many(const char* function, std::size_t count, Py_ssize_t nargs) {
  if (count == 0) {
    PyErr_Format(PyExc_TypeError, "%s() takes no arguments (%zd given)", function, nargs);
  } else {
    PyErr_Format(PyExc_TypeError, "%s() takes at most %zu positional argument%s (%zd given)", function,
                 count, count == 1 ? "" : "s", nargs);
  }
  return false;
}

// Index of the parameter named by `keyword`, or count when there is none.
std::size_t find_parameter(PyObject* keyword, const char* const* names, std::size_t count) {
  Py_ssize_t length = 0;
  const char* text = PyUnicode_AsUTF8AndSize(keyword, &length);
  if (!text) {
    PyErr_Clear();
    return count;
  }
  for (std::size_t i = 0; i < count; ++i) {
    if (std::strlen(names[i]) == static_cast<std::size_t>(length) &&
        std::memcmp(names[i], text, static_cast<std::size_t>(length)) == 0) {
      return i;
    }
  }
  return count;
}

// Integer value of an object with __index__, or null (TypeError) without.
PyRef as_index(PyObject* obj) { return PyRef(PyNumber_Index(obj)); }

bool is_numpy_bool(PyObject* obj) {
  const char* name = Py_TYPE(obj)->tp_name;
  return std::strcmp(name, "numpy.bool_") == 0 || std::strcmp(name, "numpy.bool") == 0;
}

bool raise_overflow(const char* name) {
  PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
  return prefix_argument_error(name);
}

std::optional<std::uint8_t> element_u8(PyObject* item, const char* name) {
  PyRef value = as_index(item);
  if (!value) return prefix_argument_error(name), std::nullopt;
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(value.get(), &overflow);
  if (v == -1 && PyErr_Occurred()) return prefix_argument_error(name), std::nullopt;
  if (overflow != 0 || v < 0 || v > 255) return raise_overflow(name), std::nullopt;
  return static_cast<std::uint8_t>(v);
}

// The shared shape of every Vec-like conversion: refuse str, require a
// sequence, convert the elements in order.
template <class T, class Convert>
std::optional<std::vector<T>> sequence_of(PyObject* obj, const char* name, Convert convert) {
  if (PyUnicode_Check(obj)) {
    PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
    return prefix_argument_error(name), std::nullopt;
  }
  if (!PySequence_Check(obj)) return raise_cannot_convert(obj, "Sequence", name), std::nullopt;
  std::vector<T> out;
  const Py_ssize_t length = PySequence_Size(obj);
  if (length < 0) return prefix_argument_error(name), std::nullopt;
  out.reserve(static_cast<std::size_t>(length));
  PyRef iterator(PyObject_GetIter(obj));
  if (!iterator) return prefix_argument_error(name), std::nullopt;
  while (PyRef item{PyIter_Next(iterator.get())}) {
    std::optional<T> value = convert(item.get(), name);
    if (!value) return std::nullopt;
    out.push_back(std::move(*value));
  }
  if (PyErr_Occurred()) return prefix_argument_error(name), std::nullopt;
  return out;
}

}  // namespace

bool bind_arguments(const char* function, const char* const* names, std::size_t count,
                    std::size_t required, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    PyObject** out) {
  for (std::size_t i = 0; i < count; ++i) out[i] = nullptr;
  if (nargs < 0 || static_cast<std::size_t>(nargs) > count) return raise_too_many(function, count, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
  const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
    const std::size_t slot = find_parameter(keyword, names, count);
    if (slot == count) {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", function, keyword);
      return false;
    }
    if (out[slot] != nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", function, names[slot]);
      return false;
    }
    out[slot] = args[nargs + k];
  }
  for (std::size_t i = 0; i < required; ++i) {
    if (out[i] == nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %zu)", function, names[i],
                   i + 1);
      return false;
    }
  }
  return true;
}

bool prefix_argument_error(const char* name) {
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  if (!type) {
    PyErr_Format(PyExc_SystemError, "argument '%s': conversion failed without an error", name);
    return false;
  }
  PyErr_NormalizeException(&type, &value, &traceback);
  PyRef text(value ? PyObject_Str(value) : PyUnicode_FromString(""));
  PyRef message(text ? PyUnicode_FromFormat("argument '%s': %U", name, text.get()) : nullptr);
  // Same class, prefixed message; a class that cannot be made from one
  // text (UnicodeEncodeError, for one) is raised as it came.
  PyRef renamed(message ? PyObject_CallOneArg(type, message.get()) : nullptr);
  if (!renamed) {
    PyErr_Clear();
    PyErr_Restore(type, value, traceback);
    return false;
  }
  Py_XDECREF(value);
  Py_XDECREF(traceback);
  PyErr_SetObject(type, renamed.get());
  Py_DECREF(type);
  return false;
}

std::string type_name_of(PyObject* obj) {
  PyRef qualname(PyType_GetQualName(Py_TYPE(obj)));
  const char* text = qualname ? PyUnicode_AsUTF8(qualname.get()) : nullptr;
  if (!text) {
    PyErr_Clear();
    return Py_TYPE(obj)->tp_name;
  }
  return text;
}

bool raise_cannot_convert(PyObject* obj, const char* target, const char* name) {
  const std::string type = type_name_of(obj);
  PyErr_Format(PyExc_TypeError, "argument '%s': '%s' object cannot be converted to '%s'", name,
               type.c_str(), target);
  return false;
}

PyObject* arg_instance(PyObject* obj, PyTypeObject* type, const char* class_name, const char* name) {
  if (!type) return nullptr;
  if (PyObject_TypeCheck(obj, type)) return obj;
  raise_cannot_convert(obj, class_name, name);
  return nullptr;
}

std::optional<std::int32_t> arg_i32(PyObject* obj, const char* name) {
  PyRef value = as_index(obj);
  if (!value) return prefix_argument_error(name), std::nullopt;
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(value.get(), &overflow);
  if (v == -1 && PyErr_Occurred()) return prefix_argument_error(name), std::nullopt;
  if (overflow != 0 || v < std::numeric_limits<std::int32_t>::min() ||
      v > std::numeric_limits<std::int32_t>::max()) {
    return raise_overflow(name), std::nullopt;
  }
  return static_cast<std::int32_t>(v);
}

std::optional<std::uint64_t> arg_u64(PyObject* obj, const char* name) {
  PyRef value = as_index(obj);
  if (!value) return prefix_argument_error(name), std::nullopt;
  const unsigned long long v = PyLong_AsUnsignedLongLong(value.get());
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    return prefix_argument_error(name), std::nullopt;
  }
  return static_cast<std::uint64_t>(v);
}

std::optional<bool> arg_bool(PyObject* obj, const char* name) {
  if (obj == Py_True) return true;
  if (obj == Py_False) return false;
  if (is_numpy_bool(obj)) {
    const int truth = PyObject_IsTrue(obj);
    if (truth < 0) return prefix_argument_error(name), std::nullopt;
    return truth != 0;
  }
  return raise_cannot_convert(obj, "PyBool", name), std::nullopt;
}

std::optional<std::string_view> arg_str(PyObject* obj, const char* name) {
  if (!PyUnicode_Check(obj)) return raise_cannot_convert(obj, "PyString", name), std::nullopt;
  Py_ssize_t length = 0;
  const char* text = PyUnicode_AsUTF8AndSize(obj, &length);
  if (!text) return prefix_argument_error(name), std::nullopt;
  return std::string_view(text, static_cast<std::size_t>(length));
}

std::optional<double> arg_f64(PyObject* obj, const char* name) {
  if (PyFloat_CheckExact(obj)) return PyFloat_AS_DOUBLE(obj);
  const double v = PyFloat_AsDouble(obj);
  if (v == -1.0 && PyErr_Occurred()) return prefix_argument_error(name), std::nullopt;
  return v;
}

std::optional<std::vector<std::uint8_t>> arg_byte_sequence(PyObject* obj, const char* name) {
  // bytes and bytearray are copied as they are; everything else goes element by element.
  if (PyBytes_Check(obj)) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(obj));
    return std::vector<std::uint8_t>(data, data + PyBytes_GET_SIZE(obj));
  }
  if (PyByteArray_Check(obj)) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(PyByteArray_AS_STRING(obj));
    return std::vector<std::uint8_t>(data, data + PyByteArray_GET_SIZE(obj));
  }
  return sequence_of<std::uint8_t>(obj, name, element_u8);
}

std::optional<std::vector<std::uint64_t>> arg_u64_sequence(PyObject* obj, const char* name) {
  return sequence_of<std::uint64_t>(obj, name, arg_u64);
}

std::optional<std::vector<double>> arg_f64_sequence(PyObject* obj, const char* name) {
  return sequence_of<double>(obj, name, arg_f64);
}

std::optional<std::vector<std::string>> arg_str_sequence(PyObject* obj, const char* name) {
  return sequence_of<std::string>(obj, name, [](PyObject* item, const char* n) -> std::optional<std::string> {
    const auto text = arg_str(item, n);
    if (!text) return std::nullopt;
    return std::string(*text);
  });
}

}  // namespace vorlak::py
