// GRIB1 simple unpacking of the binary data section. BDS layout: octets 1-3
// length, octet 4 flags (low four bits: unused bits at the end), 5-6 binary
// scale factor E, 7-10 IBM reference value R, 11 bits per value, packed
// values from octet 12, most significant bit first, no alignment between
// values. value = (X * 2^E + R) / 10^D.
#include <algorithm>

#include "grib/bit_reader.hpp"
#include "grib/decode_message.hpp"
#include "grib/point_count.hpp"
#include "grib/text.hpp"

namespace vorlak {

namespace {

constexpr std::size_t kBdsHeaderOctets = 11;
// Packed integers are unpacked this many at a time into a small buffer, then
// scaled into the output.
constexpr std::size_t kChunk = 2048;

}  // namespace

Result<std::vector<double>> unpack_grib1(Bytes bds, const Grib1DataHeader& header,
                                         std::int16_t decimal_scale, std::uint64_t count) {
  if (bds.size() < kBdsHeaderOctets) return fail("GRIB1 BDS missing payload");
  if (auto ok = check_point_count(count); !ok) return fail(ok.error());

  const double binary = int_power(2.0, header.binaryScaleFactor);
  const double decimal = int_power(10.0, decimal_scale);
  const double reference = header.referenceValue;
  const unsigned width = header.bitsPerValue;

  if (width == 0) return std::vector<double>(count, (0.0 * binary + reference) / decimal);

  const std::uint64_t payload_bits = (bds.size() - kBdsHeaderOctets) * 8;
  const std::uint64_t usable = payload_bits > header.unused_bits ? payload_bits - header.unused_bits : 0;
  const std::uint64_t required = count * width;
  if (usable < required) {
    return fail(str_cat("GRIB1 payload has ", usable, " usable bits but ", required, " are required"));
  }
  if (count == 0) return std::vector<double>{};
  if (width > 64) return fail("BitReader only supports reads up to 64 bits");

  // The check above guarantees every value lies inside the payload.
  const std::uint8_t* data = bds.data() + kBdsHeaderOctets;
  const std::size_t size = bds.size() - kBdsHeaderOctets;
  const UnpackKernels& kernels = active_kernels();
  std::vector<double> values(count);
  std::uint64_t raw[kChunk];
  for (std::uint64_t done = 0; done < count;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, count - done));
    kernels.unpack(data, size, done * width, width, n, raw);
    for (std::size_t k = 0; k < n; ++k) {
      values[done + k] = (static_cast<double>(raw[k]) * binary + reference) / decimal;
    }
    done += n;
  }
  return values;
}

}  // namespace vorlak
