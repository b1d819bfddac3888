#include "core/key_catalogue.hpp"

namespace vorlak {
namespace {

constexpr std::size_t kCatalogueSize = kKeyCatalogue.size();

// Catalogue positions in byte-wise name order, for lookup by name.
constexpr auto kByName = [] {
  std::array<std::uint8_t, kCatalogueSize> order{};
  for (std::size_t i = 0; i < kCatalogueSize; ++i) order[i] = static_cast<std::uint8_t>(i);
  std::sort(order.begin(), order.end(),
            [](std::uint8_t a, std::uint8_t b) { return kKeyCatalogue[a].name < kKeyCatalogue[b].name; });
  return order;
}();

constexpr bool names_unique() {
  for (std::size_t i = 1; i < kCatalogueSize; ++i) {
    if (kKeyCatalogue[kByName[i - 1]].name == kKeyCatalogue[kByName[i]].name) return false;
  }
  return true;
}
static_assert(names_unique());
static_assert(kCatalogueSize < 256);

}  // namespace

const CatalogueKey* find_catalogue_key(std::string_view name) {
  const auto it = std::lower_bound(kByName.begin(), kByName.end(), name,
                                   [](std::uint8_t i, std::string_view n) { return kKeyCatalogue[i].name < n; });
  if (it == kByName.end() || kKeyCatalogue[*it].name != name) return nullptr;
  return &kKeyCatalogue[*it];
}

Computed computed_key(std::string_view name) {
  // The computed keys are the catalogue's last entries; a key of another
  // length costs one comparison per computed key.
  for (std::size_t i = kDerivedKeyCount; i < kCatalogueSize; ++i) {
    const CatalogueKey& k = kKeyCatalogue[i];
    if (k.name.size() == name.size() && k.name == name) return k.computed;
  }
  return Computed::None;
}

}  // namespace vorlak
