// The keys iterator: made from a handle's key names, advanced, read,
// rewound, and trimmed by codes_skip_computed. The other five skip
// functions only check their argument.
#include <memory>

#include "core/keys_iterator.hpp"
#include "lib/args.hpp"
#include "lib/args_extra.hpp"
#include "lib/errors.hpp"
#include "lib/functions.hpp"
#include "lib/handles.hpp"

namespace vorlak::py::fn {

namespace {

// Binds the one iterator argument and takes exclusive access; `change`
// works on the state and returns the result object.
template <class Change>
PyObject* with_exclusive(const Params<1>& params, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                         Change change) {
  Bound<1> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  KeysIteratorObject* iterator = arg_keys_iterator(a[0], params.names[0]);
  if (!iterator) return nullptr;
  ExclusiveAccess access(iterator->borrow);
  if (!access) return nullptr;
  return change(*iterator->state);
}

}  // namespace

VORLAK_FUNCTION(codes_keys_iterator_new) {
  static constexpr Params<2> params{"codes_keys_iterator_new", {"msgid", "namespace"}, 1};
  Bound<2> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  HandleObject* handle = arg_handle(a[0], "msgid");
  if (!handle) return nullptr;
  SharedAccess access(handle->borrow);
  if (!access) return nullptr;
  // Every namespace lists the same keys; only the type is checked.
  if (!arg_optional_str(a[1], "namespace")) return nullptr;
  return new_keys_iterator(std::make_shared<KeysIteratorState>(KeysIteratorState::for_handle(handle->handle)));
}

VORLAK_FUNCTION(codes_keys_iterator_next) {
  static constexpr Params<1> params{"codes_keys_iterator_next", {"iterid"}, 1};
  return with_exclusive(params, args, nargs, kwnames,
                        [](KeysIteratorState& state) { return PyBool_FromLong(state.next() ? 1 : 0); });
}

VORLAK_FUNCTION(codes_keys_iterator_get_name) {
  static constexpr Params<1> params{"codes_keys_iterator_get_name", {"iterid"}, 1};
  Bound<1> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  KeysIteratorObject* iterator = arg_keys_iterator(a[0], "iterid");
  if (!iterator) return nullptr;
  SharedAccess access(iterator->borrow);
  if (!access) return nullptr;
  const std::string* name = iterator->state->current_name();
  if (!name) return raise(ErrorClass::InvalidKeysIterator, kKeysIteratorNotPositioned);
  return PyUnicode_FromStringAndSize(name->data(), static_cast<Py_ssize_t>(name->size()));
}

VORLAK_FUNCTION(codes_keys_iterator_rewind) {
  static constexpr Params<1> params{"codes_keys_iterator_rewind", {"iterid"}, 1};
  return with_exclusive(params, args, nargs, kwnames, [](KeysIteratorState& state) {
    state.rewind();
    Py_RETURN_NONE;
  });
}

VORLAK_FUNCTION(codes_skip_computed) {
  static constexpr Params<1> params{"codes_skip_computed", {"iterid"}, 1};
  return with_exclusive(params, args, nargs, kwnames, [](KeysIteratorState& state) {
    state.skip_computed();
    Py_RETURN_NONE;
  });
}

// The skips that have nothing to remove: the list already holds no coded,
// duplicate, edition-specific, function or read-only groups of their own.
#define VORLAK_SKIP_NOTHING(fname)                                              \
  VORLAK_FUNCTION(fname) {                                                      \
    static constexpr Params<1> params{#fname, {"_iterid"}, 1};                  \
    return with_exclusive(params, args, nargs, kwnames,                         \
                          [](KeysIteratorState&) -> PyObject* { Py_RETURN_NONE; }); \
  }

VORLAK_SKIP_NOTHING(codes_skip_coded)
VORLAK_SKIP_NOTHING(codes_skip_duplicates)
VORLAK_SKIP_NOTHING(codes_skip_edition_specific)
VORLAK_SKIP_NOTHING(codes_skip_function)
VORLAK_SKIP_NOTHING(codes_skip_read_only)

#undef VORLAK_SKIP_NOTHING

}  // namespace vorlak::py::fn
