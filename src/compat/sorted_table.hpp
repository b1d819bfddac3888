#pragma once
// Constant lookup tables: rows are written in reading order, sorted once at
// compile time by their packed key and looked up by binary search.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace vorlak {

// Rows carry `key` (packed codes) and, for level-dependent tables, `level`
// (-1 for "any level"). Sorted by key, then level.
template <class Row, std::size_t N>
constexpr std::array<Row, N> sorted_rows(std::array<Row, N> rows) {
  std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
    if constexpr (requires { a.level; }) {
      return a.key != b.key ? a.key < b.key : a.level < b.level;
    } else {
      return a.key < b.key;
    }
  });
  return rows;
}

template <class Row, std::size_t N>
constexpr bool rows_unique(const std::array<Row, N>& rows) {
  for (std::size_t i = 1; i < N; ++i) {
    if constexpr (requires { rows[i].level; }) {
      if (rows[i].key == rows[i - 1].key && rows[i].level == rows[i - 1].level) return false;
    } else {
      if (rows[i].key == rows[i - 1].key) return false;
    }
  }
  return true;
}

// Rows written already in order (generated tables): ascending by key, no key
// twice.
template <class Row, std::size_t N>
constexpr bool rows_strictly_ascending(const std::array<Row, N>& rows) {
  for (std::size_t i = 1; i < N; ++i) {
    if (!(rows[i - 1].key < rows[i].key)) return false;
  }
  return true;
}

template <class Row, std::size_t N, class Key>
const Row* find_row(const std::array<Row, N>& rows, Key key) {
  const auto it = std::lower_bound(rows.begin(), rows.end(), key,
                                   [](const Row& row, Key k) { return row.key < k; });
  return (it != rows.end() && it->key == key) ? &*it : nullptr;
}

// A level-dependent lookup: a row for exactly this level wins over the row
// for any level; a level-specific row never matches an absent level.
template <class Row, std::size_t N, class Key>
const Row* find_row_at_level(const std::array<Row, N>& rows, Key key,
                             std::optional<std::uint32_t> level) {
  auto it = std::lower_bound(rows.begin(), rows.end(), key,
                             [](const Row& row, Key k) { return row.key < k; });
  const Row* any_level = nullptr;
  for (; it != rows.end() && it->key == key; ++it) {
    if (it->level < 0) {
      any_level = &*it;
    } else if (level && static_cast<std::int64_t>(*level) == it->level) {
      return &*it;
    }
  }
  return any_level;
}

}  // namespace vorlak
