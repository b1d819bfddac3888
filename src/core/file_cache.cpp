#include "core/file_cache.hpp"

#include <limits>

#include "core/file_read.hpp"

namespace vorlak {
namespace {

std::uint64_t add_saturating(std::uint64_t a, std::uint64_t b) {
  return b > std::numeric_limits<std::uint64_t>::max() - a ? std::numeric_limits<std::uint64_t>::max() : a + b;
}

std::uint64_t subtract_to_zero(std::uint64_t a, std::uint64_t b) { return b > a ? 0 : a - b; }

}  // namespace

FileCache::FileCache(CacheSettings settings, Scanner scan)
    : scan_(std::move(scan)),
      max_entries_(settings.max_entries),
      max_bytes_(settings.max_bytes),
      enabled_(settings.enabled) {}

void FileCache::remove(std::unordered_map<std::string, Entry>::iterator it) {
  total_bytes_ = subtract_to_zero(total_bytes_, it->second.bytes);
  entries_.erase(it);
}

void FileCache::remove_all() {
  entries_.clear();
  total_bytes_ = 0;
}

void FileCache::insert(std::string key, SharedFile file) {
  const std::uint64_t bytes = file->bytes ? file->bytes->size() : 0;
  total_bytes_ = add_saturating(total_bytes_, bytes);
  entries_.insert_or_assign(std::move(key), Entry{std::move(file), bytes, use_counter_});
}

void FileCache::evict() {
  // Entry counts are small: a linear search for the oldest use suffices.
  while ((entries_.size() > max_entries_ || total_bytes_ > max_bytes_) && !entries_.empty()) {
    auto oldest = entries_.begin();
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->second.last_use < oldest->second.last_use) oldest = it;
    }
    remove(oldest);
  }
}

Result<SharedFile> FileCache::load(const std::string& path) {
  // Metadata and canonical path first, without the lock.
  auto stamp = stat_file(path);
  if (!stamp) return fail(std::move(stamp.error()));
  const std::string file_key = canonical_or_given(path);
  const std::string map_key = path_component_key(file_key);

  bool caching = false;
  {
    auto guard = mutex_.lock();
    if (!guard) return fail(kLockPoisoned);
    if (enabled_) {
      caching = true;
      ++use_counter_;
      auto it = entries_.find(map_key);
      if (it != entries_.end()) {
        if (it->second.file->stamp == *stamp) {
          it->second.last_use = use_counter_;
          return it->second.file;
        }
        remove(it);  // stale
      }
    }
  }

  // Read and scan without the lock.
  auto bytes = read_whole_file(file_key);
  if (!bytes) return fail(std::move(bytes.error()));
  auto scan = scan_((*bytes)->span());
  if (!scan) return fail(std::move(scan.error()));
  auto loaded = std::make_shared<const CachedFile>(CachedFile{*stamp, std::move(*scan), std::move(*bytes)});
  if (!caching) return SharedFile(std::move(loaded));

  auto guard = mutex_.lock();
  if (!guard) return fail(kLockPoisoned);
  if (!enabled_) return SharedFile(std::move(loaded));
  ++use_counter_;
  // Another caller may have loaded the same contents meanwhile: keep theirs.
  auto it = entries_.find(map_key);
  if (it != entries_.end()) {
    if (it->second.file->stamp == *stamp) {
      it->second.last_use = use_counter_;
      return it->second.file;
    }
    remove(it);
  }
  insert(map_key, loaded);
  evict();
  return SharedFile(std::move(loaded));
}

Result<void> FileCache::clear() {
  auto guard = mutex_.lock();
  if (!guard) return fail(kLockPoisoned);
  remove_all();
  return {};
}

Result<void> FileCache::set_enabled(bool enabled) {
  auto guard = mutex_.lock();
  if (!guard) return fail(kLockPoisoned);
  enabled_ = enabled;
  if (!enabled) remove_all();
  return {};
}

Result<void> FileCache::set_limits(std::uint64_t max_entries, std::uint64_t max_bytes) {
  auto guard = mutex_.lock();
  if (!guard) return fail(kLockPoisoned);
  max_entries_ = max_entries == 0 ? 1 : max_entries;
  max_bytes_ = max_bytes == 0 ? 1 : max_bytes;
  evict();
  return {};
}

Result<CacheInfo> FileCache::info() {
  auto guard = mutex_.lock();
  if (!guard) return fail(kLockPoisoned);
  return CacheInfo{enabled_, entries_.size(), total_bytes_, max_entries_, max_bytes_};
}

}  // namespace vorlak
