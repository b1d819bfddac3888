#pragma once
// An owned reference to a Python object: released when it goes out of scope,
// handed back to the interpreter with release().
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace vorlak::py {

class PyRef {
 public:
  PyRef() = default;
  // Takes over a new reference (or null, e.g. from a failed call).
  explicit PyRef(PyObject* owned) : obj_(owned) {}
  static PyRef borrowed(PyObject* obj) {
    Py_XINCREF(obj);
    return PyRef(obj);
  }
  PyRef(const PyRef& other) : obj_(other.obj_) { Py_XINCREF(obj_); }
  PyRef(PyRef&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
  PyRef& operator=(PyRef other) noexcept {
    std::swap(obj_, other.obj_);
    return *this;
  }
  ~PyRef() { Py_XDECREF(obj_); }

  PyObject* get() const { return obj_; }
  explicit operator bool() const { return obj_ != nullptr; }
  // Gives up ownership, typically as a function's return value.
  PyObject* release() { return std::exchange(obj_, nullptr); }

 private:
  PyObject* obj_ = nullptr;
};

}  // namespace vorlak::py
