#pragma once
// The coordinate reference system of a grid in the two vocabularies other
// software reads: PROJ parameters (pyproj.CRS(dict(...))) and the
// attributes of a CF grid_mapping variable. Both describe the plane of the
// grid's x and y axes (GridCoordinates::x, ::y) for projected grids, and the
// rotated or plain latitude/longitude frame otherwise.
#include <string>
#include <utility>
#include <vector>

#include "grib/geometry/grid_definition.hpp"
#include "grib/result.hpp"
#include "types/key_value.hpp"

namespace vorlak {

using NamedValues = std::vector<std::pair<std::string, KeyValue>>;

// Fails for grids without coordinates and for projected grids without a
// usable figure of the Earth. A latitude/longitude grid whose figure is not
// known gets no figure parameters.
Result<NamedValues> proj_parameters(const GridDefinition& definition);
Result<NamedValues> cf_grid_mapping(const GridDefinition& definition);

// "+name=value ..." from PROJ parameters, numbers in the shortest form that
// reads back exactly.
std::string proj_string(const NamedValues& parameters);

}  // namespace vorlak
