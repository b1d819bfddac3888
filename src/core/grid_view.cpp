#include "core/grid_view.hpp"

#include "core/key_lookup.hpp"

namespace vorlak {

CodesResult<GridView> grid_view(const HandleRecord& handle) {
  // The coordinate keys come from the decoded axes. Without them (a failed
  // decode, or a grid the codes API gives no axes) the keys are not defined:
  // the derived keys never hold them.
  auto decoded = handle.decoded();
  if (!decoded || !(*decoded)->coordinates) return codes_fail(CodesError::key_not_found("latitudes"));
  const Coordinates& axes = *(*decoded)->coordinates;
  const std::size_t rows = axes.latitude.values.size();
  const std::size_t columns = axes.longitude.values.size();
  auto lat_size = coordinate_array_size("latitudes", rows, columns);
  if (!lat_size) return codes_fail(std::move(lat_size.error()));
  auto lon_size = coordinate_array_size("longitudes", rows, columns);
  if (!lon_size) return codes_fail(std::move(lon_size.error()));
  GridView view;
  view.from_axes = true;
  view.latitude_axis = axes.latitude.values;
  view.longitude_axis = axes.longitude.values;
  view.values = (*decoded)->field.values();
  if (rows * columns != view.values.size()) return codes_fail(CodesError::internal(kGridArraysInconsistent));
  return view;
}

}  // namespace vorlak
