// The grid side of a FieldFile: the identity of a field's grid, its
// coordinates (shared through the coordinate cache), its arrays in the
// presented order, its coordinate reference system, and the nearest-point
// search over its coordinates and decoded values.
#include <cstddef>
#include <variant>

#include "core/field_file.hpp"
#include "core/grid_geometry.hpp"
#include "core/grid_view.hpp"
#include "grib/text.hpp"

namespace vorlak {
namespace {

// Octets 5 and 7 of a GRIB1 product definition section (centre, grid
// number), at octet 9 of the message.
constexpr std::size_t kGrib1Centre = 8 + 4;
constexpr std::size_t kGrib1GridNumber = 8 + 6;

}  // namespace

std::string FieldFile::grid_id(std::size_t field) const {
  const Edition e = edition(field);
  const int number = e == Edition::One ? 1 : e == Edition::Two ? 2 : 0;
  if (const Bytes section = grid_section(field); !section.empty()) return coordinate_cache_key(number, section);
  // No grid section: a GRIB1 message on a grid its centre predefines.
  const Bytes message = message_of(field);
  if (e == Edition::One && message.size() > kGrib1GridNumber) {
    return str_cat(number, " predefined grid ", static_cast<int>(message[kGrib1GridNumber]), " of centre ",
                   static_cast<int>(message[kGrib1Centre]));
  }
  return str_cat(number, " no grid");
}

Result<std::optional<SharedCoordinates>> FieldFile::grid_coordinates(std::size_t field) const {
  using Out = std::optional<SharedCoordinates>;
  const Edition e = edition(field);
  const Bytes section = grid_section(field);
  if (section.empty()) return Out();
  auto definition = grid_definition_of(e, section);
  if (!definition) return fail(std::move(definition.error()));
  if (const auto* none = std::get_if<NoCoordinates>(&definition->geometry)) {
    if (none->located) return fail(none->reason);
    return Out();
  }
  auto coordinates = grid_coordinates_of(e, section);
  if (!coordinates) return fail(std::move(coordinates.error()));
  return Out(std::move(*coordinates));
}

Result<std::optional<SharedDoubles>> FieldFile::grid_array(std::size_t field, GridArray which) const {
  using Out = std::optional<SharedDoubles>;
  auto coordinates = grid_coordinates(field);
  if (!coordinates) return fail(std::move(coordinates.error()));
  if (!*coordinates) return Out();
  const SharedCoordinates& shared = **coordinates;
  const GridCoordinates& points = *shared;
  // x, y, and the points of grids kept point by point: the cached arrays.
  const auto kept = [&](const std::vector<double>& array) -> Out {
    if (array.empty()) return Out();
    return SharedDoubles{shared, std::span<const double>(array)};
  };
  switch (which) {
    case GridArray::X: return kept(points.x());
    case GridArray::Y: return kept(points.y());
    case GridArray::Latitudes:
    case GridArray::Longitudes: break;
  }
  const bool latitude = which == GridArray::Latitudes;
  if (points.form() == GridCoordinates::Form::kPoints) return kept(latitude ? points.latitudes() : points.longitudes());
  // Axes and rows are expanded to every point (the layout bounds the count).
  auto made = std::make_shared<std::vector<double>>(points.size());
  std::vector<double>& out = *made;
  for (std::uint64_t p = 0; p < out.size(); ++p) out[p] = latitude ? points.latitude(p) : points.longitude(p);
  return SharedDoubles{made, std::span<const double>(out)};
}

Result<std::optional<std::vector<double>>> FieldFile::coordinate(std::size_t field, bool latitude) const {
  using Out = std::optional<std::vector<double>>;
  auto array = grid_array(field, latitude ? GridArray::Latitudes : GridArray::Longitudes);
  if (!array) return fail(std::move(array.error()));
  if (!*array) return Out();
  return Out(std::vector<double>((*array)->data.begin(), (*array)->data.end()));
}

Result<std::optional<std::vector<double>>> FieldFile::latitudes(std::size_t field) const {
  return coordinate(field, true);
}

Result<std::optional<std::vector<double>>> FieldFile::longitudes(std::size_t field) const {
  return coordinate(field, false);
}

namespace {

template <class Describe>
Result<std::optional<NamedValues>> described_crs(Edition edition, Bytes section, Describe describe) {
  using Out = std::optional<NamedValues>;
  if (section.empty()) return Out();
  auto definition = grid_definition_of(edition, section);
  if (!definition) return fail(std::move(definition.error()));
  if (const auto* none = std::get_if<NoCoordinates>(&definition->geometry)) {
    if (none->located) return fail(none->reason);
    return Out();
  }
  auto described = describe(edition, section);
  if (!described) return fail(std::move(described.error()));
  return Out(std::move(*described));
}

}  // namespace

Result<std::optional<NamedValues>> FieldFile::proj_parameters(std::size_t field) const {
  return described_crs(edition(field), grid_section(field), proj_parameters_of);
}

Result<std::optional<NamedValues>> FieldFile::cf_grid_mapping(std::size_t field) const {
  return described_crs(edition(field), grid_section(field), cf_grid_mapping_of);
}

CodesResult<std::vector<NearestCandidate>> FieldFile::nearest(std::size_t field, double latitude, double longitude,
                                                              std::uint64_t count,
                                                              const DecodeOptions& options) const {
  const auto internal = [](std::string text) { return codes_fail(CodesError::internal(std::move(text))); };
  auto coordinates = grid_coordinates(field);
  if (!coordinates) return internal(str_cat("no grid point positions: ", coordinates.error()));
  if (!*coordinates) {
    std::string why = "the message does not place the points of its grid";
    if (const Bytes section = grid_section(field); !section.empty()) {
      if (auto definition = grid_definition_of(edition(field), section)) {
        if (const auto* none = std::get_if<NoCoordinates>(&definition->geometry)) why = none->reason;
      }
    }
    return internal(str_cat("no grid point positions: ", why));
  }
  auto values = this->values(field, options);
  if (!values) return internal(std::move(values.error()));
  const GridCoordinates& points = ***coordinates;
  if (points.size() != values->values.size()) {
    return internal(str_cat("the grid has ", points.size(), " points but the field ", values->values.size(),
                            " values"));
  }
  GridView view;
  view.values = values->values;
  std::vector<double> latitudes, longitudes;
  switch (points.form()) {
    case GridCoordinates::Form::kAxes:
      view.from_axes = true;
      view.latitude_axis = points.row_latitudes();
      view.longitude_axis = points.column_longitudes();
      break;
    case GridCoordinates::Form::kPoints:
      view.latitudes = points.latitudes();
      view.longitudes = points.longitudes();
      break;
    case GridCoordinates::Form::kRows:
      latitudes.resize(points.size());
      longitudes.resize(points.size());
      points.fill(latitudes, longitudes);
      view.latitudes = latitudes;
      view.longitudes = longitudes;
      break;
  }
  return vorlak::nearest(view, latitude, longitude, count);
}

}  // namespace vorlak
