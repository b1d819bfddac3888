#pragma once
// The derived keys of a field, computed once when a handle is made, kept
// sorted by name for lookup and iteration: the keys of the key catalogue
// (src/core/key_catalogue.hpp) from the field's record, and the fields of
// its templates read from the message's bytes.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "grib/framing.hpp"
#include "grib/message_record.hpp"
#include "types/key_value.hpp"

namespace vorlak {

// Key names are views of text that lasts as long as the process: the key
// catalogue's, the generated template layouts', literals, or
// lasting_key_name's. Deriving the keys of a field allocates only values.
using KeyName = std::string_view;

// A name of lasting storage for one made at run time (the grid keys' names
// in degrees and metres): the same view for the same text, kept for the
// life of the process. The names come from the code, never from the data,
// so there are few.
KeyName lasting_key_name(std::string_view name);

class DerivedKeys {
 public:
  using Entry = std::pair<KeyName, KeyValue>;

  // Null when the key is absent. Exact, byte-wise, case-sensitive match.
  const KeyValue* find(std::string_view name) const;
  bool contains(std::string_view name) const { return find(name) != nullptr; }

  // Ascending byte-wise by name.
  const std::vector<Entry>& entries() const { return entries_; }

  // Adds or replaces.
  void set(KeyName name, KeyValue value);

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

// `extra`: keys ascending by name, each added where the field has no key
// of its name (the grid keys of the field API).
DerivedKeys derive_keys(const FieldView& field, KeySet set = KeySet::Codes,
                        std::span<const DerivedKeys::Entry> extra = {});

}  // namespace vorlak
