// Template 5.42 from arbitrary input. Header: bits per value (1 octet),
// compression options mask, block size, reference sample interval (2),
// count (2), R (4), E (2), D (2); the rest is section 7, an AEC stream.
#include "fuzz_input.hpp"
#include "grib/decoders.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vorlak::fuzz::InputHeader in(data, size);
  vorlak::DataRepresentation drs;
  drs.dataRepresentationTemplateNumber = 42;
  drs.bitsPerValue = in.u8();
  drs.ccsdsFlags = in.u8();
  drs.ccsdsBlockSize = in.u8();
  drs.ccsdsReferenceSampleInterval = in.u16();
  const std::uint64_t count = in.count();
  in.scaling(drs);
  vorlak::fuzz::decode_both_ways(vorlak::unpack_ccsds, in.payload(), drs, count);
  return 0;
}
