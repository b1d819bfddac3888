// Choosing the kernel set: once per process from what the CPU offers, or by
// name for tests and benchmarks.
#include <array>
#include <atomic>

#include "grib/kernels/unpack_kernels.hpp"

namespace vorlak {
namespace {

std::atomic<const UnpackKernels*> g_override{nullptr};

}  // namespace

const UnpackKernels& active_kernels() {
  static const UnpackKernels& chosen = [&]() -> const UnpackKernels& {
    if (const UnpackKernels* wide = avx2_kernels()) return *wide;
    return portable_kernels();
  }();
  if (const UnpackKernels* set = g_override.load(std::memory_order_acquire)) return *set;
  return chosen;
}

std::span<const UnpackKernels* const> available_kernels() {
  static const auto sets = [] {
    std::array<const UnpackKernels*, 3> all{&reference_kernels(), &portable_kernels(), avx2_kernels()};
    return all;
  }();
  static const std::size_t count = sets[2] ? 3 : 2;
  return {sets.data(), count};
}

const UnpackKernels* kernels_by_name(std::string_view name) {
  for (const UnpackKernels* set : available_kernels()) {
    if (name == set->name) return set;
  }
  return nullptr;
}

void override_active_kernels(const UnpackKernels* set) { g_override.store(set, std::memory_order_release); }

}  // namespace vorlak
