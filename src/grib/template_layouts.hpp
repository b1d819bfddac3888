#pragma once
// The layouts of the GRIB2 templates of sections 3, 4 and 5, generated from
// the WMO template tables by tools/gen_templates.py into
// generated/template_layouts.cpp: for every template its fields in octet
// order (key, octet, width, sign rule, code table) and its repeated groups
// (time ranges of statistical processing, spectral bands, lists) with the field that
// counts their entries. Every layout starts with the section's own header
// fields (section 3 octets 6-14, section 4 octets 6-9, section 5 octets
// 6-11). TemplateReader (template_walk.hpp) reads them from a section.
//
// Positions: a field's `octet` is its first octet (1-based, as in the WMO
// tables) when every group before it is empty. A field lies `count * stride`
// further for each of the first `preceding` groups; an entry field of group
// g also lies `entry * stride` further.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

namespace vorlak {

// How a field's octets become a number. Whatever the rule, a field whose
// octets are all ones is missing.
enum class SignRule : std::uint8_t {
  Unsigned,
  SignMagnitude,   // sign in the top bit (WMO's rule for signed fields)
  TwosComplement,  // time offsets as producers write them: 0xFFFFFFF9 is -7
  ScaleFactor,     // one octet: 0x81-0xBF sign-magnitude, 0xC0-0xFE two's complement
  Ieee32,          // IEEE single precision bit pattern
};

inline constexpr std::uint16_t kRemaining = 0xFFFF;  // group count: as many entries as the section holds
inline constexpr std::uint16_t kNoField = 0xFFFF;

struct TemplateField {
  std::uint16_t key;       // template_key_name(key)
  std::uint16_t octet;     // first octet with every earlier group empty
  std::uint8_t width;      // octets (1 to 8); 0: the group's width field gives it
  SignRule sign;
  std::uint8_t group;      // 0: a fixed field; g + 1: an entry field of group g
  std::uint8_t preceding;  // groups before the field (an entry field: before its group)
  std::uint16_t table;     // code table S.T as S * 1000 + T, plus kFlagTable for flag tables; 0: none
};

inline constexpr std::uint16_t kFlagTable = 0x8000;

struct TemplateGroup {
  std::uint16_t count_field;  // the layout field counting the entries, or kRemaining
  std::uint16_t width_field;  // the layout field giving the entry width (stride 0), or kNoField
  std::uint16_t octet;        // first octet of the first entry, every earlier group empty
  std::uint16_t stride;       // octets per entry
};

struct TemplateLayout {
  std::uint8_t section;
  std::uint16_t number;
  std::uint16_t first_field;
  std::uint16_t field_count;
  std::uint16_t first_group;
  std::uint8_t group_count;

  std::size_t size() const { return field_count; }
  const TemplateField& field(std::size_t i) const;
  const TemplateGroup& group(std::size_t g) const;
  // The first field with that key, if the template has one.
  std::optional<std::size_t> find(std::uint16_t key) const;
  // (key, field index) of every field, ascending by key (so by name).
  std::span<const std::pair<std::uint16_t, std::uint16_t>> by_key() const;
};

// The layout of template `number` of section 3, 4 or 5; null when the WMO
// tables do not describe it.
const TemplateLayout* find_template(std::uint8_t section, std::uint16_t number);
std::span<const TemplateLayout> all_templates();

// Key names: ids are positions in the byte-wise sorted list of every name.
std::string_view template_key_name(std::uint16_t key);
std::optional<std::uint16_t> template_key_id(std::string_view name);
std::size_t template_key_count();

// The generated tables (generated/template_layouts.cpp).
namespace template_data {
extern const std::string_view kKeyNames[];
extern const TemplateField kFieldPool[];
extern const std::uint16_t kFieldIndex[];
extern const TemplateGroup kGroups[];
extern const TemplateLayout kLayouts[];
extern const std::size_t kKeyCount;
extern const std::size_t kFieldPoolCount;
extern const std::size_t kFieldIndexCount;
extern const std::size_t kGroupCount;
extern const std::size_t kLayoutCount;
}  // namespace template_data

}  // namespace vorlak
