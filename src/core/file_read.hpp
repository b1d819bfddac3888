#pragma once
// The file-system side of the file cache: a file's stamp, its canonical
// cache key and reading it whole. Error texts carry the operating system's
// text followed by " (os error N)".
#include <string>

#include "core/file_cache.hpp"

namespace vorlak {

// "{strerror text} (os error {errno})".
std::string os_error_text(int error_number);

// Metadata following symbolic links. Fails with
// "failed to stat '{path}': {os error}".
Result<FileStamp> stat_file(const std::string& path);

// The canonical absolute path, or the path as passed when that fails.
std::string canonical_or_given(const std::string& path);

// The path's components joined again: repeated and trailing separators and
// inner "." components make no difference.
std::string path_component_key(const std::string& path);

// The whole contents, read straight into one block. Fails with
// "failed to read '{path}': {os error}", and then sets `*error_number` to
// the error number when one is given.
Result<SharedBytes> read_whole_file(const std::string& path, int* error_number = nullptr);

}  // namespace vorlak
