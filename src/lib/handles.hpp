#pragma once
// The five handle classes. Each object carries a borrow counter: any number
// of calls may hold shared access, one call exclusive access (the guards
// below raise RuntimeError otherwise). Objects are made only by module
// functions; calling a class raises TypeError.
#include <memory>

#include "core/handle_record.hpp"
#include "lib/pyref.hpp"

namespace vorlak {
// Defined with the functions that fill them (keys iterator, grid-point
// iterator, message index); held through shared_ptr so that this layer
// needs only the names.
struct KeysIteratorState;
struct GridIteratorState;
struct IndexState;
}  // namespace vorlak

namespace vorlak::py {

// 0: free; n > 0: n shared holders; -1: one exclusive holder.
struct BorrowFlag {
  Py_ssize_t count = 0;
};

// Both guards test with `if (!guard) return nullptr;` (the exception is set).
class SharedAccess {
 public:
  explicit SharedAccess(BorrowFlag& flag);
  ~SharedAccess();
  SharedAccess(const SharedAccess&) = delete;
  SharedAccess& operator=(const SharedAccess&) = delete;
  explicit operator bool() const { return flag_ != nullptr; }

 private:
  BorrowFlag* flag_ = nullptr;
};

class ExclusiveAccess {
 public:
  explicit ExclusiveAccess(BorrowFlag& flag);
  ~ExclusiveAccess();
  ExclusiveAccess(const ExclusiveAccess&) = delete;
  ExclusiveAccess& operator=(const ExclusiveAccess&) = delete;
  explicit operator bool() const { return flag_ != nullptr; }

 private:
  BorrowFlag* flag_ = nullptr;
};

struct HandleObject {
  PyObject_HEAD
  BorrowFlag borrow;
  HandleRecord handle;
};

struct KeysIteratorObject {
  PyObject_HEAD
  BorrowFlag borrow;
  std::shared_ptr<KeysIteratorState> state;
};

struct GribIteratorObject {
  PyObject_HEAD
  BorrowFlag borrow;
  std::shared_ptr<GridIteratorState> state;
};

struct NearestObject {
  PyObject_HEAD
  BorrowFlag borrow;
};

struct IndexObject {
  PyObject_HEAD
  BorrowFlag borrow;
  std::shared_ptr<IndexState> state;
};

// The class objects, made ready on first use and kept for the life of the
// process. Null with an exception set when that fails.
PyTypeObject* handle_type();
PyTypeObject* keys_iterator_type();
PyTypeObject* grib_iterator_type();
PyTypeObject* nearest_type();
PyTypeObject* index_type();

// New objects (new references); null with an exception set on failure.
PyObject* new_handle(HandleRecord&& handle);
PyObject* new_keys_iterator(std::shared_ptr<KeysIteratorState> state);
PyObject* new_grib_iterator(std::shared_ptr<GridIteratorState> state);
PyObject* new_nearest();
PyObject* new_index(std::shared_ptr<IndexState> state);

// Argument converters: the object itself, or null with the conversion
// TypeError ("'T' object cannot be converted to 'CodesHandle'") set.
HandleObject* arg_handle(PyObject* obj, const char* name);
KeysIteratorObject* arg_keys_iterator(PyObject* obj, const char* name);
GribIteratorObject* arg_grib_iterator(PyObject* obj, const char* name);
NearestObject* arg_nearest(PyObject* obj, const char* name);
IndexObject* arg_index(PyObject* obj, const char* name);

}  // namespace vorlak::py
