// Grid points of a message as Python objects: all at once
// (codes_grib_get_data), one at a time (the grid-point iterator), and the
// nearest-point searches. Results are built completely before they are
// returned; a failure part way drops everything made so far.
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/grid_iterator.hpp"
#include "core/grid_points.hpp"
#include "lib/args.hpp"
#include "lib/args_extra.hpp"
#include "lib/errors.hpp"
#include "lib/functions.hpp"
#include "lib/handles.hpp"

namespace vorlak::py::fn {

namespace {

// The result dicts' keys, interned once and kept for the life of the
// process (the module serves one interpreter only).
enum ResultKey { kLat, kLon, kValue, kDistance, kIndex, kResultKeyCount };

PyObject* result_key(ResultKey which) {
  static std::array<PyObject*, kResultKeyCount> keys{};
  static constexpr std::array<const char*, kResultKeyCount> names = {"lat", "lon", "value", "distance",
                                                                     "index"};
  if (!keys[which]) keys[which] = PyUnicode_InternFromString(names[which]);
  return keys[which];
}

bool set_float(PyObject* dict, ResultKey key, double value) {
  PyObject* name = result_key(key);
  if (!name) return false;
  PyRef number(PyFloat_FromDouble(value));
  return number && PyDict_SetItem(dict, name, number.get()) == 0;
}

// {"lat", "lon", "value"}
PyRef point_dict(const GridPoint& point) {
  PyRef dict(PyDict_New());
  if (!dict || !set_float(dict.get(), kLat, point.latitude) || !set_float(dict.get(), kLon, point.longitude) ||
      !set_float(dict.get(), kValue, point.value)) {
    return PyRef();
  }
  return dict;
}

// {"lat", "lon", "value", "distance", "index"}
PyRef nearest_dict(const NearestCandidate& candidate) {
  PyRef dict(PyDict_New());
  if (!dict || !set_float(dict.get(), kLat, candidate.latitude) ||
      !set_float(dict.get(), kLon, candidate.longitude) || !set_float(dict.get(), kValue, candidate.value) ||
      !set_float(dict.get(), kDistance, candidate.distance)) {
    return PyRef();
  }
  PyObject* name = result_key(kIndex);
  PyRef index(PyLong_FromUnsignedLongLong(candidate.index));
  if (!name || !index || PyDict_SetItem(dict.get(), name, index.get()) < 0) return PyRef();
  return dict;
}

// A tuple sized up front, one item per element.
template <class T, class Make>
PyObject* tuple_of(std::span<const T> items, Make make) {
  PyRef tuple(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
  if (!tuple) return nullptr;
  for (std::size_t i = 0; i < items.size(); ++i) {
    PyRef item = make(items[i]);
    if (!item) return nullptr;
    PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), item.release());
  }
  return tuple.release();
}

PyObject* nearest_tuple(const CodesResult<std::vector<NearestCandidate>>& found) {
  if (!found) return raise(found.error());
  return tuple_of(std::span<const NearestCandidate>(*found), nearest_dict);
}

// is_lsm is validated and has no effect.
bool check_is_lsm(PyObject* obj) { return obj == nullptr || arg_bool(obj, "is_lsm").has_value(); }

}  // namespace

VORLAK_FUNCTION(codes_grib_get_data) {
  static constexpr Params<1> params{"codes_grib_get_data", {"gribid"}, 1};
  Bound<1> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  HandleObject* handle = arg_handle(a[0], "gribid");
  if (!handle) return nullptr;
  SharedAccess access(handle->borrow);
  if (!access) return nullptr;
  const auto points = grid_points(handle->handle);
  if (!points) return raise(points.error());
  return tuple_of(std::span<const GridPoint>(*points), point_dict);
}

VORLAK_FUNCTION(codes_grib_iterator_new) {
  static constexpr Params<2> params{"codes_grib_iterator_new", {"gribid", "mode"}, 2};
  Bound<2> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  HandleObject* handle = arg_handle(a[0], "gribid");
  if (!handle) return nullptr;
  SharedAccess access(handle->borrow);
  if (!access) return nullptr;
  if (!arg_i32(a[1], "mode")) return nullptr;
  auto points = grid_points(handle->handle);
  if (!points) return raise(points.error());
  return new_grib_iterator(std::make_shared<GridIteratorState>(std::move(*points)));
}

VORLAK_FUNCTION(codes_grib_iterator_next) {
  static constexpr Params<1> params{"codes_grib_iterator_next", {"iterid"}, 1};
  Bound<1> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  GribIteratorObject* iterator = arg_grib_iterator(a[0], "iterid");
  if (!iterator) return nullptr;
  ExclusiveAccess access(iterator->borrow);
  if (!access) return nullptr;
  GridIteratorState& state = *iterator->state;
  // Build the tuple before advancing, so a failed allocation loses no point.
  if (state.position >= state.points.size()) return PyList_New(0);
  const GridPoint& point = state.points[state.position];
  PyRef result(Py_BuildValue("(ddd)", point.latitude, point.longitude, point.value));
  if (!result) return nullptr;
  state.next();
  return result.release();
}

VORLAK_FUNCTION(codes_grib_nearest_new) {
  static constexpr Params<1> params{"codes_grib_nearest_new", {"_msgid"}, 1};
  Bound<1> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  HandleObject* handle = arg_handle(a[0], "_msgid");
  if (!handle) return nullptr;
  SharedAccess access(handle->borrow);
  if (!access) return nullptr;
  return new_nearest();
}

VORLAK_FUNCTION(codes_grib_nearest_find) {
  static constexpr Params<7> params{
      "codes_grib_nearest_find", {"nid", "gribid", "inlat", "inlon", "flags", "is_lsm", "npoints"}, 5};
  Bound<7> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  NearestObject* finder = arg_nearest(a[0], "nid");
  if (!finder) return nullptr;
  SharedAccess finder_access(finder->borrow);
  if (!finder_access) return nullptr;
  HandleObject* handle = arg_handle(a[1], "gribid");
  if (!handle) return nullptr;
  SharedAccess handle_access(handle->borrow);
  if (!handle_access) return nullptr;
  const auto latitude = arg_f64(a[2], "inlat");
  if (!latitude) return nullptr;
  const auto longitude = arg_f64(a[3], "inlon");
  if (!longitude) return nullptr;
  if (!arg_i32(a[4], "flags") || !check_is_lsm(a[5])) return nullptr;
  std::uint64_t count = 4;
  if (a[6]) {
    const auto given = arg_u64(a[6], "npoints");
    if (!given) return nullptr;
    count = *given;
  }
  return nearest_tuple(nearest(handle->handle, *latitude, *longitude, count));
}

VORLAK_FUNCTION(codes_grib_find_nearest) {
  static constexpr Params<5> params{"codes_grib_find_nearest", {"gribid", "inlat", "inlon", "is_lsm", "npoints"},
                                    3};
  Bound<5> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  HandleObject* handle = arg_handle(a[0], "gribid");
  if (!handle) return nullptr;
  SharedAccess access(handle->borrow);
  if (!access) return nullptr;
  const auto latitude = arg_f64(a[1], "inlat");
  if (!latitude) return nullptr;
  const auto longitude = arg_f64(a[2], "inlon");
  if (!longitude) return nullptr;
  if (!check_is_lsm(a[3])) return nullptr;
  std::uint64_t count = 1;
  if (a[4]) {
    const auto given = arg_u64(a[4], "npoints");
    if (!given) return nullptr;
    count = *given;
  }
  return nearest_tuple(nearest(handle->handle, *latitude, *longitude, count));
}

VORLAK_FUNCTION(codes_grib_find_nearest_multiple) {
  static constexpr Params<4> params{"codes_grib_find_nearest_multiple", {"gribid", "is_lsm", "inlats", "inlons"},
                                    4};
  Bound<4> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  HandleObject* handle = arg_handle(a[0], "gribid");
  if (!handle) return nullptr;
  SharedAccess access(handle->borrow);
  if (!access) return nullptr;
  if (!check_is_lsm(a[1])) return nullptr;
  const auto latitudes = arg_f64_sequence(a[2], "inlats");
  if (!latitudes) return nullptr;
  const auto longitudes = arg_f64_sequence(a[3], "inlons");
  if (!longitudes) return nullptr;
  if (latitudes->size() != longitudes->size()) return raise(ErrorClass::InvalidNearest, kQueryLengthMismatch);
  if (latitudes->empty()) return PyTuple_New(0);
  const auto found = nearest_each(handle->handle, *latitudes, *longitudes);
  if (!found) return raise(found.error());
  if (found->size() != latitudes->size()) return raise(ErrorClass::InvalidNearest, kNoGridPoints);
  return tuple_of(std::span<const NearestCandidate>(*found), nearest_dict);
}

}  // namespace vorlak::py::fn
