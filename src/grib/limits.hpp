#pragma once
// Bounds on sizes that come from header fields alone. Anything larger cannot
// be a real grid, and honouring it would mean allocating without bound.
#include <cstdint>

namespace vorlak {

// More grid points than any operational grid (the largest carry a few tens of
// millions); a field of this size is 2 GiB of doubles.
inline constexpr std::uint64_t kMaxGridPoints = std::uint64_t{1} << 28;

// Gaussian N (parallels pole to equator). O1280 has 1280 and the finest
// grids run so far about 8000; the full latitude list costs O(N^2), about
// half a second of CPU at this bound.
inline constexpr std::uint32_t kMaxGaussianN = 8192;

}  // namespace vorlak
