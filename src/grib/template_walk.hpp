#pragma once
// Reading a described template (template_layouts.hpp) from a section's bytes
// into numbers. The reader locates every repeated group once, when it is
// made: it reads the field that counts the group's entries and checks that
// all of them lie inside the section. A count that does not fit makes that
// group's entries, and every field placed after it, absent; nothing is ever
// read past the section and nothing is allocated.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "grib/framing.hpp"
#include "grib/template_layouts.hpp"

namespace vorlak {

// One field's octets and how to read them.
struct FieldValue {
  std::uint64_t raw = 0;
  std::uint8_t width = 0;  // octets
  SignRule sign = SignRule::Unsigned;

  // Every bit of the field's octets is set.
  bool missing() const;
  // The number the sign rule gives; the bit pattern for Ieee32.
  std::int64_t value() const;
  // value(), or the single-precision number of an Ieee32 field.
  double real() const;
};

// The number of a raw field by a sign rule (the rule the walker applies).
std::int64_t signed_value(std::uint64_t raw, std::uint8_t width, SignRule sign);

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
  // Entries of group g; 0 when it is not located.
  std::uint32_t entries(std::size_t g) const;

  std::optional<FieldValue> get(std::size_t i, std::uint32_t entry = 0) const;
  // The first field with the key (see template_key_id), or by name.
  std::optional<FieldValue> find(std::uint16_t key, std::uint32_t entry = 0) const;
  std::optional<FieldValue> find(std::string_view name, std::uint32_t entry = 0) const;

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
