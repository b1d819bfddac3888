#pragma once
// The requested kind of a `ktype` argument, shared by the key reads and the
// index: None gives the native kind; anything else is read through str(),
// lower-cased, and the first word it contains decides.
#include <optional>

#include "lib/pyref.hpp"

namespace vorlak::py {

enum class Kind { Native, Float32, Float, Int, Bytes, Str };

// Nullopt with the exception set when str() fails.
std::optional<Kind> reduce_ktype(PyObject* ktype);

}  // namespace vorlak::py
