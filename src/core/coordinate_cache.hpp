#pragma once
// The process-wide cache of grid coordinates, keyed by the bytes of the grid
// section they were computed from, so that every field on one grid shares
// one computation. Bounded by entry count and bytes, least recently used
// evicted first. Safe for concurrent use from threads that do not hold the
// interpreter lock: one computation per key runs while later requests for
// the same key wait for it; the lock is never held while computing.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <unordered_map>

#include "core/poison_mutex.hpp"
#include "grib/geometry/grid_coordinates.hpp"
#include "grib/result.hpp"

namespace vorlak {

using SharedCoordinates = std::shared_ptr<const GridCoordinates>;

struct CoordinateCacheInfo {
  std::uint64_t entries = 0;
  std::uint64_t total_bytes = 0;
  std::uint64_t max_entries = 0;
  std::uint64_t max_bytes = 0;
};

class CoordinateCache {
 public:
  using Compute = std::function<Result<SharedCoordinates>()>;

  static constexpr std::uint64_t kDefaultMaxEntries = 64;
  static constexpr std::uint64_t kDefaultMaxBytes = std::uint64_t{256} << 20;

  CoordinateCache(std::uint64_t max_entries = kDefaultMaxEntries, std::uint64_t max_bytes = kDefaultMaxBytes);

  // The coordinates for `key` (see coordinate_cache_key), computed on first request. An error is kept
  // like a result (computing it again would give the same error). A result
  // larger than the whole budget is returned but not kept.
  Result<SharedCoordinates> get(const std::string& key, const Compute& compute);

  // Each fails only with "internal state lock poisoned".
  Result<void> clear();
  // Zero is raised to one; then evicts down to the new limits.
  Result<void> set_limits(std::uint64_t max_entries, std::uint64_t max_bytes);
  Result<CoordinateCacheInfo> info();

 private:
  struct Cell {
    std::once_flag once;
    Result<SharedCoordinates> result = fail("coordinates not computed");
  };
  struct Entry {
    std::shared_ptr<Cell> cell;
    std::uint64_t bytes = 0;
    std::uint64_t last_use = 0;
    bool sized = false;  // bytes include the result
  };

  // Under the lock.
  void evict();

  PoisonMutex mutex_;
  std::unordered_map<std::string, Entry> entries_;
  std::uint64_t total_bytes_ = 0;
  std::uint64_t max_entries_;
  std::uint64_t max_bytes_;
  std::uint64_t clock_ = 0;
};

// The one cache of the process.
CoordinateCache& process_coordinate_cache();

// The cache key of a grid section: the edition, then the section's bytes.
std::string coordinate_cache_key(int edition, std::span<const std::uint8_t> section);

}  // namespace vorlak
