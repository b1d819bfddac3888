#pragma once
// The grid points of a field without copying them: coordinates (axes, or
// one latitude and longitude per point) paired with the decoded values.
// grid_view gives the keys "latitudes" and "longitudes" of a message as the
// key lookup answers them, expanded from the decoded axes; the field API
// fills one in from its own coordinates. Valid while what it views lives.
#include <cstddef>
#include <span>

#include "core/handle_record.hpp"

namespace vorlak {

inline constexpr const char* kGridArraysInconsistent = "latitudes, longitudes, and values arrays are inconsistent";

struct GridView {
  // With axes, point k lies at row k / columns and column k % columns;
  // otherwise `latitudes` and `longitudes` hold one entry per point.
  bool from_axes = false;
  std::span<const double> latitude_axis;   // rows
  std::span<const double> longitude_axis;  // columns
  std::span<const double> latitudes;
  std::span<const double> longitudes;
  std::span<const double> values;

  std::size_t size() const { return values.size(); }
  double latitude(std::size_t k) const {
    return from_axes ? latitude_axis[k / longitude_axis.size()] : latitudes[k];
  }
  double longitude(std::size_t k) const {
    return from_axes ? longitude_axis[k % longitude_axis.size()] : longitudes[k];
  }
};

// Fails exactly as reading "latitudes" and "longitudes" with
// get_double_array, then the values, would; and with kGridArraysInconsistent
// when the axes do not span the values.
CodesResult<GridView> grid_view(const HandleRecord& handle);

}  // namespace vorlak
