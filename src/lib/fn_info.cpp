// Version, features, library path, the two echoed path settings, debug.
#include <string>

#include "core/path_settings.hpp"
#include "lib/args.hpp"
#include "lib/errors.hpp"
#include "lib/functions.hpp"

namespace vorlak::py::fn {

namespace {

constexpr const char* kVersion = "0.1.0";
constexpr const char* kEnabledFeatures = "KORV GRIB1 GRIB2 AEC JPG PNG MEMFS";
constexpr const char* kDisabledFeatures = "BUFR GTS METAR NETCDF FORTRAN";

PyObject* text_or_raise(const CodesResult<std::string>& text) {
  if (!text) return raise(text.error());
  return PyUnicode_FromStringAndSize(text->data(), static_cast<Py_ssize_t>(text->size()));
}

template <class Setter>
PyObject* set_path(const Params<1>& params, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                   Setter setter) {
  Bound<1> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  const auto path = arg_str(a[0], params.names[0]);
  if (!path) return nullptr;
  if (auto done = setter(std::string(*path)); !done) return raise(done.error());
  Py_RETURN_NONE;
}

}  // namespace

VORLAK_FUNCTION(codes_get_api_version) {
  if (!bind_none("codes_get_api_version", args, nargs, kwnames)) return nullptr;
  return PyUnicode_FromString(kVersion);
}

VORLAK_FUNCTION(codes_get_version_info) {
  if (!bind_none("codes_get_version_info", args, nargs, kwnames)) return nullptr;
  PyRef info(PyDict_New());
  if (!info) return nullptr;
  const char* entries[][2] = {{"vorlak", kVersion},
                              {"bindings", kVersion},
                              {"allocator", "system"},
                              {"target_os", "linux"},
                              {"target_arch", "x86_64"}};
  for (const auto& [key, value] : entries) {
    PyRef text(PyUnicode_FromString(value));
    if (!text || PyDict_SetItemString(info.get(), key, text.get()) < 0) return nullptr;
  }
  return info.release();
}

VORLAK_FUNCTION(codes_get_features) {
  static constexpr Params<1> params{"codes_get_features", {"select"}, 0};
  Bound<1> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  std::int32_t select = 0;  // CODES_FEATURES_ALL
  if (a[0]) {
    const auto given = arg_i32(a[0], "select");
    if (!given) return nullptr;
    select = *given;
  }
  switch (select) {
    case 0: return PyUnicode_FromFormat("%s %s", kEnabledFeatures, kDisabledFeatures);
    case 1: return PyUnicode_FromString(kEnabledFeatures);
    case 2: return PyUnicode_FromString(kDisabledFeatures);
    default: return raise_internal("unsupported feature selector " + std::to_string(select));
  }
}

VORLAK_FUNCTION(codes_get_library_path) {
  if (!bind_none("codes_get_library_path", args, nargs, kwnames)) return nullptr;
  PyRef imported(PyImport_ImportModule("vorlak._vorlak"));
  if (!imported) return nullptr;
  PyRef file(PyObject_GetAttrString(imported.get(), "__file__"));
  if (!file) return nullptr;
  if (!PyUnicode_Check(file.get())) {
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'PyString'",
                 type_name_of(file.get()).c_str());
    return nullptr;
  }
  return file.release();
}

VORLAK_FUNCTION(codes_definition_path) {
  if (!bind_none("codes_definition_path", args, nargs, kwnames)) return nullptr;
  return text_or_raise(definitions_path());
}

VORLAK_FUNCTION(codes_samples_path) {
  if (!bind_none("codes_samples_path", args, nargs, kwnames)) return nullptr;
  return text_or_raise(samples_path());
}

VORLAK_FUNCTION(codes_set_definitions_path) {
  static constexpr Params<1> params{"codes_set_definitions_path", {"defs_path"}, 1};
  return set_path(params, args, nargs, kwnames, set_definitions_path);
}

VORLAK_FUNCTION(codes_set_samples_path) {
  static constexpr Params<1> params{"codes_set_samples_path", {"samples_path"}, 1};
  return set_path(params, args, nargs, kwnames, set_samples_path);
}

VORLAK_FUNCTION(codes_set_debug) {
  static constexpr Params<1> params{"codes_set_debug", {"dmode"}, 1};
  Bound<1> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  if (!arg_i32(a[0], "dmode")) return nullptr;
  Py_RETURN_NONE;  // accepted and ignored: the module writes no log
}

}  // namespace vorlak::py::fn
