// The init export of vorlak._fields and its two functions that make a
// Reader: from a path (the file is read whole) or from a buffer (copied
// once). Reading and scanning run without the interpreter lock.
#include <cstring>

#include "fields/binding.hpp"

namespace vorlak::fields {
namespace {

// open_path(path: str) -> Reader
PyObject* open_path(PyObject*, PyObject* path) {
  if (!PyUnicode_Check(path)) {
    PyErr_Format(PyExc_TypeError, "open_path() expects a str path, not %.100s", Py_TYPE(path)->tp_name);
    return nullptr;
  }
  PyRef encoded(PyUnicode_EncodeFSDefault(path));
  if (!encoded) return nullptr;
  const std::string name(PyBytes_AS_STRING(encoded.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(encoded.get())));
  auto opened = unlocked([&] { return FieldFile::open(name); });
  if (!opened) return raise_open_error(opened.error(), path);
  return new_reader(std::move(*opened));
}

// open_bytes(data: bytes-like) -> Reader
PyObject* open_bytes(PyObject*, PyObject* data) {
  Py_buffer view;
  if (PyObject_GetBuffer(data, &view, PyBUF_SIMPLE) < 0) return nullptr;
  const auto size = static_cast<std::size_t>(view.len);
  // Released on every way out, a thrown allocation failure included.
  struct Release {
    Py_buffer* view;
    ~Release() { PyBuffer_Release(view); }
  } release{&view};
  auto block = std::make_shared<ByteBlock>(size);
  // bytes cannot change, so their copy needs no lock; other buffers
  // (bytearray, writable memoryviews) are copied holding it.
  if (PyBytes_Check(data)) {
    unlocked([&] { return size ? std::memcpy(block->data(), view.buf, size) : nullptr; });
  } else if (size) {
    std::memcpy(block->data(), view.buf, size);
  }
  auto opened = unlocked([&] { return FieldFile::from_bytes(std::move(block)); });
  if (!opened) return raise_codes(opened.error());
  return new_reader(std::move(*opened));
}

PyMethodDef module_methods[] = {
    {"open_path", GUARDED(open_path), METH_O, "open_path(path)\n--\n\nRead and scan a GRIB file."},
    {"open_bytes", GUARDED(open_bytes), METH_O, "open_bytes(data)\n--\n\nCopy and scan the bytes of GRIB messages."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = [] {
  PyModuleDef m{};
  m.m_base = PyModuleDef_HEAD_INIT;
  m.m_name = "_fields";
  m.m_doc = "The binding under vorlak.open(): Reader (the bytes of one file and their fields) and Field.";
  m.m_size = -1;
  m.m_methods = module_methods;
  return m;
}();

PyObject* init_module() {
  if (!load_error_classes()) return nullptr;
  PyTypeObject* reader = reader_type();
  PyTypeObject* field = field_type();
  if (!reader || !field) return nullptr;
  PyRef module(PyModule_Create(&module_def));
  if (!module) return nullptr;
  if (PyModule_AddObjectRef(module.get(), "Reader", reinterpret_cast<PyObject*>(reader)) < 0 ||
      PyModule_AddObjectRef(module.get(), "Field", reinterpret_cast<PyObject*>(field)) < 0) {
    return nullptr;
  }
  return module.release();
}

}  // namespace
}  // namespace vorlak::fields

PyMODINIT_FUNC PyInit__fields() { return vorlak::fields::init_module(); }
