// Coordinates of latitude/longitude, Gaussian, projected and space-view
// grids. Presented column c lies c steps from the first grid point in the
// direction the first row scans (bit 0x80), presented row r lies r steps
// from it in the direction the rows follow each other (bit 0x40 for
// projected grids, from the first to the last corner for latitude/longitude
// and Gaussian grids).
#include "grib/geometry/grid_coordinates.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "grib/geometry.hpp"
#include "grib/geometry/ellipsoid_math.hpp"
#include "grib/geometry/regular_axes.hpp"
#include "grib/limits.hpp"
#include "grib/text.hpp"

namespace vorlak {

namespace {

using Shared = std::shared_ptr<const GridCoordinates>;

bool is_latitude(double lat) { return std::fabs(lat) <= 90.0; }

Result<void> check_corners(double la1, double lo1, double la2, double lo2) {
  if (!is_latitude(la1) || !is_latitude(la2)) {
    return fail(str_cat("corner latitudes ", la1, " and ", la2, " are not latitudes"));
  }
  if (!std::isfinite(lo1) || !std::isfinite(lo2)) return fail("a corner longitude is not a number");
  return {};
}

// Adjacent points (along rows, and down columns of a grid with rows of equal
// length) whose longitudes differ by more than half a turn.
bool has_longitude_jump(const std::vector<double>& lon, const GridLayout& layout) {
  auto jump = [](double a, double b) { return std::fabs(a - b) > 180.0; };
  for (std::uint64_t r = 0; r < layout.rows(); ++r) {
    const std::uint64_t start = layout.row_start(r);
    const std::uint64_t n = layout.row_length(r);
    for (std::uint64_t c = 1; c < n; ++c) {
      if (jump(lon[start + c - 1], lon[start + c])) return true;
    }
    if (layout.regular() && r > 0) {
      for (std::uint64_t c = 0; c < n; ++c) {
        if (jump(lon[start + c - n], lon[start + c])) return true;
      }
    }
  }
  return false;
}

// Longitudes of per-point grids in [-180, 180), or in [0, 360) when that
// keeps a grid across the antimeridian in one piece.
void normalize_point_longitudes(std::vector<double>& lon, const GridLayout& layout) {
  for (double& l : lon) l = normalized_longitude(l);
  if (!has_longitude_jump(lon, layout)) return;
  std::vector<double> shifted(lon);
  for (double& l : shifted) {
    if (l < 0.0) l += 360.0;
  }
  if (!has_longitude_jump(shifted, layout)) lon.swap(shifted);
}

// Longitudes along the rows of a latitude/longitude or Gaussian grid, in
// the rotated frame for rotated grids.
struct RowLongitudes {
  std::vector<double> first;  // per row (one entry for a regular grid)
  std::vector<double> step;
};

RowLongitudes row_longitudes(const GridLayout& layout, double lo1, double lo2, double unit) {
  const int sign = layout.column_sign();
  const double first = normalized_longitude(lo1);
  RowLongitudes rows;
  if (layout.regular()) {
    const std::uint64_t n = layout.columns();
    const AxisSpacing s = longitude_spacing(first, longitude_span(lo1, lo2, sign, n), n, unit);
    rows.first.push_back(s.first);
    rows.step.push_back(s.step);
    return rows;
  }
  const double span = longitude_span(lo1, lo2, sign, layout.widest_row());
  const bool round = rows_go_round(span, layout.widest_row());
  rows.first.assign(layout.rows(), first);
  rows.step.resize(layout.rows());
  for (std::uint64_t r = 0; r < layout.rows(); ++r) {
    const std::uint64_t n = layout.row_length(r);
    if (round) {
      rows.step[r] = n > 0 ? sign * 360.0 / static_cast<double>(n) : 0.0;
    } else {
      rows.step[r] = n > 1 ? span / static_cast<double>(n - 1) : 0.0;
    }
  }
  return rows;
}

Result<std::vector<double>> gaussian_rows(const GaussianGridParams& g, std::uint64_t rows) {
  if (g.N == 0 || g.N > kMaxGaussianN) {
    return fail(str_cat("Gaussian grid: N ", g.N, " is outside 1 to ", kMaxGaussianN));
  }
  const std::uint64_t a = gaussian_closest_row(g.N, g.la1);
  const std::uint64_t b = gaussian_closest_row(g.N, g.la2);
  const std::uint64_t spanned = (a > b ? a - b : b - a) + 1;
  if (rows != spanned) {
    return fail(str_cat("Gaussian grid: corner latitudes ", g.la1, " and ", g.la2, " span ", spanned, " rows of N ",
                        g.N, ", the grid has ", rows));
  }
  std::vector<double> latitudes = gaussian_latitude_rows(g.N, std::min(a, b), rows);
  if (a > b) std::reverse(latitudes.begin(), latitudes.end());
  return latitudes;
}

}  // namespace

struct CoordinateBuilder {
  const GridDefinition& definition;
  GridLayout layout;

  Result<Shared> operator()(const NoCoordinates& none) const { return fail(none.reason); }

  Result<Shared> operator()(const LatLonGridParams& g) const {
    if (auto ok = check_corners(g.la1, g.lo1, g.la2, g.lo2); !ok) return fail(ok.error());
    const std::vector<double> latitudes = linear_axis(latitude_spacing(g.la1, g.la2, layout.rows()), layout.rows());
    return on_rows(latitudes, row_longitudes(layout, g.lo1, g.lo2, unit_of(g.angle_unit)));
  }

  Result<Shared> operator()(const GaussianGridParams& g) const {
    if (auto ok = check_corners(g.la1, g.lo1, g.la2, g.lo2); !ok) return fail(ok.error());
    auto latitudes = gaussian_rows(g, layout.rows());
    if (!latitudes) return fail(latitudes.error());
    return on_rows(*latitudes, row_longitudes(layout, g.lo1, g.lo2, unit_of(g.angle_unit)));
  }

  Result<Shared> operator()(const ProjectedGridParams& g) const {
    if (!definition.earth) return fail(definition.earth.error());
    if (!(g.dx > 0.0 && std::isfinite(g.dx)) || !(g.dy > 0.0 && std::isfinite(g.dy))) {
      return fail(str_cat("grid lengths ", g.dx, " m and ", g.dy, " m are not lengths"));
    }
    if (!layout.regular()) return fail("a points-per-row list on a projected grid is not supported");
    auto projection = make_projection(g.projection, *definition.earth);
    if (!projection) return fail(projection.error());
    auto first = (*projection)->forward(g.la1, g.lo1);
    if (!first) return fail(str_cat("first grid point: ", first.error()));
    auto out = fresh();
    out->x_ = linear_axis(AxisSpacing{first->x, layout.column_sign() * g.dx}, layout.columns());
    out->y_ = linear_axis(AxisSpacing{first->y, layout.row_sign() * g.dy}, layout.rows());
    return plane_points(std::move(out), **projection);
  }

  Result<Shared> operator()(const SpaceViewGridParams& g) const {
    if (!definition.earth) return fail(definition.earth.error());
    const EarthShape& earth = *definition.earth;
    if (!g.nr) return fail("space view from infinite distance (orthographic) is not supported");
    if (!(*g.nr > 1e6) || !std::isfinite(*g.nr)) {
      return fail(str_cat("space view: a camera at ", *g.nr, " millionths of the Earth's radius is not outside it"));
    }
    if (!(std::fabs(g.sub_lat) < 1e-6)) {
      return fail(str_cat("space view from above latitude ", g.sub_lat, " is not supported"));
    }
    if (!(g.dx > 0.0 && std::isfinite(g.dx)) || !(g.dy > 0.0 && std::isfinite(g.dy))) {
      return fail(str_cat("space view: apparent diameters ", g.dx, " and ", g.dy, " are not grid lengths"));
    }
    double flip;
    if (std::fabs(g.orientation) < 1e-6) {
      flip = 1.0;
    } else if (std::fabs(g.orientation - 180.0) < 1e-6) {
      flip = -1.0;
    } else {
      return fail(str_cat("space view: grid orientation ", g.orientation, " is not supported"));
    }
    if (!layout.regular()) return fail("a points-per-row list on a space view grid is not supported");
    const double distance = *g.nr * 1e-6 * earth.a;
    auto projection = make_projection(GeostationaryParams{g.sub_lon, distance}, earth);
    if (!projection) return fail(projection.error());
    // Scan angle per grid length, times the height above the surface.
    const double disc = 2.0 * std::asin(1e6 / *g.nr);
    const double height = distance - earth.a;
    const double x_unit = flip * disc / g.dx * height;
    const double y_unit = flip * disc / g.dy * height;
    const auto nx = static_cast<double>(layout.columns());
    const auto ny = static_cast<double>(layout.rows());
    // Grid coordinate of the first presented column and row.
    const double x_first = layout.column_sign() > 0 ? g.xo : g.xo + nx - 1.0;
    const double y_first = layout.row_sign() > 0 ? g.yo : g.yo + ny - 1.0;
    auto out = fresh();
    out->x_ = linear_axis(AxisSpacing{(x_first - g.xp) * x_unit, layout.column_sign() * x_unit}, layout.columns());
    out->y_ = linear_axis(AxisSpacing{(y_first - g.yp) * y_unit, layout.row_sign() * y_unit}, layout.rows());
    return plane_points(std::move(out), **projection);
  }

 private:
  static double unit_of(double angle_unit) { return angle_unit > 0.0 && angle_unit < 1.0 ? angle_unit : 1e-6; }

  std::shared_ptr<GridCoordinates> fresh() const {
    return std::shared_ptr<GridCoordinates>(new GridCoordinates(layout));
  }

  // Rows at the given latitudes with their longitudes; rotated into
  // geographic coordinates when the definition carries a rotation.
  Result<Shared> on_rows(const std::vector<double>& latitudes, const RowLongitudes& rows) const {
    auto out = fresh();
    if (!definition.rotation) {
      out->row_latitudes_ = latitudes;
      if (layout.regular()) {
        out->form_ = GridCoordinates::Form::kAxes;
        out->column_longitudes_ = linear_axis(AxisSpacing{rows.first[0], rows.step[0]}, layout.columns());
      } else {
        out->form_ = GridCoordinates::Form::kRows;
        out->row_first_longitudes_ = rows.first;
        out->row_longitude_steps_ = rows.step;
      }
      return Shared(std::move(out));
    }
    auto rotation = PoleRotation::make(*definition.rotation);
    if (!rotation) return fail(rotation.error());
    out->form_ = GridCoordinates::Form::kPoints;
    out->latitudes_.resize(layout.points());
    out->longitudes_.resize(layout.points());
    if (layout.regular()) {
      const std::vector<double> columns = linear_axis(AxisSpacing{rows.first[0], rows.step[0]}, layout.columns());
      rotation->grid_to_geographic(latitudes, columns, out->latitudes_.data(), out->longitudes_.data());
    } else {
      for (std::uint64_t r = 0; r < layout.rows(); ++r) {
        const std::uint64_t n = layout.row_length(r);
        const std::vector<double> columns = linear_axis(AxisSpacing{rows.first[r], rows.step[r]}, n);
        const std::uint64_t start = layout.row_start(r);
        rotation->grid_to_geographic(std::span<const double>(&latitudes[r], 1), columns, out->latitudes_.data() + start,
                                     out->longitudes_.data() + start);
      }
    }
    normalize_point_longitudes(out->longitudes_, layout);
    return Shared(std::move(out));
  }

  Result<Shared> plane_points(std::shared_ptr<GridCoordinates> out, const Projection& projection) const {
    if (projection.separable() && !out->x_.empty() && !out->y_.empty()) {
      out->form_ = GridCoordinates::Form::kAxes;
      out->row_latitudes_.resize(out->y_.size());
      for (std::size_t r = 0; r < out->y_.size(); ++r)
        out->row_latitudes_[r] = projection.inverse(out->x_[0], out->y_[r]).lat;
      out->column_longitudes_.resize(out->x_.size());
      const double first = normalized_longitude(projection.inverse(out->x_[0], out->y_[0]).lon);
      const double shift = first - projection.inverse(out->x_[0], out->y_[0]).lon;
      for (std::size_t c = 0; c < out->x_.size(); ++c) {
        out->column_longitudes_[c] = projection.inverse(out->x_[c], out->y_[0]).lon + shift;
      }
      return Shared(std::move(out));
    }
    out->form_ = GridCoordinates::Form::kPoints;
    out->latitudes_.resize(layout.points());
    out->longitudes_.resize(layout.points());
    projection.inverse_grid(out->x_, out->y_, out->latitudes_.data(), out->longitudes_.data());
    normalize_point_longitudes(out->longitudes_, layout);
    return Shared(std::move(out));
  }
};

Result<Shared> compute_grid_coordinates(const GridDefinition& definition) {
  auto layout = GridLayout::make(definition.layout);
  if (!layout) return fail(layout.error());
  // Ni or Nj of 0: no points to locate, and the other axis, which may be
  // as long as the largest grid, is not built for nothing.
  if (const auto* none = std::get_if<NoCoordinates>(&definition.geometry)) return fail(none->reason);
  if (layout->points() == 0) return fail("grid has no points");
  if (!layout->regular() && definition.declared_points && *definition.declared_points != layout->points()) {
    return fail(str_cat("points-per-row list sums to ", layout->points(), " points, the grid section states ",
                        *definition.declared_points));
  }
  return std::visit(CoordinateBuilder{definition, std::move(*layout)}, definition.geometry);
}

bool GridCoordinates::fill(std::span<double> lat, std::span<double> lon) const {
  if (lat.size() != size() || lon.size() != size()) return false;
  switch (form_) {
    case Form::kPoints:
      std::copy(latitudes_.begin(), latitudes_.end(), lat.begin());
      std::copy(longitudes_.begin(), longitudes_.end(), lon.begin());
      return true;
    case Form::kAxes: {
      const std::uint64_t nx = column_longitudes_.size();
      for (std::uint64_t r = 0; r < row_latitudes_.size(); ++r) {
        std::fill_n(lat.begin() + r * nx, nx, row_latitudes_[r]);
        std::copy(column_longitudes_.begin(), column_longitudes_.end(), lon.begin() + r * nx);
      }
      return true;
    }
    case Form::kRows:
      for (std::uint64_t r = 0; r < layout_.rows(); ++r) {
        const std::uint64_t start = layout_.row_start(r);
        const std::uint64_t n = layout_.row_length(r);
        std::fill_n(lat.begin() + start, n, row_latitudes_[r]);
        for (std::uint64_t k = 0; k < n; ++k) {
          lon[start + k] = row_first_longitudes_[r] + static_cast<double>(k) * row_longitude_steps_[r];
        }
      }
      return true;
  }
  return false;
}

namespace {

// The row holding presented point p and its column within the row.
std::pair<std::uint64_t, std::uint64_t> row_and_column(const GridLayout& layout, std::uint64_t p) {
  if (layout.regular()) return {p / layout.columns(), p % layout.columns()};
  std::uint64_t low = 0, high = layout.rows();  // last row starting at or before p
  while (high - low > 1) {
    const std::uint64_t mid = low + (high - low) / 2;
    if (layout.row_start(mid) <= p) {
      low = mid;
    } else {
      high = mid;
    }
  }
  return {low, p - layout.row_start(low)};
}

}  // namespace

double GridCoordinates::latitude(std::uint64_t p) const {
  if (form_ == Form::kPoints) return latitudes_[p];
  return row_latitudes_[row_and_column(layout_, p).first];
}

double GridCoordinates::longitude(std::uint64_t p) const {
  if (form_ == Form::kPoints) return longitudes_[p];
  const auto [r, c] = row_and_column(layout_, p);
  if (form_ == Form::kAxes) return column_longitudes_[c];
  return row_first_longitudes_[r] + static_cast<double>(c) * row_longitude_steps_[r];
}

std::uint64_t GridCoordinates::bytes() const {
  const std::uint64_t doubles = row_latitudes_.capacity() + column_longitudes_.capacity() +
                                row_first_longitudes_.capacity() + row_longitude_steps_.capacity() +
                                latitudes_.capacity() + longitudes_.capacity() + x_.capacity() + y_.capacity();
  return sizeof(GridCoordinates) + doubles * sizeof(double) + layout_.rows() * sizeof(std::uint64_t);
}

}  // namespace vorlak
