// The Field class: one field of a Reader, made as Field(reader, index) and
// subclassed by vorlak.fields.Field. This file holds the mapping of its
// keys and its position; field_data.cpp the decoding methods.
#include "fields/binding.hpp"
#include "fields/field_methods.hpp"

namespace vorlak::fields {
namespace {

PyObject* field_new(PyTypeObject* type, PyObject* args, PyObject* kwds) {
  static const char* names[] = {"reader", "index", nullptr};
  PyObject* reader = nullptr;
  Py_ssize_t index = 0;
  if (!PyArg_ParseTupleAndKeywords(args, kwds, "O!n", const_cast<char**>(names), reader_type(), &reader,
                                   &index)) {
    return nullptr;
  }
  const FieldFile* file = held_file(reinterpret_cast<ReaderObject*>(reader));
  if (!file) return nullptr;
  if (index < 0 || static_cast<std::size_t>(index) >= file->size()) {
    PyErr_SetString(PyExc_IndexError, "field index out of range");
    return nullptr;
  }
  PyObject* self = type->tp_alloc(type, 0);
  if (!self) return nullptr;
  auto* field = reinterpret_cast<FieldObject*>(self);
  field->reader = reinterpret_cast<ReaderObject*>(Py_NewRef(reader));
  field->index = index;
  return self;
}

void field_dealloc(PyObject* self) {
  Py_CLEAR(reinterpret_cast<FieldObject*>(self)->reader);
  Py_TYPE(self)->tp_free(self);
}

// The key named by `key` (a str), or null: KeyError when the field has no
// such key (or `key` is not a str), and the closed-file error.
PyObject* lookup(PyObject* self, PyObject* key, bool key_error) {
  auto* field = reinterpret_cast<FieldObject*>(self);
  const FieldFile* file = held_file(field->reader);
  if (!file) return nullptr;
  if (PyUnicode_Check(key)) {
    Py_ssize_t length = 0;
    const char* text = PyUnicode_AsUTF8AndSize(key, &length);
    if (!text) return nullptr;
    const KeyValue* value = file->find_key(static_cast<std::size_t>(field->index),
                                           std::string_view(text, static_cast<std::size_t>(length)));
    if (value) return key_value_object(*value);
  }
  if (key_error) PyErr_SetObject(PyExc_KeyError, key);
  return nullptr;
}

PyObject* field_subscript(PyObject* self, PyObject* key) { return lookup(self, key, true); }

Py_ssize_t field_length(PyObject* self) {
  auto* field = reinterpret_cast<FieldObject*>(self);
  const FieldFile* file = held_file(field->reader);
  if (!file) return -1;
  return static_cast<Py_ssize_t>(file->keys(static_cast<std::size_t>(field->index)).size());
}

int field_contains(PyObject* self, PyObject* key) {
  auto* field = reinterpret_cast<FieldObject*>(self);
  const FieldFile* file = held_file(field->reader);
  if (!file) return -1;
  if (!PyUnicode_Check(key)) return 0;
  Py_ssize_t length = 0;
  const char* text = PyUnicode_AsUTF8AndSize(key, &length);
  if (!text) return -1;
  return file->find_key(static_cast<std::size_t>(field->index),
                        std::string_view(text, static_cast<std::size_t>(length))) != nullptr;
}

// [name, ...] or [(name, value), ...] in name order.
PyObject* key_list(PyObject* self, bool with_values) {
  auto* field = reinterpret_cast<FieldObject*>(self);
  const FieldFile* file = held_file(field->reader);
  if (!file) return nullptr;
  const std::span<const FieldKey> entries = file->keys(static_cast<std::size_t>(field->index));
  PyRef list(PyList_New(static_cast<Py_ssize_t>(entries.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    PyRef name(name_object(entries[i].first));
    if (!name) return nullptr;
    PyObject* item = name.release();
    if (with_values) {
      PyRef owned_name(item);
      PyRef value(key_value_object(entries[i].second));
      if (!value) return nullptr;
      item = PyTuple_Pack(2, owned_name.get(), value.get());
      if (!item) return nullptr;
    }
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

PyObject* field_keys(PyObject* self, PyObject*) { return key_list(self, false); }
PyObject* field_items(PyObject* self, PyObject*) { return key_list(self, true); }

PyObject* field_iter(PyObject* self) {
  PyRef names(key_list(self, false));
  if (!names) return nullptr;
  return PyObject_GetIter(names.get());
}

PyObject* field_get(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs < 1 || nargs > 2) {
    PyErr_Format(PyExc_TypeError, "get expected 1 or 2 arguments, got %zd", nargs);
    return nullptr;
  }
  PyObject* value = lookup(self, args[0], false);
  if (value || PyErr_Occurred()) return value;
  return Py_NewRef(nargs == 2 ? args[1] : Py_None);
}

// The key's text as the codes API writes it (500.0 as "500"), or None.
PyObject* field_text(PyObject* self, PyObject* key) {
  auto* field = reinterpret_cast<FieldObject*>(self);
  const FieldFile* file = held_file(field->reader);
  if (!file) return nullptr;
  if (!PyUnicode_Check(key)) Py_RETURN_NONE;
  Py_ssize_t length = 0;
  const char* name = PyUnicode_AsUTF8AndSize(key, &length);
  if (!name) return nullptr;
  auto text = file->key_text(static_cast<std::size_t>(field->index),
                             std::string_view(name, static_cast<std::size_t>(length)));
  if (!text) Py_RETURN_NONE;
  return text_object(*text);
}

// ------------------------------------------------------------- position

enum class Where { MessageNumber, MessageOffset, MessageLength, IndexInMessage, FieldsInMessage, Index };

PyObject* field_position(PyObject* self, void* closure) {
  auto* field = reinterpret_cast<FieldObject*>(self);
  const auto where = static_cast<Where>(reinterpret_cast<std::intptr_t>(closure));
  if (where == Where::Index) return PyLong_FromSsize_t(field->index);
  const FieldFile* file = held_file(field->reader);
  if (!file) return nullptr;
  const FieldPosition& position = file->position(static_cast<std::size_t>(field->index));
  switch (where) {
    case Where::MessageNumber: return PyLong_FromUnsignedLongLong(position.message_number);
    case Where::MessageOffset: return PyLong_FromUnsignedLongLong(position.message_offset);
    case Where::MessageLength: return PyLong_FromUnsignedLongLong(position.message_length);
    case Where::IndexInMessage: return PyLong_FromUnsignedLong(position.index_in_message);
    case Where::FieldsInMessage: return PyLong_FromUnsignedLong(position.fields_in_message);
    case Where::Index: break;
  }
  Py_RETURN_NONE;
}

void* where(Where w) { return reinterpret_cast<void*>(static_cast<std::intptr_t>(w)); }

PyGetSetDef field_getset[] = {
    {"message_number", GUARDED(field_position), nullptr, "Number of the field's message in the file (1 is the first).",
     where(Where::MessageNumber)},
    {"message_offset", GUARDED(field_position), nullptr, "Byte offset of the field's message.",
     where(Where::MessageOffset)},
    {"message_length", GUARDED(field_position), nullptr, "Length in bytes of the field's message.",
     where(Where::MessageLength)},
    {"index_in_message", GUARDED(field_position), nullptr, "Place of the field in its message (0 is the first).",
     where(Where::IndexInMessage)},
    {"_fields_in_message", GUARDED(field_position), nullptr, nullptr, where(Where::FieldsInMessage)},
    {"_index", GUARDED(field_position), nullptr, nullptr, where(Where::Index)},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef field_methods[] = {
    {"keys", GUARDED(field_keys), METH_NOARGS, "keys()\n--\n\nThe names of the field's keys, in name order."},
    {"items", GUARDED(field_items), METH_NOARGS, "items()\n--\n\n(name, value) of every key, in name order."},
    {"get", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(GUARDED(field_get))), METH_FASTCALL,
     "get(key, default=None)\n--\n\nThe key's value, or default when the field has no such key."},
    {"_text", GUARDED(field_text), METH_O, nullptr},
    {"_values", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(GUARDED(field_values_method))), METH_FASTCALL,
     nullptr},
    {"_shape", GUARDED(field_shape_method), METH_NOARGS, nullptr},
    {"_grid_array", GUARDED(field_grid_array_method), METH_O, nullptr},
    {"_crs", GUARDED(field_crs_method), METH_O, nullptr},
    {"_grid_id", GUARDED(field_grid_id_method), METH_NOARGS, nullptr},
    {"_nearest", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(GUARDED(field_nearest_method))),
     METH_FASTCALL, nullptr},
    {"_codes_keys", GUARDED(field_codes_keys_method), METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyMappingMethods field_mapping = [] {
  PyMappingMethods m{};
  m.mp_length = GUARDED(field_length);
  m.mp_subscript = GUARDED(field_subscript);
  return m;
}();

PySequenceMethods field_sequence = [] {
  PySequenceMethods m{};
  m.sq_contains = GUARDED(field_contains);
  return m;
}();

}  // namespace

PyTypeObject* field_type() {
  static PyTypeObject type{};
  static bool ready = false;
  if (ready) return &type;
  Py_SET_REFCNT(reinterpret_cast<PyObject*>(&type), 1);
  type.tp_name = "vorlak._fields.Field";
  type.tp_basicsize = sizeof(FieldObject);
  type.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
  type.tp_doc = "One field of a GRIB file: its keys as a mapping, its position.";
  type.tp_new = GUARDED(field_new);
  type.tp_dealloc = field_dealloc;
  type.tp_methods = field_methods;
  type.tp_getset = field_getset;
  type.tp_as_mapping = &field_mapping;
  type.tp_as_sequence = &field_sequence;
  type.tp_iter = GUARDED(field_iter);
  if (PyType_Ready(&type) < 0) return nullptr;
  ready = true;
  return &type;
}

}  // namespace vorlak::fields
