#pragma once
// The input format of decode_message_fuzz: fuzz bytes wrapped into a
// well-formed message of one template family, so that mutations land in the
// decoder rather than in the framing.
//
//   octet 0   family (modulo 11): simple, complex, spatial differencing,
//             IEEE, JPEG 2000, CCSDS, GRIB1, PNG, run-length (room for 16
//             level values), spectral simple, logarithmic
//   octet 1   Ni - 1 (modulo 16), octet 2 Nj - 1 (modulo 16)
//   octet 3   flags: 1 a bitmap follows, 2 IEEE in the 21-octet layout
//   then      ceil(Ni * Nj / 8) bitmap octets when flag 1 is set
//   then      the raw header fields of the family (kRawFields octets):
//             GRIB2: section 5 octets 6-9 then 12 to its end;
//             GRIB1: PDS octets 27-28 (D) then BDS octets 4-11
//   the rest  section 7 after its header / BDS from octet 12
//
// Missing octets read as zero. The seed writer makes inputs the other way
// round, from real sections (split_family_input).
#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "support/message_builder.hpp"

namespace vorlak::fuzz {

using test::ByteVec;

enum Family : std::uint8_t {
  kSimple, kComplex, kSpatial, kIeee, kJpeg, kCcsds, kGrib1, kPng, kRunLength, kSpectral, kLogarithmic, kFamilyCount
};

inline constexpr const char* kFamilyNames[kFamilyCount] = {"simple", "complex", "spatial", "ieee",
                                                             "jpeg2000", "ccsds", "grib1", "png",
                                                             "run_length", "spectral", "logarithmic"};

// Run-length sections have room for this many level values.
inline constexpr std::size_t kRunLengthLevels = 16;

// Section 5 template numbers and the length of each section 5.
inline constexpr std::uint16_t kTemplate[kFamilyCount] = {0, 2, 3, 4, 40, 42, 0, 41, 200, 50, 61};
inline constexpr std::size_t kSection5Length[kFamilyCount] = {21, 47, 49, 12, 23, 25, 0,
                                                               21, 17 + 2 * kRunLengthLevels, 24, 24};

inline constexpr std::uint8_t kFlagBitmap = 1;
inline constexpr std::uint8_t kFlagIeeeLongForm = 2;

inline std::size_t raw_field_octets(Family f, std::uint8_t flags) {
  if (f == kGrib1) return 2 + 8;
  const std::size_t length = (f == kIeee && (flags & kFlagIeeeLongForm)) ? 21 : kSection5Length[f];
  return 4 + (length - 11);
}

struct FamilyInput {
  Family family = kSimple;
  std::uint32_t Ni = 1, Nj = 1;
  std::uint8_t flags = 0;
  ByteVec bitmap;  // section 6 bits, when flagged
  ByteVec raw;     // raw_field_octets
  ByteVec payload;
};

inline std::size_t bitmap_octets(const FamilyInput& in) { return (std::size_t{in.Ni} * in.Nj + 7) / 8; }

inline FamilyInput parse_family_input(std::span<const std::uint8_t> data) {
  std::size_t at = 0;
  auto next = [&]() -> std::uint8_t { return at < data.size() ? data[at++] : 0; };
  auto take = [&](std::size_t n) {
    ByteVec out(n, 0);
    for (std::size_t i = 0; i < n && at < data.size(); ++i) out[i] = data[at++];
    return out;
  };
  FamilyInput in;
  in.family = static_cast<Family>(next() % kFamilyCount);
  in.Ni = std::uint32_t{next() % 16u} + 1;
  in.Nj = std::uint32_t{next() % 16u} + 1;
  in.flags = next();
  if (in.flags & kFlagBitmap) in.bitmap = take(bitmap_octets(in));
  in.raw = take(raw_field_octets(in.family, in.flags));
  in.payload.assign(data.begin() + static_cast<std::ptrdiff_t>(std::min(at, data.size())), data.end());
  return in;
}

inline ByteVec serialise_family_input(const FamilyInput& in) {
  ByteVec out{static_cast<std::uint8_t>(in.family), static_cast<std::uint8_t>(in.Ni - 1),
              static_cast<std::uint8_t>(in.Nj - 1), in.flags};
  out.insert(out.end(), in.bitmap.begin(), in.bitmap.end());
  out.insert(out.end(), in.raw.begin(), in.raw.end());
  out.insert(out.end(), in.payload.begin(), in.payload.end());
  return out;
}

inline ByteVec family_message(const FamilyInput& in) {
  using namespace test;
  if (in.family == kGrib1) {
    // PDS with D from the input, a lat/lon GDS, the optional BMS, and a BDS
    // whose octets 4-11 come from the input.
    G1Product product{.has_bms = (in.flags & kFlagBitmap) != 0};
    ByteVec pds = g1_pds(product);
    pds[26] = in.raw[0];
    pds[27] = in.raw[1];
    const ByteVec gds = g1_gds_latlon({.Ni = static_cast<std::uint16_t>(in.Ni),
                                       .Nj = static_cast<std::uint16_t>(in.Nj), .la1 = 60, .lo1 = 0,
                                       .la2 = 60.0 - (in.Nj - 1), .lo2 = in.Ni - 1.0, .di = 1, .dj = 1});
    ByteVec bms;
    if (in.flags & kFlagBitmap) {
      Writer w;
      std::size_t length = 6 + in.bitmap.size();
      const bool pad = length % 2 != 0;
      if (pad) ++length;
      w.u24(length).u8(static_cast<std::uint8_t>((in.bitmap.size() * 8 - std::size_t{in.Ni} * in.Nj) + (pad ? 8 : 0)))
          .u16(0).bytes(in.bitmap);
      if (pad) w.u8(0);
      bms = w.take();
    }
    Writer bds;
    bds.u24(11 + in.payload.size()).bytes(std::span(in.raw).subspan(2, 8)).bytes(in.payload);
    return grib1_message(pds, gds, bms, bds.take());
  }
  Writer s5;
  const bool short_ieee = in.family == kIeee && !(in.flags & kFlagIeeeLongForm);
  const std::size_t length = short_ieee ? 12 : (in.family == kIeee ? 21 : kSection5Length[in.family]);
  s5.u32(length).u8(5).bytes(std::span(in.raw).subspan(0, 4)).u16(kTemplate[in.family])
      .bytes(std::span(in.raw).subspan(4));
  ByteVec bitmap_section =
      (in.flags & kFlagBitmap) ? g2_section6_indicator(0, in.bitmap) : g2_section6_none();
  std::vector<ByteVec> sections{
      g2_section1(),
      g2_section3_latlon({.Ni = in.Ni, .Nj = in.Nj, .la1 = 60, .lo1 = 0, .la2 = 60.0 - (in.Nj - 1),
                          .lo2 = in.Ni - 1.0, .di = 1, .dj = 1}),
      g2_section4(), s5.take(), bitmap_section, g2_section7(in.payload)};
  return grib2_message(sections);
}

// The input that rebuilds a message whose section 5 (GRIB2) or PDS and
// BDS (GRIB1) are given: the inverse of family_message for seeds.
inline FamilyInput split_family_input(Family family, std::uint32_t Ni, std::uint32_t Nj, const ByteVec& bitmap,
                                      const ByteVec& section5_or_pds, const ByteVec& payload_or_bds,
                                      std::uint8_t flags = 0) {
  FamilyInput in;
  in.family = family;
  in.Ni = Ni;
  in.Nj = Nj;
  in.flags = static_cast<std::uint8_t>(flags | (bitmap.empty() ? 0 : kFlagBitmap));
  in.bitmap = bitmap;
  if (family == kGrib1) {
    in.raw = {section5_or_pds[26], section5_or_pds[27]};
    in.raw.insert(in.raw.end(), payload_or_bds.begin() + 3, payload_or_bds.begin() + 11);
    in.payload.assign(payload_or_bds.begin() + 11, payload_or_bds.end());
    return in;
  }
  const ByteVec& s5 = section5_or_pds;
  in.raw.assign(s5.begin() + 5, s5.begin() + 9);
  in.raw.insert(in.raw.end(), s5.begin() + 11, s5.end());
  in.payload = payload_or_bds;
  return in;
}

}  // namespace vorlak::fuzz
