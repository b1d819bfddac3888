#pragma once
// Where each point of a message's field sits in the grid: the one place that
// reads the scanning mode's ordering bits. Values, latitudes and longitudes
// are all presented in the same order: row after row in the order the
// message scans its rows, each row in the direction of the first row
// (alternating rows straightened), rows first even when the message holds
// columns consecutively. Which way the first row and the rows run on the
// Earth (bits 0x80 and 0x40) moves coordinates, never values.
#include <cstdint>
#include <span>
#include <vector>

#include "grib/result.hpp"

namespace vorlak {

inline constexpr std::uint8_t kScanMinusI = 0x80;        // points of a row run in -i (-x)
inline constexpr std::uint8_t kScanPlusJ = 0x40;         // rows run in +j (+y)
inline constexpr std::uint8_t kScanJConsecutive = 0x20;  // adjacent points in j are consecutive
inline constexpr std::uint8_t kScanAlternating = 0x10;   // adjacent rows scan in opposite directions
inline constexpr std::uint8_t kScanOffsets = 0x0E;       // rows or columns offset by half a step

struct LayoutParams {
  std::uint64_t ni = 0;  // points per row; unused with points_per_row
  std::uint64_t nj = 0;  // rows; the list's length with points_per_row
  std::uint8_t scanning_mode = 0;
  std::vector<std::uint32_t> points_per_row;  // quasi-regular grids only
};

class GridLayout {
 public:
  // Fails for more points than a field may hold, for rows offset by half a
  // step, and for a points-per-row list with columns held consecutively.
  static Result<GridLayout> make(LayoutParams params);

  bool regular() const { return row_offsets_.empty(); }
  std::uint64_t rows() const { return rows_; }
  std::uint64_t columns() const { return regular() ? columns_ : 0; }  // 0: rows of their own lengths
  std::uint64_t widest_row() const { return columns_; }
  std::uint64_t points() const { return points_; }
  std::uint8_t scanning_mode() const { return scanning_mode_; }

  // The direction of presented columns along x (or longitude) and of
  // presented rows along y (or latitude).
  int column_sign() const { return (scanning_mode_ & kScanMinusI) ? -1 : 1; }
  int row_sign() const { return (scanning_mode_ & kScanPlusJ) ? 1 : -1; }

  // Quasi-regular grids: points in row r, and the presented index of its first point.
  std::uint64_t row_length(std::uint64_t r) const;
  std::uint64_t row_start(std::uint64_t r) const;

  // True when the presented order is the message's own.
  bool identity() const { return (scanning_mode_ & (kScanAlternating | kScanJConsecutive)) == 0; }

  // The message index of the point at presented index p (p < points()).
  std::uint64_t message_index(std::uint64_t p) const;

  // out[p] = message[message_index(p)], and its inverse. Fails unless both
  // spans hold points() entries.
  template <class T>
  Result<void> to_presented(std::span<const T> message, std::span<T> out) const;
  template <class T>
  Result<void> to_message(std::span<const T> presented, std::span<T> out) const;
  // to_presented within the values' own memory, where the presented order
  // keeps the message's rows (alternating rows are reversed where they
  // lie); false, changing nothing, where columns are held consecutively.
  template <class T>
  Result<bool> to_presented_in_place(std::span<T> values) const;

 private:
  template <class T, bool kToPresented>
  void permute(const T* from, T* to) const;

  std::uint64_t rows_ = 0;
  std::uint64_t columns_ = 0;
  std::uint64_t points_ = 0;
  std::uint8_t scanning_mode_ = 0;
  std::vector<std::uint64_t> row_offsets_;  // quasi-regular: rows + 1 prefix sums
};

extern template Result<void> GridLayout::to_presented<double>(std::span<const double>, std::span<double>) const;
extern template Result<void> GridLayout::to_presented<float>(std::span<const float>, std::span<float>) const;
extern template Result<void> GridLayout::to_message<double>(std::span<const double>, std::span<double>) const;
extern template Result<void> GridLayout::to_message<float>(std::span<const float>, std::span<float>) const;
extern template Result<bool> GridLayout::to_presented_in_place<double>(std::span<double>) const;

}  // namespace vorlak
