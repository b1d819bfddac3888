#pragma once
// The process-wide cache of loaded files: whole files with their scan,
// keyed by canonical path, validated by size and modification time, bounded
// by entry count and bytes, least recently used evicted first.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "core/cache_settings.hpp"
#include "core/poison_mutex.hpp"
#include "grib/bytes.hpp"
#include "grib/framing.hpp"
#include "grib/message_record.hpp"
#include "grib/result.hpp"

namespace vorlak {

struct FileStamp {
  std::uint64_t length = 0;
  std::optional<unsigned __int128> modified;  // ns since 1970-01-01 UTC
  bool operator==(const FileStamp&) const = default;
};

struct CachedFile {
  FileStamp stamp;
  ScanResult scan;
  SharedBytes bytes;
};

using SharedFile = std::shared_ptr<const CachedFile>;

// The process-wide cache (created on first use from the environment).
Result<SharedFile> load_file_cached(const std::string& path);

struct CacheInfo {
  bool enabled = true;
  std::uint64_t entries = 0;
  std::uint64_t total_bytes = 0;
  std::uint64_t max_entries = 0;
  std::uint64_t max_bytes = 0;
};

// Each fails only with "internal state lock poisoned".
Result<void> cache_clear();
Result<void> cache_set_enabled(bool enabled);
Result<void> cache_set_limits(std::uint64_t max_entries, std::uint64_t max_bytes);
Result<CacheInfo> cache_info();

// One cache instance. The process uses a single one (above); tests make
// their own with chosen settings and scanner.
class FileCache {
 public:
  using Scanner = std::function<Result<ScanResult>(Bytes)>;

  FileCache(CacheSettings settings, Scanner scan);

  Result<SharedFile> load(const std::string& path);
  Result<void> clear();
  Result<void> set_enabled(bool enabled);
  // Zero is raised to one; then evicts down to the new limits.
  Result<void> set_limits(std::uint64_t max_entries, std::uint64_t max_bytes);
  Result<CacheInfo> info();

 private:
  struct Entry {
    SharedFile file;
    std::uint64_t bytes = 0;
    std::uint64_t last_use = 0;
  };

  // All under the lock.
  void remove(std::unordered_map<std::string, Entry>::iterator it);
  void insert(std::string key, SharedFile file);
  void evict();
  void remove_all();

  Scanner scan_;
  PoisonMutex mutex_;
  std::unordered_map<std::string, Entry> entries_;  // by path_component_key
  std::uint64_t total_bytes_ = 0;
  std::uint64_t use_counter_ = 0;
  std::uint64_t max_entries_;
  std::uint64_t max_bytes_;
  bool enabled_;
};

FileCache& process_file_cache();

}  // namespace vorlak
