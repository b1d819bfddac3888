// Key reads: typed scalars, codes_get with a requested kind, arrays,
// elements, sizes and the two predicates. All work is done by the key
// layer; this file converts arguments and results.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/key_lookup.hpp"
#include "grib/text.hpp"
#include "lib/args.hpp"
#include "lib/arrays.hpp"
#include "lib/errors.hpp"
#include "lib/functions.hpp"
#include "lib/handles.hpp"
#include "lib/ktype.hpp"

namespace vorlak::py::fn {

namespace {

constexpr std::string_view kValues = "values";
constexpr const char* kNoArrayCoercion = "string and bytes array coercions are not implemented";

PyObject* to_str(std::string_view text) {
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

PyObject* to_bytes(std::string_view text) {
  return PyBytes_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

PyObject* raise_invalid_type(std::string_view message) { return raise(ErrorClass::InvalidType, message); }

// The arguments most functions share: a handle and a key, converted in
// order, and shared access to the handle for the rest of the call.
template <std::size_t N>
struct HandleCall {
  Bound<N> a{};
  HandleObject* handle = nullptr;
  std::string_view key;
  std::optional<SharedAccess> access;

  bool open(const Params<N>& params, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if (!bind(params, args, nargs, kwnames, a)) return false;
    handle = arg_handle(a[0], params.names[0]);
    if (!handle) return false;
    if constexpr (N >= 2) {
      const auto text = arg_str(a[1], params.names[1]);
      if (!text) return false;
      key = *text;
    }
    return true;
  }
  // Taken after every argument has been converted.
  bool lock() {
    access.emplace(handle->borrow);
    return static_cast<bool>(*access);
  }
  const HandleRecord& record() const { return handle->handle; }
};

// The decoded values of the handle's memo, decoding on first use.
const std::vector<double>* decoded_values(const HandleRecord& handle) {
  const auto decoded = handle.decoded();
  if (!decoded) {
    raise(decoded.error());
    return nullptr;
  }
  return &(*decoded)->field.values();
}

// An owned array of `values` in the requested kind (float64 for native).
PyObject* owned_array(std::span<const double> values, Kind kind) {
  switch (kind) {
    case Kind::Int: return owned_int64(values);
    case Kind::Float32: return owned_float32(values);
    case Kind::Str:
    case Kind::Bytes: return raise_invalid_type(kNoArrayCoercion);
    case Kind::Native:
    case Kind::Float: break;
  }
  return owned_float64(values);
}

// A grid-sized array key as a new float64 array, built once, straight into
// the array's own storage (the result, or null with the error raised). None
// when the key is not such an array here: the caller takes the general path.
std::optional<PyObject*> grid_array_float64(const HandleRecord& record, std::string_view key) {
  if (!is_grid_array_key(key)) return std::nullopt;
  const auto shape = key_shape(record, key);
  if (!shape) return raise(shape.error());
  if (shape->tag != KeyTag::DoubleArray) return std::nullopt;
  return filled_float64(shape->size, [&](std::span<double> out) {
    const auto written = read_double_array_into(record, key, out);
    if (!written) raise(written.error());
    return static_cast<bool>(written);
  });
}

// One key value in the requested kind, as codes_get and codes_get_array give it.
PyObject* value_as(const KeyValue& value, Kind kind) {
  switch (value.tag()) {
    case KeyTag::Long: {
      const std::int64_t v = std::get<std::int64_t>(value.value);
      switch (kind) {
        case Kind::Float:
        case Kind::Float32: return PyFloat_FromDouble(static_cast<double>(v));
        case Kind::Str: return to_str(std::to_string(v));
        case Kind::Bytes: return to_bytes(std::to_string(v));
        case Kind::Native:
        case Kind::Int: return PyLong_FromLongLong(v);
      }
      break;
    }
    case KeyTag::Double: {
      const double v = std::get<double>(value.value);
      switch (kind) {
        case Kind::Int: return PyLong_FromLongLong(saturating_double_to_long(v));
        case Kind::Str: return to_str(format_double(v));
        case Kind::Bytes: return to_bytes(format_double(v));
        case Kind::Native:
        case Kind::Float:
        case Kind::Float32: return PyFloat_FromDouble(v);
      }
      break;
    }
    case KeyTag::String: {
      const std::string& v = std::get<std::string>(value.value);
      switch (kind) {
        case Kind::Int: {
          const auto parsed = parse_decimal_long(v);
          if (!parsed) return raise_invalid_type("cannot coerce string to int");
          return PyLong_FromLongLong(*parsed);
        }
        case Kind::Float:
        case Kind::Float32: {
          const auto parsed = parse_decimal_double(v);
          if (!parsed) return raise_invalid_type("cannot coerce string to float");
          return PyFloat_FromDouble(*parsed);
        }
        case Kind::Bytes: return to_bytes(v);
        case Kind::Native:
        case Kind::Str: return to_str(v);
      }
      break;
    }
    case KeyTag::DoubleArray: return owned_array(std::get<std::vector<double>>(value.value), kind);
  }
  return raise_internal("unknown key value kind");
}

// The float64 array of a key: the values view for "values", otherwise an
// owned copy of get_double_array.
template <class MakeOwned>
PyObject* typed_array(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, const char* function,
                      MakeOwned make_owned, bool view_values) {
  const Params<2> params{function, {"msgid", "key"}, 2};
  HandleCall<2> call;
  if (!call.open(params, args, nargs, kwnames) || !call.lock()) return nullptr;
  if (call.key == kValues) {
    const auto* values = decoded_values(call.record());
    if (!values) return nullptr;
    return view_values ? values_view(call.handle, *values) : make_owned(*values);
  }
  if (view_values) {  // the float64 reader
    if (const auto array = grid_array_float64(call.record(), call.key)) return *array;
  }
  const auto array = get_double_array(call.record(), call.key);
  if (!array) return raise(array.error());
  return make_owned(*array);
}

// codes_get_array and codes_get_values.
PyObject* array_of(HandleObject* handle, std::string_view key, Kind kind) {
  const HandleRecord& record = handle->handle;
  if (key == kValues) {
    const auto* values = decoded_values(record);
    if (!values) return nullptr;
    if (kind == Kind::Native || kind == Kind::Float) return values_view(handle, *values);
    return owned_array(*values, kind);
  }
  if (kind == Kind::Native || kind == Kind::Float) {
    if (const auto array = grid_array_float64(record, key)) return *array;
  }
  const auto value = get_key(record, key);
  if (!value) return raise(value.error());
  if (value->tag() != KeyTag::DoubleArray) {
    return raise_invalid_type(str_cat("key '", key, "' is not an array; got ", value->type_name()));
  }
  return value_as(*value, kind);
}

// The sequence an element read indexes into; `storage` keeps a copy alive
// when the key is not "values".
const std::vector<double>* element_source(const HandleRecord& record, std::string_view key,
                                          std::vector<double>& storage) {
  if (key == kValues) return decoded_values(record);
  auto array = get_double_array(record, key);
  if (!array) {
    raise(array.error());
    return nullptr;
  }
  storage = std::move(*array);
  return &storage;
}

PyObject* raise_out_of_bounds(std::uint64_t index, std::string_view key) {
  return raise_internal(str_cat("index ", index, " is out of bounds for key '", key, "'"));
}

PyObject* elements(const char* function, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  const Params<3> params{function, {"msgid", "key", "indexes"}, 3};
  HandleCall<3> call;
  if (!call.open(params, args, nargs, kwnames)) return nullptr;
  const auto indexes = arg_u64_sequence(call.a[2], "indexes");
  if (!indexes || !call.lock()) return nullptr;
  std::vector<double> storage;
  const auto* values = element_source(call.record(), call.key, storage);
  if (!values) return nullptr;
  for (const std::uint64_t index : *indexes) {
    if (index >= values->size()) return raise_out_of_bounds(index, call.key);
  }
  PyRef list(PyList_New(static_cast<Py_ssize_t>(indexes->size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < indexes->size(); ++i) {
    PyObject* item = PyFloat_FromDouble((*values)[(*indexes)[i]]);
    if (!item) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

}  // namespace

VORLAK_FUNCTION(codes_get_long) {
  static constexpr Params<2> params{"codes_get_long", {"msgid", "key"}, 2};
  HandleCall<2> call;
  if (!call.open(params, args, nargs, kwnames) || !call.lock()) return nullptr;
  const auto value = get_long(call.record(), call.key);
  if (!value) return raise(value.error());
  return PyLong_FromLongLong(*value);
}

VORLAK_FUNCTION(codes_get_double) {
  static constexpr Params<2> params{"codes_get_double", {"msgid", "key"}, 2};
  HandleCall<2> call;
  if (!call.open(params, args, nargs, kwnames) || !call.lock()) return nullptr;
  const auto value = get_double(call.record(), call.key);
  if (!value) return raise(value.error());
  return PyFloat_FromDouble(*value);
}

VORLAK_FUNCTION(codes_get_string) {
  static constexpr Params<2> params{"codes_get_string", {"msgid", "key"}, 2};
  HandleCall<2> call;
  if (!call.open(params, args, nargs, kwnames) || !call.lock()) return nullptr;
  const auto value = get_string(call.record(), call.key);
  if (!value) return raise(value.error());
  return to_str(*value);
}

VORLAK_FUNCTION(codes_get) {
  static constexpr Params<3> params{"codes_get", {"msgid", "key", "ktype"}, 2};
  HandleCall<3> call;
  if (!call.open(params, args, nargs, kwnames)) return nullptr;
  const auto kind = reduce_ktype(call.a[2]);
  if (!kind || !call.lock()) return nullptr;
  if (call.key == kValues && (*kind == Kind::Native || *kind == Kind::Float)) {
    const auto* values = decoded_values(call.record());
    if (!values) return nullptr;
    return values_view(call.handle, *values);
  }
  if (*kind == Kind::Native || *kind == Kind::Float) {
    if (const auto array = grid_array_float64(call.record(), call.key)) return *array;
  }
  const auto value = get_key(call.record(), call.key);
  if (!value) return raise(value.error());
  return value_as(*value, *kind);
}

VORLAK_FUNCTION(codes_get_native_type) {
  static constexpr Params<2> params{"codes_get_native_type", {"msgid", "key"}, 2};
  HandleCall<2> call;
  if (!call.open(params, args, nargs, kwnames) || !call.lock()) return nullptr;
  // Told from the key's shape: an array is never built for it.
  const auto shape = key_shape(call.record(), call.key);
  if (!shape) return raise(shape.error());
  PyTypeObject* type = &PyFloat_Type;
  if (shape->tag == KeyTag::Long) type = &PyLong_Type;
  if (shape->tag == KeyTag::String) type = &PyUnicode_Type;
  return Py_NewRef(reinterpret_cast<PyObject*>(type));
}

VORLAK_FUNCTION(codes_get_size) {
  static constexpr Params<2> params{"codes_get_size", {"msgid", "key"}, 2};
  HandleCall<2> call;
  if (!call.open(params, args, nargs, kwnames) || !call.lock()) return nullptr;
  const auto size = key_size(call.record(), call.key);
  if (!size) return raise(size.error());
  return PyLong_FromUnsignedLongLong(*size);
}

VORLAK_FUNCTION(codes_get_string_length) {
  static constexpr Params<2> params{"codes_get_string_length", {"msgid", "key"}, 2};
  HandleCall<2> call;
  if (!call.open(params, args, nargs, kwnames) || !call.lock()) return nullptr;
  const auto text = get_string(call.record(), call.key);
  if (!text) return raise(text.error());
  return PyLong_FromLong(text->size() < 33 ? 256 : 1025);
}

VORLAK_FUNCTION(codes_is_defined) {
  static constexpr Params<2> params{"codes_is_defined", {"msgid", "key"}, 2};
  HandleCall<2> call;
  if (!call.open(params, args, nargs, kwnames) || !call.lock()) return nullptr;
  // Answered from the record alone: nothing is decoded.
  return PyBool_FromLong(key_defined(call.record(), call.key));
}

VORLAK_FUNCTION(codes_is_missing) {
  static constexpr Params<2> params{"codes_is_missing", {"msgid", "key"}, 2};
  HandleCall<2> call;
  if (!call.open(params, args, nargs, kwnames) || !call.lock()) return nullptr;
  // No key value is ever missing; the lookup happens (and may decode), its
  // errors do not matter. An array is not built for it.
  (void)key_shape(call.record(), call.key);
  Py_RETURN_FALSE;
}

VORLAK_FUNCTION(codes_get_array) {
  static constexpr Params<3> params{"codes_get_array", {"msgid", "key", "ktype"}, 2};
  HandleCall<3> call;
  if (!call.open(params, args, nargs, kwnames)) return nullptr;
  const auto kind = reduce_ktype(call.a[2]);
  if (!kind || !call.lock()) return nullptr;
  return array_of(call.handle, call.key, *kind);
}

VORLAK_FUNCTION(codes_get_values) {
  static constexpr Params<2> params{"codes_get_values", {"gribid", "ktype"}, 1};
  HandleCall<2> call;
  if (!bind(params, args, nargs, kwnames, call.a)) return nullptr;
  call.handle = arg_handle(call.a[0], "gribid");
  if (!call.handle) return nullptr;
  const auto kind = reduce_ktype(call.a[1]);
  if (!kind || !call.lock()) return nullptr;
  return array_of(call.handle, kValues, *kind);
}

VORLAK_FUNCTION(codes_get_double_array) {
  return typed_array(args, nargs, kwnames, "codes_get_double_array", owned_float64, true);
}

VORLAK_FUNCTION(codes_get_float_array) {
  return typed_array(args, nargs, kwnames, "codes_get_float_array", owned_float32, false);
}

VORLAK_FUNCTION(codes_get_long_array) {
  return typed_array(args, nargs, kwnames, "codes_get_long_array", owned_int64, false);
}

VORLAK_FUNCTION(codes_get_string_array) {
  static constexpr Params<2> params{"codes_get_string_array", {"msgid", "key"}, 2};
  HandleCall<2> call;
  if (!call.open(params, args, nargs, kwnames) || !call.lock()) return nullptr;
  const auto value = get_key(call.record(), call.key);
  if (!value) return raise(value.error());
  std::vector<std::string> texts;
  switch (value->tag()) {
    case KeyTag::Long: texts.push_back(std::to_string(std::get<std::int64_t>(value->value))); break;
    case KeyTag::Double: texts.push_back(format_double(std::get<double>(value->value))); break;
    case KeyTag::String: texts.push_back(std::get<std::string>(value->value)); break;
    case KeyTag::DoubleArray:
      for (const double v : std::get<std::vector<double>>(value->value)) texts.push_back(format_double(v));
      break;
  }
  PyRef tuple(PyTuple_New(static_cast<Py_ssize_t>(texts.size())));
  if (!tuple) return nullptr;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    PyObject* item = to_str(texts[i]);
    if (!item) return nullptr;
    PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), item);
  }
  return tuple.release();
}

VORLAK_FUNCTION(codes_get_double_element) {
  static constexpr Params<3> params{"codes_get_double_element", {"msgid", "key", "index"}, 3};
  HandleCall<3> call;
  if (!call.open(params, args, nargs, kwnames)) return nullptr;
  const auto index = arg_u64(call.a[2], "index");
  if (!index || !call.lock()) return nullptr;
  std::vector<double> storage;
  const auto* values = element_source(call.record(), call.key, storage);
  if (!values) return nullptr;
  if (*index >= values->size()) return raise_out_of_bounds(*index, call.key);
  return PyFloat_FromDouble((*values)[*index]);
}

VORLAK_FUNCTION(codes_get_double_elements) {
  return elements("codes_get_double_elements", args, nargs, kwnames);
}

VORLAK_FUNCTION(codes_get_elements) { return elements("codes_get_elements", args, nargs, kwnames); }

}  // namespace vorlak::py::fn
