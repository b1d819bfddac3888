#pragma once
// The one table of module functions: name, text signature and
// implementation, in the order of registration. An entry whose
// implementation is null is not registered.
#include <span>

#include "lib/pyref.hpp"

namespace vorlak::py {

using FastFunction = PyObject* (*)(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames);

struct FunctionEntry {
  const char* name;
  // "name(params)\n--\n\n": the interpreter shows the parameter list as
  // __text_signature__ and leaves __doc__ empty.
  const char* doc;
  FastFunction impl;
};

std::span<const FunctionEntry> function_table();

}  // namespace vorlak::py
