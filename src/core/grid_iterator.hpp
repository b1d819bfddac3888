#pragma once
// The grid-point iterator: a snapshot of a message's points taken when the
// iterator is made, and the position of the next one. Exhaustion is
// permanent: there is no rewind.
#include <cstddef>
#include <utility>
#include <vector>

#include "core/grid_points.hpp"

namespace vorlak {

struct GridIteratorState {
  std::vector<GridPoint> points;
  std::size_t position = 0;

  explicit GridIteratorState(std::vector<GridPoint> snapshot) : points(std::move(snapshot)) {}

  // The point at the position, advancing past it; null once exhausted.
  const GridPoint* next() {
    if (position >= points.size()) return nullptr;
    return &points[position++];
  }
};

}  // namespace vorlak
