// Template 5.41 from arbitrary input. Header: bits per value (1 octet),
// count (2), R (4), E (2), D (2); the rest is section 7, a PNG image.
#include "fuzz_input.hpp"
#include "grib/decoders.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vorlak::fuzz::InputHeader in(data, size);
  vorlak::DataRepresentation drs;
  drs.dataRepresentationTemplateNumber = 41;
  drs.bitsPerValue = in.u8();
  const std::uint64_t count = in.count();
  in.scaling(drs);
  auto values = vorlak::unpack_png(in.payload(), drs, count);
  if (values && values->size() != count) __builtin_trap();
  return 0;
}
