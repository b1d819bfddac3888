#pragma once
// The definitions and samples paths: two process-wide texts, each behind its
// own lock, created on first use. Nothing reads them but their getters; they
// only echo what was set.
#include <string>

#include "core/codes_error.hpp"

namespace vorlak {

// Fail only with "internal state lock poisoned".
CodesResult<std::string> definitions_path();
CodesResult<void> set_definitions_path(std::string path);
CodesResult<std::string> samples_path();
CodesResult<void> set_samples_path(std::string path);

}  // namespace vorlak
