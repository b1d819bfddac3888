// The template layouts' lookups and the walker that reads a template from a
// section: fixed fields at their octets, group entries after the groups
// before them, every count checked against the section's length first.
#include "grib/template_walk.hpp"

#include <algorithm>
#include <bit>
#include <limits>
#include <vector>

namespace vorlak {

const TemplateField& TemplateLayout::field(std::size_t i) const {
  return template_data::kFieldPool[template_data::kFieldIndex[first_field + i]];
}

const TemplateGroup& TemplateLayout::group(std::size_t g) const { return template_data::kGroups[first_group + g]; }

namespace {

// Every layout's fields ordered by key id (the byte-wise order of their
// names; the first of equal keys first), built once: lookups by key are a
// binary search, and a walk in key order needs no sorting.
struct KeyOrder {
  std::vector<std::uint32_t> first;                          // per layout, into `entries`
  std::vector<std::pair<std::uint16_t, std::uint16_t>> entries;  // (key, field index)
};

const KeyOrder& key_order() {
  static const KeyOrder order = [] {
    KeyOrder o;
    o.first.reserve(template_data::kLayoutCount + 1);
    o.entries.reserve(template_data::kFieldIndexCount);
    for (std::size_t l = 0; l < template_data::kLayoutCount; ++l) {
      const TemplateLayout& layout = template_data::kLayouts[l];
      o.first.push_back(static_cast<std::uint32_t>(o.entries.size()));
      const std::size_t begin = o.entries.size();
      for (std::size_t i = 0; i < layout.size(); ++i) {
        o.entries.emplace_back(layout.field(i).key, static_cast<std::uint16_t>(i));
      }
      std::stable_sort(o.entries.begin() + static_cast<std::ptrdiff_t>(begin), o.entries.end(),
                       [](const auto& a, const auto& b) { return a.first < b.first; });
    }
    o.first.push_back(static_cast<std::uint32_t>(o.entries.size()));
    return o;
  }();
  return order;
}

}  // namespace

std::span<const std::pair<std::uint16_t, std::uint16_t>> TemplateLayout::by_key() const {
  const KeyOrder& o = key_order();
  const auto l = static_cast<std::size_t>(this - template_data::kLayouts);
  if (l >= template_data::kLayoutCount) return {};
  return std::span(o.entries).subspan(o.first[l], o.first[l + 1] - o.first[l]);
}

std::optional<std::size_t> TemplateLayout::find(std::uint16_t key) const {
  const auto keys = by_key();
  const auto it = std::lower_bound(keys.begin(), keys.end(), key,
                                   [](const auto& entry, std::uint16_t k) { return entry.first < k; });
  if (it == keys.end() || it->first != key) return std::nullopt;
  return it->second;
}

const TemplateLayout* find_template(std::uint8_t section, std::uint16_t number) {
  const std::span<const TemplateLayout> layouts = all_templates();
  const auto it = std::lower_bound(layouts.begin(), layouts.end(), std::pair{section, number},
                                   [](const TemplateLayout& l, std::pair<std::uint8_t, std::uint16_t> k) {
                                     return l.section != k.first ? l.section < k.first : l.number < k.second;
                                   });
  if (it == layouts.end() || it->section != section || it->number != number) return nullptr;
  return &*it;
}

std::span<const TemplateLayout> all_templates() {
  return {template_data::kLayouts, template_data::kLayoutCount};
}

std::string_view template_key_name(std::uint16_t key) {
  return key < template_data::kKeyCount ? template_data::kKeyNames[key] : std::string_view{};
}

std::optional<std::uint16_t> template_key_id(std::string_view name) {
  const std::string_view* begin = template_data::kKeyNames;
  const std::string_view* end = begin + template_data::kKeyCount;
  const auto it = std::lower_bound(begin, end, name);
  if (it == end || *it != name) return std::nullopt;
  return static_cast<std::uint16_t>(it - begin);
}

std::size_t template_key_count() { return template_data::kKeyCount; }

// ---------------------------------------------------------------- values

double FieldValue::real() const {
  if (sign == SignRule::Ieee32 && width == 4) {
    return static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(raw)));
  }
  return static_cast<double>(value());
}

bool FieldValue::missing() const {
  const std::uint64_t all_ones =
      width >= 8 ? std::numeric_limits<std::uint64_t>::max() : (std::uint64_t{1} << (8 * width)) - 1;
  return width != 0 && raw == all_ones;
}

// ---------------------------------------------------------------- walker

std::optional<FixedPlace> fixed_place(const TemplateLayout& layout, std::size_t i) {
  if (i >= layout.size()) return std::nullopt;
  const TemplateField& f = layout.field(i);
  if (f.group != 0 || f.preceding != 0 || f.width == 0 || f.width > 8 || f.octet == 0) return std::nullopt;
  return FixedPlace{f.octet - 1u, f.width, f.sign};
}

TemplateReader::TemplateReader(const TemplateLayout* layout, Bytes section) : layout_(layout), section_(section) {
  if (!layout_) return;
  const std::size_t groups = std::min<std::size_t>(layout_->group_count, kMaxGroups);
  const std::uint64_t size = section_.size();
  std::uint64_t shift = 0;
  for (std::size_t g = 0; g < groups; ++g) {
    const TemplateGroup& group = layout_->group(g);
    Located& here = groups_[g];
    here.shift = shift;
    shift_after_ = shift;  // places the fields read below: they come before this group
    std::uint64_t stride = group.stride;
    if (group.width_field != kNoField) {
      // Entries as wide as a field says (section 3 octet 11 for the lists
      // of points per row); a width the walker cannot read means no list.
      const auto width = get(group.width_field);
      stride = (width && width->raw >= 1 && width->raw <= 8) ? width->raw : 0;
    }
    const std::uint64_t start = std::uint64_t{group.octet} - 1 + shift;
    const std::uint64_t room = start <= size ? size - start : 0;
    std::uint64_t count = 0;
    if (group.count_field == kRemaining) {
      count = stride != 0 ? room / stride : 0;
    } else {
      const auto counted = get(group.count_field);
      if (!counted) break;  // the count itself is not there: nothing after it can be placed
      count = stride != 0 ? counted->raw : 0;
      if (count != 0 && count > room / stride) break;  // does not fit: absent, and so is all after it
    }
    if (count > std::numeric_limits<std::uint32_t>::max()) break;
    here.count = static_cast<std::uint32_t>(count);
    here.stride = static_cast<std::uint16_t>(stride);
    shift += count * stride;
    located_ = static_cast<std::uint8_t>(g + 1);
  }
  shift_after_ = shift;
}

std::optional<std::pair<std::uint64_t, std::uint8_t>> TemplateReader::place(std::size_t i,
                                                                            std::uint32_t entry) const {
  if (!layout_ || i >= layout_->size()) return std::nullopt;
  const TemplateField& f = layout_->field(i);
  std::uint64_t offset = 0;
  std::uint8_t width = f.width;
  if (f.group != 0) {
    const std::size_t g = f.group - 1u;
    if (g >= located_ || entry >= groups_[g].count) return std::nullopt;
    const Located& group = groups_[g];
    if (width == 0) width = static_cast<std::uint8_t>(group.stride);
    offset = std::uint64_t{f.octet} - 1 + group.shift + std::uint64_t{entry} * group.stride;
  } else {
    if (entry != 0 || f.preceding > located_) return std::nullopt;
    const std::uint64_t shift = f.preceding < located_ ? groups_[f.preceding].shift : shift_after_;
    offset = std::uint64_t{f.octet} - 1 + shift;
  }
  if (width == 0 || width > 8 || offset > section_.size() || section_.size() - offset < width) return std::nullopt;
  return std::pair{offset, width};
}

std::optional<FieldValue> TemplateReader::read_at(std::uint64_t offset, std::uint8_t width, SignRule sign) const {
  std::uint64_t raw = 0;
  const std::uint8_t* p = section_.data() + offset;
  for (std::uint8_t k = 0; k < width; ++k) raw = (raw << 8) | p[k];
  return FieldValue{raw, width, sign};
}

std::uint32_t TemplateReader::count(std::size_t i) const {
  if (!layout_ || i >= layout_->size()) return 0;
  const TemplateField& f = layout_->field(i);
  if (f.group == 0) return place(i, 0) ? 1 : 0;
  const std::size_t g = f.group - 1u;
  if (g >= located_) return 0;
  const std::uint32_t n = groups_[g].count;
  // Every entry of a located group lies in the section; a field wider than
  // its stride (none is) would be cut at the last entry.
  return n != 0 && place(i, n - 1) ? n : 0;
}

std::optional<FieldValue> TemplateReader::get(std::size_t i, std::uint32_t entry) const {
  const auto where = place(i, entry);
  if (!where) return std::nullopt;
  return read_at(where->first, where->second, layout_->field(i).sign);
}

std::optional<FieldValue> TemplateReader::find(std::uint16_t key, std::uint32_t entry) const {
  if (!layout_) return std::nullopt;
  const auto i = layout_->find(key);
  if (!i) return std::nullopt;
  return get(*i, entry);
}


}  // namespace vorlak
