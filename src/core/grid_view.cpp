#include "core/grid_view.hpp"

#include "core/key_lookup.hpp"

namespace vorlak {
namespace {

// The derived-key fallback of one coordinate key, as get_double_array sees it.
CodesResult<std::span<const double>> derived_array(const HandleRecord& handle, std::string_view key) {
  const KeyValue* value = handle.derived.find(key);
  if (!value) return codes_fail(CodesError::key_not_found(std::string(key)));
  if (value->tag() != KeyTag::DoubleArray) {
    return codes_fail(CodesError::type_mismatch(std::string(key), "double_array", value->type_name()));
  }
  return std::span<const double>(std::get<std::vector<double>>(value->value));
}

}  // namespace

CodesResult<GridView> grid_view(const HandleRecord& handle) {
  GridView view;
  // The coordinate keys come from the decoded axes when the decode worked
  // and has them; a failed decode falls back to the derived keys.
  auto decoded = handle.decoded();
  if (decoded && (*decoded)->coordinates) {
    const Coordinates& axes = *(*decoded)->coordinates;
    const std::size_t rows = axes.latitude.values.size();
    const std::size_t columns = axes.longitude.values.size();
    auto lat_size = coordinate_array_size("latitudes", rows, columns);
    if (!lat_size) return codes_fail(std::move(lat_size.error()));
    auto lon_size = coordinate_array_size("longitudes", rows, columns);
    if (!lon_size) return codes_fail(std::move(lon_size.error()));
    view.from_axes = true;
    view.latitude_axis = axes.latitude.values;
    view.longitude_axis = axes.longitude.values;
  } else {
    auto latitudes = derived_array(handle, "latitudes");
    if (!latitudes) return codes_fail(std::move(latitudes.error()));
    auto longitudes = derived_array(handle, "longitudes");
    if (!longitudes) return codes_fail(std::move(longitudes.error()));
    view.latitudes = *latitudes;
    view.longitudes = *longitudes;
  }
  if (!decoded) return codes_fail(std::move(decoded.error()));
  view.values = (*decoded)->field.values();

  const std::size_t lat_count = view.from_axes ? view.latitude_axis.size() * view.longitude_axis.size()
                                               : view.latitudes.size();
  const std::size_t lon_count = view.from_axes ? lat_count : view.longitudes.size();
  if (lat_count != view.values.size() || lon_count != view.values.size()) {
    return codes_fail(CodesError::internal(kGridArraysInconsistent));
  }
  return view;
}

}  // namespace vorlak
