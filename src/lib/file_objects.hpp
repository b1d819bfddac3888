#pragma once
// What the module asks of a Python file argument: a path to load (from the
// file-system-path protocol or a str `name`), and its position through
// `tell` and `seek` when it has them.
#include <cstdint>
#include <optional>
#include <string>

#include "lib/pyref.hpp"

namespace vorlak::py {

// A str in the file-system encoding; null optional with an exception set.
std::optional<std::string> fs_encode(PyObject* text);

// The path of a str, path-like or file object; CodesInternalError
// "expected a filesystem path or a file-like object with a .name attribute".
std::optional<std::string> resolve_path(PyObject* fileobj);

// tell() as unsigned 64-bit; 0 without a `tell` attribute.
std::optional<std::uint64_t> query_position(PyObject* fileobj);

// seek(position), its result ignored; nothing without a `seek` attribute.
bool move_position(PyObject* fileobj, std::uint64_t position);

}  // namespace vorlak::py
