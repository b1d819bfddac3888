#pragma once
// The file cache's three settings and how they are read from the
// environment: VORLAK_GRIB_CACHE, VORLAK_GRIB_CACHE_MAX_ENTRIES and
// VORLAK_GRIB_CACHE_MAX_BYTES. A value that does not parse gives the default,
// silently.
#include <cstdint>

namespace vorlak {

inline constexpr std::uint64_t kDefaultCacheMaxEntries = 32;
inline constexpr std::uint64_t kDefaultCacheMaxBytes = std::uint64_t{512} << 20;

struct CacheSettings {
  bool enabled = true;
  std::uint64_t max_entries = kDefaultCacheMaxEntries;
  std::uint64_t max_bytes = kDefaultCacheMaxBytes;
};

// `raw` is the variable's value, or null when it is unset. Off only for
// "0", "no", "off", "false" or "disabled" (trimmed, any ASCII case).
bool parse_cache_enabled(const char* raw);

// Optional "+", then ASCII digits only, within 64 unsigned bits (trimmed);
// anything else gives `fallback`. Zero is kept as zero.
std::uint64_t parse_cache_limit(const char* raw, std::uint64_t fallback);

CacheSettings cache_settings_from_environment();

}  // namespace vorlak
