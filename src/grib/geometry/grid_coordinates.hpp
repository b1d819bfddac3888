#pragma once
// Latitudes and longitudes of every point of a grid, in the presented order
// of its layout, and the plane coordinates of projected grids. Kept in the
// most compact form the grid allows: axes for grids whose latitude follows
// the row and longitude the column, row descriptions for quasi-regular
// grids, one pair per point otherwise.
//
// Longitudes of axes and rows start at the first grid point's longitude
// brought into [-180, 180) and run on without a break in the direction the
// rows scan (a global grid from 180 runs -180 .. 179.75). Per-point
// longitudes lie in [-180, 180), or in [0, 360) when that keeps a grid
// across the antimeridian in one piece. Points a satellite does not see are
// NaN.
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "grib/geometry/grid_definition.hpp"
#include "grib/geometry/grid_layout.hpp"

namespace vorlak {

struct CoordinateBuilder;

class GridCoordinates {
 public:
  enum class Form : std::uint8_t {
    kAxes,    // latitude per row, longitude per column
    kRows,    // latitude per row; row r's longitudes run first + k * step
    kPoints,  // a latitude and a longitude per point
  };

  Form form() const { return form_; }
  const GridLayout& layout() const { return layout_; }
  std::uint64_t size() const { return layout_.points(); }

  // kAxes and kRows: one latitude per presented row.
  const std::vector<double>& row_latitudes() const { return row_latitudes_; }
  // kAxes: one longitude per presented column.
  const std::vector<double>& column_longitudes() const { return column_longitudes_; }
  // kRows: the first longitude and the step of each row.
  const std::vector<double>& row_first_longitudes() const { return row_first_longitudes_; }
  const std::vector<double>& row_longitude_steps() const { return row_longitude_steps_; }
  // kPoints: one per presented point.
  const std::vector<double>& latitudes() const { return latitudes_; }
  const std::vector<double>& longitudes() const { return longitudes_; }

  // Projected grids: metres in the plane of the projection, x per
  // presented column and y per presented row; empty otherwise.
  const std::vector<double>& x() const { return x_; }
  const std::vector<double>& y() const { return y_; }

  // Every point's latitude and longitude in presented order. False, and
  // nothing written, unless each span holds size() entries.
  bool fill(std::span<double> latitudes, std::span<double> longitudes) const;
  double latitude(std::uint64_t p) const;
  double longitude(std::uint64_t p) const;

  // Memory held, for the cache's budget.
  std::uint64_t bytes() const;

 private:
  friend struct CoordinateBuilder;
  explicit GridCoordinates(GridLayout layout) : layout_(std::move(layout)) {}

  Form form_ = Form::kPoints;
  GridLayout layout_;
  std::vector<double> row_latitudes_;
  std::vector<double> column_longitudes_;
  std::vector<double> row_first_longitudes_;
  std::vector<double> row_longitude_steps_;
  std::vector<double> latitudes_;
  std::vector<double> longitudes_;
  std::vector<double> x_;
  std::vector<double> y_;
};

// Coordinates of every point, or why there are none: nonsense parameters
// (a standard parallel at a pole, a zero Earth radius, a zero grid length, a
// pole that is not a latitude, a points-per-row list that does not sum to
// the section's count, ...), grids the message does not locate, and layouts
// this reader does not place.
Result<std::shared_ptr<const GridCoordinates>> compute_grid_coordinates(const GridDefinition& definition);

}  // namespace vorlak
