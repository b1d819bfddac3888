#pragma once
// Run loops built from a kernel set's single-run functions, for the sets
// whose single runs have no setup worth sharing between runs.
#include "grib/kernels/unpack_kernels.hpp"

namespace vorlak::kernels {

template <auto kScaled>
void runs_scaled_by(const std::uint8_t* data, std::size_t nbytes, const PackedRun* runs, std::size_t nruns,
                    const ScaleFactors& scale, double* out) {
  for (std::size_t r = 0; r < nruns; ++r) {
    kScaled(data, nbytes, runs[r].bit_offset, runs[r].width, runs[r].count, runs[r].add, scale, out);
    out += runs[r].count;
  }
}

template <auto kOrder1>
void runs_order1_by(const std::uint8_t* data, std::size_t nbytes, const PackedRun* runs, std::size_t nruns,
                    std::int64_t* value, const ScaleFactors& scale, double* out) {
  for (std::size_t r = 0; r < nruns; ++r) {
    kOrder1(data, nbytes, runs[r].bit_offset, runs[r].width, runs[r].count, static_cast<std::int64_t>(runs[r].add),
            value, scale, out);
    out += runs[r].count;
  }
}

template <auto kOrder2>
void runs_order2_by(const std::uint8_t* data, std::size_t nbytes, const PackedRun* runs, std::size_t nruns,
                    std::int64_t* value, std::int64_t* difference, const ScaleFactors& scale, double* out) {
  for (std::size_t r = 0; r < nruns; ++r) {
    kOrder2(data, nbytes, runs[r].bit_offset, runs[r].width, runs[r].count, static_cast<std::int64_t>(runs[r].add),
            value, difference, scale, out);
    out += runs[r].count;
  }
}

}  // namespace vorlak::kernels
