// The decoding methods of the Field class. Each takes its own share of the
// FieldFile, then decodes, computes and searches without the interpreter
// lock; Python objects are made only afterwards.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/key_lookup.hpp"
#include "core/keys_iterator.hpp"
#include "fields/field_methods.hpp"

namespace vorlak::fields {
namespace {

struct Target {
  SharedFieldFile file;
  std::size_t index = 0;
  explicit operator bool() const { return file != nullptr; }
};

Target target_of(PyObject* self) {
  auto* field = reinterpret_cast<FieldObject*>(self);
  return Target{open_file(field->reader), static_cast<std::size_t>(field->index)};
}

bool truth(PyObject* obj, int& out) {
  out = PyObject_IsTrue(obj);
  return out >= 0;
}

PyObject* shape_tuple(const std::optional<FieldShape>& shape) {
  if (!shape) Py_RETURN_NONE;
  return Py_BuildValue("(KK)", static_cast<unsigned long long>(shape->rows),
                       static_cast<unsigned long long>(shape->columns));
}

// The codes text of a scalar key (numbers as the codes API writes them).
std::optional<std::string> scalar_text(const KeyValue& value) {
  switch (value.tag()) {
    case KeyTag::Long: return std::to_string(std::get<std::int64_t>(value.value));
    case KeyTag::Double: return format_double(std::get<double>(value.value));
    case KeyTag::String: return std::get<std::string>(value.value);
    case KeyTag::DoubleArray: break;
  }
  return std::nullopt;
}

}  // namespace

PyObject* field_values_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 2) {
    PyErr_SetString(PyExc_TypeError, "_values(single_precision, writeable)");
    return nullptr;
  }
  int single = 0, writeable = 0;
  if (!truth(args[0], single) || !truth(args[1], writeable)) return nullptr;
  Target target = target_of(self);
  if (!target) return nullptr;
  const DecodeOptions options = decode_options();
  if (!single) {
    auto decoded = unlocked([&] { return target.file->values(target.index, options); });
    if (!decoded) return raise_codes(decoded.error());
    return array_of(std::move(decoded->values), decoded->shape, writeable != 0);
  }
  // Rounded to single precision before the lock is taken again; the doubles
  // go at once.
  struct Single {
    Result<void> status;
    std::vector<float> values;
    std::optional<FieldShape> shape;
  };
  Single out = unlocked([&]() -> Single {
    auto decoded = target.file->values(target.index, options);
    if (!decoded) return Single{fail(std::move(decoded.error())), {}, {}};
    std::vector<float> values(decoded->values.begin(), decoded->values.end());
    return Single{{}, std::move(values), decoded->shape};
  });
  if (!out.status) return raise_codes(out.status.error());
  return array_of(std::move(out.values), out.shape, writeable != 0);
}

PyObject* field_shape_method(PyObject* self, PyObject*) {
  Target target = target_of(self);
  if (!target) return nullptr;
  auto shape = unlocked([&] { return target.file->shape(target.index); });
  if (!shape) return raise_codes(shape.error());
  return shape_tuple(*shape);
}

PyObject* field_grid_array_method(PyObject* self, PyObject* which_object) {
  const long which = PyLong_AsLong(which_object);
  if (which == -1 && PyErr_Occurred()) return nullptr;
  if (which < 0 || which > 3) {
    PyErr_SetString(PyExc_ValueError, "_grid_array(which): which is 0, 1, 2 or 3");
    return nullptr;
  }
  Target target = target_of(self);
  if (!target) return nullptr;
  const auto array = static_cast<GridArray>(which);
  const bool per_point = array == GridArray::Latitudes || array == GridArray::Longitudes;
  struct Out {
    Result<std::optional<SharedDoubles>> points;
    Result<std::optional<FieldShape>> shape;
  };
  Out out = unlocked([&] {
    auto points = target.file->grid_array(target.index, array);
    // Latitudes and longitudes take the shape of the values.
    auto shape = per_point && points && *points ? target.file->shape(target.index)
                                                : Result<std::optional<FieldShape>>();
    return Out{std::move(points), std::move(shape)};
  });
  if (!out.points) return raise_codes(out.points.error());
  if (!*out.points) Py_RETURN_NONE;
  if (!out.shape) return raise_codes(out.shape.error());
  return array_of(std::move(**out.points), *out.shape);
}

PyObject* field_crs_method(PyObject* self, PyObject* cf_object) {
  int cf = 0;
  if (!truth(cf_object, cf)) return nullptr;
  Target target = target_of(self);
  if (!target) return nullptr;
  auto described = unlocked([&] {
    return cf ? target.file->cf_grid_mapping(target.index) : target.file->proj_parameters(target.index);
  });
  if (!described) return raise_codes(described.error());
  if (!*described) Py_RETURN_NONE;
  return dict_of(**described);
}

PyObject* field_grid_id_method(PyObject* self, PyObject*) {
  auto* field = reinterpret_cast<FieldObject*>(self);
  const FieldFile* file = held_file(field->reader);
  if (!file) return nullptr;
  const std::string id = file->grid_id(static_cast<std::size_t>(field->index));
  return PyBytes_FromStringAndSize(id.data(), static_cast<Py_ssize_t>(id.size()));
}

PyObject* field_nearest_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 3) {
    PyErr_SetString(PyExc_TypeError, "_nearest(latitude, longitude, count)");
    return nullptr;
  }
  const double latitude = PyFloat_AsDouble(args[0]);
  if (latitude == -1.0 && PyErr_Occurred()) return nullptr;
  const double longitude = PyFloat_AsDouble(args[1]);
  if (longitude == -1.0 && PyErr_Occurred()) return nullptr;
  const unsigned long long count = PyLong_AsUnsignedLongLong(args[2]);
  if (count == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return nullptr;
  Target target = target_of(self);
  if (!target) return nullptr;
  auto found = unlocked(
      [&] { return target.file->nearest(target.index, latitude, longitude, count, decode_options()); });
  if (!found) return raise_codes_error(found.error());
  PyRef list(PyList_New(static_cast<Py_ssize_t>(found->size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < found->size(); ++i) {
    const NearestCandidate& c = (*found)[i];
    PyObject* item = Py_BuildValue("(Kdddd)", static_cast<unsigned long long>(c.index), c.latitude, c.longitude,
                                   c.distance, c.value);
    if (!item) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

PyObject* field_codes_keys_method(PyObject* self, PyObject*) {
  Target target = target_of(self);
  if (!target) return nullptr;
  using Read = std::pair<std::string, CodesResult<KeyValue>>;
  std::vector<Read> reads = unlocked([&] {
    const HandleRecord view = target.file->codes_view(target.index, decode_options());
    std::vector<Read> out;
    for (std::string& name : iterator_key_names(view)) {
      auto value = get_key(view, name);
      out.emplace_back(std::move(name), std::move(value));
    }
    return out;
  });
  PyRef list(PyList_New(static_cast<Py_ssize_t>(reads.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < reads.size(); ++i) {
    const auto& [name, value] = reads[i];
    PyRef key(name_object(name));
    if (!key) return nullptr;
    PyRef item;
    if (value) {
      PyRef python_value(key_value_object(*value));
      if (!python_value) return nullptr;
      const std::optional<std::string> text = scalar_text(*value);
      PyRef text_value(text ? text_object(*text) : Py_NewRef(Py_None));
      if (!text_value) return nullptr;
      item = PyRef(PyTuple_Pack(4, key.get(), python_value.get(), text_value.get(), Py_None));
    } else {
      PyRef error(text_object(value.error().message()));
      if (!error) return nullptr;
      item = PyRef(PyTuple_Pack(4, key.get(), Py_None, Py_None, error.get()));
    }
    if (!item) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item.release());
  }
  return list.release();
}

}  // namespace vorlak::fields
