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

// Rows first .. first + count - 1 of the 2N Gaussian latitudes (north to
// south; first + count <= 2N, 1 <= N <= kMaxGaussianN). From the cached whole
// list where that is cheap, row by row for a band of a very fine grid.
std::vector<double> gaussian_latitude_rows(std::uint32_t N, std::uint64_t first, std::uint64_t count);

// The row of the 2N Gaussian latitudes closest to `latitude` (the northern
// one on a tie; 1 <= N <= kMaxGaussianN).
std::uint64_t gaussian_closest_row(std::uint32_t N, double latitude);

}  // namespace vorlak
