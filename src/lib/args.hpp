#pragma once
// Argument binding and conversion for METH_FASTCALL | METH_KEYWORDS functions.
//
// bind() matches positional and keyword arguments to the parameter names
// (missing required, unknown or doubled keywords raise TypeError). The arg_*
// converters turn one bound argument into a C++ value; each returns an empty
// optional (or null) with an exception set whose message starts with
// "argument 'NAME': ".
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lib/pyref.hpp"

namespace vorlak::py {

template <std::size_t N>
struct Params {
  const char* function;
  std::array<const char*, N> names;
  std::size_t required;
};

// The slow path of bind(): keywords, wrong counts. Fills out[0..count).
bool bind_arguments(const char* function, const char* const* names, std::size_t count,
                    std::size_t required, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    PyObject** out);

// Borrowed references in parameter order; null for an omitted optional.
template <std::size_t N>
using Bound = std::array<PyObject*, N>;

template <std::size_t N>
bool bind(const Params<N>& params, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          Bound<N>& out) {
  const auto given = static_cast<std::size_t>(nargs);
  if (kwnames == nullptr && given >= params.required && given <= N) {
    for (std::size_t i = 0; i < N; ++i) out[i] = i < given ? args[i] : nullptr;
    return true;
  }
  return bind_arguments(params.function, params.names.data(), N, params.required, args, nargs,
                        kwnames, out.data());
}

// For functions without parameters: any argument raises TypeError.
inline bool bind_none(const char* function, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  if (nargs == 0 && kwnames == nullptr) return true;
  return bind_arguments(function, nullptr, 0, 0, args, nargs, kwnames, nullptr);
}

// Rewrites the pending exception's message as "argument 'NAME': message",
// keeping its class. Always returns false.
bool prefix_argument_error(const char* name);

// Sets TypeError "argument 'NAME': 'T' object cannot be converted to 'TARGET'".
bool raise_cannot_convert(PyObject* obj, const char* target, const char* name);

// The object's class name as Python shows it (its qualified name).
std::string type_name_of(PyObject* obj);

// Null unless `obj` is an instance of `type`; `class_name` names it in the error.
PyObject* arg_instance(PyObject* obj, PyTypeObject* type, const char* class_name, const char* name);

std::optional<std::int32_t> arg_i32(PyObject* obj, const char* name);
std::optional<std::uint64_t> arg_u64(PyObject* obj, const char* name);
// A Python bool or a NumPy boolean, nothing else.
std::optional<bool> arg_bool(PyObject* obj, const char* name);
// A view of the str's UTF-8 text, valid while the object lives.
std::optional<std::string_view> arg_str(PyObject* obj, const char* name);
std::optional<double> arg_f64(PyObject* obj, const char* name);

// Sequences (not str): each element converted as its scalar counterpart.
std::optional<std::vector<std::uint8_t>> arg_byte_sequence(PyObject* obj, const char* name);
std::optional<std::vector<std::uint64_t>> arg_u64_sequence(PyObject* obj, const char* name);
std::optional<std::vector<double>> arg_f64_sequence(PyObject* obj, const char* name);
std::optional<std::vector<std::string>> arg_str_sequence(PyObject* obj, const char* name);

}  // namespace vorlak::py
