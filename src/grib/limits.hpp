#pragma once
// Bounds on sizes that come from header fields alone. Anything larger cannot
// be a real grid, and honouring it would mean allocating without bound.
#include <cstdint>

namespace vorlak {

// More grid points than any operational grid (the largest carry a few tens of
// millions); a field of this size is 2 GiB of doubles.
inline constexpr std::uint64_t kMaxGridPoints = std::uint64_t{1} << 28;

// Gaussian N (parallels pole to equator); O1280 has 1280, the finest planned
// grids stay below 10,000.
inline constexpr std::uint32_t kMaxGaussianN = 32768;

}  // namespace vorlak
