#pragma once
// The fields of one GRIB2 message. A message may carry several fields by
// repeating sections: 2 to 7, 3 to 7 or 4 to 7 (and any later section in
// between). Each section 7 ends a field, whose sections are the latest of
// each number before it. Its bitmap is its own section 6 for indicator 0;
// for indicator 254 the latest earlier section 6 of the message that
// defines one (indicator 0); none for 255.
//
//   octets 1-16   indicator section (16 octets, total length in 9-16)
//   then sections: octets 1-4 length, octet 5 number, the rest its body
//   last 4 octets "7777"
//
// A field of a multi-field message is read as the one-field message that
// holds exactly its sections (single_field_message), so that every reader
// of whole messages reads it unchanged.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "grib/framing.hpp"
#include "grib/result.hpp"

namespace vorlak {

// Offset and length within the message; length 0: absent.
struct SectionSlice {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  explicit operator bool() const { return length != 0; }
};

struct FieldSections {
  // The sections in effect, by number (0 unused).
  std::array<SectionSlice, 8> section{};
  // The section 6 whose bitmap applies: section[6] itself, an earlier one
  // (indicator 254), or absent.
  SectionSlice bitmap;
  // Set when the field cannot be read whatever the reader (a 254 without an
  // earlier bitmap).
  std::optional<std::string> error;
};

// One entry per section 7 (one entry when there is none). Fails only on a
// section whose length is below 5 or runs past the message.
Result<std::vector<FieldSections>> walk_fields(Bytes message);

// The fields of a message cut short (its bytes end before its stated
// length): the fields complete in `bytes`, then the field the cut falls in,
// with its error set (none when only the end marker is cut).
struct CutFields {
  std::vector<FieldSections> fields;
  bool cut = false;  // the last entry is the field the cut falls in
  std::size_t complete() const { return fields.size() - (cut ? 1 : 0); }
};
CutFields walk_cut_fields(Bytes bytes);

// What a one-field message is made for: the keys (sections 1 to 5), the
// grid (and an empty section 7, as the decoding walk wants one), or
// everything (sections 1 to 7, the bitmap in effect as section 6).
enum class FieldContent : std::uint8_t { Keys, Grid, Whole };

// Section 0 of `message` (its total length rewritten), the field's sections
// in order, then "7777".
std::vector<std::uint8_t> single_field_message(Bytes message, const FieldSections& field, FieldContent content);

}  // namespace vorlak
