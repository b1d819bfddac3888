#include "core/cache_settings.hpp"

#include <cstdlib>
#include <string>
#include <string_view>

#include "core/utf8_text.hpp"

namespace vorlak {

bool parse_cache_enabled(const char* raw) {
  if (raw == nullptr) return true;
  const std::string_view text(raw);
  if (!is_valid_utf8(text)) return true;
  std::string word(trim_unicode_whitespace(text));
  for (char& c : word) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return !(word == "0" || word == "no" || word == "off" || word == "false" || word == "disabled");
}

std::uint64_t parse_cache_limit(const char* raw, std::uint64_t fallback) {
  if (raw == nullptr) return fallback;
  const std::string_view text(raw);
  if (!is_valid_utf8(text)) return fallback;
  std::string_view digits = trim_unicode_whitespace(text);
  if (!digits.empty() && digits[0] == '+') digits.remove_prefix(1);
  if (digits.empty()) return fallback;
  std::uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return fallback;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return fallback;
    value = value * 10 + digit;
  }
  return value;
}

CacheSettings cache_settings_from_environment() {
  CacheSettings settings;
  settings.enabled = parse_cache_enabled(std::getenv("VORLAK_GRIB_CACHE"));
  settings.max_entries = parse_cache_limit(std::getenv("VORLAK_GRIB_CACHE_MAX_ENTRIES"), kDefaultCacheMaxEntries);
  settings.max_bytes = parse_cache_limit(std::getenv("VORLAK_GRIB_CACHE_MAX_BYTES"), kDefaultCacheMaxBytes);
  return settings;
}

}  // namespace vorlak
