#include "core/grid_geometry.hpp"

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

Result<NamedValues> grid_keys_of(Edition edition, Bytes section) {
  switch (edition) {
    case Edition::One:
      return grib1_grid_keys(section);
    case Edition::Two:
      return grib2_grid_keys(section);
    default:
      return fail("grid section of an unknown edition");
  }
}

Result<NamedValues> proj_parameters_of(Edition edition, Bytes section) {
  auto definition = grid_definition_of(edition, section);
  if (!definition) return fail(definition.error());
  return proj_parameters(*definition);
}

Result<NamedValues> cf_grid_mapping_of(Edition edition, Bytes section) {
  auto definition = grid_definition_of(edition, section);
  if (!definition) return fail(definition.error());
  return cf_grid_mapping(*definition);
}

}  // namespace vorlak
