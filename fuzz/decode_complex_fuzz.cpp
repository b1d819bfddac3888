// Templates 5.2 and 5.3 from arbitrary input. Header: template (1 octet:
// 3 when odd, else 2), missing value management, bits per value, number of
// groups (2 octets; all ones means 2^32 - 1), reference for widths, bits for
// widths, reference for lengths (4), length increment, true length of the
// last group (4), bits for lengths, order of differencing, descriptor octets,
// count (2), R (4), E (2), D (2); the rest is section 7.
#include "fuzz_input.hpp"
#include "grib/decoders.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vorlak::fuzz::InputHeader in(data, size);
  vorlak::DataRepresentation drs;
  drs.dataRepresentationTemplateNumber = (in.u8() & 1) ? 3 : 2;
  drs.missingValueManagement = in.u8();
  drs.bitsPerValue = in.u8();
  const std::uint16_t groups = in.u16();
  drs.numberOfGroups = groups == 0xFFFF ? 0xFFFFFFFFu : groups;
  drs.referenceForGroupWidths = in.u8();
  drs.bitsForGroupWidths = in.u8();
  drs.referenceForGroupLengths = in.u32();
  drs.lengthIncrement = in.u8();
  drs.trueLengthOfLastGroup = in.u32();
  drs.bitsForScaledGroupLengths = in.u8();
  drs.orderOfSpatialDifferencing = in.u8();
  drs.descriptorOctets = in.u8();
  const std::uint64_t count = in.count();
  in.scaling(drs);
  vorlak::fuzz::decode_both_ways(vorlak::unpack_complex, in.payload(), drs, count);
  return 0;
}
