// Presented order of a grid's points from its scanning mode. With rows held
// consecutively (the usual case) presented row r is message row r, reversed
// when rows alternate and r is odd. With columns held consecutively the
// message holds Ni columns of Nj points; presented point (r, c) is point r of
// column c (point Nj - 1 - r when columns alternate and c is odd).
#include "grib/geometry/grid_layout.hpp"

#include <algorithm>
#include <cstring>

#include "grib/limits.hpp"
#include "grib/text.hpp"

namespace vorlak {

Result<GridLayout> GridLayout::make(LayoutParams params) {
  GridLayout layout;
  layout.scanning_mode_ = params.scanning_mode;
  if (params.scanning_mode & kScanOffsets) {
    return fail(str_cat("scanning mode ", static_cast<int>(params.scanning_mode),
                        " offsets rows or columns by half a step, which is not supported"));
  }
  if (params.points_per_row.empty()) {
    if (params.ni > kMaxGridPoints || params.nj > kMaxGridPoints || params.ni * params.nj > kMaxGridPoints) {
      return fail(str_cat("grid of ", params.ni, " x ", params.nj, " points exceeds the supported maximum"));
    }
    layout.rows_ = params.nj;
    layout.columns_ = params.ni;
    layout.points_ = params.ni * params.nj;
    return layout;
  }
  if (params.scanning_mode & kScanJConsecutive) {
    return fail("a points-per-row list with columns held consecutively is not supported");
  }
  layout.rows_ = params.points_per_row.size();
  layout.row_offsets_.reserve(layout.rows_ + 1);
  std::uint64_t total = 0;
  std::uint32_t widest = 0;
  layout.row_offsets_.push_back(0);
  for (std::uint32_t n : params.points_per_row) {
    total += n;
    if (total > kMaxGridPoints) {
      return fail(str_cat("points-per-row list sums to more than ", kMaxGridPoints, " points"));
    }
    widest = std::max(widest, n);
    layout.row_offsets_.push_back(total);
  }
  layout.points_ = total;
  layout.columns_ = widest;
  return layout;
}

std::uint64_t GridLayout::row_length(std::uint64_t r) const {
  return regular() ? columns_ : row_offsets_[r + 1] - row_offsets_[r];
}

std::uint64_t GridLayout::row_start(std::uint64_t r) const { return regular() ? r * columns_ : row_offsets_[r]; }

std::uint64_t GridLayout::message_index(std::uint64_t p) const {
  const bool alternating = scanning_mode_ & kScanAlternating;
  if (!regular()) {
    // The row holding p: the last offset at or below it.
    const auto it = std::upper_bound(row_offsets_.begin(), row_offsets_.end(), p) - 1;
    const std::uint64_t r = static_cast<std::uint64_t>(it - row_offsets_.begin());
    const std::uint64_t c = p - *it;
    return (alternating && (r & 1)) ? *it + row_length(r) - 1 - c : p;
  }
  const std::uint64_t r = p / columns_;
  const std::uint64_t c = p % columns_;
  if (scanning_mode_ & kScanJConsecutive) {
    return c * rows_ + ((alternating && (c & 1)) ? rows_ - 1 - r : r);
  }
  return (alternating && (r & 1)) ? r * columns_ + columns_ - 1 - c : p;
}

template <class T, bool kToPresented>
void GridLayout::permute(const T* from, T* to) const {
  const bool alternating = scanning_mode_ & kScanAlternating;
  if (regular() && (scanning_mode_ & kScanJConsecutive)) {
    for (std::uint64_t c = 0; c < columns_; ++c) {
      const bool reversed = alternating && (c & 1);
      for (std::uint64_t r = 0; r < rows_; ++r) {
        const std::uint64_t m = c * rows_ + (reversed ? rows_ - 1 - r : r);
        const std::uint64_t p = r * columns_ + c;
        if constexpr (kToPresented) {
          to[p] = from[m];
        } else {
          to[m] = from[p];
        }
      }
    }
    return;
  }
  // Rows held consecutively: the same rows in both orders, some reversed.
  for (std::uint64_t r = 0; r < rows_; ++r) {
    const std::uint64_t start = row_start(r);
    const std::uint64_t n = row_length(r);
    if (alternating && (r & 1)) {
      std::reverse_copy(from + start, from + start + n, to + start);
    } else if (n > 0) {
      std::memcpy(to + start, from + start, n * sizeof(T));
    }
  }
}

namespace {

Result<void> check_sizes(std::size_t from, std::size_t to, std::uint64_t points) {
  if (from != points || to != points) {
    return fail(str_cat("the field has ", from, " values but its grid ", points, " points"));
  }
  return {};
}

}  // namespace

template <class T>
Result<void> GridLayout::to_presented(std::span<const T> message, std::span<T> out) const {
  if (auto ok = check_sizes(message.size(), out.size(), points_); !ok) return ok;
  permute<T, true>(message.data(), out.data());
  return {};
}

template <class T>
Result<void> GridLayout::to_message(std::span<const T> presented, std::span<T> out) const {
  if (auto ok = check_sizes(presented.size(), out.size(), points_); !ok) return ok;
  permute<T, false>(presented.data(), out.data());
  return {};
}

template <class T>
Result<bool> GridLayout::to_presented_in_place(std::span<T> values) const {
  if (auto ok = check_sizes(values.size(), values.size(), points_); !ok) return fail(std::move(ok.error()));
  if (regular() && (scanning_mode_ & kScanJConsecutive)) return false;
  if (scanning_mode_ & kScanAlternating) {
    for (std::uint64_t r = 1; r < rows_; r += 2) {
      T* const start = values.data() + row_start(r);
      std::reverse(start, start + row_length(r));
    }
  }
  return true;
}

template Result<void> GridLayout::to_presented<double>(std::span<const double>, std::span<double>) const;
template Result<void> GridLayout::to_presented<float>(std::span<const float>, std::span<float>) const;
template Result<void> GridLayout::to_message<double>(std::span<const double>, std::span<double>) const;
template Result<void> GridLayout::to_message<float>(std::span<const float>, std::span<float>) const;
template Result<bool> GridLayout::to_presented_in_place<double>(std::span<double>) const;

}  // namespace vorlak
