// The one file cache of the process, made on first use from the environment
// and never destroyed (handles may outlive static destruction order).
#include "core/file_cache.hpp"

namespace vorlak {

FileCache& process_file_cache() {
  static FileCache* const cache = new FileCache(cache_settings_from_environment(), &scan_messages);
  return *cache;
}

Result<SharedFile> load_file_cached(const std::string& path) { return process_file_cache().load(path); }
Result<void> cache_clear() { return process_file_cache().clear(); }
Result<void> cache_set_enabled(bool enabled) { return process_file_cache().set_enabled(enabled); }
Result<void> cache_set_limits(std::uint64_t max_entries, std::uint64_t max_bytes) {
  return process_file_cache().set_limits(max_entries, max_bytes);
}
Result<CacheInfo> cache_info() { return process_file_cache().info(); }

}  // namespace vorlak
