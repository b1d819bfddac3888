#include "core/message_index.hpp"

#include <algorithm>
#include <cmath>

#include "core/file_cache.hpp"
#include "core/grid_points.hpp"
#include "core/key_lookup.hpp"

namespace vorlak {

IndexKeySpec IndexKeySpec::parse(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return {std::string(text), TypeHint::Unspecified};
  IndexKeySpec key_spec{std::string(text.substr(0, colon)), TypeHint::Unspecified};
  const std::string_view suffix = text.substr(colon + 1);
  if (suffix.size() == 1) {
    switch (suffix[0]) {
      case 'i': case 'I': case 'l': case 'L': key_spec.type_hint = TypeHint::Integer; break;
      case 'd': case 'D': case 'f': case 'F': key_spec.type_hint = TypeHint::Float; break;
      default: break;
    }
  }
  return key_spec;
}

Result<std::vector<HandleRecord>> handle_records_for_file(const std::string& path) {
  auto file = load_file_cached(path);
  if (!file) return fail(std::move(file.error()));
  std::vector<HandleRecord> records;
  records.reserve((*file)->scan.records.size());
  for (const MessageRecord& record : (*file)->scan.records) {
    records.push_back(HandleRecord::make(record, BytesSource::shared((*file)->bytes)));
  }
  return records;
}

Result<IndexState> IndexState::from_file(const std::string& path, std::span<const std::string> key_texts) {
  auto entries = handle_records_for_file(path);
  if (!entries) return fail(std::move(entries.error()));
  std::vector<IndexKeySpec> keys;
  keys.reserve(key_texts.size());
  for (const std::string& text : key_texts) keys.push_back(IndexKeySpec::parse(text));
  return IndexState(std::move(*entries), std::move(keys));
}

Result<void> IndexState::add_file(const std::string& path) {
  auto added = handle_records_for_file(path);
  if (!added) return fail(std::move(added.error()));
  entries_.insert(entries_.end(), std::make_move_iterator(added->begin()), std::make_move_iterator(added->end()));
  cursor_ = 0;
  return {};
}

std::vector<std::int64_t> IndexState::distinct_longs(std::string_view key) const {
  std::vector<std::int64_t> values;
  for (const HandleRecord& entry : entries_) {
    if (auto v = get_long(entry, key)) values.push_back(*v);
  }
  std::sort(values.begin(), values.end());
  values.erase(std::unique(values.begin(), values.end()), values.end());
  return values;
}

std::vector<double> IndexState::distinct_doubles(std::string_view key) const {
  std::vector<double> values;
  for (const HandleRecord& entry : entries_) {
    if (auto v = get_double(entry, key)) values.push_back(*v);
  }
  const auto by_total_order = [](double a, double b) { return total_order_key(a) < total_order_key(b); };
  const auto same_bits = [](double a, double b) { return total_order_key(a) == total_order_key(b); };
  std::sort(values.begin(), values.end(), by_total_order);
  values.erase(std::unique(values.begin(), values.end(), same_bits), values.end());
  return values;
}

std::vector<std::string> IndexState::distinct_strings(std::string_view key) const {
  std::vector<std::string> values;
  for (const HandleRecord& entry : entries_) {
    if (auto v = get_string(entry, key)) values.push_back(std::move(*v));
  }
  std::sort(values.begin(), values.end());
  values.erase(std::unique(values.begin(), values.end()), values.end());
  return values;
}

const IndexKeySpec* IndexState::find_key(std::string_view name) const {
  for (const IndexKeySpec& key_spec : keys_) {
    if (key_spec.name == name) return &key_spec;
  }
  return nullptr;
}

void IndexState::select(std::string key, SelectValue value) {
  selection_.insert_or_assign(std::move(key), std::move(value));
  cursor_ = 0;
}

bool IndexState::matches(const HandleRecord& entry) const {
  for (const auto& [name, wanted] : selection_) {
    if (const auto* integer = std::get_if<std::int64_t>(&wanted)) {
      auto got = get_long(entry, name);
      if (!got || *got != *integer) return false;
    } else if (const auto* number = std::get_if<double>(&wanted)) {
      auto got = get_double(entry, name);
      if (!got || !(std::fabs(*got - *number) <= kIndexFloatTolerance)) return false;  // NaN never matches
    } else {
      auto got = get_string(entry, name);
      if (!got || *got != std::get<std::string>(wanted)) return false;
    }
  }
  return true;
}

std::optional<HandleRecord> IndexState::next_match() {
  for (const IndexKeySpec& key_spec : keys_) {
    if (!selection_.contains(key_spec.name)) return std::nullopt;
  }
  if (cursor_ > entries_.size()) return std::nullopt;
  for (std::size_t i = cursor_; i < entries_.size(); ++i) {
    if (matches(entries_[i])) {
      cursor_ = i + 1;
      return entries_[i];
    }
  }
  cursor_ = entries_.size();
  return std::nullopt;
}

}  // namespace vorlak
