#include "lib/handles.hpp"

#include <new>
#include <string>
#include <utility>

#include "lib/args.hpp"

namespace vorlak::py {

SharedAccess::SharedAccess(BorrowFlag& flag) {
  if (flag.count < 0) {
    PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
    return;
  }
  ++flag.count;
  flag_ = &flag;
}

SharedAccess::~SharedAccess() {
  if (flag_) --flag_->count;
}

ExclusiveAccess::ExclusiveAccess(BorrowFlag& flag) {
  if (flag.count != 0) {
    PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
    return;
  }
  flag.count = -1;
  flag_ = &flag;
}

ExclusiveAccess::~ExclusiveAccess() {
  if (flag_) flag_->count = 0;
}

namespace {

// Per class: the Python name, the C++ object layout and how its members are
// destroyed. Every class shares the constructor refusal and the set-up.
template <class Object>
struct ClassInfo;

template <>
struct ClassInfo<HandleObject> {
  static constexpr const char* name = "CodesHandle";
  static void destroy(HandleObject* o) { o->handle.~HandleRecord(); }
};
template <>
struct ClassInfo<KeysIteratorObject> {
  static constexpr const char* name = "CodesKeysIterator";
  static void destroy(KeysIteratorObject* o) { o->state.~shared_ptr(); }
};
template <>
struct ClassInfo<GribIteratorObject> {
  static constexpr const char* name = "CodesGribIterator";
  static void destroy(GribIteratorObject* o) { o->state.~shared_ptr(); }
};
template <>
struct ClassInfo<NearestObject> {
  static constexpr const char* name = "CodesNearest";
  static void destroy(NearestObject*) {}
};
template <>
struct ClassInfo<IndexObject> {
  static constexpr const char* name = "CodesIndex";
  static void destroy(IndexObject* o) { o->state.~shared_ptr(); }
};

template <class Object>
PyObject* refuse_construction(PyTypeObject*, PyObject*, PyObject*) {
  PyErr_Format(PyExc_TypeError, "No constructor defined for %s", ClassInfo<Object>::name);
  return nullptr;
}

template <class Object>
void dealloc(PyObject* self) {
  ClassInfo<Object>::destroy(reinterpret_cast<Object*>(self));
  Py_TYPE(self)->tp_free(self);
}

template <class Object>
PyTypeObject* ready_type() {
  static PyTypeObject type{};
  static bool ready = false;
  static const std::string full_name = std::string("vorlak._vorlak.") + ClassInfo<Object>::name;
  if (ready) return &type;
  Py_SET_REFCNT(reinterpret_cast<PyObject*>(&type), 1);
  type.tp_name = full_name.c_str();
  type.tp_basicsize = sizeof(Object);
  type.tp_itemsize = 0;
  type.tp_flags = Py_TPFLAGS_DEFAULT;
  type.tp_new = refuse_construction<Object>;
  type.tp_dealloc = dealloc<Object>;
  if (PyType_Ready(&type) < 0) return nullptr;
  ready = true;
  return &type;
}

// Zeroed storage from the interpreter, the borrow counter at 0; the caller
// constructs the C++ members in place.
template <class Object>
Object* allocate() {
  PyTypeObject* type = ready_type<Object>();
  if (!type) return nullptr;
  PyObject* raw = type->tp_alloc(type, 0);
  if (!raw) return nullptr;
  auto* object = reinterpret_cast<Object*>(raw);
  new (&object->borrow) BorrowFlag{};
  return object;
}

template <class Object>
Object* as_object(PyObject* obj, const char* name) {
  return reinterpret_cast<Object*>(arg_instance(obj, ready_type<Object>(), ClassInfo<Object>::name, name));
}

template <class Object, class State>
PyObject* new_with_state(std::shared_ptr<State> state) {
  Object* object = allocate<Object>();
  if (!object) return nullptr;
  new (&object->state) std::shared_ptr<State>(std::move(state));
  return reinterpret_cast<PyObject*>(object);
}

}  // namespace

PyTypeObject* handle_type() { return ready_type<HandleObject>(); }
PyTypeObject* keys_iterator_type() { return ready_type<KeysIteratorObject>(); }
PyTypeObject* grib_iterator_type() { return ready_type<GribIteratorObject>(); }
PyTypeObject* nearest_type() { return ready_type<NearestObject>(); }
PyTypeObject* index_type() { return ready_type<IndexObject>(); }

PyObject* new_handle(HandleRecord&& handle) {
  HandleObject* object = allocate<HandleObject>();
  if (!object) return nullptr;
  new (&object->handle) HandleRecord(std::move(handle));
  return reinterpret_cast<PyObject*>(object);
}

PyObject* new_keys_iterator(std::shared_ptr<KeysIteratorState> state) {
  return new_with_state<KeysIteratorObject>(std::move(state));
}

PyObject* new_grib_iterator(std::shared_ptr<GridIteratorState> state) {
  return new_with_state<GribIteratorObject>(std::move(state));
}

PyObject* new_nearest() { return reinterpret_cast<PyObject*>(allocate<NearestObject>()); }

PyObject* new_index(std::shared_ptr<IndexState> state) {
  return new_with_state<IndexObject>(std::move(state));
}

HandleObject* arg_handle(PyObject* obj, const char* name) { return as_object<HandleObject>(obj, name); }
KeysIteratorObject* arg_keys_iterator(PyObject* obj, const char* name) {
  return as_object<KeysIteratorObject>(obj, name);
}
GribIteratorObject* arg_grib_iterator(PyObject* obj, const char* name) {
  return as_object<GribIteratorObject>(obj, name);
}
NearestObject* arg_nearest(PyObject* obj, const char* name) { return as_object<NearestObject>(obj, name); }
IndexObject* arg_index(PyObject* obj, const char* name) { return as_object<IndexObject>(obj, name); }

}  // namespace vorlak::py
