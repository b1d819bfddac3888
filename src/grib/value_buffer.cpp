#include "grib/value_buffer.hpp"

#include <sys/mman.h>

#include <cstdint>

namespace vorlak {

namespace {

constexpr std::uintptr_t kLargePage = std::uintptr_t{1} << 21;
// Below this the allocator recycles memory already faulted in; above it a
// reservation is a fresh mapping that nothing touches until it is written.
constexpr std::size_t kLargeFieldBytes = std::size_t{4} << 20;

}  // namespace

Values reserved_values(std::size_t count) {
  Values values;
  values.reserve(count);
#ifdef MADV_HUGEPAGE
  if (count * sizeof(double) >= kLargeFieldBytes) {
    const auto begin = reinterpret_cast<std::uintptr_t>(values.data());
    const std::uintptr_t first = (begin + kLargePage - 1) & ~(kLargePage - 1);
    const std::uintptr_t last = (begin + count * sizeof(double)) & ~(kLargePage - 1);
    // Advice only: where the kernel declines, the pages come 4 KiB at a time.
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
  }
#endif
  return values;
}

Values zeroed_values(std::size_t count) {
  Values values = reserved_values(count);
  values.resize(count);
  return values;
}

}  // namespace vorlak
