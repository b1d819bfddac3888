#pragma once
// The grid keys of a field: every field of the grid section by its name,
// and the derived keys in degrees and metres (LaDInDegrees, DxInMetres,
// latitudeOfSouthernPoleInDegrees, ...), the figure of the Earth in metres,
// the scanning flags, numberOfPoints and gridType. Fields whose octets are
// all ones (missing) are left out, as are derived keys of missing fields.
#include "compat/grid_crs.hpp"
#include "grib/framing.hpp"

namespace vorlak {

// All: the section's own fields and the derived keys. Derived: the derived
// keys alone (the template keys of a field have the section's fields).
enum class GridKeySet : std::uint8_t { All, Derived };

// From a GRIB2 grid definition section (section 3); fails only for a
// section too short to name its template.
Result<NamedValues> grib2_grid_keys(Bytes section3, GridKeySet set = GridKeySet::All);

// From a GRIB1 grid description section; fails as grib1_grid_definition does.
Result<NamedValues> grib1_grid_keys(Bytes gds);

// gridType of a grid definition template, with or without a points-per-row
// list (empty for templates without a name).
std::string_view grid_type_of_template(std::uint16_t number, bool quasi_regular);

}  // namespace vorlak
