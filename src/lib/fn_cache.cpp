// The file-cache controls and the two benchmark entry points of the
// per-handle values memo.
#include "core/file_cache.hpp"
#include "grib/decode_message.hpp"
#include "lib/args.hpp"
#include "lib/errors.hpp"
#include "lib/functions.hpp"
#include "lib/handles.hpp"

namespace vorlak::py::fn {

namespace {

PyObject* none_or_raise(const Result<void>& done) {
  if (!done) return raise_internal(done.error());
  Py_RETURN_NONE;
}

// The handle's memo, filled on first use; the number of values or the stored error.
PyObject* memo_value_count(HandleObject* handle) {
  const auto decoded = handle->handle.decoded();
  if (!decoded) return raise(decoded.error());
  return PyLong_FromSize_t((*decoded)->field.values().size());
}

HandleObject* single_handle(const char* function, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
  const Params<1> params{function, {"msgid"}, 1};
  Bound<1> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  return arg_handle(a[0], "msgid");
}

}  // namespace

VORLAK_FUNCTION(codes_grib_cache_clear) {
  if (!bind_none("codes_grib_cache_clear", args, nargs, kwnames)) return nullptr;
  return none_or_raise(cache_clear());
}

VORLAK_FUNCTION(codes_grib_cache_set_enabled) {
  static constexpr Params<1> params{"codes_grib_cache_set_enabled", {"enabled"}, 1};
  Bound<1> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  const auto enabled = arg_bool(a[0], "enabled");
  if (!enabled) return nullptr;
  return none_or_raise(cache_set_enabled(*enabled));
}

VORLAK_FUNCTION(codes_grib_cache_set_limits) {
  static constexpr Params<2> params{"codes_grib_cache_set_limits", {"max_entries", "max_bytes"}, 2};
  Bound<2> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  const auto max_entries = arg_u64(a[0], "max_entries");
  if (!max_entries) return nullptr;
  const auto max_bytes = arg_u64(a[1], "max_bytes");
  if (!max_bytes) return nullptr;
  return none_or_raise(cache_set_limits(*max_entries, *max_bytes));
}

VORLAK_FUNCTION(codes_grib_cache_info) {
  if (!bind_none("codes_grib_cache_info", args, nargs, kwnames)) return nullptr;
  const auto info = cache_info();  // one consistent reading, taken under the cache lock
  if (!info) return raise_internal(info.error());
  PyRef dict(PyDict_New());
  if (!dict) return nullptr;
  const std::pair<const char*, PyObject*> entries[] = {
      {"enabled", PyBool_FromLong(info->enabled)},
      {"entries", PyLong_FromUnsignedLongLong(info->entries)},
      {"total_bytes", PyLong_FromUnsignedLongLong(info->total_bytes)},
      {"max_entries", PyLong_FromUnsignedLongLong(info->max_entries)},
      {"max_bytes", PyLong_FromUnsignedLongLong(info->max_bytes)},
  };
  bool ok = true;
  for (const auto& [key, made] : entries) {
    PyRef value(made);
    ok = ok && value && PyDict_SetItemString(dict.get(), key, value.get()) == 0;
  }
  if (!ok) return nullptr;
  return dict.release();
}

VORLAK_FUNCTION(_benchmark_force_decode_values) {
  HandleObject* handle = single_handle("_benchmark_force_decode_values", args, nargs, kwnames);
  if (!handle) return nullptr;
  SharedAccess access(handle->borrow);
  if (!access) return nullptr;
  return memo_value_count(handle);
}

VORLAK_FUNCTION(_benchmark_decode_values_uncached) {
  HandleObject* handle = single_handle("_benchmark_decode_values_uncached", args, nargs, kwnames);
  if (!handle) return nullptr;
  SharedAccess access(handle->borrow);
  if (!access) return nullptr;
  const HandleRecord& record = handle->handle;
  const auto bytes = message_bytes(record.bytes, record.record);
  if (!bytes) return memo_value_count(handle);  // no bytes to decode afresh: the memo answers
  const auto decoded = decode_message(*bytes, record.record);
  if (!decoded) return raise_internal(decoded.error());
  return PyLong_FromSize_t(decoded->field.values().size());
}

}  // namespace vorlak::py::fn
