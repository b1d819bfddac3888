// Cloning a message handle, and the release/delete functions, which only
// validate their argument: objects live as long as Python references them.
#include "lib/args.hpp"
#include "lib/functions.hpp"
#include "lib/handles.hpp"

namespace vorlak::py::fn {

namespace {

// Checks the class, takes and gives back shared access, returns None.
template <class Object>
PyObject* release(const Params<1>& params, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                  Object* (*convert)(PyObject*, const char*)) {
  Bound<1> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  Object* object = convert(a[0], params.names[0]);
  if (!object) return nullptr;
  SharedAccess access(object->borrow);
  if (!access) return nullptr;
  Py_RETURN_NONE;
}

}  // namespace

VORLAK_FUNCTION(codes_clone) {
  static constexpr Params<1> params{"codes_clone", {"msgid"}, 1};
  Bound<1> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  HandleObject* source = arg_handle(a[0], "msgid");
  if (!source) return nullptr;
  SharedAccess access(source->borrow);
  if (!access) return nullptr;
  // A copy of record and derived keys; bytes and values memo are shared.
  return new_handle(HandleRecord(source->handle));
}

VORLAK_FUNCTION(codes_release) {
  static constexpr Params<1> params{"codes_release", {"_msgid"}, 1};
  return release(params, args, nargs, kwnames, arg_handle);
}

VORLAK_FUNCTION(codes_keys_iterator_delete) {
  static constexpr Params<1> params{"codes_keys_iterator_delete", {"_iterid"}, 1};
  return release(params, args, nargs, kwnames, arg_keys_iterator);
}

VORLAK_FUNCTION(codes_grib_iterator_delete) {
  static constexpr Params<1> params{"codes_grib_iterator_delete", {"_iterid"}, 1};
  return release(params, args, nargs, kwnames, arg_grib_iterator);
}

VORLAK_FUNCTION(codes_grib_nearest_delete) {
  static constexpr Params<1> params{"codes_grib_nearest_delete", {"_nid"}, 1};
  return release(params, args, nargs, kwnames, arg_nearest);
}

VORLAK_FUNCTION(codes_index_release) {
  static constexpr Params<1> params{"codes_index_release", {"_indexid"}, 1};
  return release(params, args, nargs, kwnames, arg_index);
}

}  // namespace vorlak::py::fn
