#pragma once
// Pieces the kernel sets share for runs of complex packing: the missing
// value tests and the step sums of a constant run in closed form.
#include "grib/kernels/unpack_kernels.hpp"

namespace vorlak::kernels {

inline std::uint64_t all_ones(unsigned width) {
  return width >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1;
}

// x of a run of width > 0 whose all-ones value is `ones`.
template <MissingCodes kMissing>
inline bool is_missing(std::uint64_t x, std::uint64_t ones) {
  if constexpr (kMissing == MissingCodes::none) {
    return false;
  } else if constexpr (kMissing == MissingCodes::primary) {
    return x == ones;
  } else {
    return x == ones || x == ones - 1;
  }
}

// Calls f.template operator()<M>() with the compile-time form of `missing`.
template <class F>
inline void with_missing(MissingCodes missing, F&& f) {
  switch (missing) {
    case MissingCodes::none: f.template operator()<MissingCodes::none>(); break;
    case MissingCodes::primary: f.template operator()<MissingCodes::primary>(); break;
    case MissingCodes::both: f.template operator()<MissingCodes::both>(); break;
  }
}

// One present step into the sums.
inline void add_step(StepSums& s, std::uint64_t step) {
  if (s.present < 2) s.first[s.present] = step;
  ++s.present;
  s.sum += step;
  s.sum_of_sums += s.sum;
}

// `count` equal steps: the running sum after the k-th is sum + k * step, so
// their total is count * sum + step * count (count + 1) / 2.
inline void add_equal_steps(StepSums& s, std::uint64_t step, std::uint64_t count) {
  for (; count > 0 && s.present < 2; --count) add_step(s, step);
  const std::uint64_t triangle = count % 2 == 0 ? (count / 2) * (count + 1) : count * ((count + 1) / 2);
  s.sum_of_sums += count * s.sum + step * triangle;
  s.sum += count * step;
  s.present += count;
}

}  // namespace vorlak::kernels
