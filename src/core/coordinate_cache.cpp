#include "core/coordinate_cache.hpp"

#include <algorithm>

namespace vorlak {

namespace {

std::uint64_t result_bytes(const Result<SharedCoordinates>& result) {
  return result ? (*result)->bytes() : result.error().size();
}

}  // namespace

CoordinateCache::CoordinateCache(std::uint64_t max_entries, std::uint64_t max_bytes)
    : max_entries_(std::max<std::uint64_t>(max_entries, 1)), max_bytes_(std::max<std::uint64_t>(max_bytes, 1)) {}

Result<SharedCoordinates> CoordinateCache::get(const std::string& name, const Compute& compute) {
  std::shared_ptr<Cell> cell;
  {
    auto guard = mutex_.lock();
    if (!guard) return fail(kLockPoisoned);
    auto [it, inserted] = entries_.try_emplace(name);
    if (inserted) {
      it->second.cell = std::make_shared<Cell>();
      it->second.bytes = name.size();
      total_bytes_ += name.size();
    }
    it->second.last_use = ++clock_;
    cell = it->second.cell;
  }

  std::call_once(cell->once, [&] { cell->result = compute(); });

  {
    auto guard = mutex_.lock();
    if (!guard) return fail(kLockPoisoned);
    auto it = entries_.find(name);
    if (it != entries_.end() && it->second.cell == cell && !it->second.sized) {
      const std::uint64_t extra = result_bytes(cell->result);
      it->second.bytes += extra;
      it->second.sized = true;
      total_bytes_ += extra;
      evict();
    }
  }
  return cell->result;
}

void CoordinateCache::evict() {
  while (!entries_.empty() && (entries_.size() > max_entries_ || total_bytes_ > max_bytes_)) {
    auto oldest = entries_.begin();
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->second.last_use < oldest->second.last_use) oldest = it;
    }
    total_bytes_ -= oldest->second.bytes;
    entries_.erase(oldest);
  }
}

Result<void> CoordinateCache::clear() {
  auto guard = mutex_.lock();
  if (!guard) return fail(kLockPoisoned);
  entries_.clear();
  total_bytes_ = 0;
  return {};
}

Result<void> CoordinateCache::set_limits(std::uint64_t max_entries, std::uint64_t max_bytes) {
  auto guard = mutex_.lock();
  if (!guard) return fail(kLockPoisoned);
  max_entries_ = std::max<std::uint64_t>(max_entries, 1);
  max_bytes_ = std::max<std::uint64_t>(max_bytes, 1);
  evict();
  return {};
}

Result<CoordinateCacheInfo> CoordinateCache::info() {
  auto guard = mutex_.lock();
  if (!guard) return fail(kLockPoisoned);
  return CoordinateCacheInfo{entries_.size(), total_bytes_, max_entries_, max_bytes_};
}

CoordinateCache& process_coordinate_cache() {
  static CoordinateCache cache;
  return cache;
}

std::string coordinate_cache_key(int edition, std::span<const std::uint8_t> section) {
  std::string key(1, static_cast<char>(edition));
  key.append(reinterpret_cast<const char*>(section.data()), section.size());
  return key;
}

}  // namespace vorlak
