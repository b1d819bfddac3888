// The init export: builds the module with its attributes, exception
// classes, handle classes and functions, each appended to __all__ as it is
// added. One interpreter only; a second init in it returns the same module.
#include <array>
#include <cstdint>

#include "lib/errors.hpp"
#include "lib/function_table.hpp"
#include "lib/handles.hpp"

namespace vorlak::py {

namespace {

constexpr const char* kVersion = "0.1.0";

PyModuleDef module_def{};
PyObject* the_module = nullptr;  // kept for the life of the process
bool interpreter_recorded = false;
std::int64_t first_interpreter = 0;
// Method records must outlive the function objects made from them.
std::array<PyMethodDef, 80> method_defs{};

// Sets the attribute, then appends the name to __all__ (made on first use).
bool add(PyObject* module, const char* name, PyObject* value) {
  PyRef owned(value);
  if (!owned) return false;
  if (PyModule_AddObjectRef(module, name, owned.get()) < 0) return false;
  PyRef all(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = PyRef(PyList_New(0));
    if (!all || PyModule_AddObjectRef(module, "__all__", all.get()) < 0) return false;
  }
  PyRef text(PyUnicode_FromString(name));
  return text && PyList_Append(all.get(), text.get()) == 0;
}

bool add_attributes(PyObject* m) {
  return add(m, "__version__", PyUnicode_FromString(kVersion)) &&
         add(m, "bindings_version", PyUnicode_FromString(kVersion)) &&
         add(m, "CODES_PRODUCT_ANY", PyLong_FromLong(0)) &&
         add(m, "CODES_PRODUCT_GRIB", PyLong_FromLong(1)) &&
         add(m, "CODES_PRODUCT_BUFR", PyLong_FromLong(2)) &&
         add(m, "CODES_PRODUCT_METAR", PyLong_FromLong(3)) &&
         add(m, "CODES_PRODUCT_GTS", PyLong_FromLong(4)) &&
         add(m, "CODES_MISSING_LONG", PyLong_FromLong(2147483647L)) &&
         add(m, "CODES_MISSING_DOUBLE", PyFloat_FromDouble(-1e100)) &&
         add(m, "CODES_FEATURES_ALL", PyLong_FromLong(0)) &&
         add(m, "CODES_FEATURES_ENABLED", PyLong_FromLong(1)) &&
         add(m, "CODES_FEATURES_DISABLED", PyLong_FromLong(2)) &&
         add(m, "__allocator__", PyUnicode_FromString("system"));
}

bool add_exception_classes(PyObject* m) {
  for (int i = 0; i < kErrorClassCount; ++i) {
    const auto which = static_cast<ErrorClass>(i);
    PyObject* cls = error_class(which);
    if (!cls || !add(m, error_class_name(which), Py_NewRef(cls))) return false;
  }
  return true;
}

bool add_type(PyObject* m, const char* name, PyTypeObject* type) {
  return type && add(m, name, Py_NewRef(reinterpret_cast<PyObject*>(type)));
}

bool add_handle_classes(PyObject* m) {
  return add_type(m, "CodesHandle", handle_type()) &&
         add_type(m, "CodesKeysIterator", keys_iterator_type()) &&
         add_type(m, "CodesGribIterator", grib_iterator_type()) &&
         add_type(m, "CodesNearest", nearest_type()) && add_type(m, "CodesIndex", index_type());
}

bool add_functions(PyObject* m) {
  PyRef module_name(PyUnicode_FromString("_vorlak"));
  if (!module_name) return false;
  std::size_t slot = 0;
  for (const FunctionEntry& entry : function_table()) {
    if (!entry.impl) continue;
    PyMethodDef& def = method_defs[slot++];
    def.ml_name = entry.name;
    // Fast-call functions are stored as PyCFunction; METH_FASTCALL tells
    // the interpreter the real signature.
    def.ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry.impl));
    def.ml_flags = METH_FASTCALL | METH_KEYWORDS;
    def.ml_doc = entry.doc;
    if (!add(m, entry.name, PyCFunction_NewEx(&def, m, module_name.get()))) return false;
  }
  return true;
}

PyObject* build_module() {
  module_def.m_base = PyModuleDef_HEAD_INIT;
  module_def.m_name = "_vorlak";
  module_def.m_doc = "";
  // 0, not -1: the interpreter then calls this init again on a re-import
  // instead of copying the module's dict, which lets it refuse a second
  // interpreter.
  module_def.m_size = 0;
  PyRef module(PyModule_Create(&module_def));
  if (!module) return nullptr;
  if (!add_attributes(module.get()) || !add_exception_classes(module.get()) ||
      !add_handle_classes(module.get()) || !add_functions(module.get())) {
    return nullptr;
  }
  return module.release();
}

PyObject* init_module() {
  const std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (interpreter < 0) return nullptr;
  if (!interpreter_recorded) {
    interpreter_recorded = true;
    first_interpreter = interpreter;
  } else if (interpreter != first_interpreter) {
    PyErr_SetString(PyExc_ImportError, "vorlak._vorlak does not support sub-interpreters");
    return nullptr;
  }
  if (the_module) return Py_NewRef(the_module);
  PyObject* module = build_module();
  if (!module) return nullptr;
  the_module = Py_NewRef(module);
  return module;
}

}  // namespace

}  // namespace vorlak::py

PyMODINIT_FUNC PyInit__vorlak() { return vorlak::py::init_module(); }
