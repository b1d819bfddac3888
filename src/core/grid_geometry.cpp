#include "core/grid_geometry.hpp"

#include <variant>

#include "compat/grid_keys.hpp"
#include "grib/geometry/grib1_grid.hpp"
#include "grib/geometry/grib2_grid.hpp"

namespace vorlak {

Result<GridDefinition> grid_definition_of(Edition edition, Bytes section) {
  switch (edition) {
    case Edition::One:
      return grib1_grid_definition(section);
    case Edition::Two:
      return grib2_grid_definition(section);
    default:
      return fail("grid section of an unknown edition");
  }
}

Result<SharedCoordinates> grid_coordinates_of(Edition edition, Bytes section) {
  if (edition != Edition::One && edition != Edition::Two) return fail("grid section of an unknown edition");
  const int number = edition == Edition::One ? 1 : 2;
  return process_coordinate_cache().get(coordinate_cache_key(number, section), [&]() -> Result<SharedCoordinates> {
    auto definition = grid_definition_of(edition, section);
    if (!definition) return fail(definition.error());
    return compute_grid_coordinates(*definition);
  });
}

Result<NamedValues> grid_keys_of(Edition edition, Bytes section, GridKeySet set) {
  switch (edition) {
    case Edition::One:
      return grib1_grid_keys(section);
    case Edition::Two:
      return grib2_grid_keys(section, set);
    default:
      return fail("grid section of an unknown edition");
  }
}

namespace {

// A definition whose projection or rotation can be set up: a coordinate
// system that places no point is not offered.
Result<GridDefinition> sound_definition(Edition edition, Bytes section) {
  auto definition = grid_definition_of(edition, section);
  if (!definition) return definition;
  if (const auto* g = std::get_if<ProjectedGridParams>(&definition->geometry); g && definition->earth) {
    if (auto projection = make_projection(g->projection, *definition->earth); !projection) {
      return fail(projection.error());
    }
  }
  if (definition->rotation) {
    if (auto rotation = PoleRotation::make(*definition->rotation); !rotation) return fail(rotation.error());
  }
  return definition;
}

}  // namespace

Result<NamedValues> proj_parameters_of(Edition edition, Bytes section) {
  auto definition = sound_definition(edition, section);
  if (!definition) return fail(definition.error());
  return proj_parameters(*definition);
}

Result<NamedValues> cf_grid_mapping_of(Edition edition, Bytes section) {
  auto definition = sound_definition(edition, section);
  if (!definition) return fail(definition.error());
  return cf_grid_mapping(*definition);
}

}  // namespace vorlak
