#include "lib/errors.hpp"

#include <array>
#include <string>

namespace vorlak::py {

namespace {

constexpr std::array<const char*, kErrorClassCount> kNames = {
    "CodesInternalError",         "KeyValueNotFoundError",    "InvalidTypeError",
    "EndOfFileError",             "FunctionNotImplementedError", "InvalidKeysIteratorError",
    "InvalidGribIteratorError",   "InvalidIndexError",        "InvalidNearestError",
};

// Process-wide: the module refuses every interpreter but the first, so
// these class objects are only ever used where they were made.
std::array<PyObject*, kErrorClassCount> classes{};

ErrorClass class_of(CodesError::Kind kind) {
  switch (kind) {
    case CodesError::Kind::KeyNotFound: return ErrorClass::KeyValueNotFound;
    case CodesError::Kind::TypeMismatch: return ErrorClass::InvalidType;
    case CodesError::Kind::EndOfFile: return ErrorClass::EndOfFile;
    case CodesError::Kind::Internal: break;
  }
  return ErrorClass::Internal;
}

}  // namespace

const char* error_class_name(ErrorClass which) { return kNames[static_cast<int>(which)]; }

PyObject* error_class(ErrorClass which) {
  const int slot = static_cast<int>(which);
  if (classes[slot]) return classes[slot];
  PyObject* base = PyExc_Exception;
  if (which != ErrorClass::Internal) {
    base = error_class(ErrorClass::Internal);
    if (!base) return nullptr;
  }
  const std::string qualified = std::string("_vorlak.") + kNames[slot];
  classes[slot] = PyErr_NewExceptionWithDoc(qualified.c_str(), nullptr, base, nullptr);
  return classes[slot];
}

PyObject* raise(ErrorClass which, std::string_view message) {
  PyObject* cls = error_class(which);
  if (!cls) return nullptr;
  PyRef text(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
  if (!text) return nullptr;
  PyErr_SetObject(cls, text.get());
  return nullptr;
}

PyObject* raise(const CodesError& error) { return raise(class_of(error.kind), error.message()); }

}  // namespace vorlak::py
