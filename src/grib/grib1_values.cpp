// GRIB1 simple unpacking of the binary data section. BDS layout: octets 1-3
// length, octet 4 flags (low four bits: unused bits at the end), 5-6 binary
// scale factor E, 7-10 IBM reference value R, 11 bits per value, packed
// values from octet 12, most significant bit first, no alignment between
// values. value = (X * 2^E + R) / 10^D.
#include <cstring>

#include "grib/decode_message.hpp"
#include "grib/point_count.hpp"
#include "grib/text.hpp"

namespace vorlak {

namespace {

constexpr std::size_t kBdsHeaderOctets = 11;

// r = base^|e| by repeated squaring, inverted for a negative exponent.
double int_power(double base, std::int32_t exponent) {
  std::uint32_t n = exponent < 0 ? 0u - static_cast<std::uint32_t>(exponent)
                                 : static_cast<std::uint32_t>(exponent);
  double result = (n & 1u) ? base : 1.0;
  while (n >> 1) {
    n >>= 1;
    base *= base;
    if (n & 1u) result *= base;
  }
  return exponent < 0 ? 1.0 / result : result;
}

// `width` bits (1 to 64) at bit offset `bit`; octets past `size` read as zero.
std::uint64_t read_bits_slow(const std::uint8_t* data, std::size_t size, std::uint64_t bit,
                             unsigned width) {
  unsigned __int128 acc = 0;
  std::uint64_t octet = bit >> 3;
  const unsigned skip = static_cast<unsigned>(bit & 7);
  unsigned held = 0;
  while (held < skip + width) {
    acc = (acc << 8) | (octet < size ? data[octet] : 0u);
    ++octet;
    held += 8;
  }
  acc >>= held - skip - width;
  const std::uint64_t mask = width == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1;
  return static_cast<std::uint64_t>(acc) & mask;
}

inline std::uint64_t load_u64_be_at(const std::uint8_t* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return __builtin_bswap64(word);
}

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
  std::vector<double> values(count);
  std::uint64_t bit = 0;
  std::uint64_t i = 0;
  if (width <= 57) {
    // One unaligned 8-octet load holds the whole value while it fits.
    const unsigned drop = 64 - width;
    for (; i < count && (bit >> 3) + 8 <= size; ++i, bit += width) {
      const std::uint64_t word = load_u64_be_at(data + (bit >> 3));
      const std::uint64_t x = (word << (bit & 7)) >> drop;
      values[i] = (static_cast<double>(x) * binary + reference) / decimal;
    }
  }
  for (; i < count; ++i, bit += width) {
    const std::uint64_t x = read_bits_slow(data, size, bit, width);
    values[i] = (static_cast<double>(x) * binary + reference) / decimal;
  }
  return values;
}

}  // namespace vorlak
