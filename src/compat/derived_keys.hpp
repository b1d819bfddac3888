#pragma once
// The derived keys of a field, computed once when a handle is made, kept
// sorted by name for lookup and iteration: the keys of the key catalogue
// (src/core/key_catalogue.hpp) from the field's record, and the fields of
// its templates read from the message's bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "grib/framing.hpp"
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
  // Adds the entries whose names are not there yet (the first of a
  // repeated name).
  void add_absent(std::vector<Entry> entries);

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

// One field of a message: its record (the scan's record for the message's
// last field, summarise_field for any other) and the message's bytes, in
// which the record's spans place the field's sections. Without bytes only
// the record's keys are derived.
struct FieldView {
  const MessageRecord& record;
  Bytes message;
  bool grid_size_known = false;
  std::uint64_t grid_size = 0;
};

enum class KeySet : std::uint8_t {
  // The keys of vorlak._vorlak: for a template 4.0 field without a second
  // fixed surface exactly the keys of the catalogue it always had; for other
  // product templates also the section 4 fields template 4.0 does not have,
  // the step keys of statistical processing, `number`, the probability
  // limits; for layers their two surfaces; for GRIB1 the time range keys.
  Codes,
  // Every key of the field: the above and every field of its section 3, 4
  // and 5 templates.
  All,
};

DerivedKeys derive_keys(const FieldView& field, KeySet set = KeySet::Codes);

// The record alone (no template fields).
DerivedKeys derive_keys(const MessageRecord& record, bool grid_size_known, std::uint64_t grid_size);

}  // namespace vorlak
