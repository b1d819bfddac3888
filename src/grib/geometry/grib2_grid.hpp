#pragma once
// The grid definition of a GRIB2 grid definition section (section 3), read
// through the template descriptions.
#include "grib/framing.hpp"
#include "grib/geometry/grid_definition.hpp"

namespace vorlak {

// Templates 3.0 and 3.1 (latitude/longitude, plain and rotated, regular or
// quasi-regular), 3.10 (Mercator), 3.20 (polar stereographic), 3.30
// (Lambert conformal), 3.31 (Albers equal area), 3.40 and 3.41 (Gaussian,
// plain and rotated, regular or reduced), 3.90 (space view). Unstructured
// (3.101) and curvilinear (3.204) grids and every other template are
// described without coordinates, with the reason. Fails only for a section
// too short to hold its header.
Result<GridDefinition> grib2_grid_definition(Bytes section3);

}  // namespace vorlak
