#pragma once
// What one message handle holds: its record, derived keys, where its bytes
// are, and the decoded-values memo shared with its clones.
#include <cstdint>
#include <memory>
#include <optional>

#include "compat/derived_keys.hpp"
#include "core/codes_error.hpp"
#include "core/values_memo.hpp"
#include "grib/framing.hpp"
#include "grib/grib2_sections.hpp"

namespace vorlak {

// Points of the record's grid, where its section says: Ni x Nj, or the
// sum of the rows of a grid that lists them.
std::optional<std::uint64_t> grid_size_of(const MessageRecord& record);

struct HandleRecord {
  MessageRecord record;
  bool grid_size_known = false;
  std::uint64_t grid_size = 0;
  BytesSource bytes;
  std::shared_ptr<ValuesMemo> memo;
  DerivedKeys derived;

  // Copies the record, computes grid size and derived keys, starts an empty
  // memo. Decodes nothing.
  static HandleRecord make(const MessageRecord& record, BytesSource bytes);

  // The decoded message (decoding on first use), or its error as Internal.
  CodesResult<const DecodedMessage*> decoded() const;
};

}  // namespace vorlak
