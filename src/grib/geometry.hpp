#pragma once
// Latitude and longitude axes of regular and Gaussian grids.
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "types/decoded.hpp"

namespace vorlak {

// None for grids without coordinates (projections, missing corners, N = 0 or
// N beyond kMaxGaussianN). Never fails otherwise.
std::optional<Coordinates> compute_coordinates(const GridSummary& grid);

// The 2N Gaussian latitudes in degrees, north to south. Computed once per N
// for the life of the process; null for N = 0 or N above kMaxGaussianN.
std::shared_ptr<const std::vector<double>> gaussian_latitudes(std::uint32_t N);

}  // namespace vorlak
