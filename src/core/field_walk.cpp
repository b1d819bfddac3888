#include "core/field_walk.hpp"

#include <cstring>

#include "grib/text.hpp"

namespace vorlak {
namespace {

constexpr std::uint64_t kIndicatorLength = 16;

void append(std::vector<std::uint8_t>& out, Bytes message, SectionSlice span) {
  out.insert(out.end(), message.begin() + static_cast<std::ptrdiff_t>(span.offset),
             message.begin() + static_cast<std::ptrdiff_t>(span.offset + span.length));
}

}  // namespace

namespace {

// Walks the sections of `message`; a section that runs past its end stops
// the walk with `cut` set to the text saying so.
struct Walk {
  std::vector<FieldSections> fields;
  FieldSections current;
  std::optional<std::string> cut;
};

Walk walk(Bytes message) {
  Walk w;
  SectionSlice defined_bitmap;  // the latest section 6 with indicator 0
  std::uint64_t at = kIndicatorLength;
  while (message.size() >= 5 && at <= message.size() - 5) {
    if (std::memcmp(message.data() + at, "7777", 4) == 0) break;
    const std::uint32_t length = load_u32_be(message.data() + at);
    const std::uint8_t number = message[at + 4];
    if (length < 5 || length > message.size() - at) {
      w.cut = str_cat("invalid GRIB2 section ", number, " length ", length);
      return w;
    }
    const SectionSlice span{at, length};
    FieldSections& current = w.current;
    if (number >= 1 && number <= 7) current.section[number] = span;
    if (number == 6) {
      // Octet 6: the bitmap indicator (a 5-octet section has none).
      const int indicator = length > 5 ? message[at + 5] : -1;
      current.error.reset();
      current.bitmap = {};
      if (indicator == 0) {
        current.bitmap = span;
        defined_bitmap = span;
      } else if (indicator == 254) {
        if (defined_bitmap) {
          current.bitmap = defined_bitmap;
        } else {
          current.error = "bitmap indicator 254 refers to an earlier bitmap, but the message defines none before it";
        }
      } else {
        // 255 (no bitmap) and the indicators the decoders refuse: the
        // section is read as it is.
        current.bitmap = span;
      }
    }
    if (number == 7) {
      w.fields.push_back(current);
    }
    at += length;
  }
  return w;
}

}  // namespace

Result<std::vector<FieldSections>> walk_fields(Bytes message) {
  if (message.size() < kIndicatorLength) return fail("input is not a GRIB message");
  Walk w = walk(message);
  if (w.cut) return fail(std::move(*w.cut));
  if (w.fields.empty()) w.fields.push_back(w.current);
  return std::move(w.fields);
}

CutFields walk_cut_fields(Bytes bytes) {
  CutFields out;
  if (bytes.size() < kIndicatorLength) return out;
  Walk w = walk(bytes);
  out.fields = std::move(w.fields);
  if (w.cut) {
    w.current.error = str_cat("the field is cut short: ", *w.cut, " runs past the end of the data");
    out.fields.push_back(std::move(w.current));
    out.cut = true;
  }
  return out;
}

std::vector<std::uint8_t> single_field_message(Bytes message, const FieldSections& field, FieldContent content) {
  std::vector<std::uint8_t> out(message.begin(), message.begin() + kIndicatorLength);
  for (int number = 1; number <= 5; ++number) {
    if (field.section[number]) append(out, message, field.section[number]);
  }
  if (content == FieldContent::Whole) {
    if (field.bitmap) append(out, message, field.bitmap);
    if (field.section[7]) append(out, message, field.section[7]);
  } else if (content == FieldContent::Grid) {
    const std::uint8_t empty_section7[] = {0, 0, 0, 5, 7};
    out.insert(out.end(), std::begin(empty_section7), std::end(empty_section7));
  }
  out.insert(out.end(), {'7', '7', '7', '7'});
  const std::uint64_t total = out.size();
  for (int i = 0; i < 8; ++i) out[8 + i] = static_cast<std::uint8_t>(total >> (56 - 8 * i));
  return out;
}

}  // namespace vorlak
