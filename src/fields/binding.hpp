#pragma once
// vorlak._fields: the binding under the product's own reading API
// (vorlak/fields.py). Two classes: Reader, which owns one FieldFile (the
// bytes and their scan) until it is closed, and Field, one field of a
// Reader (subclassed in Python). Every scan, decode and coordinate
// computation runs without the interpreter lock and without touching a
// Python object; a Field's work keeps its own reference to the FieldFile,
// so closing the Reader meanwhile is safe.
#include <exception>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <type_traits>
#include <string>
#include <string_view>
#include <vector>

#include "core/field_file.hpp"
#include "lib/pyref.hpp"

namespace vorlak::fields {

using py::PyRef;

struct ReaderObject {
  PyObject_HEAD
  SharedFieldFile file;  // null once closed
};

struct FieldObject {
  PyObject_HEAD
  ReaderObject* reader;  // strong reference
  Py_ssize_t index;
};

// The classes, made ready once; null with an exception set on failure.
PyTypeObject* reader_type();
PyTypeObject* field_type();

PyObject* new_reader(SharedFieldFile file);

// The last line of defence at the interpreter boundary: an allocation that
// fails (a huge but legal field under a memory limit) raises MemoryError
// instead of unwinding into the interpreter. Every function and slot of the
// module goes through it: GUARDED(f) in the tables.
template <auto F>
struct Guard;
template <class R, class... A, R (*F)(A...)>
struct Guard<F> {
  static R call(A... args) {
    try {
      return F(args...);
    } catch (const std::bad_alloc&) {
      PyErr_NoMemory();
    } catch (const std::length_error&) {
      PyErr_NoMemory();
    } catch (const std::exception& e) {
      PyErr_SetString(PyExc_SystemError, e.what());
    }
    if constexpr (std::is_pointer_v<R>) {
      return nullptr;
    } else {
      return static_cast<R>(-1);
    }
  }
};
#define GUARDED(f) (&::vorlak::fields::Guard<f>::call)

// Runs `work` without the interpreter lock and returns what it returns; an
// exception it throws is thrown again once the lock is held.
template <class Work>
auto unlocked(Work&& work) {
  std::optional<decltype(work())> out;
  std::exception_ptr thrown;
  Py_BEGIN_ALLOW_THREADS
  try {
    out.emplace(work());
  } catch (...) {
    thrown = std::current_exception();
  }
  Py_END_ALLOW_THREADS
  if (thrown) std::rethrow_exception(thrown);
  return std::move(*out);
}

// The FieldFile of an open reader (a new share), or null with ValueError
// "I/O operation on a closed GRIB file" set.
SharedFieldFile open_file(ReaderObject* reader);
// The same without a share, for work done while holding the interpreter
// lock (close() cannot run meanwhile).
const FieldFile* held_file(ReaderObject* reader);

// The options every decode of the field API uses.
DecodeOptions decode_options();

// ---------------------------------------------------------- conversions
// Each returns a new reference, or null with an exception set.
PyObject* key_value_object(const KeyValue& value);
PyObject* text_object(std::string_view text);
// A key name: the same interned object every time.
PyObject* name_object(const std::string& name);

// Errors: the codes exception classes of vorlak._vorlak (fetched at import).
bool load_error_classes();
PyObject* raise_codes(std::string_view text);           // CodesInternalError
PyObject* raise_error(const CodesError& error);         // KeyNotFound as KeyError
PyObject* raise_codes_error(const CodesError& error);   // each kind as its codes class
PyObject* raise_open_error(const FieldFileError& error, PyObject* path);

// Arrays over storage handed over to them (no copy): one-dimensional, or
// rows x columns when a shape is given; read-only unless `writeable`.
PyObject* array_of(std::vector<double>&& values, std::optional<FieldShape> shape, bool writeable);
PyObject* array_of(std::vector<float>&& values, std::optional<FieldShape> shape, bool writeable);
// A read-only array over doubles kept alive by their owner (the shared
// coordinates of a grid): no copy.
PyObject* array_of(SharedDoubles&& values, std::optional<FieldShape> shape);
// {name: value} of named values (PROJ parameters, CF attributes).
PyObject* dict_of(const NamedValues& values);
bool numpy_ready();

}  // namespace vorlak::fields
