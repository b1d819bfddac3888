#pragma once
// Packed unsigned integers read most significant bit first, the integer
// power used for every 2^E and 10^-D, and the scaling rule built on them.
#include <bit>
#include <cstdint>

#include "grib/grib2_sections.hpp"
#include "grib/kernels/unpack_kernels.hpp"
#include "grib/result.hpp"

namespace vorlak {

inline constexpr const char* kNotEnoughPackedBits = "not enough packed bits remaining";
inline constexpr const char* kReadWidthTooLarge = "BitReader only supports reads up to 64 bits";

// base^exponent by repeated squaring; a negative exponent gives the
// reciprocal of the positive power. Values of this system are defined by it.
double int_power(double base, std::int32_t exponent);

// R widened, 2^E and 10^(-D) of section 5.
ScaleFactors scale_factors(const DataRepresentation& drs);

// The value of every point of a field packed with 0 bits per value.
inline double constant_value(const ScaleFactors& scale) { return apply_scale(0.0, scale); }

// A position in packed bits, for decoders that hand runs of values to the
// kernels (unpack_kernels.hpp) themselves: it checks that runs are there
// and steps over them.
class BitReader {
 public:
  explicit BitReader(Bytes bytes) : bytes_(bytes) {}

  // Drops the rest of a partly read octet.
  void align_to_byte() { position_ = (position_ + 7) & ~std::uint64_t{7}; }

  std::uint64_t bit_position() const { return position_; }
  std::uint64_t bits_remaining() const { return std::uint64_t{bytes_.size()} * 8 - position_; }
  // True when `count` values of `width` bits are still there (no overflow).
  bool has_bits(std::uint64_t width, std::uint64_t count) const {
    return width == 0 || count <= bits_remaining() / width;
  }
  void skip_bits(std::uint64_t bits) { position_ += bits; }  // caller checked has_bits

 private:
  Bytes bytes_;
  std::uint64_t position_ = 0;  // bits consumed; never past 8 * size
};

}  // namespace vorlak
