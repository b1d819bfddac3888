#include "core/keys_iterator.hpp"

#include <algorithm>

#include "core/key_catalogue.hpp"
#include "core/key_lookup.hpp"

namespace vorlak {

std::vector<std::string> iterator_key_names(const HandleRecord& handle) {
  std::vector<std::string> names;
  names.reserve(handle.derived.entries().size() + 12);
  for (const auto& entry : handle.derived.entries()) names.emplace_back(entry.first);
  const bool axis_grid = has_axis_grid(handle.record);
  for (const CatalogueKey& key : kKeyCatalogue) {
    if (key.listing == KeyListing::Always || (key.listing == KeyListing::AxisGrids && axis_grid)) {
      names.emplace_back(key.name);
    }
  }
  // std::string compares as unsigned bytes: upper-case before lower-case,
  // a prefix before its extensions.
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

bool KeysIteratorState::next() {
  if (next_ < keys_.size()) {
    current_ = next_;
    ++next_;
    return true;
  }
  current_.reset();
  return false;
}

const std::string* KeysIteratorState::current_name() const {
  if (current_ && *current_ < keys_.size()) return &keys_[*current_];
  return nullptr;
}

void KeysIteratorState::rewind() {
  next_ = 0;
  current_.reset();
}

void KeysIteratorState::skip_computed() {
  std::erase_if(keys_, [](const std::string& name) {
    const CatalogueKey* key = find_catalogue_key(name);
    return key && key->skip_computed;
  });
  rewind();
}

}  // namespace vorlak
