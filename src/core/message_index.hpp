#pragma once
// The message index: every message of the files added, as handle records,
// the key descriptions it was made with, the selected values and the walk over the
// entries that match them.
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/handle_record.hpp"

namespace vorlak {

enum class TypeHint : std::uint8_t { Unspecified, Integer, Float };

struct IndexKeySpec {
  std::string name;
  TypeHint type_hint = TypeHint::Unspecified;

  // "name", or "name:x" where a single i/I/l/L means integer and d/D/f/F
  // float; any other suffix leaves the hint unspecified.
  static IndexKeySpec parse(std::string_view text);
  bool operator==(const IndexKeySpec&) const = default;
};

using SelectValue = std::variant<std::int64_t, double, std::string>;

// One handle record per message of the file (through the file cache), in
// file order, sharing the loaded bytes.
Result<std::vector<HandleRecord>> handle_records_for_file(const std::string& path);

struct IndexState {
 public:
  IndexState(std::vector<HandleRecord> entries, std::vector<IndexKeySpec> keys)
      : entries_(std::move(entries)), keys_(std::move(keys)) {}

  static Result<IndexState> from_file(const std::string& path, std::span<const std::string> key_texts);

  // Appends the file's messages (all or nothing) and restarts the walk.
  Result<void> add_file(const std::string& path);

  // Distinct values of `key` over all entries; entries whose reader fails
  // contribute nothing. Integers ascending; doubles by total order with
  // only bit-identical values merged; texts byte-wise.
  std::vector<std::int64_t> distinct_longs(std::string_view key) const;
  std::vector<double> distinct_doubles(std::string_view key) const;
  std::vector<std::string> distinct_strings(std::string_view key) const;
  std::size_t distinct_count(std::string_view key) const { return distinct_strings(key).size(); }

  // The first key with that name, or null.
  const IndexKeySpec* find_key(std::string_view name) const;

  // Sets (or replaces) the value for `key` and restarts the walk.
  void select(std::string key, SelectValue value);

  // The next entry from the cursor on that matches every selection, as a
  // copy sharing its bytes and memo; nothing when a key description has no
  // selection or no entry is left.
  std::optional<HandleRecord> next_match();

  const std::vector<HandleRecord>& entries() const { return entries_; }
  const std::vector<IndexKeySpec>& keys() const { return keys_; }
  const std::map<std::string, SelectValue, std::less<>>& selection() const { return selection_; }
  std::size_t cursor() const { return cursor_; }

 private:
  bool matches(const HandleRecord& entry) const;

  std::vector<HandleRecord> entries_;
  std::vector<IndexKeySpec> keys_;
  std::map<std::string, SelectValue, std::less<>> selection_;
  std::size_t cursor_ = 0;
};

// Float selections match within this absolute difference.
inline constexpr double kIndexFloatTolerance = 1e-9;

}  // namespace vorlak
