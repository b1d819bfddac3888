#pragma once
// The process-wide cache of loaded files: whole files with their scan,
// keyed by canonical path, validated by size and modification time, bounded
// by entry count and bytes, least recently used evicted first.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "grib/bytes.hpp"
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

}  // namespace vorlak
