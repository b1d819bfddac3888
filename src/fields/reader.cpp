// The Reader class: one FieldFile, its length, and close(). Made only by
// open_path() and open_bytes() (module.cpp).
#include <new>

#include "fields/binding.hpp"

namespace vorlak::fields {
namespace {

constexpr const char* kClosed = "I/O operation on a closed GRIB file";

PyObject* reader_refuse_new(PyTypeObject*, PyObject*, PyObject*) {
  PyErr_SetString(PyExc_TypeError, "Reader objects are made by vorlak.open()");
  return nullptr;
}

void reader_dealloc(PyObject* self) {
  reinterpret_cast<ReaderObject*>(self)->file.~SharedFieldFile();
  Py_TYPE(self)->tp_free(self);
}

Py_ssize_t reader_length(PyObject* self) {
  auto* reader = reinterpret_cast<ReaderObject*>(self);
  if (!reader->file) {
    PyErr_SetString(PyExc_ValueError, kClosed);
    return -1;
  }
  return static_cast<Py_ssize_t>(reader->file->size());
}

PyObject* reader_close(PyObject* self, PyObject*) {
  // Decodes in progress hold their own share; the bytes go with the last.
  SharedFieldFile dropped = std::move(reinterpret_cast<ReaderObject*>(self)->file);
  Py_BEGIN_ALLOW_THREADS
  dropped.reset();
  Py_END_ALLOW_THREADS
  Py_RETURN_NONE;
}

PyObject* reader_closed(PyObject* self, void*) {
  return PyBool_FromLong(!reinterpret_cast<ReaderObject*>(self)->file);
}

PyObject* reader_byte_size(PyObject* self, void*) {
  auto* reader = reinterpret_cast<ReaderObject*>(self);
  if (!reader->file) {
    PyErr_SetString(PyExc_ValueError, kClosed);
    return nullptr;
  }
  return PyLong_FromSize_t(reader->file->byte_size());
}

PyMethodDef reader_methods[] = {
    {"close", GUARDED(reader_close), METH_NOARGS, "close()\n--\n\nDrop the bytes; later reads raise ValueError."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef reader_getset[] = {
    {"closed", GUARDED(reader_closed), nullptr, "True once close() was called.", nullptr},
    {"byte_size", GUARDED(reader_byte_size), nullptr, "Number of bytes held.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PySequenceMethods reader_sequence = [] {
  PySequenceMethods m{};
  m.sq_length = GUARDED(reader_length);
  return m;
}();

}  // namespace

SharedFieldFile open_file(ReaderObject* reader) {
  if (!reader->file) PyErr_SetString(PyExc_ValueError, kClosed);
  return reader->file;
}

const FieldFile* held_file(ReaderObject* reader) {
  if (!reader->file) PyErr_SetString(PyExc_ValueError, kClosed);
  return reader->file.get();
}

PyTypeObject* reader_type() {
  static PyTypeObject type{};
  static bool ready = false;
  if (ready) return &type;
  Py_SET_REFCNT(reinterpret_cast<PyObject*>(&type), 1);
  type.tp_name = "vorlak._fields.Reader";
  type.tp_basicsize = sizeof(ReaderObject);
  type.tp_flags = Py_TPFLAGS_DEFAULT;
  type.tp_doc = "The bytes of one GRIB file or buffer and their fields.";
  type.tp_new = reader_refuse_new;
  type.tp_dealloc = reader_dealloc;
  type.tp_methods = reader_methods;
  type.tp_getset = reader_getset;
  type.tp_as_sequence = &reader_sequence;
  if (PyType_Ready(&type) < 0) return nullptr;
  ready = true;
  return &type;
}

PyObject* new_reader(SharedFieldFile file) {
  PyTypeObject* type = reader_type();
  if (!type) return nullptr;
  PyObject* self = type->tp_alloc(type, 0);
  if (!self) return nullptr;
  new (&reinterpret_cast<ReaderObject*>(self)->file) SharedFieldFile(std::move(file));
  return self;
}

DecodeOptions decode_options() {
  DecodeOptions options;
  options.all_templates = true;
  options.threads = 1;
  return options;
}

}  // namespace vorlak::fields
