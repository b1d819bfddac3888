#pragma once
// GRIB1 messages without a grid description: their grid is one of the
// producer's predefined grids, named by PDS octet 7. The values can still be
// read, as one row: the bitmap says how many points the grid has, else the
// data section's bits say how many values it holds.
#include <cstdint>
#include <vector>

#include "grib/framing.hpp"
#include "grib/result.hpp"

namespace vorlak {

struct Grib1PredefinedGrid {
  std::uint8_t grid_number = 255;  // PDS octet 7
  std::uint64_t points = 0;        // values, missing points included
};

// Fails for a message that has a GDS, for a predefined bitmap, for a
// constant field (0 bits per value) without a bitmap (nothing then says how
// many points there are) and for truncated sections.
Result<Grib1PredefinedGrid> grib1_predefined_grid(Bytes message);

// The values of such a message in the order the message holds them, NaN
// where the bitmap marks a point missing.
Result<std::vector<double>> decode_grib1_predefined(Bytes message);

}  // namespace vorlak
