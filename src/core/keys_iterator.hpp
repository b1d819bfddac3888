#pragma once
// The keys iterator: the sorted names a message handle answers, taken once
// when the iterator is made, and the advance / read / rewind / skip states.
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/handle_record.hpp"

namespace vorlak {

// The names codes_skip_computed removes.
inline constexpr std::array<std::string_view, 12> COMPUTED_KEY_NAMES = {
    "values",
    "latitudes",
    "longitudes",
    "distinctLatitudes",
    "distinctLongitudes",
    "cfName",
    "cfVarName",
    "paramId",
    "gridDefinitionDescription",
    "centreDescription",
    "validityDate",
    "validityTime",
};

inline constexpr const char* kKeysIteratorNotPositioned = "iterator is not currently positioned on a key";

// The derived key names plus "values" and "numberOfMissing", and the ten
// coordinate names on grid templates 0 and 40; byte-wise sorted, no repeats.
std::vector<std::string> iterator_key_names(const HandleRecord& handle);

struct KeysIteratorState {
 public:
  explicit KeysIteratorState(std::vector<std::string> keys) : keys_(std::move(keys)) {}
  static KeysIteratorState for_handle(const HandleRecord& handle) {
    return KeysIteratorState(iterator_key_names(handle));
  }

  // Moves onto the next key; false (and not positioned) past the end.
  bool next();
  // The key the iterator is on, or null when it is not positioned on one.
  const std::string* current_name() const;
  void rewind();
  // Drops COMPUTED_KEY_NAMES from the list, keeping the order, and rewinds.
  void skip_computed();

  const std::vector<std::string>& keys() const { return keys_; }

 private:
  std::vector<std::string> keys_;
  std::size_t next_ = 0;
  std::optional<std::size_t> current_;
};

}  // namespace vorlak
