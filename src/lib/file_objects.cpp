#include "lib/file_objects.hpp"

#include "lib/errors.hpp"

namespace vorlak::py {

namespace {

// The attribute, or a null reference without error when it is absent
// (AttributeError); other lookup errors stay set and `failed` tells.
PyRef optional_attribute(PyObject* obj, const char* name, bool& failed) {
  failed = false;
  PyRef value(PyObject_GetAttrString(obj, name));
  if (value) return value;
  if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
    PyErr_Clear();
  } else {
    failed = true;
  }
  return PyRef();
}

}  // namespace

std::optional<std::string> fs_encode(PyObject* text) {
  PyRef encoded(PyUnicode_EncodeFSDefault(text));
  if (!encoded) return std::nullopt;
  return std::string(PyBytes_AS_STRING(encoded.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(encoded.get())));
}

std::optional<std::string> resolve_path(PyObject* fileobj) {
  // 1. os.fspath: a str result is the path; bytes or an error fall through.
  PyRef fspath(PyOS_FSPath(fileobj));
  if (fspath && PyUnicode_Check(fspath.get())) return fs_encode(fspath.get());
  PyErr_Clear();
  // 2. A str `name`, as open file objects carry.
  bool failed = false;
  PyRef name = optional_attribute(fileobj, "name", failed);
  if (failed) return std::nullopt;
  if (name && PyUnicode_Check(name.get())) return fs_encode(name.get());
  raise_internal("expected a filesystem path or a file-like object with a .name attribute");
  return std::nullopt;
}

std::optional<std::uint64_t> query_position(PyObject* fileobj) {
  bool failed = false;
  PyRef tell = optional_attribute(fileobj, "tell", failed);
  if (failed) return std::nullopt;
  if (!tell) return 0;
  PyRef result(PyObject_CallNoArgs(tell.get()));
  if (!result) return std::nullopt;
  PyRef index(PyNumber_Index(result.get()));
  if (!index) return std::nullopt;
  const unsigned long long position = PyLong_AsUnsignedLongLong(index.get());
  if (position == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return std::nullopt;
  return static_cast<std::uint64_t>(position);
}

bool move_position(PyObject* fileobj, std::uint64_t position) {
  bool failed = false;
  PyRef seek = optional_attribute(fileobj, "seek", failed);
  if (failed) return false;
  if (!seek) return true;
  PyRef offset(PyLong_FromUnsignedLongLong(position));
  if (!offset) return false;
  PyRef result(PyObject_CallOneArg(seek.get(), offset.get()));
  return static_cast<bool>(result);
}

}  // namespace vorlak::py
