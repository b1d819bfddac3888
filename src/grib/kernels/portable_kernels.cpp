// Portable kernels: plain C++ the compiler can schedule and, for the
// byte-aligned widths and the IEEE loops, vectorise for the baseline CPU.
#include <bit>

#include "grib/kernels/run_loops.hpp"
#include "grib/kernels/unpack_kernels.hpp"
#include "grib/kernels/value_walk.hpp"

namespace vorlak {
namespace {

using kernels::walk_values;

void unpack(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset, unsigned width,
            std::size_t count, std::uint64_t* out) {
  walk_values(data, nbytes, bit_offset, width, count, [out](std::size_t i, std::uint64_t x) { out[i] = x; });
}

template <bool kSmall>
void unpack_scaled_as(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset, unsigned width,
                      std::size_t count, std::uint64_t add, const ScaleFactors& scale, double* out) {
  const ScaleFactors s = scale;
  walk_values(data, nbytes, bit_offset, width, count, [out, add, s](std::size_t i, std::uint64_t x) {
    const auto v = static_cast<std::int64_t>(x + add);
    const double d = kSmall ? kernels::small_int_to_double(v) : static_cast<double>(v);
    out[i] = apply_scale(d, s);
  });
}

void unpack_scaled(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset, unsigned width,
                   std::size_t count, std::uint64_t add, const ScaleFactors& scale, double* out) {
  if (kernels::sums_are_small(width, add)) {
    unpack_scaled_as<true>(data, nbytes, bit_offset, width, count, add, scale, out);
  } else {
    unpack_scaled_as<false>(data, nbytes, bit_offset, width, count, add, scale, out);
  }
}

void unpack_order1_scaled(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset, unsigned width,
                          std::size_t count, std::int64_t bias, std::int64_t* value, const ScaleFactors& scale,
                          double* out) {
  const ScaleFactors s = scale;
  std::uint64_t v = static_cast<std::uint64_t>(*value);
  const auto b = static_cast<std::uint64_t>(bias);
  walk_values(data, nbytes, bit_offset, width, count, [&v, b, s, out](std::size_t i, std::uint64_t x) {
    v += b + x;
    out[i] = apply_scale(static_cast<double>(static_cast<std::int64_t>(v)), s);
  });
  *value = static_cast<std::int64_t>(v);
}

void unpack_order2_scaled(const std::uint8_t* data, std::size_t nbytes, std::uint64_t bit_offset, unsigned width,
                          std::size_t count, std::int64_t bias, std::int64_t* value, std::int64_t* difference,
                          const ScaleFactors& scale, double* out) {
  const ScaleFactors s = scale;
  std::uint64_t v = static_cast<std::uint64_t>(*value);
  std::uint64_t d = static_cast<std::uint64_t>(*difference);
  const auto b = static_cast<std::uint64_t>(bias);
  walk_values(data, nbytes, bit_offset, width, count, [&v, &d, b, s, out](std::size_t i, std::uint64_t x) {
    d += b + x;
    v += d;
    out[i] = apply_scale(static_cast<double>(static_cast<std::int64_t>(v)), s);
  });
  *value = static_cast<std::int64_t>(v);
  *difference = static_cast<std::int64_t>(d);
}

void ieee32_be(const std::uint8_t* data, std::size_t count, double* out) {
  for (std::size_t i = 0; i < count; ++i) {
    out[i] = static_cast<double>(std::bit_cast<float>(kernels::load_be32(data + 4 * i)));
  }
}

void ieee64_be(const std::uint8_t* data, std::size_t count, double* out) {
  for (std::size_t i = 0; i < count; ++i) out[i] = std::bit_cast<double>(kernels::load_be64(data + 8 * i));
}

constexpr UnpackKernels kPortable{
    "portable",
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

const UnpackKernels& portable_kernels() { return kPortable; }

}  // namespace vorlak
