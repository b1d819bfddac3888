#pragma once
// The module's exception classes and the conversion of internal errors into
// Python exceptions. Every raise_* helper sets the exception and returns null,
// so a function can end with `return raise_...(...)`.
#include <string_view>

#include "core/codes_error.hpp"
#include "lib/pyref.hpp"

namespace vorlak::py {

// In the order the module exports them.
enum class ErrorClass : int {
  Internal,
  KeyValueNotFound,
  InvalidType,
  EndOfFile,
  FunctionNotImplemented,
  InvalidKeysIterator,
  InvalidGribIterator,
  InvalidIndex,
  InvalidNearest,
};
inline constexpr int kErrorClassCount = 9;

// The short class name, e.g. "CodesInternalError".
const char* error_class_name(ErrorClass which);

// The class, created on first use and kept for the life of the process.
// Borrowed; null with an exception set when creation fails.
PyObject* error_class(ErrorClass which);

PyObject* raise(ErrorClass which, std::string_view message);
PyObject* raise(const CodesError& error);
inline PyObject* raise_internal(std::string_view message) { return raise(ErrorClass::Internal, message); }

}  // namespace vorlak::py
