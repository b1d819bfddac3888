// Template 5.4 from arbitrary input. Header: bits per value (1 octet), count
// (2); the rest is section 7.
#include "fuzz_input.hpp"
#include "grib/decoders.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vorlak::fuzz::InputHeader in(data, size);
  vorlak::DataRepresentation drs;
  drs.dataRepresentationTemplateNumber = 4;
  drs.bitsPerValue = in.u8();
  const std::uint64_t count = in.count();
  vorlak::fuzz::decode_both_ways(vorlak::unpack_ieee, in.payload(), drs, count);
  return 0;
}
