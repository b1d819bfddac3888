// AVX2 kernels: not yet built; the portable set serves every CPU.
#include "grib/kernels/unpack_kernels.hpp"

namespace vorlak {

const UnpackKernels* avx2_kernels() { return nullptr; }

}  // namespace vorlak
