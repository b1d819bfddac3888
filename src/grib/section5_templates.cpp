// Octets are 1-based within section 5, as in the WMO tables.
//   5.50  21-24 real part of the (0,0) coefficient (IEEE single precision)
//   5.61  21-24 pre-processing parameter B (IEEE single precision)
//   5.200 12 V, 13-14 MV, 15-16 MVL, 17 decimal scale factor of the level
//         values (sign-magnitude), 18 + 2(lv - 1) the scaled value of level lv
#include "grib/section5_templates.hpp"

namespace vorlak {

namespace {

std::optional<std::uint32_t> float_bits_at_21(Bytes s) {
  if (s.size() < 24) return std::nullopt;
  return load_u32_be(s.data() + 20);
}

}  // namespace

void read_spectral_simple_template(Bytes s, DataRepresentation& drs) {
  drs.realPartOfFirstCoefficient = float_bits_at_21(s);
}

void read_logarithm_template(Bytes s, DataRepresentation& drs) {
  drs.preProcessingParameter = float_bits_at_21(s);
}

void read_run_length_template(Bytes s, DataRepresentation& drs) {
  RunLengthLevels& r = drs.runLength;
  r = RunLengthLevels{};
  if (s.size() < 17) return;
  r.bitsPerValue = s[11];
  r.maxLevelUsed = load_u16_be(s.data() + 12);
  r.maxLevel = load_u16_be(s.data() + 14);
  const std::uint8_t scale = s[16];
  r.decimalScaleFactor = static_cast<std::int8_t>((scale & 0x80) ? -(scale & 0x7F) : scale);
  const std::size_t held = (s.size() - 17) / 2;
  const std::size_t n = held < r.maxLevel ? held : r.maxLevel;
  r.levelValues.resize(n);
  for (std::size_t k = 0; k < n; ++k) r.levelValues[k] = load_u16_be(s.data() + 17 + 2 * k);
}

}  // namespace vorlak
