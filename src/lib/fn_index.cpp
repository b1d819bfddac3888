// The message index: made from a file, extended by further files, asked
// for the distinct values of a key, narrowed by selections and walked one
// matching message at a time.
#include <cctype>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/message_index.hpp"
#include "lib/args.hpp"
#include "lib/args_extra.hpp"
#include "lib/errors.hpp"
#include "lib/functions.hpp"
#include "lib/handles.hpp"
#include "lib/ktype.hpp"

namespace vorlak::py::fn {

namespace {

// The index argument and its key, shared by the get and select functions.
struct IndexAndKey {
  IndexObject* index = nullptr;
  std::string_view key;
};

template <std::size_t N>
bool index_and_key(const Bound<N>& a, IndexAndKey& out) {
  out.index = arg_index(a[0], "indexid");
  if (!out.index) return false;
  const auto key = arg_str(a[1], "key");
  if (!key) return false;
  out.key = *key;
  return true;
}

PyObject* text_object(const std::string& text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

template <class T, class Make>
PyObject* tuple_of(const std::vector<T>& items, Make make) {
  PyRef tuple(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
  if (!tuple) return nullptr;
  for (std::size_t i = 0; i < items.size(); ++i) {
    PyObject* item = make(items[i]);
    if (!item) return nullptr;
    PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), item);
  }
  return tuple.release();
}

PyObject* distinct_longs(const IndexState& state, std::string_view key) {
  return tuple_of(state.distinct_longs(key), [](std::int64_t v) { return PyLong_FromLongLong(v); });
}
PyObject* distinct_doubles(const IndexState& state, std::string_view key) {
  return tuple_of(state.distinct_doubles(key), [](double v) { return PyFloat_FromDouble(v); });
}
PyObject* distinct_strings(const IndexState& state, std::string_view key) {
  return tuple_of(state.distinct_strings(key), text_object);
}

// The untyped selection value: an integer (int, bool, __index__), a Python
// float, anything with a float conversion, a text, in that order. When all
// fail, the error of the text attempt stands, without an argument prefix.
std::optional<SelectValue> untyped_value(PyObject* value) {
  if (const auto integer = to_i64_unprefixed(value)) return SelectValue(*integer);
  PyErr_Clear();
  if (PyFloat_Check(value)) return SelectValue(PyFloat_AS_DOUBLE(value));
  if (const auto real = to_f64_unprefixed(value)) return SelectValue(*real);
  PyErr_Clear();
  const auto text = to_str_unprefixed(value);
  if (!text) return std::nullopt;
  return SelectValue(std::string(*text));
}

// The value for `key` as the index's key description asks: a hinted key forces
// the integer or float conversion (errors unprefixed).
std::optional<SelectValue> select_value(const IndexState& state, std::string_view key, PyObject* value) {
  const IndexKeySpec* key_spec = state.find_key(key);
  const TypeHint hint = key_spec ? key_spec->type_hint : TypeHint::Unspecified;
  switch (hint) {
    case TypeHint::Integer: {
      const auto integer = to_i64_unprefixed(value);
      if (!integer) return std::nullopt;
      return SelectValue(*integer);
    }
    case TypeHint::Float: {
      const auto real = to_f64_unprefixed(value);
      if (!real) return std::nullopt;
      return SelectValue(*real);
    }
    case TypeHint::Unspecified: break;
  }
  return untyped_value(value);
}

// The typed select functions: `convert` turns the prefixed argument into
// the stored value.
template <class Convert>
PyObject* typed_select(const Params<3>& params, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                       Convert convert) {
  Bound<3> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  IndexAndKey target;
  if (!index_and_key(a, target)) return nullptr;
  ExclusiveAccess access(target.index->borrow);
  if (!access) return nullptr;
  std::optional<SelectValue> value = convert(a[2]);
  if (!value) return nullptr;
  target.index->state->select(std::string(target.key), std::move(*value));
  Py_RETURN_NONE;
}

// The get functions: shared access, then `read` on the state.
template <class Read>
PyObject* index_get(const Params<2>& params, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    Read read) {
  Bound<2> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  IndexAndKey target;
  if (!index_and_key(a, target)) return nullptr;
  SharedAccess access(target.index->borrow);
  if (!access) return nullptr;
  return read(*target.index->state, target.key);
}

}  // namespace

VORLAK_FUNCTION(codes_index_new_from_file) {
  static constexpr Params<2> params{"codes_index_new_from_file", {"filename", "keys"}, 2};
  Bound<2> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  const auto filename = arg_str(a[0], "filename");
  if (!filename) return nullptr;
  const auto keys = arg_str_sequence(a[1], "keys");
  if (!keys) return nullptr;
  auto state = IndexState::from_file(std::string(*filename), *keys);
  if (!state) return raise_internal(state.error());
  return new_index(std::make_shared<IndexState>(std::move(*state)));
}

VORLAK_FUNCTION(codes_index_add_file) {
  static constexpr Params<2> params{"codes_index_add_file", {"indexid", "filename"}, 2};
  Bound<2> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  IndexObject* index = arg_index(a[0], "indexid");
  if (!index) return nullptr;
  ExclusiveAccess access(index->borrow);
  if (!access) return nullptr;
  const auto filename = arg_str(a[1], "filename");
  if (!filename) return nullptr;
  if (auto added = index->state->add_file(std::string(*filename)); !added) return raise_internal(added.error());
  Py_RETURN_NONE;
}

VORLAK_FUNCTION(codes_index_get) {
  static constexpr Params<3> params{"codes_index_get", {"indexid", "key", "ktype"}, 2};
  Bound<3> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  IndexAndKey target;
  if (!index_and_key(a, target)) return nullptr;
  SharedAccess access(target.index->borrow);
  if (!access) return nullptr;
  // Floats of either width and ints change the result; every other kind,
  // None included, reads texts.
  const auto kind = reduce_ktype(a[2]);
  if (!kind) return nullptr;
  const IndexState& state = *target.index->state;
  switch (*kind) {
    case Kind::Int: return distinct_longs(state, target.key);
    case Kind::Float32:
    case Kind::Float: return distinct_doubles(state, target.key);
    default: break;
  }
  return distinct_strings(state, target.key);
}

VORLAK_FUNCTION(codes_index_get_long) {
  static constexpr Params<2> params{"codes_index_get_long", {"indexid", "key"}, 2};
  return index_get(params, args, nargs, kwnames, distinct_longs);
}

VORLAK_FUNCTION(codes_index_get_double) {
  static constexpr Params<2> params{"codes_index_get_double", {"indexid", "key"}, 2};
  return index_get(params, args, nargs, kwnames, distinct_doubles);
}

VORLAK_FUNCTION(codes_index_get_string) {
  static constexpr Params<2> params{"codes_index_get_string", {"indexid", "key"}, 2};
  return index_get(params, args, nargs, kwnames, distinct_strings);
}

VORLAK_FUNCTION(codes_index_get_size) {
  static constexpr Params<2> params{"codes_index_get_size", {"indexid", "key"}, 2};
  return index_get(params, args, nargs, kwnames, [](const IndexState& state, std::string_view key) {
    return PyLong_FromSize_t(state.distinct_count(key));
  });
}

VORLAK_FUNCTION(codes_index_select) {
  static constexpr Params<3> params{"codes_index_select", {"indexid", "key", "value"}, 3};
  Bound<3> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  IndexAndKey target;
  if (!index_and_key(a, target)) return nullptr;
  ExclusiveAccess access(target.index->borrow);
  if (!access) return nullptr;
  IndexState& state = *target.index->state;
  std::optional<SelectValue> value = select_value(state, target.key, a[2]);
  if (!value) return nullptr;
  state.select(std::string(target.key), std::move(*value));
  Py_RETURN_NONE;
}

VORLAK_FUNCTION(codes_index_select_long) {
  static constexpr Params<3> params{"codes_index_select_long", {"indexid", "key", "value"}, 3};
  return typed_select(params, args, nargs, kwnames, [](PyObject* value) -> std::optional<SelectValue> {
    const auto integer = arg_i64(value, "value");
    if (!integer) return std::nullopt;
    return SelectValue(*integer);
  });
}

VORLAK_FUNCTION(codes_index_select_double) {
  static constexpr Params<3> params{"codes_index_select_double", {"indexid", "key", "value"}, 3};
  return typed_select(params, args, nargs, kwnames, [](PyObject* value) -> std::optional<SelectValue> {
    const auto real = arg_f64(value, "value");
    if (!real) return std::nullopt;
    return SelectValue(*real);
  });
}

VORLAK_FUNCTION(codes_index_select_string) {
  static constexpr Params<3> params{"codes_index_select_string", {"indexid", "key", "value"}, 3};
  return typed_select(params, args, nargs, kwnames, [](PyObject* value) -> std::optional<SelectValue> {
    const auto text = arg_str(value, "value");
    if (!text) return std::nullopt;
    return SelectValue(std::string(*text));
  });
}

VORLAK_FUNCTION(codes_new_from_index) {
  static constexpr Params<1> params{"codes_new_from_index", {"indexid"}, 1};
  Bound<1> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  IndexObject* index = arg_index(a[0], "indexid");
  if (!index) return nullptr;
  ExclusiveAccess access(index->borrow);
  if (!access) return nullptr;
  std::optional<HandleRecord> match = index->state->next_match();
  if (!match) Py_RETURN_NONE;
  return new_handle(std::move(*match));
}

}  // namespace vorlak::py::fn
