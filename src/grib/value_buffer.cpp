#include "grib/value_buffer.hpp"

#include <sys/mman.h>

namespace vorlak {

namespace {

constexpr std::uintptr_t kLargePage = std::uintptr_t{1} << 21;
// Below this the allocator recycles memory already faulted in; above it a
// reservation is a fresh mapping that nothing touches until it is written.
constexpr std::uint64_t kLargeFieldBytes = std::uint64_t{4} << 20;

}  // namespace

void advise_huge_pages(void* data, std::uint64_t bytes) {
#ifdef MADV_HUGEPAGE
  if (bytes < kLargeFieldBytes) return;
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (begin + kLargePage - 1) & ~(kLargePage - 1);
  const std::uintptr_t last = (begin + bytes) & ~(kLargePage - 1);
  // Advice only: where the kernel declines, the pages come 4 KiB at a time.
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

Values reserved_values(std::size_t count) {
  Values values;
  values.reserve(count);
  advise_huge_pages(values.data(), std::uint64_t{count} * sizeof(double));
  return values;
}

Values zeroed_values(std::size_t count) {
  Values values = reserved_values(count);
  values.resize(count);
  return values;
}

}  // namespace vorlak
