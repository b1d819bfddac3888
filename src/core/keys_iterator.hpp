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

inline constexpr const char* kKeysIteratorNotPositioned = "iterator is not currently positioned on a key";

// The derived key names plus the computed keys the key catalogue lists for
// the message ("values" and "numberOfMissing" always, the ten coordinate
// keys on grid templates 0 and 40); byte-wise sorted, no repeats.
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
  // Drops the keys the catalogue marks for codes_skip_computed, keeping the
  // order, and rewinds.
  void skip_computed();

  const std::vector<std::string>& keys() const { return keys_; }

 private:
  std::vector<std::string> keys_;
  std::size_t next_ = 0;
  std::optional<std::size_t> current_;
};

}  // namespace vorlak
