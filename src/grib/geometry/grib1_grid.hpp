#pragma once
// The grid definition of a GRIB1 grid description section (GDS).
#include "grib/framing.hpp"
#include "grib/geometry/grid_definition.hpp"

namespace vorlak {

// Types 0 (latitude/longitude), 1 (Mercator), 3 (Lambert conformal),
// 4 (Gaussian), 5 (polar stereographic), 10 (rotated latitude/longitude) and
// 14 (rotated Gaussian), regular or quasi-regular (Ni 65535 and a
// points-per-row list); other types are described without coordinates. Fails
// only for a GDS too short for its type or a points-per-row list that is
// missing or runs past the section.
Result<GridDefinition> grib1_grid_definition(Bytes gds);

}  // namespace vorlak
