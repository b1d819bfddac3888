// Template 5.200 from arbitrary input. Header: V (1 octet), MV (2), MVL (2),
// level scale factor (1, sign-magnitude), count (2), the number of level
// values listed (1 octet, at most 64 and MVL, so that short lists occur),
// those values (2 octets each); the rest is section 7.
#include <algorithm>
#include <cmath>

#include "fuzz_input.hpp"
#include "grib/decoders.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vorlak::fuzz::InputHeader in(data, size);
  vorlak::DataRepresentation drs;
  drs.dataRepresentationTemplateNumber = 200;
  vorlak::RunLengthLevels& r = drs.runLength;
  r.bitsPerValue = in.u8();
  r.maxLevelUsed = in.u16();
  r.maxLevel = in.u16();
  const std::uint8_t scale = in.u8();
  r.decimalScaleFactor = static_cast<std::int8_t>((scale & 0x80) ? -(scale & 0x7F) : scale);
  const std::uint64_t count = in.count();
  const unsigned listed = std::min<unsigned>(r.maxLevel, in.u8() % 65);
  for (unsigned k = 0; k < listed; ++k) r.levelValues.push_back(in.u16());
  auto values = vorlak::unpack_run_length(in.payload(), drs, count);
  if (!values) return 0;
  if (values->size() != count) __builtin_trap();
  // Every value is missing or one of the listed levels.
  for (double v : *values) {
    if (std::isnan(v)) continue;
    if (r.levelValues.empty()) __builtin_trap();
  }
  return 0;
}
