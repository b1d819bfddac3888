#include "grib/value_buffer.hpp"

#include <sys/mman.h>

#include <cstddef>

namespace vorlak {
namespace {

constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
// Below two huge pages the advice cannot cover a whole one reliably.
constexpr std::uint64_t kAdviseFrom = 2 * kHugePage;

}  // namespace

void advise_huge_pages(void* data, std::uint64_t bytes) {
#ifdef MADV_HUGEPAGE
  if (bytes < kAdviseFrom) return;
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = (begin + bytes) & ~(kHugePage - 1);
  // Advice only: a kernel without transparent huge pages refuses it, and
  // the memory works as before.
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

Values make_values(std::uint64_t count) {
  Values values;
  values.reserve(static_cast<std::size_t>(count));
  advise_huge_pages(values.data(), count * sizeof(double));
  values.resize(static_cast<std::size_t>(count));
  return values;
}

}  // namespace vorlak
