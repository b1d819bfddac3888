#pragma once
// The grid geometry fuzz target's work, shared with the regression suite:
// the first octet of an input chooses the edition (odd: a GRIB1 GDS, even: a
// GRIB2 section 3), the rest is the section. Its definition, the
// coordinates of grids up to 65536 points, the grid keys and the coordinate
// reference system in PROJ and CF names. Broken invariants trap.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/grid_geometry.hpp"

namespace vorlak::fuzz {

inline constexpr std::uint64_t kMaxFuzzedGridPoints = 65536;

inline void exercise_grid_section(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return;
  const Edition edition = (data[0] & 1) ? Edition::One : Edition::Two;
  const Bytes section(data + 1, size - 1);
  (void)grid_keys_of(edition, section);
  auto definition = grid_definition_of(edition, section);
  if (!definition) return;
  (void)proj_parameters(*definition);
  (void)cf_grid_mapping(*definition);
  auto layout = GridLayout::make(definition->layout);
  if (!layout || layout->points() > kMaxFuzzedGridPoints) return;
  auto coordinates = compute_grid_coordinates(*definition);
  if (!coordinates) return;
  const GridCoordinates& c = **coordinates;
  if (c.size() != layout->points()) __builtin_trap();
  if (!c.x().empty() && (c.x().size() != layout->columns() || c.y().size() != layout->rows())) __builtin_trap();
  std::vector<double> lat(c.size()), lon(c.size());
  c.fill(lat, lon);
  for (std::uint64_t p = 0; p < c.size(); ++p) {
    if (!(std::isnan(lat[p]) || std::fabs(lat[p]) <= 90.0 + 1e-9)) __builtin_trap();
    const double q = c.latitude(p);
    if (!(q == lat[p] || (std::isnan(q) && std::isnan(lat[p])))) __builtin_trap();
  }
}

}  // namespace vorlak::fuzz
