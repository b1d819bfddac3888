#pragma once
// Reading a described template (template_layouts.hpp) from a section's bytes
// into numbers. The reader locates every repeated group once, when it is
// made: it reads the field that counts the group's entries and checks that
// all of them lie inside the section. A count that does not fit makes that
// group's entries, and every field placed after it, absent; nothing is ever
// read past the section and nothing is allocated.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

#include "grib/framing.hpp"
#include "grib/template_layouts.hpp"

namespace vorlak {

namespace template_detail {

inline std::int64_t clamp_unsigned(std::uint64_t v) {
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  return static_cast<std::int64_t>(std::min(v, kMax));
}

}  // namespace template_detail

// The number of a raw field by a sign rule (the rule the walker applies).
inline std::int64_t signed_value(std::uint64_t raw, std::uint8_t width, SignRule sign) {
  using template_detail::clamp_unsigned;
  if (width == 0) return 0;
  const unsigned bits = 8u * std::min<unsigned>(width, 8);
  const std::uint64_t top = std::uint64_t{1} << (bits - 1);
  switch (sign) {
    case SignRule::Unsigned:
    case SignRule::Ieee32: return clamp_unsigned(raw);
    case SignRule::ScaleFactor:
      // One octet: small factors either way; 0x81-0xBF read as sign and
      // magnitude, 0xC0-0xFF as two's complement.
      if (width == 1) {
        if (raw < 0x80) return static_cast<std::int64_t>(raw);
        if (raw < 0xC0) return -static_cast<std::int64_t>(raw & 0x7F);
        return static_cast<std::int64_t>(raw) - 256;
      }
      [[fallthrough]];
    case SignRule::SignMagnitude: {
      const std::int64_t magnitude = clamp_unsigned(raw & (top - 1));
      return (raw & top) ? -magnitude : magnitude;
    }
    case SignRule::TwosComplement:
      if (bits == 64) return static_cast<std::int64_t>(raw);
      return (raw & top) ? static_cast<std::int64_t>(raw) - static_cast<std::int64_t>(top << 1)
                         : static_cast<std::int64_t>(raw);
  }
  return clamp_unsigned(raw);
}

// One field's octets and how to read them.
struct FieldValue {
  std::uint64_t raw = 0;
  std::uint8_t width = 0;  // octets
  SignRule sign = SignRule::Unsigned;

  // Every bit of the field's octets is set.
  bool missing() const;
  // The number the sign rule gives; the bit pattern for Ieee32.
  std::int64_t value() const { return signed_value(raw, width, sign); }
  // value(), or the single-precision number of an Ieee32 field.
  double real() const;
};

// A fixed field that no repeated group precedes lies at the same octets in
// every section of its template: where it is, resolved once from the
// layout, so that a hot reader (section 5 in the scan) reads it with one
// length check and no walk.
struct FixedPlace {
  std::uint32_t offset = 0;  // 0-based within the section
  std::uint8_t width = 0;    // octets, 1 to 8
  SignRule sign = SignRule::Unsigned;

  // The octets just past the field: a section at least this long holds it.
  std::uint32_t end() const { return offset + width; }
  // The field of a section that holds it (see end()).
  FieldValue read(Bytes section) const {
    std::uint64_t raw = 0;
    for (std::uint8_t k = 0; k < width; ++k) raw = (raw << 8) | section[offset + k];
    return FieldValue{raw, width, sign};
  }
};

// Field i's fixed place; none for an entry field, one after a group, or an
// index past the layout.
std::optional<FixedPlace> fixed_place(const TemplateLayout& layout, std::size_t i);

class TemplateReader {
 public:
  static constexpr std::size_t kMaxGroups = 8;

  // `section` is the whole section (octet 1 is its length). A null layout
  // reads nothing: every field is absent.
  TemplateReader(const TemplateLayout* layout, Bytes section);

  const TemplateLayout* layout() const { return layout_; }
  Bytes section() const { return section_; }

  // Entries of field i: 1 for a fixed field inside the section, the entry
  // count for an entry field of a located group, 0 when it is absent.
  std::uint32_t count(std::size_t i) const;

  std::optional<FieldValue> get(std::size_t i, std::uint32_t entry = 0) const;
  // The first field with the key (see template_key_id).
  std::optional<FieldValue> find(std::uint16_t key, std::uint32_t entry = 0) const;

 private:
  struct Located {
    std::uint64_t shift = 0;  // octets the groups before this one add
    std::uint32_t count = 0;
    std::uint16_t stride = 0;
  };
  // 0-based offset of field i's entry, and its width; none when absent.
  std::optional<std::pair<std::uint64_t, std::uint8_t>> place(std::size_t i, std::uint32_t entry) const;
  std::optional<FieldValue> read_at(std::uint64_t offset, std::uint8_t width, SignRule sign) const;

  const TemplateLayout* layout_ = nullptr;
  Bytes section_;
  std::array<Located, kMaxGroups> groups_{};
  std::uint64_t shift_after_ = 0;  // octets all located groups add
  std::uint8_t located_ = 0;       // groups 0 .. located_-1 are located
};

}  // namespace vorlak
