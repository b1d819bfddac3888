#pragma once
// Spacing of the points of latitude/longitude and Gaussian grids between
// their stated corners. The corners are the grid's own points; a stated
// increment is a rounded copy of their spacing (GDAS writes 0.117188 for
// 360/3072, HRDPS's 0.0225 ends 3e-6 degrees from its last corner), so the
// points are spaced evenly between the corners, and by exactly 360/n on a
// row that goes once round the Earth.
#include <cstdint>
#include <vector>

namespace vorlak {

struct AxisSpacing {
  double first = 0.0;
  double step = 0.0;
};

// The signed distance from the first to the last longitude going in the
// direction `sign` (+1 east, -1 west), less than a full turn; a last corner
// equal to the first is one full turn away when the row has several points.
double longitude_span(double first, double last, int sign, std::uint64_t n);

// n points from `first` over `span` degrees: 360/n apart when that agrees
// with the span to within `unit` (the precision of the corners), else
// evenly spaced.
AxisSpacing longitude_spacing(double first, double span, std::uint64_t n, double unit);

// Quasi-regular rows: whether a grid whose widest row has `widest` points
// over `span` degrees goes round the Earth (the span falls one step short of
// a full turn).
bool rows_go_round(double span, std::uint64_t widest);

// n latitudes evenly from first to last.
AxisSpacing latitude_spacing(double first, double last, std::uint64_t n);

std::vector<double> linear_axis(AxisSpacing spacing, std::uint64_t n);

// A longitude brought into [-180, 180).
double normalized_longitude(double lon);

}  // namespace vorlak
