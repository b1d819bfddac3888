// Choosing the kernel set once per process from what the CPU offers.
#include "grib/kernels/unpack_kernels.hpp"

namespace vorlak {

const UnpackKernels& active_kernels() {
  static const UnpackKernels& chosen = [&]() -> const UnpackKernels& {
    if (const UnpackKernels* wide = avx2_kernels()) return *wide;
    return portable_kernels();
  }();
  return chosen;
}

}  // namespace vorlak
