#include "lib/args_extra.hpp"

#include "lib/args.hpp"

namespace vorlak::py {

std::optional<std::int64_t> to_i64_unprefixed(PyObject* obj) {
  PyRef value(PyNumber_Index(obj));
  if (!value) return std::nullopt;
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(value.get(), &overflow);
  if (v == -1 && PyErr_Occurred()) return std::nullopt;
  if (overflow != 0) {
    PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
    return std::nullopt;
  }
  return static_cast<std::int64_t>(v);
}

std::optional<double> to_f64_unprefixed(PyObject* obj) {
  if (PyFloat_CheckExact(obj)) return PyFloat_AS_DOUBLE(obj);
  const double v = PyFloat_AsDouble(obj);
  if (v == -1.0 && PyErr_Occurred()) return std::nullopt;
  return v;
}

std::optional<std::string_view> to_str_unprefixed(PyObject* obj) {
  if (!PyUnicode_Check(obj)) {
    const std::string type = type_name_of(obj);
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'PyString'", type.c_str());
    return std::nullopt;
  }
  Py_ssize_t length = 0;
  const char* text = PyUnicode_AsUTF8AndSize(obj, &length);
  if (!text) return std::nullopt;
  return std::string_view(text, static_cast<std::size_t>(length));
}

std::optional<std::int64_t> arg_i64(PyObject* obj, const char* name) {
  auto v = to_i64_unprefixed(obj);
  if (!v) prefix_argument_error(name);
  return v;
}

bool arg_optional_str(PyObject* obj, const char* name) {
  if (obj == nullptr || obj == Py_None) return true;
  return arg_str(obj, name).has_value();
}

}  // namespace vorlak::py
