#include "core/keys_iterator.hpp"

#include <algorithm>

namespace vorlak {
namespace {

constexpr std::array<std::string_view, 10> kCoordinateKeyNames = {
    "distinctLatitudes",
    "latitudes",
    "distinctLongitudes",
    "longitudes",
    "latitudeOfFirstGridPointInDegrees",
    "latitudeOfLastGridPointInDegrees",
    "longitudeOfFirstGridPointInDegrees",
    "longitudeOfLastGridPointInDegrees",
    "iDirectionIncrementInDegrees",
    "jDirectionIncrementInDegrees",
};

}  // namespace

std::vector<std::string> iterator_key_names(const HandleRecord& handle) {
  std::vector<std::string> names;
  names.reserve(handle.derived.entries().size() + 2 + kCoordinateKeyNames.size());
  for (const auto& entry : handle.derived.entries()) names.push_back(entry.first);
  names.emplace_back("values");
  names.emplace_back("numberOfMissing");
  const auto grid_template = handle.record.gridDefinitionTemplateNumber;
  if (grid_template && (*grid_template == 0 || *grid_template == 40)) {
    for (std::string_view name : kCoordinateKeyNames) names.emplace_back(name);
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
    return std::find(COMPUTED_KEY_NAMES.begin(), COMPUTED_KEY_NAMES.end(), name) != COMPUTED_KEY_NAMES.end();
  });
  rewind();
}

}  // namespace vorlak
