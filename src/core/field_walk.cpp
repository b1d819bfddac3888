#include "core/field_walk.hpp"

#include <cstring>

#include "grib/text.hpp"

namespace vorlak {
namespace {

constexpr std::uint64_t kIndicatorLength = 16;

bool within(Bytes message, const SectionSpan& span) {
  return span.present() && span.offset <= message.size() && span.length <= message.size() - span.offset;
}

void append(std::vector<std::uint8_t>& out, Bytes message, const SectionSpan& span) {
  if (!within(message, span)) return;
  out.insert(out.end(), message.begin() + static_cast<std::ptrdiff_t>(span.offset),
             message.begin() + static_cast<std::ptrdiff_t>(span.offset + span.length));
}

// Octet 6 of a section 6: its bitmap indicator; none for a 5-octet section.
std::optional<std::uint8_t> bitmap_indicator(Bytes message, const SectionSpan& span) {
  if (!within(message, span) || span.length < 6) return std::nullopt;
  return message[span.offset + 5];
}

}  // namespace

std::vector<std::uint8_t> single_field_message(Bytes message, const FieldSpans& field) {
  std::vector<std::uint8_t> out(message.begin(), message.begin() + static_cast<std::ptrdiff_t>(
                                                                         std::min<std::uint64_t>(kIndicatorLength,
                                                                                                 message.size())));
  out.resize(kIndicatorLength, 0);
  for (const SectionSpan* span : {&field.identification, &field.local, &field.grid, &field.product,
                                  &field.representation}) {
    append(out, message, *span);
  }
  // The bitmap that applies takes the place of a 254 that points to it.
  append(out, message, field.bitmap_source.present() ? field.bitmap_source : field.bitmap);
  append(out, message, field.data);
  out.insert(out.end(), {'7', '7', '7', '7'});
  const std::uint64_t total = out.size();
  for (int i = 0; i < 8; ++i) out[8 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(total >> (56 - 8 * i));
  return out;
}

std::optional<std::string> field_error(Bytes message, const FieldSpans& field) {
  if (bitmap_indicator(message, field.bitmap) == 254 && !field.bitmap_source.present()) {
    return "bitmap indicator 254 refers to an earlier bitmap, but the message defines none before it";
  }
  return std::nullopt;
}

CutFields walk_cut_fields(Bytes bytes) {
  CutFields out;
  if (bytes.size() < kIndicatorLength) return out;
  FieldSpans current;
  SectionSpan last_bitmap;  // the latest section 6 holding a bitmap
  std::uint64_t at = kIndicatorLength;
  while (bytes.size() >= 5 && at <= bytes.size() - 5) {
    if (std::memcmp(bytes.data() + at, "7777", 4) == 0) break;
    const std::uint32_t length = load_u32_be(bytes.data() + at);
    const std::uint8_t number = bytes[at + 4];
    if (length < 5 || length > bytes.size() - at) {
      out.cut = str_cat("the field is cut short: its section ", number, " of ", length, " octets runs past the end of the data");
      out.fields.push_back(current);
      return out;
    }
    const SectionSpan span{at, length};
    switch (number) {
      case 1: current.identification = span; break;
      case 2: current.local = span; break;
      case 3: current.grid = span; break;
      case 4: current.product = span; break;
      case 5: current.representation = span; break;
      case 6: {
        // The same rule as the scan: 0 defines a bitmap, 254 reuses the
        // latest one defined, anything else has none to reuse.
        current.bitmap = span;
        current.bitmap_source = {};
        const auto indicator = bitmap_indicator(bytes, span);
        if (indicator == 0) last_bitmap = current.bitmap_source = span;
        if (indicator == 254) current.bitmap_source = last_bitmap;
        break;
      }
      case 7:
        current.data = span;
        out.fields.push_back(current);
        break;
      default: break;
    }
    at += length;
  }
  return out;
}

}  // namespace vorlak
