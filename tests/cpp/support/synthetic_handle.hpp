#pragma once
// Handle records for core tests: from builder messages (scanned for real),
// or synthetic ones whose memo already holds a chosen decoded field and
// whose derived keys are set by hand.
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/handle_record.hpp"
#include "support/message_builder.hpp"

namespace vorlak::test {

// The first message of `bytes`, over a shared copy of the buffer.
inline HandleRecord handle_from_bytes(const ByteVec& bytes) {
  auto block = ByteBlock::copy_of(bytes);
  auto scan = scan_messages(block->span());
  if (!scan || scan->records.empty()) return {};
  return HandleRecord::make(scan->records.front(), BytesSource::shared(block));
}

// A decoded field of rows x columns values with the given axes (or none).
inline DecodedMessage decoded_field(std::vector<double> values, std::uint64_t columns, std::uint64_t rows,
                                    std::optional<Coordinates> axes = {}, std::uint64_t missing = 0) {
  auto field = DecodedField::make(columns, rows, std::move(values));
  return DecodedMessage{MessageRecord{}, GridSummary{}, std::move(*field), std::move(axes), missing};
}

inline Coordinates axes(std::vector<double> latitudes, std::vector<double> longitudes) {
  return Coordinates{{"longitude", "degrees_east", std::move(longitudes)},
                     {"latitude", "degrees_north", std::move(latitudes)}};
}

// A handle whose memo is already filled with `decoded` (or an error text).
inline HandleRecord handle_with(Result<DecodedMessage> decoded, DerivedKeys derived = {}) {
  HandleRecord handle;
  handle.memo = std::make_shared<ValuesMemo>();
  handle.memo->get_with([&] { return std::move(decoded); });
  handle.derived = std::move(derived);
  return handle;
}

}  // namespace vorlak::test
