#include "support/template_builder.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "grib/template_layouts.hpp"

namespace vorlak::test {

namespace {

std::uint64_t encode(std::int64_t v, unsigned width, SignRule sign) {
  const unsigned bits = 8 * width;
  const std::uint64_t mask = bits >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1;
  if (v == kMissingValue) return mask;
  switch (sign) {
    case SignRule::SignMagnitude:
    case SignRule::ScaleFactor: {
      const std::uint64_t magnitude = static_cast<std::uint64_t>(v < 0 ? -v : v);
      if (magnitude >> (bits - 1)) throw std::invalid_argument("value does not fit its sign-magnitude field");
      return magnitude | (v < 0 ? std::uint64_t{1} << (bits - 1) : 0);
    }
    case SignRule::TwosComplement: return static_cast<std::uint64_t>(v) & mask;
    case SignRule::Unsigned:
    case SignRule::Ieee32: break;
  }
  if (v < 0 || (static_cast<std::uint64_t>(v) & ~mask)) throw std::invalid_argument("value does not fit its field");
  return static_cast<std::uint64_t>(v);
}

}  // namespace

ByteVec g2_template_section(std::uint8_t section, std::uint16_t number, const std::vector<TemplateValue>& given,
                            std::optional<std::uint32_t> length) {
  const TemplateLayout* layout = find_template(section, number);
  if (!layout) throw std::invalid_argument("template " + std::to_string(section) + "." + std::to_string(number) +
                                           " is not described");
  const std::size_t n = layout->size();
  std::vector<std::vector<std::int64_t>> values(n);
  std::vector<bool> named(n, false);
  for (const TemplateValue& v : given) {
    bool found = false;
    for (std::size_t i = 0; i < n; ++i) {
      if (template_key_name(layout->field(i).key) == v.key) {
        values[i] = v.values;
        named[i] = true;
        found = true;
        break;
      }
    }
    if (!found) throw std::invalid_argument("template has no key " + std::string(v.key));
  }
  auto set_if_unnamed = [&](std::string_view key, std::int64_t value) {
    for (std::size_t i = 0; i < n; ++i) {
      if (template_key_name(layout->field(i).key) == key && !named[i]) values[i] = {value};
    }
  };
  static constexpr std::string_view kNumberKeys[] = {"", "", "", "gridDefinitionTemplateNumber",
                                                     "productDefinitionTemplateNumber",
                                                     "dataRepresentationTemplateNumber"};
  if (section < 6) set_if_unnamed(kNumberKeys[section], number);

  // Entry counts: the count field's value, or the entries given.
  std::vector<std::uint64_t> counts(layout->group_count, 0), strides(layout->group_count, 0);
  for (std::size_t g = 0; g < layout->group_count; ++g) {
    const TemplateGroup& group = layout->group(g);
    std::uint64_t given_entries = 0;
    for (std::size_t i = 0; i < n; ++i) {
      if (layout->field(i).group == g + 1) given_entries = std::max<std::uint64_t>(given_entries, values[i].size());
    }
    strides[g] = group.stride;
    if (group.width_field != kNoField) {
      if (!named[group.width_field] && given_entries) values[group.width_field] = {2};
      strides[g] = values[group.width_field].empty() ? 0 : static_cast<std::uint64_t>(values[group.width_field][0]);
    }
    if (group.count_field == kRemaining) {
      counts[g] = given_entries;
    } else if (named[group.count_field] && !values[group.count_field].empty()) {
      counts[g] = static_cast<std::uint64_t>(values[group.count_field][0]);
    } else {
      counts[g] = given_entries;
      values[group.count_field] = {static_cast<std::int64_t>(given_entries)};
    }
  }
  std::vector<std::uint64_t> shift(layout->group_count + 1, 0);
  for (std::size_t g = 0; g < layout->group_count; ++g) shift[g + 1] = shift[g] + counts[g] * strides[g];

  // Every field's place, and the section's end.
  std::uint64_t end = 5;
  for (std::size_t i = 0; i < n; ++i) {
    const TemplateField& f = layout->field(i);
    if (f.group == 0) {
      end = std::max<std::uint64_t>(end, f.octet - 1 + shift[f.preceding] + f.width);
    } else {
      const std::size_t g = f.group - 1u;
      end = std::max<std::uint64_t>(end, layout->group(g).octet - 1 + shift[g] + counts[g] * strides[g]);
    }
  }
  ByteVec out(end, 0);
  auto put = [&](std::uint64_t offset, unsigned width, std::uint64_t raw) {
    for (unsigned k = 0; k < width; ++k) out[offset + k] = static_cast<std::uint8_t>(raw >> (8 * (width - 1 - k)));
  };
  for (std::size_t i = 0; i < n; ++i) {
    const TemplateField& f = layout->field(i);
    if (f.group == 0) {
      put(f.octet - 1 + shift[f.preceding], f.width, encode(values[i].empty() ? 0 : values[i][0], f.width, f.sign));
      continue;
    }
    const std::size_t g = f.group - 1u;
    const unsigned width = f.width ? f.width : static_cast<unsigned>(strides[g]);
    for (std::uint64_t e = 0; e < counts[g] && e < values[i].size(); ++e) {
      put(f.octet - 1 + shift[g] + e * strides[g], width, encode(values[i][e], width, f.sign));
    }
  }
  const std::uint32_t stated = length.value_or(static_cast<std::uint32_t>(out.size()));
  out.resize(std::max<std::uint32_t>(stated, 5), 0);
  put(0, 4, stated);
  out[4] = section;
  return out;
}

}  // namespace vorlak::test
