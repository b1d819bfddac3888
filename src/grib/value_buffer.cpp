#include "grib/value_buffer.hpp"

#include <sys/mman.h>

#include <cstdint>

namespace vorlak {

namespace {

constexpr std::uintptr_t kLargePage = std::uintptr_t{1} << 21;
// Below this the allocator recycles memory already faulted in.
constexpr std::size_t kLargeFieldBytes = std::size_t{32} << 20;

}  // namespace

Values zeroed_values(std::size_t count) {
  Values values;
  if (count * sizeof(double) < kLargeFieldBytes) {
    values.resize(count);
    return values;
  }
  values.reserve(count);  // mapped, not yet touched
#ifdef MADV_HUGEPAGE
  const auto begin = reinterpret_cast<std::uintptr_t>(values.data());
  const std::uintptr_t first = (begin + kLargePage - 1) & ~(kLargePage - 1);
  const std::uintptr_t last = (begin + count * sizeof(double)) & ~(kLargePage - 1);
  // Advice only: where the kernel declines, the pages come 4 KiB at a time.
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
  values.resize(count);
  return values;
}

}  // namespace vorlak
