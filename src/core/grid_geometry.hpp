#pragma once
// What the field API asks of a field's grid, given the edition and the bytes
// of its grid section (GRIB2 section 3, GRIB1 GDS): the grid definition,
// the coordinates (computed once per distinct section and shared through
// the process's coordinate cache), the grid keys, and the coordinate
// reference system as PROJ parameters and CF grid_mapping attributes. None
// of these touch the interpreter; all may run without its lock.
#include "compat/grid_crs.hpp"
#include "compat/grid_keys.hpp"
#include "core/coordinate_cache.hpp"
#include "grib/framing.hpp"
#include "grib/geometry/grid_definition.hpp"
#include "grib/message_record.hpp"

namespace vorlak {

Result<GridDefinition> grid_definition_of(Edition edition, Bytes section);

// Latitudes, longitudes (and x, y for projected grids) in the presented
// order of the grid's layout; the same shared object for every field on
// byte-identical grid sections.
Result<SharedCoordinates> grid_coordinates_of(Edition edition, Bytes section);

// GRIB1 grid keys are all derived (a GDS has no template keys).
Result<NamedValues> grid_keys_of(Edition edition, Bytes section, GridKeySet set = GridKeySet::All);
// Fail for grids without coordinates, and for a projection or rotation
// whose parameters make no sense (as computing the coordinates would).
Result<NamedValues> proj_parameters_of(Edition edition, Bytes section);
Result<NamedValues> cf_grid_mapping_of(Edition edition, Bytes section);

}  // namespace vorlak
