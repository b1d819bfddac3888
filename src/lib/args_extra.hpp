#pragma once
// Converters beyond args.hpp needed by the iterator, nearest and index
// functions. Same convention: an empty optional with the exception set.
#include <cstdint>
#include <optional>
#include <string_view>

#include "lib/pyref.hpp"

namespace vorlak::py {

// An int or any object with __index__ (a float is refused), signed 64 bits.
// OverflowError "out of range integral type conversion attempted" beyond.
std::optional<std::int64_t> arg_i64(PyObject* obj, const char* name);

// None or a str; the text is not needed by the callers, only the check.
bool arg_optional_str(PyObject* obj, const char* name);

// The same conversions without the "argument 'NAME': " prefix, for
// codes_index_select, whose conversion errors are the interpreter's own.
std::optional<std::int64_t> to_i64_unprefixed(PyObject* obj);
std::optional<double> to_f64_unprefixed(PyObject* obj);
// TypeError "'T' object cannot be converted to 'PyString'" for a non-str.
std::optional<std::string_view> to_str_unprefixed(PyObject* obj);

}  // namespace vorlak::py
