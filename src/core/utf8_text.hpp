#pragma once
// UTF-8 helpers for texts that come from the operating system (paths,
// environment variables), which need not be valid UTF-8.
#include <string>
#include <string_view>

namespace vorlak {

bool is_valid_utf8(std::string_view text);

// Each maximal ill-formed subsequence becomes one U+FFFD.
std::string utf8_lossy(std::string_view text);

// Leading and trailing characters with the Unicode White_Space property
// removed. `text` must be valid UTF-8.
std::string_view trim_unicode_whitespace(std::string_view text);

}  // namespace vorlak
