#pragma once
// Reading one field of a GRIB2 message that carries several, with the
// sections the scan records for it (FieldSpans): the one-field message made
// of exactly its sections, for the readers of whole messages; the fields of
// a message cut short, which the scan does not accept; and the fields no
// reader can read whatever it is (a bitmap reuse without an earlier bitmap).
//
//   octets 1-16   indicator section (16 octets, total length in 9-16)
//   then sections: octets 1-4 length, octet 5 number, the rest its body
//   last 4 octets "7777"
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "grib/framing.hpp"
#include "grib/message_record.hpp"

namespace vorlak {

// Section 0 of `message` (its total length rewritten), the field's sections
// 1 to 7 in order with the bitmap that applies as its section 6, then
// "7777". Spans outside `message` are left out.
std::vector<std::uint8_t> single_field_message(Bytes message, const FieldSpans& field);

// Set when the field cannot be read: its section 6 says 254 (the bitmap
// defined earlier in the message applies) and the message defines none
// before it.
std::optional<std::string> field_error(Bytes message, const FieldSpans& field);

// The fields of a message cut short (its bytes end before its stated
// length): the spans of the fields complete in `bytes`, then those of the
// field the cut falls in, with the text saying where (none when only the
// end marker is cut).
struct CutFields {
  std::vector<FieldSpans> fields;
  std::optional<std::string> cut;  // set: the last entry is the field the cut falls in
  std::size_t complete() const { return fields.size() - (cut ? 1 : 0); }
};
CutFields walk_cut_fields(Bytes bytes);

}  // namespace vorlak
