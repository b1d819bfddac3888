#pragma once
// The derived keys of a message, computed once from its record when a handle
// is made, kept sorted by name for lookup and iteration.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "grib/message_record.hpp"
#include "types/key_value.hpp"

namespace vorlak {

class DerivedKeys {
 public:
  using Entry = std::pair<std::string, KeyValue>;

  // Null when the key is absent. Exact, byte-wise, case-sensitive match.
  const KeyValue* find(std::string_view name) const;
  bool contains(std::string_view name) const { return find(name) != nullptr; }

  // Ascending byte-wise by name.
  const std::vector<Entry>& entries() const { return entries_; }

  // Adds or replaces.
  void set(std::string name, KeyValue value);

  // Takes entries already ascending by name and unique (the caller's
  // guarantee), as derive_keys builds them.
  static DerivedKeys from_sorted(std::vector<Entry> entries) {
    DerivedKeys keys;
    keys.entries_ = std::move(entries);
    return keys;
  }

 private:
  std::vector<Entry> entries_;
};

DerivedKeys derive_keys(const MessageRecord& record, bool grid_size_known, std::uint64_t grid_size);

}  // namespace vorlak
