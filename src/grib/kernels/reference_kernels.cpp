// Reference kernels: one bit at a time, one value at a time. Slow and
// obviously right; the other kernel sets are tested against these.
#include <bit>
#include <cstring>

#include "grib/kernels/run_loops.hpp"
#include "grib/kernels/unpack_kernels.hpp"

namespace vorlak {
namespace {

std::uint64_t read_bits(const std::uint8_t* data, std::uint64_t bit_offset, unsigned width) {
  std::uint64_t value = 0;
  for (unsigned i = 0; i < width; ++i) {
    const std::uint64_t bit = bit_offset + i;
    value = (value << 1) | ((data[bit >> 3] >> (7 - (bit & 7))) & 1u);
  }
  return value;
}

void unpack(const std::uint8_t* data, std::size_t, std::uint64_t bit_offset, unsigned width, std::size_t count,
            std::uint64_t* out) {
  for (std::size_t i = 0; i < count; ++i) out[i] = read_bits(data, bit_offset + i * width, width);
}

void unpack_scaled(const std::uint8_t* data, std::size_t, std::uint64_t bit_offset, unsigned width,
                   std::size_t count, std::uint64_t add, const ScaleFactors& scale, double* out) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t x = read_bits(data, bit_offset + i * width, width);
    out[i] = apply_scale(static_cast<double>(static_cast<std::int64_t>(x + add)), scale);
  }
}

void unpack_order1_scaled(const std::uint8_t* data, std::size_t, std::uint64_t bit_offset, unsigned width,
                          std::size_t count, std::int64_t bias, std::int64_t* value, const ScaleFactors& scale,
                          double* out) {
  std::uint64_t v = static_cast<std::uint64_t>(*value);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t x = read_bits(data, bit_offset + i * width, width);
    v += static_cast<std::uint64_t>(bias) + x;
    out[i] = apply_scale(static_cast<double>(static_cast<std::int64_t>(v)), scale);
  }
  *value = static_cast<std::int64_t>(v);
}

void unpack_order2_scaled(const std::uint8_t* data, std::size_t, std::uint64_t bit_offset, unsigned width,
                          std::size_t count, std::int64_t bias, std::int64_t* value, std::int64_t* difference,
                          const ScaleFactors& scale, double* out) {
  std::uint64_t v = static_cast<std::uint64_t>(*value);
  std::uint64_t d = static_cast<std::uint64_t>(*difference);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t x = read_bits(data, bit_offset + i * width, width);
    d += static_cast<std::uint64_t>(bias) + x;
    v += d;
    out[i] = apply_scale(static_cast<double>(static_cast<std::int64_t>(v)), scale);
  }
  *value = static_cast<std::int64_t>(v);
  *difference = static_cast<std::int64_t>(d);
}

void ieee32_be(const std::uint8_t* data, std::size_t count, double* out) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* p = data + 4 * i;
    const std::uint32_t bits = (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
                               (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
    out[i] = static_cast<double>(std::bit_cast<float>(bits));
  }
}

void ieee64_be(const std::uint8_t* data, std::size_t count, double* out) {
  for (std::size_t i = 0; i < count; ++i) {
    std::uint64_t bits = 0;
    for (int k = 0; k < 8; ++k) bits = (bits << 8) | data[8 * i + k];
    out[i] = std::bit_cast<double>(bits);
  }
}

constexpr UnpackKernels kReference{
    "reference",
    unpack,
    unpack_scaled,
    unpack_order1_scaled,
    unpack_order2_scaled,
    kernels::runs_scaled_by<unpack_scaled>,
    kernels::runs_order1_by<unpack_order1_scaled>,
    kernels::runs_order2_by<unpack_order2_scaled>,
    ieee32_be,
    ieee64_be,
};

}  // namespace

const UnpackKernels& reference_kernels() { return kReference; }

}  // namespace vorlak
